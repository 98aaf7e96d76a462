#include "packtool/package_maker.h"

#include <algorithm>
#include <cwchar>
#include <map>
#include <optional>
#include <set>

#include "package/diff_distribute.h"
#include "package/xml_reading.h"
#include "packtool/cabinet.h"
#include "packtool/file_access.h"
#include "packtool/package_check.h"
#include "packtool/package_source.h"
#include "packtool/pe_image.h"
#include "packtool/suggest.h"
#include "packtool/text_input.h"
#include "sys/safe_names.h"
#include "sys/text.h"
#include "xml/xml_parser.h"

namespace brindle::pack {

namespace {

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'a' && c <= L'z') c = c - L'a' + L'A';
  return text;
}

std::wstring Backslashes(std::wstring text) {
  std::replace(text.begin(), text.end(), L'/', L'\\');
  return text;
}

std::wstring Trim(const std::wstring& text) {
  const size_t start = text.find_first_not_of(L" \t\r");
  if (start == std::wstring::npos) return std::wstring();
  const size_t end = text.find_last_not_of(L" \t\r");
  return text.substr(start, end - start + 1);
}

// The line without its comment: a '#' at the start or after a blank begins one, so values
// such as C# keep their sign.
std::wstring WithoutComment(const std::wstring& line) {
  for (size_t i = 0; i < line.size(); ++i)
    if (line[i] == L'#' && (i == 0 || line[i - 1] == L' ' || line[i - 1] == L'\t')) return line.substr(0, i);
  return line;
}

std::wstring FileNameOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool SameBytes(const std::wstring& a, const std::wstring& b) {
  std::error_code ec1, ec2;
  if (fs::file_size(FsPath(a), ec1) != fs::file_size(FsPath(b), ec2) || ec1 || ec2) return false;
  std::string x, y;
  return ReadFileBytes(a, x) && ReadFileBytes(b, y) && x == y;
}

PeImage ImageOf(const std::wstring& path) {
  std::string bytes;
  ReadFileBytes(path, bytes);
  return ReadPeImage(bytes);
}

// True when the model reads the token of this attribute and writes the same token back.
template <typename Record>
bool ModelKnowsToken(const std::wstring& element, const std::wstring& attribute, const std::wstring& token) {
  auto xml = NewElement(element);
  AppendAttribute(xml.get(), attribute, token);
  Record record;
  record.FromXML(xml.get());
  std::unique_ptr<CXMLElement> back = record.ToXML();
  const CXMLAttribute* written = FindAttribute(back.get(), attribute);
  return written && ValueText(written) == token;
}

// ---- The declarative file: registry values, shortcuts, hooks, uninstall targets ----------

struct ExtraBlock {
  std::wstring kind;  // registry, shortcut, hooks, uninstall targets
  size_t line = 0;
  std::vector<std::pair<std::wstring, std::pair<std::wstring, size_t>>> values;  // key, value, line
  std::wstring Get(const std::wstring& key, const std::wstring& fallback = L"") const {
    for (const auto& v : values)
      if (v.first == key) return v.second.first;
    return fallback;
  }
};

struct Extra {
  std::vector<ExtraBlock> blocks;
};

