// The command line of one verb: positional arguments and options ("--name value",
// "--name=value", "-o value"; flags without a value). Options may repeat.
#pragma once
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace brindle::pack {

class Arguments {
 public:
  // Splits args by the verb's option names; false with a message for an unknown option or an
  // option without its value.
  bool Parse(const std::vector<std::wstring>& args, const std::set<std::wstring>& valueOptions,
             const std::set<std::wstring>& flagOptions, std::wstring& error);

  const std::vector<std::wstring>& Positional() const { return positional_; }
  bool Has(const std::wstring& name) const { return values_.count(name) != 0; }
  // The last value given for the option, or fallback.
  std::wstring Value(const std::wstring& name, const std::wstring& fallback = L"") const;
  std::vector<std::wstring> Values(const std::wstring& name) const;
  // -q/--quiet and -v/--verbose, which every verb takes.
  bool Quiet() const;
  bool Verbose() const;

 private:
  std::vector<std::wstring> positional_;
  std::map<std::wstring, std::vector<std::wstring>> values_;
};

// Parses a verb's arguments; on a wrong command line prints why (naming the verb) and answers
// false. -q, --quiet, -v and --verbose are flags of every verb. A value option given twice is
// wrong, except the few that add one value each time (--check-app). The verb takes between
// minPositional and maxPositional positional arguments.
bool ParseVerbArguments(Arguments& arguments, const std::vector<std::wstring>& args,
                        const std::set<std::wstring>& valueOptions, const std::set<std::wstring>& flagOptions,
                        size_t minPositional, size_t maxPositional, const std::wstring& verb,
                        std::ostream& err);

// Refuses "-" (standard input or output) as the value of the options named, and as a
// positional argument when positional is set: where a verb needs a real file or folder. Prints
// why (naming the verb) and answers false.
bool RefuseStandardStream(const Arguments& arguments, const std::vector<std::wstring>& options,
                          bool positional, const std::wstring& verb, std::ostream& err);

}  // namespace brindle::pack
