// brindle-pack list, extract and diff: what a package holds, its files on disk, and what
// changed between two packages.
#include <algorithm>
#include <map>

#include "package/diff_distribute.h"
#include "package/xml_reading.h"
#include "packtool/arguments.h"
#include "packtool/file_access.h"
#include "packtool/pack_tool.h"
#include "packtool/package_source.h"
#include "packtool/report.h"
#include "sys/text.h"

namespace brindle::pack {

namespace {

// One record of a package as list prints it: what it is (the same record in two packages has
// the same key) and what it carries (data, the stored file's size and digest).
struct RecordLine {
  std::wstring key;
  std::wstring detail;
};

std::wstring AttributeOf(const CXMLElement& element, const std::wstring& child,
                         const std::wstring& attribute) {
  std::wstring value;
  ForEachChildElement(element, [&](const std::wstring& name, const CXMLElement& c) {
    if (name == child)
      if (const CXMLAttribute* a = FindAttribute(&c, attribute)) value = ValueText(a);
  });
  return value;
}

// A digest of the stored file (FNV-1a, 64 bits) with its size: enough to tell two packages'
// copies of a file apart.
std::wstring Fingerprint(const std::wstring& path) {
  std::string bytes;
  if (path.empty() || !ReadFileBytes(path, bytes)) return L"missing from the package";
  unsigned long long hash = 1469598103934665603ull;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  static const wchar_t digits[] = L"0123456789abcdef";
  std::wstring hex;
  for (int shift = 60; shift >= 0; shift -= 4) hex += digits[(hash >> shift) & 0xF];
  return ToWideDecimal(static_cast<long long>(bytes.size())) + L" bytes, " + hex;
}

// The records of the package in the program's sections, or false with the reason.
bool ReadRecords(const PackageSource& source, std::vector<RecordLine>& lines, std::wstring& reason) {
  CaseBlindFinder finder;
  const std::wstring diffXml = finder.Find(source.Folder(), L"diff.xml");
  std::unique_ptr<CQXDiffDistribute> package = diffXml.empty() ? nullptr : LoadDiffDistribute(diffXml);
  if (!package) {
    reason = L"no diff.xml the program can read (brindle-pack check says why)";
    return false;
  }
  lines.push_back({L"version", package->generalInfo->version.text});
  for (const auto& [section, group] :
       {std::pair{L"delete", static_cast<const CQXBaseObjects*>(package->deleteObjects.get())},
        std::pair{L"update", static_cast<const CQXBaseObjects*>(package->updateObjects.get())},
        std::pair{L"add", static_cast<const CQXBaseObjects*>(package->addObjects.get())}}) {
    const std::wstring s = section;
    for (const auto& file : group->files) {
      std::wstring detail;
      if (file->fileName && !file->fileName->name.empty())
        detail = L"INST\\" + file->fileName->name + L", " +
                 Fingerprint(finder.Find(source.Folder(), L"INST/" + file->fileName->name));
      lines.push_back({s + L" file " + file->Path(), detail});
    }
    for (const auto& registry : group->registries) {
      const std::unique_ptr<CXMLElement> xml = registry->ToXML();
      lines.push_back({s + L" registry " + AttributeOf(*xml, L"RegKeyPath", L"RegRoot") + L"\\" +
                           registry->keyPath.path + L" [" + registry->valueName + L"]",
                       s == L"delete" ? std::wstring()
                                      : AttributeOf(*xml, L"RegData", L"Type") + L" " + registry->data.data});
    }
    for (const auto& shortcut : group->shortCuts)
      lines.push_back(
          {s + L" shortcut " + (shortcut->name.type == kShortcutGroup ? L"program menu\\" : L"desktop\\") +
               shortcut->name.name,
           s == L"delete"
               ? std::wstring()
               : shortcut->target.path +
                     (shortcut->parameters.empty() ? std::wstring() : L" " + shortcut->parameters)});
  }
  for (const auto& [when, hook] : {std::pair{L"before", &package->customFunction->beforeUpdate},
                                   std::pair{L"after", &package->customFunction->afterUpdate}})
    if (!hook->name.empty())
      lines.push_back({std::wstring(L"hook ") + when + L" CUSTOM\\" + hook->name,
                       Fingerprint(finder.Find(source.Folder(), L"CUSTOM/" + hook->name))});
  return true;
}

std::wstring Joined(const RecordLine& line) {
  return line.detail.empty() ? line.key : line.key + L" (" + line.detail + L")";
}

bool OpenPackage(PackageSource& source, const std::wstring& path, bool json, const std::wstring& verb,
                 std::ostream& out, std::ostream& err, int& exitCode) {
  std::wstring reason;
  if (source.Open(path, reason)) return true;
  if (json) {
    Report report;
    report.Error(path, 0, L"", reason, L"fatal");
    exitCode = report.FinishJson(out, verb, kExitFailed);
  } else {
    PrintLine(err, path + L": " + reason);
    exitCode = kExitFailed;
  }
  return false;
}

}  // namespace

int RunList(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err) {
  Arguments a;
  if (!ParseVerbArguments(a, args, {}, {L"--json"}, 1, 1, L"list", err)) return kExitUsage;
  const bool json = a.Has(L"--json");
  PackageSource source;
  int exitCode = kExitOk;
  if (!OpenPackage(source, a.Positional()[0], json, L"list", out, err, exitCode)) return exitCode;
  std::vector<RecordLine> lines;
  std::wstring reason;
  Report report;
  if (!ReadRecords(source, lines, reason)) {
    report.Error(a.Positional()[0], 0, L"", reason, L"fatal");
    if (json) return report.FinishJson(out, L"list", kExitFailed);
    PrintLine(err, a.Positional()[0] + L": " + reason);
    return kExitFailed;
  }
  for (const RecordLine& line : lines) {
    if (json)
      out << "{\"record\":" << JsonString(line.key) << ",\"detail\":" << JsonString(line.detail) << "}\n";
    else PrintLine(out, Joined(line));
  }
  return json ? report.FinishJson(out, L"list", kExitOk) : kExitOk;
}

int RunExtract(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err) {
  Arguments a;
  if (!ParseVerbArguments(a, args, {L"-o"}, {L"--json"}, 1, 1, L"extract", err)) return kExitUsage;
  const std::wstring target = a.Value(L"-o");
  if (target.empty() || target == L"-") {
    PrintLine(err, L"brindle-pack extract: -o FOLDER is required (a folder, not \"-\")");
    return kExitUsage;
  }
  std::error_code ec;
  if (fs::exists(FsPath(target), ec) && !fs::is_empty(FsPath(target), ec)) {
    PrintLine(err, L"brindle-pack extract: " + target +
                       L" is not empty: extract into a new or empty folder, never over other files");
    return kExitUsage;
  }
  const bool json = a.Has(L"--json");
  PackageSource source;
  int exitCode = kExitOk;
  if (!OpenPackage(source, a.Positional()[0], json, L"extract", out, err, exitCode)) return exitCode;
  Report report;
  std::vector<FolderFile> files;
  if (!source.IsCabinet() || !ListFiles(source.Folder(), files)) {
    report.Error(a.Positional()[0], 0, L"", L"not a cabinet: a package folder is already extracted",
                 L"fatal");
  } else {
    for (const FolderFile& f : files) {
      std::string bytes;
      if (!ReadFileBytes(f.full, bytes) || !WriteFileBytes(target + L"/" + f.relative, bytes)) {
        report.Error(target + L"/" + f.relative, 0, L"", L"cannot write the file", L"fatal");
        break;
      }
      // The stored time stamp comes along, as the program's extraction keeps it.
      fs::last_write_time(FsPath(target + L"/" + f.relative), fs::last_write_time(FsPath(f.full), ec), ec);
      if (json) out << "{\"extracted\":" << JsonString(f.relative) << "}\n";
      else if (a.Verbose()) PrintLine(out, f.relative);
    }
  }
  const int code = report.Errors() ? kExitFailed : kExitOk;
  if (json) return report.FinishJson(out, L"extract", code);
  for (const Finding& f : report.findings) PrintLine(err, FormatFinding(f));
  if (!code && !a.Quiet())
    PrintLine(err,
              L"extract: " + ToWideDecimal(static_cast<long long>(files.size())) + L" files into " + target);
  return code;
}

int RunDiff(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err) {
  Arguments a;
  if (!ParseVerbArguments(a, args, {}, {L"--json"}, 2, 2, L"diff", err)) return kExitUsage;
  if (a.Positional()[0] == L"-" && a.Positional()[1] == L"-") {
    PrintLine(err, L"brindle-pack diff: the two packages cannot both come from standard input");
    return kExitUsage;
  }
  const bool json = a.Has(L"--json");
  PackageSource first, second;
  int exitCode = kExitOk;
  if (!OpenPackage(first, a.Positional()[0], json, L"diff", out, err, exitCode) ||
      !OpenPackage(second, a.Positional()[1], json, L"diff", out, err, exitCode))
    return exitCode;
  std::vector<RecordLine> before, after;
  std::wstring reason;
  Report report;
  for (auto [source, lines, path] :
       {std::tuple{&first, &before, a.Positional()[0]}, std::tuple{&second, &after, a.Positional()[1]}})
    if (!ReadRecords(*source, *lines, reason)) {
      report.Error(path, 0, L"", reason, L"fatal");
      if (json) return report.FinishJson(out, L"diff", kExitFailed);
      PrintLine(err, path + L": " + reason);
      return kExitFailed;
    }
  std::map<std::wstring, std::wstring> old, now;
  for (const RecordLine& l : before) old[l.key] = l.detail;
  for (const RecordLine& l : after) now[l.key] = l.detail;
  auto say = [&](const char* change, const std::wstring& key, const std::wstring& from,
                 const std::wstring& to) {
    if (json)
      out << "{\"change\":\"" << change << "\",\"record\":" << JsonString(key)
          << ",\"from\":" << JsonString(from) << ",\"to\":" << JsonString(to) << "}\n";
    else
      PrintLine(out, WideFromUtf8(change) + L" " + key +
                         (from.empty() && to.empty()
                              ? std::wstring()
                              : L" (" + from + (from.empty() || to.empty() ? L"" : L" -> ") + to + L")"));
  };
  size_t changes = 0;
  for (const auto& [key, detail] : old) {
    const auto it = now.find(key);
    if (it == now.end()) say("only-first", key, detail, L""), ++changes;
    else if (it->second != detail) say("changed", key, detail, it->second), ++changes;
  }
  for (const auto& [key, detail] : now)
    if (!old.count(key)) say("only-second", key, L"", detail), ++changes;
  // Exit code 0 when the packages hold the same records, 1 when they differ (as diff does).
  const int code = changes ? kExitFailed : kExitOk;
  return json ? report.FinishJson(out, L"diff", code) : code;
}

}  // namespace brindle::pack