bool ReadExtra(const std::wstring& path, Extra& extra, Report& report) {
  std::string bytes;
  if (!ReadInputBytes(path, bytes)) {
    report.Error(path, 0, L"", L"cannot read the file");
    return false;
  }
  std::wstring text, why;
  if (!ReadAuthorText(bytes, text, why)) {
    report.Error(path, 0, L"", why, L"encoding");
    return false;
  }
  size_t number = 0, start = 0;
  const std::set<std::wstring> kinds = {L"registry", L"shortcut", L"hooks", L"uninstall targets"};
  const std::map<std::wstring, std::set<std::wstring>> keys = {
      {L"registry", {L"section", L"root", L"key", L"name", L"type", L"data", L"view"}},
      {L"shortcut",
       {L"section", L"kind", L"name", L"target", L"arguments", L"folder", L"window", L"description"}},
      {L"hooks", {L"before", L"after"}},
      {L"uninstall targets", {L"section", L"target"}}};
  const size_t errorsBefore = report.Errors();
  while (start <= text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring raw = Trim(text.substr(start, end - start));
    ++number;
    start = end + 1;
    if (raw.empty() || raw[0] == L';') continue;
    const std::wstring line = Trim(WithoutComment(raw));
    if (line.empty()) continue;
    if (line.front() == L'[') {
      if (line.back() != L']') {
        report.Error(path, number, L"", L"a section header must end with ]");
        continue;
      }
      const std::wstring kind = Trim(line.substr(1, line.size() - 2));
      if (!kinds.count(kind)) {
        report.Error(path, number, L"",
                     L"unknown section [" + kind + L"]" +
                         DidYouMean(kind, std::vector<std::wstring>(kinds.begin(), kinds.end()),
                                    L" (registry, shortcut, hooks or uninstall targets)"));
        continue;
      }
      extra.blocks.push_back({kind, number, {}});
      continue;
    }
    const size_t eq = line.find(L'=');
    if (eq == std::wstring::npos) {
      report.Error(path, number, L"", L"expected key = value");
      continue;
    }
    if (extra.blocks.empty()) {
      report.Error(path, number, L"", L"a value before the first section header");
      continue;
    }
    ExtraBlock& block = extra.blocks.back();
    const std::wstring key = Trim(line.substr(0, eq));
    if (!keys.at(block.kind).count(key)) {
      const std::set<std::wstring>& known = keys.at(block.kind);
      report.Error(path, number, L"",
                   L"unknown key " + key + L" in [" + block.kind + L"]" +
                       DidYouMean(key, std::vector<std::wstring>(known.begin(), known.end()), L""));
      continue;
    }
    bool twice = false;
    for (const auto& v : block.values) {
      if (v.first != key) continue;
      report.Error(path, number, L"",
                   L"key " + key + L" is given twice in the [" + block.kind +
                       L"] block (first on "
                       L"line " +
                       ToWideDecimal(static_cast<long long>(v.second.second)) + L", again on line " +
                       ToWideDecimal(static_cast<long long>(number)) +
                       L"); a block describes one record: "
                       L"start a new block with its header for another",
                   L"duplicate-key");
      twice = true;
      break;
    }
    if (!twice) block.values.push_back({key, {Trim(line.substr(eq + 1)), number}});
  }
  return report.Errors() == errorsBefore;
}

size_t LineOf(const ExtraBlock& block, const std::wstring& key) {
  for (const auto& v : block.values)
    if (v.first == key) return v.second.second;
  return block.line;
}

struct Hooks {
  std::wstring before, after;  // library files on this machine
};

// Where the author wrote each part of the package that did not come from the folders: the
// declarative file's lines and make's options, so that a finding on the generated diff.xml
// can name them.
struct Origins {
  struct Record {
    std::unique_ptr<CXMLElement> written;  // the record as the model writes it
    size_t line;
  };
  std::vector<Record> records;             // registry values and shortcuts of the declarative file
  size_t beforeLine = 0, afterLine = 0;    // the hooks
  std::map<std::wstring, size_t> targets;  // uninstall targets
  // File records by section and FullPath: the file of NEW (or OLD, for a deletion) each
  // stands for.
  std::map<std::pair<std::wstring, std::wstring>, std::wstring> files;
};

