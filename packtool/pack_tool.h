// brindle-pack: the tool of the people who make patch packages and support installations. It
// builds a package from two folders of an application (make), checks a package against every
// rule the program applies (check), lists what the program would do with it (plan), and reads
// and writes the enciphered install log and checks uninstall logs. It is built on the program's
// own model code, so it reads packages and logs exactly as the program does.
#pragma once
#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace brindle::pack {

// Exit codes: 0 done (check: no error), 1 the check found errors or the work failed,
// 2 the command line is wrong.
enum : int { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// Runs one command line (without the program name); normal output goes to out, errors and
// progress to err; "-" reads in (standard input unless given).
int RunPackTool(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err);
int RunPackTool(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err,
                std::istream& in);

// The verbs, each given the arguments after its name (after "log decode" etc. for the verbs
// of two words).
int RunMake(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err);
int RunCheck(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err);
int RunPlan(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err);
int RunLogDecode(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err);
int RunLogEncode(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err);
int RunVerify(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err);
int RunList(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err);
int RunExtract(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err);
int RunDiff(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err);
int RunUninstlogCheck(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err);

// The help text of a verb ("make", "check", "plan", "list", "extract", "diff", "log",
// "uninstlog"), or of the tool for
// an empty or unknown name.
std::wstring HelpText(const std::wstring& verb);

// True when args ask for help (-h, --help).
bool WantsHelp(const std::vector<std::wstring>& args);

}  // namespace brindle::pack
