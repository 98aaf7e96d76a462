// What brindle-pack tells its user: findings with their place (file, line, element path), and
// the small output helpers every verb shares. Text is wide in memory and UTF-8 on the way out.
#pragma once
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace brindle::pack {

// One finding of a check: an error makes the package (or log) unusable or wrong on the
// customer's machine; a warning names something that is allowed but probably not meant.
struct Finding {
  enum Severity { kError, kWarning };
  Severity severity = kError;
  std::wstring file;   // the file the finding is about, as the user named it
  size_t line = 0;     // 1-based; 0 when the finding has no line
  std::wstring place;  // element path in diff.xml (DiffDistribute/AddObjects/File[2]) or empty
  std::wstring message;
  std::wstring rule;  // a short stable name of the rule (registry-data, unknown-variable...)
  size_t column = 0;  // 1-based; 0 when not known
};

// "file:line[:column]: error: message [place]".
std::wstring FormatFinding(const Finding& finding);

// The findings of one run, in the order they were made.
class Report {
 public:
  void Add(Finding::Severity severity, const std::wstring& file, size_t line, const std::wstring& place,
           const std::wstring& message, const std::wstring& rule = L"");
  void Error(const std::wstring& file, size_t line, const std::wstring& place, const std::wstring& message,
             const std::wstring& rule = L"") {
    Add(Finding::kError, file, line, place, message, rule);
  }
  void Warning(const std::wstring& file, size_t line, const std::wstring& place, const std::wstring& message,
               const std::wstring& rule = L"") {
    Add(Finding::kWarning, file, line, place, message, rule);
  }
  size_t Errors() const;
  size_t Warnings() const { return findings.size() - Errors(); }
  // True when some finding's message contains the text.
  bool Mentions(const std::wstring& text) const;
  // Every warning becomes an error (--strict).
  void MakeWarningsErrors();
  // Every finding, one per line, then "N error(s), M warning(s)".
  void Print(std::ostream& out) const;
  // One JSON object per line for each finding: {"file","line","column","severity","rule",
  // "message","place"}.
  void PrintJson(std::ostream& out) const;
  // The findings as PrintJson writes them, then the last line of every verb's --json output:
  // {"summary":"<verb>","errors":N,"warnings":M,"exit":E}. Answers exitCode.
  int FinishJson(std::ostream& out, const std::wstring& verb, int exitCode) const;

  std::vector<Finding> findings;
  // The rule PrintJson names for a finding made without one.
  std::wstring defaultRule = L"package";
};

// The progress of a long verb, for standard error: "<verb>: <stage> done/total" about ten
// times per stage (and at least every 500 items). Silent without a stream (-q) and for small
// work (fewer than 100 items, or a size given below 100).
class Progress {
 public:
  Progress(std::ostream* out, std::wstring verb) : out_(out), verb_(std::move(verb)) {}
  void Step(const std::wstring& stage, size_t done, size_t total) { Step(stage, done, total, total); }
  // size: how much work the stage stands for when its steps are few but large.
  void Step(const std::wstring& stage, size_t done, size_t total, size_t size);

 private:
  std::ostream* out_;
  std::wstring verb_;
};

// Writes the text as UTF-8 followed by a line feed.
void PrintLine(std::ostream& out, const std::wstring& text);

// The text as a JSON string, quotes included.
std::string JsonString(const std::wstring& text);

}  // namespace brindle::pack