// Adds the records of the declarative file to the model.
bool ApplyExtra(const std::wstring& path, const Extra& extra, CQXDiffDistribute& model, Hooks& hooks,
                Origins& origins, Report& report) {
  const size_t errorsBefore = report.Errors();
  // Hook paths are relative to the declarative file's folder, however its own path was given.
  std::error_code ec;
  const std::wstring base = WidePath(fs::absolute(FsPath(path), ec).parent_path());
  auto section = [&](const ExtraBlock& block, bool allowUpdate) -> CQXBaseObjects* {
    const std::wstring s = block.Get(L"section", L"add");
    if (s == L"add") return model.addObjects.get();
    if (s == L"delete") return model.deleteObjects.get();
    if (s == L"update" && allowUpdate) return model.updateObjects.get();
    report.Error(
        path, LineOf(block, L"section"), L"",
        L"section must be add, " + std::wstring(allowUpdate ? L"update or " : L"") + L"delete, not " + s);
    return nullptr;
  };
  auto token = [&](bool known, const ExtraBlock& block, const std::wstring& key,
                   const std::wstring& allowed) {
    if (!known)
      report.Error(path, LineOf(block, key), L"",
                   key + L" = " + block.Get(key) + L" is not one of " + allowed);
    return known;
  };
  for (const ExtraBlock& block : extra.blocks) {
    if (block.kind == L"registry") {
      CQXBaseObjects* objects = section(block, true);
      auto record = std::make_unique<CQXRegistry>();
      const std::wstring root = block.Get(L"root", L"REG_HLM"), type = block.Get(L"type", L"REG_SZ");
      const std::wstring view = block.Get(L"view", L"INST_32BIT");
      bool ok = token(ModelKnowsToken<CQXRegistryKeyPath>(L"RegKeyPath", L"RegRoot", root), block, L"root",
                      L"REG_HLM, REG_HCU, REG_HCR");
      ok = token(ModelKnowsToken<CQXRegistryData>(L"RegData", L"Type", type), block, L"type",
                 L"REG_SZ, REG_EXPAND_SZ, REG_DW") &&
           ok;
      ok = token(ModelKnowsToken<CQXRegistry>(L"Registry", L"WOW", view), block, L"view",
                 L"INST_32BIT, INST_64BIT") &&
           ok;
      if (block.Get(L"key").empty()) {
        report.Error(path, block.line, L"", L"[registry] needs key = <key path>");
        ok = false;
      }
      if (!ok || !objects) continue;
      auto xml = NewElement(L"Registry");
      AppendAttribute(xml.get(), L"WOW", view);
      auto key = NewTextElement(L"RegKeyPath", block.Get(L"key"));
      AppendAttribute(key.get(), L"RegRoot", root);
      AppendChild(std::move(key), xml.get());
      AppendChild(NewTextElement(L"RegValueName", block.Get(L"name")), xml.get());
      auto data = NewTextElement(L"RegData", block.Get(L"data"));
      AppendAttribute(data.get(), L"Type", type);
      AppendChild(std::move(data), xml.get());
      record->FromXML(xml.get());
      // Data built from variables converts only once they are expanded on the machine.
      const std::wstring problem =
          record->data.type == kRegDword && record->data.data.find(L'$') != std::wstring::npos
              ? std::wstring()
              : RegistryDataProblem(record->data.type, record->data.data);
      if (!problem.empty())
        report.Error(path, LineOf(block, L"data"), L"",
                     problem + L": the program would stop its registry pass there", L"registry-data");
      origins.records.push_back({record->ToXML(), block.line});
      objects->registries.push_back(std::move(record));
    } else if (block.kind == L"shortcut") {
      CQXBaseObjects* objects = section(block, true);
      const std::wstring kind = block.Get(L"kind", L"INST_GSC");
      const std::wstring window = block.Get(L"window", L"INST_NML");
      bool ok = token(ModelKnowsToken<CQXShortCutName>(L"SCName", L"Type", kind), block, L"kind",
                      L"INST_GSC (program menu), INST_DSC (desktop)");
      ok = token(ModelKnowsToken<CQXWindowSize>(L"WindowSize", L"Type", window), block, L"window",
                 L"INST_NML, INST_MAX, INST_MIN") &&
           ok;
      if (block.Get(L"name").empty() ||
          (block.Get(L"target").empty() && block.Get(L"section") != L"delete")) {
        report.Error(path, block.line, L"", L"[shortcut] needs name = and target =");
        ok = false;
      }
      if (!ok || !objects) continue;
      // Built as the program reads it: the tokens mean what the model says they mean.
      auto xml = NewElement(L"ShortCut");
      auto name = NewTextElement(L"SCName", block.Get(L"name"));
      AppendAttribute(name.get(), L"Type", kind);
      AppendChild(std::move(name), xml.get());
      auto target = NewTextElement(L"FullPath", block.Get(L"target"));
      AppendAttribute(target.get(), L"Type", L"SCTarget");
      AppendChild(std::move(target), xml.get());
      AppendChild(NewTextElement(L"CLParameter", block.Get(L"arguments")), xml.get());
      auto folder = NewTextElement(L"FullPath", block.Get(L"folder"));
      AppendAttribute(folder.get(), L"Type", L"WorkFolder");
      AppendChild(std::move(folder), xml.get());
      auto size = NewElement(L"WindowSize");
      AppendAttribute(size.get(), L"Type", window);
      AppendChild(std::move(size), xml.get());
      AppendChild(NewTextElement(L"Text", block.Get(L"description")), xml.get());
      auto shortcut = std::make_unique<CQXShortCut>();
      shortcut->FromXML(xml.get());
      origins.records.push_back({shortcut->ToXML(), block.line});
      objects->shortCuts.push_back(std::move(shortcut));
    } else if (block.kind == L"hooks") {
      for (const auto& [key, value] : block.values) {
        const std::wstring library =
            FsPath(value.first).is_absolute() ? value.first : base + L"/" + value.first;
        if (!IsFile(library)) {
          report.Error(path, value.second, L"", library + L": no such file");
          continue;
        }
        const std::wstring name = FileNameOf(library);
        if (!IsSafeSingleName(name)) {
          report.Error(path, value.second, L"", name + L" cannot be a file name inside CUSTOM");
          continue;
        }
        CQXFileName& record =
            key == L"before" ? model.customFunction->beforeUpdate : model.customFunction->afterUpdate;
        record.type = key == L"before" ? kFileNameBeforeUpdate : kFileNameAfterUpdate;
        record.name = name;
        (key == L"before" ? hooks.before : hooks.after) = library;
        (key == L"before" ? origins.beforeLine : origins.afterLine) = value.second;
      }
    } else if (block.kind == L"uninstall targets") {
      const std::wstring s = block.Get(L"section", L"add");
      if (s != L"add" && s != L"delete") {
        report.Error(path, LineOf(block, L"section"), L"", L"section must be add or delete");
        continue;
      }
      CQXUninstallTarget& target =
          s == L"add" ? model.addObjects->uninstTarget : model.deleteObjects->uninstTarget;
      for (const auto& [key, value] : block.values)
        if (key == L"target") {
          target.targets.push_back(value.first);
          origins.targets.emplace(value.first, value.second);
        }
    }
  }
  return report.Errors() == errorsBefore;
}

