#include "packtool/arguments.h"

#include "packtool/report.h"
#include "packtool/suggest.h"
#include "sys/text.h"

namespace brindle::pack {

namespace {
// The options that may be given more than once, each adding one value.
const std::set<std::wstring> kRepeatableOptions = {L"--check-app"};
}  // namespace

bool Arguments::Parse(const std::vector<std::wstring>& args, const std::set<std::wstring>& valueOptions,
                      const std::set<std::wstring>& flagOptions, std::wstring& error) {
  positional_.clear();
  values_.clear();
  bool onlyPositional = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    if (onlyPositional || a.size() < 2 || a[0] != L'-') {
      positional_.push_back(a);
      continue;
    }
    if (a == L"--") {
      onlyPositional = true;
      continue;
    }
    std::wstring name = a, value;
    bool inlineValue = false;
    const size_t eq = a.find(L'=');
    if (a.compare(0, 2, L"--") == 0 && eq != std::wstring::npos) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
      inlineValue = true;
    }
    if (flagOptions.count(name)) {
      if (inlineValue) {
        error = name + L" takes no value";
        return false;
      }
      values_[name].push_back(L"");
      continue;
    }
    if (!valueOptions.count(name)) {
      std::vector<std::wstring> known(valueOptions.begin(), valueOptions.end());
      known.insert(known.end(), flagOptions.begin(), flagOptions.end());
      error = L"unknown option " + name + DidYouMean(name, known, L"");
      return false;
    }
    if (!inlineValue) {
      if (i + 1 >= args.size()) {
        error = name + L" needs a value";
        return false;
      }
      value = args[++i];
    }
    values_[name].push_back(value);
  }
  return true;
}

std::wstring Arguments::Value(const std::wstring& name, const std::wstring& fallback) const {
  auto it = values_.find(name);
  return it == values_.end() || it->second.empty() ? fallback : it->second.back();
}

bool Arguments::Quiet() const { return Has(L"-q") || Has(L"--quiet"); }
bool Arguments::Verbose() const { return !Quiet() && (Has(L"-v") || Has(L"--verbose")); }

std::vector<std::wstring> Arguments::Values(const std::wstring& name) const {
  auto it = values_.find(name);
  return it == values_.end() ? std::vector<std::wstring>() : it->second;
}

bool ParseVerbArguments(Arguments& arguments, const std::vector<std::wstring>& args,
                        const std::set<std::wstring>& valueOptions, const std::set<std::wstring>& flagOptions,
                        size_t minPositional, size_t maxPositional, const std::wstring& verb,
                        std::ostream& err) {
  std::wstring error;
  std::set<std::wstring> flags = flagOptions;
  flags.insert({L"-q", L"--quiet", L"-v", L"--verbose"});
  if (!arguments.Parse(args, valueOptions, flags, error)) {
    PrintLine(err, L"brindle-pack " + verb + L": " + error + L" (brindle-pack " + verb + L" --help)");
    return false;
  }
  // An option that names one thing given twice contradicts itself: which one was meant?
  for (const std::wstring& name : valueOptions) {
    const std::vector<std::wstring> values = arguments.Values(name);
    if (values.size() > 1 && !kRepeatableOptions.count(name)) {
      PrintLine(err, L"brindle-pack " + verb + L": " + name + L" is given twice (\"" + values[0] +
                         L"\" and \"" + values[1] + L"\"); give it once (brindle-pack " + verb + L" --help)");
      return false;
    }
  }
  const size_t n = arguments.Positional().size();
  if (n < minPositional || n > maxPositional) {
    PrintLine(err, L"brindle-pack " + verb + L": expected " +
                       ToWideDecimal(static_cast<long long>(minPositional)) +
                       (maxPositional != minPositional ? L" or more" : L"") + L" argument(s), got " +
                       ToWideDecimal(static_cast<long long>(n)) + L" (brindle-pack " + verb + L" --help)");
    return false;
  }
  return true;
}

bool RefuseStandardStream(const Arguments& arguments, const std::vector<std::wstring>& options,
                          bool positional, const std::wstring& verb, std::ostream& err) {
  auto refuse = [&](const std::wstring& what) {
    PrintLine(err, L"brindle-pack " + verb + L": " + what +
                       L" cannot be \"-\" (standard input or output): name a file or folder (brindle-pack " +
                       verb + L" --help)");
    return false;
  };
  if (positional)
    for (const std::wstring& p : arguments.Positional())
      if (p == L"-") return refuse(L"a folder argument");
  for (const std::wstring& option : options)
    for (const std::wstring& value : arguments.Values(option))
      if (value == L"-") return refuse(option);
  return true;
}

}  // namespace brindle::pack