std::unique_ptr<CQXFile> FileRecord(const std::wstring& target, const std::wstring& relative,
                                    const std::wstring& instName) {
  auto file = std::make_unique<CQXFile>();
  file->fullPath = std::make_unique<FullPathValue>();
  file->fullPath->path = target + L"\\" + Backslashes(relative);
  if (!instName.empty()) {
    file->fileName = std::make_unique<CQXFileName>();
    file->fileName->name = instName;
  }
  return file;
}

bool IsAscii(const std::wstring& text) {
  return std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= 0x20 && c < 0x7f; });
}

// Two files stored under one name would leave one of them out of the package (or, extracted on
// Windows, one file's bytes in place of the other's): refused before anything is written. The
// same file named twice (one library as both hooks) is stored once.
bool RefuseDuplicateEntries(std::vector<CabinetEntry>& entries, Report& report) {
  std::map<std::wstring, const CabinetEntry*> byName;
  std::vector<CabinetEntry> kept;
  bool ok = true;
  for (const CabinetEntry& entry : entries) {
    auto [it, fresh] = byName.emplace(Upper(entry.name), &entry);
    if (fresh) {
      kept.push_back(entry);
      continue;
    }
    std::error_code ec;
    if (fs::equivalent(FsPath(it->second->source), FsPath(entry.source), ec)) continue;
    report.Error(entry.source, 0, L"",
                 L"stored in the cabinet as " + entry.name + L", the name " + it->second->source +
                     L" is stored under already (letter case ignored): rename one of them",
                 L"duplicate-entry");
    ok = false;
  }
  entries.swap(kept);
  return ok;
}

bool SameElement(const CXMLElement& a, const CXMLElement& b) {
  if (!a.GetNameString() || !b.GetNameString() || *a.GetNameString() != *b.GetNameString() ||
      a.GetAttributeCount() != b.GetAttributeCount() || ValueText(&a) != ValueText(&b))
    return false;
  for (unsigned i = 0; i < a.GetAttributeCount(); ++i)
    if (ValueText(a.GetAttribute(i)) != ValueText(b.GetAttribute(i)) ||
        *a.GetAttribute(i)->GetNameString() != *b.GetAttribute(i)->GetNameString())
      return false;
  std::vector<const CXMLElement*> x, y;
  ForEachChildElement(a, [&x](const std::wstring&, const CXMLElement& c) { x.push_back(&c); });
  ForEachChildElement(b, [&y](const std::wstring&, const CXMLElement& c) { y.push_back(&c); });
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i)
    if (!SameElement(*x[i], *y[i])) return false;
  return true;
}

// The elements along an element path (DiffDistribute/AddObjects[1]/Registry[2]) of the tree.
std::vector<const CXMLElement*> ElementsAlong(const CXMLElement& root, const std::wstring& path) {
  std::vector<const CXMLElement*> along = {&root};
  size_t start = path.find(L'/');
  while (start != std::wstring::npos && along.back()) {
    const size_t end = path.find(L'/', start + 1);
    const std::wstring step = path.substr(start + 1, end == std::wstring::npos ? end : end - start - 1);
    const size_t bracket = step.find(L'[');
    const std::wstring name = step.substr(0, bracket);
    size_t index = bracket == std::wstring::npos ? 1 : std::wcstoul(step.c_str() + bracket + 1, nullptr, 10);
    const CXMLElement* found = nullptr;
    ForEachChildElement(*along.back(), [&](const std::wstring& n, const CXMLElement& c) {
      if (n == name && !found && --index == 0) found = &c;
    });
    along.push_back(found);
    start = end;
  }
  return along;
}

// A finding on the generated diff.xml, moved to the declarative file's line or the option the
// author wrote; the generated place stays in brackets.
void PointAtTheAuthorsText(Finding& f, const CXMLElement& written, const Origins& origins,
                           const MakeOptions& options) {
  const std::wstring generated =
      options.output + L":diff.xml" + (f.line ? L":" + ToWideDecimal(static_cast<long long>(f.line)) : L"");
  std::wstring file;
  size_t line = 0;
  const std::vector<const CXMLElement*> along = ElementsAlong(written, f.place);
  const CXMLElement* record = along.size() > 2 ? along[2] : nullptr;
  const std::wstring section = along.size() > 1 && along[1] ? *along[1]->GetNameString() : L"";
  const std::wstring name = record ? *record->GetNameString() : L"";
  if (name == L"Registry" || name == L"ShortCut") {
    for (const auto& origin : origins.records)
      if (SameElement(*origin.written, *record)) {
        file = options.extra;
        line = origin.line;
      }
  } else if (section == L"CustomFunction" && name == L"FileName") {
    const CXMLAttribute* type = FindAttribute(record, L"Type");
    file = options.extra;
    line = type && ValueText(type) == L"BeforeUpdate" ? origins.beforeLine : origins.afterLine;
  } else if (name == L"UninstTarget" && along.size() > 3 && along[3]) {
    const auto it = origins.targets.find(ValueText(along[3]));
    if (it != origins.targets.end()) {
      file = options.extra;
      line = it->second;
    }
  } else if (section == L"GeneralInfo" && name == L"Version") {
    file =
        options.version.empty() ? L"--version-from " + options.versionFrom : L"--version " + options.version;
  } else if (section == L"GeneralInfo" && name == L"CheckAppName" && options.checkAppsGiven) {
    file = L"--check-app " + ValueText(record);
  } else if (name == L"File" && (f.message.compare(0, 10, L"FullPath: ") == 0 ||
                                 f.message.find(L"is not a full path") != std::wstring::npos)) {
    // The variables and the form of the path come from --target; the rest from the file.
    file = L"--target " + options.target;
  } else if (name == L"File") {
    const CXMLElement* fullPath = nullptr;
    ForEachChildElement(*record, [&](const std::wstring& n, const CXMLElement& c) {
      if (n == L"FullPath" && !fullPath) fullPath = &c;
    });
    const auto it = fullPath ? origins.files.find({section, ValueText(fullPath)}) : origins.files.end();
    if (it != origins.files.end()) file = it->second;
  }
  if (file.empty() || (line == 0 && file == options.extra)) {
    f.file = generated;
    return;
  }
  f.place = generated + L" " + f.place;
  f.file = file;
  f.line = line;
}

// True when no section of the package holds a record: applying it only records the version.
bool ChangesNothing(const CQXDiffDistribute& model) {
  for (const CQXBaseObjects* group : {static_cast<const CQXBaseObjects*>(model.deleteObjects.get()),
                                      static_cast<const CQXBaseObjects*>(model.updateObjects.get()),
                                      static_cast<const CQXBaseObjects*>(model.addObjects.get())})
    if (!group->files.empty() || !group->registries.empty() || !group->shortCuts.empty()) return false;
  return true;
}

bool WriteDocument(std::unique_ptr<CXMLElement> root, const std::wstring& path) {
  std::unique_ptr<CXMLDocument> document = NewDocument(std::move(root));
  CXMLParser* parser = GetXMLParser();
  return parser && parser->Save(document.get(), path);
}

}  // namespace

bool MakePackage(const MakeOptions& options, Report& report, std::ostream& out, std::ostream& progressOut,
                 MakeResult& result) {
  Progress progress(options.quiet ? nullptr : &progressOut, L"make");
  std::vector<FolderFile> oldFiles, newFiles;
  if (!ListFiles(options.oldFolder, oldFiles)) {
    report.Error(options.oldFolder, 0, L"", L"not a folder that can be read");
    return false;
  }
  if (!ListFiles(options.newFolder, newFiles)) {
    report.Error(options.newFolder, 0, L"", L"not a folder that can be read");
    return false;
  }
  std::map<std::wstring, const FolderFile*> oldByName;
  for (const FolderFile& f : oldFiles) oldByName[Upper(f.relative)] = &f;
  std::map<std::wstring, const FolderFile*> newByName;
  for (const FolderFile& f : newFiles) {
    auto [it, fresh] = newByName.emplace(Upper(f.relative), &f);
    if (!fresh)
      report.Error(options.newFolder, 0, L"",
                   f.relative + L" and " + it->second->relative +
                       L" differ only in letter case: Windows cannot hold both");
  }
  if (report.Errors()) return false;

  auto model = std::make_unique<CQXDiffDistribute>();
  Origins origins;
  auto addFile = [&](CQXBaseObjects& group, const std::wstring& section, const FolderFile& f,
                     const std::wstring& instName) {
    group.files.push_back(FileRecord(options.target, f.relative, instName));
    if (group.files.back()->fullPath) origins.files[{section, group.files.back()->fullPath->path}] = f.full;
  };
  std::vector<CabinetEntry> entries;
  std::set<std::wstring> instNames;
  // Every plain name NEW holds: an alias must not take one of them.
  std::set<std::wstring> plainNames;
  for (const FolderFile& f : newFiles) plainNames.insert(Upper(Backslashes(f.relative)));
  size_t aliases = 0;
  std::set<std::wstring> checkApps;
  for (size_t i = 0; i < newFiles.size(); ++i) {
    const FolderFile& f = newFiles[i];
    progress.Step(L"compared", i + 1, newFiles.size());
    auto old = oldByName.find(Upper(f.relative));
    const bool isUpdate = old != oldByName.end();
    if (isUpdate && SameBytes(old->second->full, f.full)) continue;
    // Names inside the cabinet stay ASCII so that every code page extracts them alike; other
    // names travel under a plain alias (the record's FullPath keeps the real name).
    std::wstring instName = Backslashes(f.relative);
    if (!IsAscii(instName) || instName.size() > 200) {
      do {
        instName = L"~n\\" + ToWideDecimal(static_cast<long long>(++aliases)) +
                   WidePath(FsPath(f.relative).extension());
      } while (instNames.count(Upper(instName)) || plainNames.count(Upper(instName)));
    }
    instNames.insert(Upper(instName));
    entries.push_back({L"INST\\" + instName, f.full});
    if (isUpdate) {
      const PeImage before = ImageOf(old->second->full), after = ImageOf(f.full);
      std::wstring note;
      if (before.hasVersion || after.hasVersion)
        note = L" (" + (before.hasVersion ? before.VersionText() : L"no version") + L" -> " +
               (after.hasVersion ? after.VersionText() : L"no version") + L")";
      if (before.hasVersion && after.hasVersion &&
          (static_cast<unsigned long long>(after.versionMs) << 32 | after.versionLs) <
              (static_cast<unsigned long long>(before.versionMs) << 32 | before.versionLs))
        report.Warning(
            options.newFolder, 0, L"",
            f.relative + L": the version goes down" + note + L"; the update replaces the file all the same");
      PrintLine(out, L"update " + Backslashes(f.relative) + note);
      result.updated.push_back(Backslashes(f.relative));
      addFile(*model->updateObjects, L"UpdateObjects", f, instName);
    } else {
      PrintLine(out, L"add " + Backslashes(f.relative));
      result.added.push_back(Backslashes(f.relative));
      addFile(*model->addObjects, L"AddObjects", f, instName);
    }
    if (EqualsIgnoreAsciiCase(WidePath(FsPath(f.relative).extension()), L".exe") && isUpdate)
      checkApps.insert(FileNameOf(f.relative));
  }
  for (const FolderFile& f : oldFiles) {
    if (newByName.count(Upper(f.relative))) continue;
    PrintLine(out, L"delete " + Backslashes(f.relative));
    result.deleted.push_back(Backslashes(f.relative));
    addFile(*model->deleteObjects, L"DeleteObjects", f, L"");
    if (EqualsIgnoreAsciiCase(WidePath(FsPath(f.relative).extension()), L".exe"))
      checkApps.insert(FileNameOf(f.relative));
  }

  // The version after the update.
  std::wstring version = options.version;
  if (version.empty() && !options.versionFrom.empty()) {
    const std::wstring file = FindCaseBlind(options.newFolder, options.versionFrom);
    const PeImage image = file.empty() ? PeImage() : ImageOf(file);
    if (!image.hasVersion) {
      report.Error(options.versionFrom, 0, L"", L"no version resource in NEW's file");
      return false;
    }
    version = image.VersionText();
  }
  if (version.empty()) {
    report.Error(L"make", 0, L"", L"the version after the update is needed (--version or --version-from)");
    return false;
  }
  model->generalInfo->version.text = version;
  if (options.checkAppsGiven) model->generalInfo->checkAppNames = options.checkApps;
  else model->generalInfo->checkAppNames.assign(checkApps.begin(), checkApps.end());
  model->updateObjects->displayName.name = options.displayName;

  Hooks hooks;
  if (!options.extra.empty()) {
    Extra extra;
    if (!ReadExtra(options.extra, extra, report) ||
        !ApplyExtra(options.extra, extra, *model, hooks, origins, report))
      return false;
  }
  if (ChangesNothing(*model) && hooks.before.empty() && hooks.after.empty())
    report.Warning(options.newFolder, 0, L"",
                   L"the package changes nothing: " + options.oldFolder + L" and " + options.newFolder +
                       L" hold the same files and no --extra record adds anything",
                   L"empty-package");
  for (const std::wstring& library : {hooks.before, hooks.after})
    if (!library.empty()) entries.push_back({L"CUSTOM\\" + FileNameOf(library), library});
  if (!options.znq.empty()) {
    std::vector<FolderFile> znq;
    if (!ListFiles(options.znq, znq)) {
      report.Error(options.znq, 0, L"", L"not a folder that can be read");
      return false;
    }
    for (const FolderFile& f : znq) entries.push_back({L"ZNQ\\" + Backslashes(f.relative), f.full});
  }

  if (!RefuseDuplicateEntries(entries, report)) return false;
  if (options.verbose)
    for (const CabinetEntry& entry : entries)
      PrintLine(progressOut, L"make: stores " + entry.name + L" from " + entry.source);

  if (options.dryRun) {
    if (!options.quiet)
      PrintLine(progressOut,
                L"make: --dry-run: " + ToWideDecimal(static_cast<long long>(result.added.size())) +
                    L" added, " + ToWideDecimal(static_cast<long long>(result.updated.size())) +
                    L" updated, " + ToWideDecimal(static_cast<long long>(result.deleted.size())) +
                    L" deleted, " + ToWideDecimal(static_cast<long long>(entries.size())) +
                    L" files to store; nothing was written");
    return report.Errors() == 0;
  }
  TempFolder scratch;
  const std::wstring diffXml = scratch.Path() + L"/diff.xml";
  if (!scratch.Ok() || !WriteDocument(model->ToXML(), diffXml)) {
    report.Error(L"diff.xml", 0, L"", L"cannot write the package description");
    return false;
  }
  // The same inputs give the same package: diff.xml takes the newest time stamp of the files
  // the package is made from, never the time make ran.
  std::optional<fs::file_time_type> newest;
  for (const auto* list : {&newFiles, &oldFiles})
    for (const FolderFile& f : *list) {
      std::error_code stampError;
      const fs::file_time_type stamp = fs::last_write_time(FsPath(f.full), stampError);
      if (!stampError && (!newest || stamp > *newest)) newest = stamp;
    }
  if (newest) {
    std::error_code stampError;
    fs::last_write_time(FsPath(diffXml), *newest, stampError);
  }
  entries.insert(entries.begin(), {L"diff.xml", diffXml});
  if (!options.diffXml.empty()) {
    std::string bytes;
    if (!ReadFileBytes(diffXml, bytes) || !WriteOutputBytes(options.diffXml, bytes))
      report.Error(options.diffXml, 0, L"", L"cannot write the file");
  }
  std::wstring reason;
  std::error_code ec;
  if (FsPath(options.output).has_parent_path())
    fs::create_directories(FsPath(options.output).parent_path(), ec);
  if (!WriteCabinet(options.output, entries, reason,
                    [&](size_t done, size_t total) { progress.Step(L"packed", done, total); })) {
    report.Error(options.output, 0, L"", reason);
    return false;
  }
  const std::wstring beside = WidePath(FsPath(options.output).parent_path());
  std::wstring copiedZnq;  // the uninstaller files this run put beside the package
  // The program reads the uninstaller files beside the package: put them there too.
  if (!options.znq.empty()) {
    const std::wstring to = (beside.empty() ? std::wstring(L".") : beside) + L"/ZNQ";
    std::error_code same;
    // Uninstaller files taken from inside the folder they would replace stay where they are.
    const fs::path source = fs::weakly_canonical(fs::absolute(FsPath(options.znq), same), same);
    const fs::path inside =
        source.lexically_relative(fs::weakly_canonical(fs::absolute(FsPath(to), same), same));
    const bool within = !inside.empty() && *inside.begin() != "..";
    if (!within && !fs::equivalent(FsPath(options.znq), FsPath(to), same)) {
      // The copy replaces what an earlier run left there: files of another uninstaller
      // version must not mix with these.
      std::error_code removed;
      fs::remove_all(FsPath(to), removed);
      copiedZnq = to;
      std::vector<FolderFile> znq;
      ListFiles(options.znq, znq);
      for (const FolderFile& f : znq) {
        std::string bytes;
        if (!ReadFileBytes(f.full, bytes) || !WriteFileBytes(to + L"/" + f.relative, bytes)) {
          report.Error(to + L"/" + f.relative, 0, L"",
                       L"cannot copy the uninstaller file beside the package");
          break;
        }
      }
    }
  }
  if (!options.list.empty()) {
    auto root = NewElement(L"DiffLocalList");
    auto entry = NewElement(L"DiffLocal");
    AppendAttribute(entry.get(), L"Order", L"1");
    AppendChild(NewTextElement(L"FileName", FileNameOf(options.output)), entry.get());
    AppendChild(NewTextElement(L"AppName", options.appName), entry.get());
    AppendChild(
        NewTextElement(L"DisplayName", options.displayName.empty() ? options.appName : options.displayName),
        entry.get());
    AppendChild(std::move(entry), root.get());
    if (!WriteDocument(std::move(root), options.list))
      report.Error(options.list, 0, L"", L"cannot write the list file");
  }
  if (report.Errors()) return false;
  // What was built is checked as check would: make never hands over a package that check
  // refuses, unless the author says so.
  PackageSource built;
  std::wstring why;
  Report checked;
  if (!built.Open(options.output, why)) {
    checked.Error(options.output, 0, L"", L"the package just written cannot be read back: " + why);
  } else {
    CheckOptions checkOptions;
    checkOptions.progress = options.quiet ? nullptr : &progressOut;
    checkOptions.progressVerb = L"make";
    CheckPackage(built, checkOptions, checked);
    built = PackageSource();
  }
  const std::unique_ptr<CXMLElement> written = model->ToXML();
  for (Finding& f : checked.findings) {
    if (f.file == L"diff.xml") PointAtTheAuthorsText(f, *written, origins, options);
    report.findings.push_back(std::move(f));
  }
  if (report.Errors()) {
    const std::wstring count = ToWideDecimal(static_cast<long long>(report.Errors()));
    if (options.force) {
      PrintLine(progressOut, L"make: --force: " + options.output + L" was written with " + count +
                                 L" error(s): the program will not apply it as intended");
    } else {
      std::error_code ec;
      fs::remove(FsPath(options.output), ec);
      if (!options.list.empty()) fs::remove(FsPath(options.list), ec);
      if (!copiedZnq.empty()) fs::remove_all(FsPath(copiedZnq), ec);
      PrintLine(progressOut, L"make: " + options.output + L" has " + count +
                                 L" error(s) and was not kept (--force keeps it)");
      return false;
    }
  }
  if (!options.quiet)
    PrintLine(progressOut, L"make: " + options.output + L": " +
                               ToWideDecimal(static_cast<long long>(result.added.size())) + L" added, " +
                               ToWideDecimal(static_cast<long long>(result.updated.size())) + L" updated, " +
                               ToWideDecimal(static_cast<long long>(result.deleted.size())) + L" deleted");
  return true;
}

}  // namespace brindle::pack
