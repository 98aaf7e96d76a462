#include "uninstlog/uninstall_log.h"

#include "logs/application_env.h"
#include "package/object_records.h"
#include "package/uninstall_records.h"
#include "sys/env.h"
#include "uninstlog/entry_index.h"
#include "uninstlog/entry_lookup.h"
#include "uninstlog/path_key.h"

#include <memory>
#include <unordered_map>

namespace brindle {

namespace {

const wchar_t kLanguage[] = L"Language";
const wchar_t kFiles[] = L"Files";
const wchar_t kFolders[] = L"Folders";
const wchar_t kRegistry[] = L"Registry";
const wchar_t kRegistryKey[] = L"RegistryKey";
const wchar_t kStartup[] = L"Startup";
const wchar_t kUninstInfo[] = L"Uninst Info";
const wchar_t kUninstTarget[] = L"UninstTarget";
const wchar_t kCustomFunction[] = L"UninstallCustomFunction";

// The section of a record: the 64-bit one for a record of the 64-bit view.
std::wstring SectionFor(const wchar_t* base, const CQXWow& wow) {
  return wow.wow == kWow64 ? std::wstring(base) + L"64" : std::wstring(base);
}

// The sections this program writes, by the step of WriteAll that writes them; -1 for a
// section it does not model, which is written back as it was read.
int WriteStepOf(const std::wstring& name) {
  static const struct {
    const wchar_t* name;
    int step;
  } kSteps[] = {{L"Language", 0},
                {L"Files", 1},
                {L"Folders", 1},
                {L"Registry", 2},
                {L"RegistryKey", 2},
                {L"Files64", 3},
                {L"Folders64", 3},
                {L"Registry64", 4},
                {L"RegistryKey64", 4},
                {L"Startup", 5},
                {L"Uninst Info", 6},
                {L"UninstTarget", 7},
                {L"UninstallCustomFunction", 8}};
  for (const auto& row : kSteps)
    if (name == row.name) return row.step;
  return -1;
}
constexpr int kWriteSteps = 9;

std::wstring DeleteName(int delInfo) {
  const wchar_t* name = FlagName(FlagGroup::kDelete, delInfo);
  return name ? name : L"";
}

std::wstring RegistrationName(int com) { return com != kComNoRegister ? L"INST_REG" : L"INST_NOREG"; }

// The registry root's name for a record's root; none (empty) for the current user's hive,
// which the uninstall log cannot hold.
std::wstring RootName(int root) {
  if (root == kRegRootClassesRoot) return L"HCR";
  if (root == kRegRootLocalMachine) return L"HLM";
  return std::wstring();
}

std::vector<std::wstring> Header(const std::wstring& section) { return {L"[", section}; }

const std::wstring* EntryPath(const CKey* key, KeyKind kind) {
  return key->Kind() == kind ? key->Entry().path : nullptr;
}

// Comparison keys of the entries, as the lookups file them.
std::wstring PathKeyOf(const CKey& key) { return FilePathKey(*key.Entry().path); }
std::wstring RegistryKeyKey(int32_t root, const std::wstring& keyPath) {
  return std::to_wstring(static_cast<uint32_t>(root)) + L"|" + RegistryPathKey(keyPath);
}
std::wstring RegistryKeyKeyOf(const CKey& key) { return RegistryKeyKey(key.Entry().root, *key.Entry().path); }
std::wstring RegistryValueKeyOf(const CKey& key) { return RegistryPathKey(*key.Entry().path); }

const std::wstring* KeyText(const CKey* key) {
  return key->Class() == kClassText ? key->Entry().text : nullptr;
}

}  // namespace

std::wstring FolderOfPath(const std::wstring& path) {
  // Drive and folder part: everything up to the last separator (a bare drive "C:" counts).
  const size_t slash = path.find_last_of(L"\\/");
  std::wstring folder;
  if (slash != std::wstring::npos) folder = path.substr(0, slash + 1);
  else if (path.size() >= 2 && path[1] == L':') folder = path.substr(0, 2);
  const size_t first = folder.find_first_not_of(L'\\');
  if (first == std::wstring::npos) return std::wstring();
  const size_t last = folder.find_last_not_of(L'\\');
  return folder.substr(first, last - first + 1);
}

CQXUninstallLog::CQXUninstallLog(const std::wstring& productKey, const CQXInstallLog* installLog,
                                 const CQXDiffDistribute* package, const std::wstring& uninstallerVersion)
    : productKey_(productKey),
      installLog_(installLog),
      package_(package),
      uninstallerVersion_(uninstallerVersion) {}

CQXUninstallLog::~CQXUninstallLog() = default;

std::wstring CQXUninstallLog::ExpandPath(const std::wstring& text) const {
  if (!env_)
    env_ = std::make_unique<CQXEnv>(
        ApplicationEnv(ReadMachineFolders(), productKey_, installLog_, package_, uninstallerVersion_));
  return env_->Expand(text);
}

CEntryLookup& CQXUninstallLog::Lookup(const std::wstring& section, KeyKind kind) {
  std::unique_ptr<CEntryLookup>& lookup = lookups_[{section, kind}];
  if (!lookup) {
    CEntryLookup::KeyOf keyOf = PathKeyOf;
    if (kind == kKindRegistryKey) keyOf = RegistryKeyKeyOf;
    if (kind == kKindRegistryValue) keyOf = RegistryValueKeyOf;
    lookup = std::make_unique<CEntryLookup>(section, kind, keyOf);
  }
  return *lookup;
}

bool CQXUninstallLog::AddEntryLine(const std::wstring& section, KeyKind kind,
                                   const std::vector<std::wstring>& keyFields) {
  if (!model_.AddLine(Header(section), keyFields)) return false;
  Lookup(section, kind).NoteAdded(model_);
  return true;
}

bool CQXUninstallLog::Load(const std::wstring& path) {
  if (path.empty()) return false;
  auto file = std::make_unique<CIniFile>();
  if (!file->Load(path)) return false;  // the model normalises the path
  for (auto& lookup : lookups_) lookup.second->Reset();
  if (!model_.MergeFrom(*file)) return false;
  loaded_.push_back(std::move(file));
  return true;
}

// ---- files and shortcuts ------------------------------------------------------------------------

// Entries are matched with paths as Windows compares paths (path_key.h): a line written in
// other letter case, or with a doubled separator, still names the file.
bool CQXUninstallLog::RemoveFileEntry(const CQXFile& file) {
  return RemoveFileEntryByPath(SectionFor(kFiles, file.wow), ExpandPath(file.Path()));
}

bool CQXUninstallLog::RemoveFileEntryByPath(const std::wstring& sectionName, const std::wstring& path) {
  return Lookup(sectionName, kKindFile).RemoveFirst(model_, FilePathKey(path));
}

bool CQXUninstallLog::AddFolderEntryFor(const std::wstring& section, const std::wstring& folder,
                                        const std::wstring& deleteName) {
  if (Lookup(section, kKindFolder).Find(model_, FilePathKey(folder))) return true;
  return AddEntryLine(section, kKindFolder, {L"UIFLDR", folder, L"INST_REQ", L"INST_REQ", deleteName});
}

bool CQXUninstallLog::AddFileEntry(const CQXFile& file, bool existedBefore) {
  const std::wstring path = ExpandPath(file.Path());
  const std::wstring remove = DeleteName(file.delInfo);
  if (!AddFolderEntryFor(SectionFor(kFolders, file.wow), FolderOfPath(path), remove)) return false;
  return AddEntryLine(SectionFor(kFiles, file.wow), kKindFile,
                      {L"UIFILE", path, L"INST_REQ", existedBefore ? L"INST_VER" : L"INST_REQ", remove,
                       RegistrationName(file.com)});
}

bool CQXUninstallLog::UpdateFileEntry(const CQXFile& file) {
  const std::wstring path = ExpandPath(file.Path());
  CKey* key = Lookup(SectionFor(kFiles, file.wow), kKindFile).Find(model_, FilePathKey(path));
  // A file the update put in place that the log does not list gets its lines, so that the
  // uninstaller removes it too.
  if (!key) return AddFileEntry(file, false);
  // Values of a file entry: path, install, mode, delete, registration.
  const std::wstring remove = DeleteName(file.delInfo);
  const std::wstring registration = RegistrationName(file.com);
  int32_t wanted = 0;
  if (FlagValue(remove, wanted) && wanted != key->Entry().remove) key->SetFlagAt(3, remove);
  const int32_t registered = file.com != kComNoRegister ? 1 : 0;
  if (registered != key->Entry().registration) key->SetFlagAt(4, registration);
  return true;
}

bool CQXUninstallLog::ListsFile(const CQXFile& file) {
  const std::wstring path = ExpandPath(file.Path());
  return Lookup(SectionFor(kFiles, file.wow), kKindFile).Find(model_, FilePathKey(path)) != nullptr;
}

bool CQXUninstallLog::AddShortcutEntry(const std::wstring& linkPath) {
  const std::wstring folder = FolderOfPath(linkPath);
  if (commonDesktop_.empty() || FilePathKey(folder) != FilePathKey(commonDesktop_)) {
    if (!AddFolderEntryFor(kFolders, folder, L"INST_DEL")) return false;
  }
  return AddEntryLine(kFiles, kKindFile,
                      {L"UIFILE", linkPath, L"INST_REQ", L"INST_REQ", L"INST_DEL", L"INST_NOREG"});
}

// ---- registry -----------------------------------------------------------------------------------

bool CQXUninstallLog::AddRegistryEntries(const CQXRegistry& registry) {
  const std::wstring keyPath = ExpandPath(registry.keyPath.path);
  const std::wstring root = RootName(registry.keyPath.root);
  if (root.empty()) return false;  // a hive the log cannot name
  const std::wstring keys = SectionFor(kRegistryKey, registry.wow);
  // A key entry is shared by every value of the key in the same hive (key names compare
  // without letter case, as the registry compares them).
  int32_t rootValue = 0;
  FlagValue(root, rootValue);
  const bool logged =
      Lookup(keys, kKindRegistryKey).Find(model_, RegistryKeyKey(rootValue, keyPath)) != nullptr;
  if (!logged && !AddEntryLine(keys, kKindRegistryKey,
                               {L"UIREGIKEY", root, keyPath, L"INST_REQ", L"INST_REQ", L"INST_DEL"}))
    return false;
  return AddEntryLine(SectionFor(kRegistry, registry.wow), kKindRegistryValue,
                      {L"UIREGI", root, keyPath, registry.valueName, L"INST_REQ", L"INST_REQ", L"INST_DEL"});
}

bool CQXUninstallLog::RemoveRegistryEntry(const CQXRegistry& registry) {
  return Lookup(SectionFor(kRegistry, registry.wow), kKindRegistryValue)
      .RemoveFirst(model_, RegistryPathKey(registry.keyPath.path));
}

// ---- Startup --------------------------------------------------------------------------------------

bool CQXUninstallLog::SetStartupVersion(const std::wstring& text) {
  for (CSection* s : model_.Sections()) {
    if (s->Name() != kStartup) continue;
    for (CKey* key : s->Keys()) {
      if (key->Name() != L"Version") continue;
      const std::wstring* current = KeyText(key);
      if (current && *current == text) continue;
      return key->SetFirstText(text);
    }
  }
  return false;
}

bool CQXUninstallLog::SetStartupAppName(const std::wstring& text) {
  for (CSection* s : model_.Sections()) {
    if (s->Name() != kStartup) continue;
    for (CKey* key : s->Keys()) {
      if (key->Name() != L"AppName") continue;
      const std::wstring* current = KeyText(key);
      if (current && *current == text) return true;
      return key->SetFirstText(text);
    }
  }
  return false;
}

// ---- uninstall targets and the custom-function library ------------------------------------------

bool CQXUninstallLog::AddUninstallTargets(const CQXUninstallTarget& targets) {
  if (!model_.FindSection(kUninstTarget)) model_.AppendSection(std::make_unique<CSection>(kUninstTarget));
  bool all = true;
  for (const std::wstring& target : targets.Targets())
    if (!model_.AddLine(Header(kUninstTarget), {L"UNInfo", target})) all = false;
  return all;
}

bool CQXUninstallLog::RemoveUninstallTargets(const CQXUninstallTarget& targets) {
  bool all = true;
  for (const std::wstring& target : targets.Targets()) {
    CSection* holder = nullptr;
    const CKey* found = nullptr;
    for (CSection* s : model_.Sections()) {
      if (s->Name() != kUninstTarget) continue;
      for (const CKey* key : s->Keys()) {
        const std::wstring* text = KeyText(key);
        if (key->Name() == L"UNInfo" && text && *text == target) {
          found = key;
          break;
        }
      }
      if (found) {
        holder = s;
        break;
      }
    }
    if (!found) {
      all = false;
      continue;
    }
    holder->RemoveKey(found);
    // A section left without targets is taken out, so it is not written.
    if (holder->Keys().empty()) model_.RemoveSection(holder);
  }
  return all;
}

bool CQXUninstallLog::WriteUninstallCustomFunction(const CQXUninstallCustomFunction& record) {
  CSection* section = nullptr;
  for (CSection* s : model_.Sections())
    if (s->Name() == kCustomFunction && !s->Keys().empty()) {
      section = s;
      break;
    }
  if (!section) return false;
  bool hasPath = false;
  for (CKey* key : section->Keys()) {
    bool ok = true;
    if (key->Name() == L"DLLPath") {
      ok = key->SetFirstText(record.fullPath.path);
      hasPath = true;
    } else if (const CQXUninstallCustomFunctionFlag* hook = record.HookNamed(key->Name())) {
      ok = key->SetFirstNumber(hook->flag == 1 ? L"1" : L"0");
    } else if (key->Name() == L"Version") {
      ok = key->SetFirstText(record.version.text);
    }
    if (!ok) return false;
  }
  if (hasPath) return true;
  return model_.AddLine(Header(kCustomFunction), {L"DLLPath", record.fullPath.path});
}

// ---- writing ------------------------------------------------------------------------------------

bool CQXUninstallLog::WritePlainSection(const std::wstring& name) {
  // A section the log does not have is not written (nor invented).
  const CSection* section = model_.FindSection(name);
  if (!section) return true;
  if (!writer_.WriteSection(name)) return false;
  for (const CKey* key : section->Keys()) {
    // A key the update did not change is written as read; a key of another shape in a plain
    // section keeps its own line shape.
    const std::string* raw = key->RawLine();
    const std::wstring* text = KeyText(key);
    const bool ok = raw    ? writer_.WriteRawLine(*raw)
                    : text ? writer_.WriteText(key->Name(), *text)
                           : writer_.WriteKey(*key);
    if (!ok) return false;
  }
  return true;
}

bool CQXUninstallLog::WriteFilesWithFolders(const std::wstring& filesName, const std::wstring& foldersName) {
  const CSection* files = model_.FindSection(filesName);
  if (!files) return true;
  const CSection* folders = model_.FindSection(foldersName);
  std::vector<const CKey*> folderKeys;
  CContainedPathIndex index;
  if (folders) {
    for (const CKey* key : folders->Keys()) {
      if (const std::wstring* p = EntryPath(key, kKindFolder)) {
        index.Add(FilePathKey(*p), folderKeys.size());
        folderKeys.push_back(key);
      }
    }
  }
  std::unordered_map<std::wstring, size_t> picked;  // folder key -> folder entry
  for (const CKey* key : files->Keys()) {
    const std::wstring* path = EntryPath(key, kKindFile);
    if (!path) {
      // Not a file entry: written as read or in its own line shape, without a folder.
      if (!writer_.WriteSection(filesName) || !WriteOtherKey(*key)) return false;
      continue;
    }
    if (folders) {
      const std::wstring folder = FilePathKey(FolderOfPath(*path));
      auto it = picked.find(folder);
      if (it == picked.end()) it = picked.emplace(folder, index.Find(folder)).first;
      if (it->second != kNoEntry && (!writer_.WriteSection(foldersName) ||
                                     !writer_.WriteFolderEntry(*folderKeys[it->second]->Entry().path)))
        return false;
    }
    const KeyEntry& e = key->Entry();
    if (!writer_.WriteSection(filesName) ||
        !writer_.WriteFileEntry(e.install, *path, e.mode, e.remove, e.registration == 1))
      return false;
  }
  return true;
}

bool CQXUninstallLog::WriteValuesWithKeys(const std::wstring& valuesName, const std::wstring& keysName) {
  const CSection* values = model_.FindSection(valuesName);
  if (!values) return true;
  const CSection* keys = model_.FindSection(keysName);
  std::vector<const CKey*> keyEntries;
  std::unordered_map<int32_t, CContainingPathIndex> byRoot;
  if (keys) {
    for (const CKey* key : keys->Keys()) {
      if (const std::wstring* p = EntryPath(key, kKindRegistryKey)) {
        byRoot[key->Entry().root].Add(RegistryPathKey(*p), keyEntries.size());
        keyEntries.push_back(key);
      }
    }
  }
  // Registry lines carry INST_DEL for a delete value of 1 and INST_HLD for any other.
  auto removeFlag = [](const KeyEntry& e) { return e.remove == 1 ? 1 : 0; };
  std::unordered_map<int32_t, std::unordered_map<std::wstring, size_t>> picked;
  for (const CKey* key : values->Keys()) {
    const std::wstring* path = EntryPath(key, kKindRegistryValue);
    if (!path) {
      if (!writer_.WriteSection(valuesName) || !WriteOtherKey(*key)) return false;
      continue;
    }
    const KeyEntry& e = key->Entry();
    const auto index = byRoot.find(e.root);
    if (index != byRoot.end()) {
      auto& memo = picked[e.root];
      const std::wstring keyPath = RegistryPathKey(*path);
      auto it = memo.find(keyPath);
      if (it == memo.end()) it = memo.emplace(keyPath, index->second.Find(keyPath)).first;
      if (it->second != kNoEntry) {
        const KeyEntry& k = keyEntries[it->second]->Entry();
        if (!writer_.WriteSection(keysName) ||
            !writer_.WriteRegistryKeyEntry(k.root, *k.path, k.install, k.mode, removeFlag(k)))
          return false;
      }
    }
    if (!writer_.WriteSection(valuesName) ||
        !writer_.WriteRegistryValueEntry(e.root, *path, e.valueName ? *e.valueName : L"", e.install, e.mode,
                                         removeFlag(e)))
      return false;
  }
  return true;
}

bool CQXUninstallLog::WriteCustomFunctionSection() {
  const CSection* section = model_.FindSection(kCustomFunction);
  if (!section) return true;
  if (!writer_.WriteSection(kCustomFunction)) return false;
  for (const CKey* key : section->Keys()) {
    if (key->RawLine()) {
      if (!writer_.WriteRawLine(*key->RawLine())) return false;
      continue;
    }
    const std::wstring& name = key->Name();
    const std::wstring* text = KeyText(key);
    bool ok;
    if ((name == L"DLLPath" || name == L"OwnerName" || name == L"Version") && text)
      ok = writer_.WriteText(name, *text);
    else if (key->Class() == kClassNumber) ok = writer_.WriteNumber(name, key->Entry().number);
    else ok = writer_.WriteKey(*key);  // a key of another shape keeps its own line shape
    if (!ok) return false;
  }
  return true;
}

bool CQXUninstallLog::WriteOtherKey(const CKey& key) {
  const std::string* raw = key.RawLine();
  return raw ? writer_.WriteRawLine(*raw) : writer_.WriteKey(key);
}

bool CQXUninstallLog::WriteAsRead(const CSection& section) {
  if (section.RawLines().empty()) {
    // Made in memory, never read: written in the line shapes of its keys.
    if (!writer_.WriteSection(section.Name())) return false;
    for (const CKey* key : section.Keys())
      if (!writer_.WriteKey(*key)) return false;
    return true;
  }
  for (const std::string& line : section.RawLines())
    if (!writer_.WriteRawLine(line)) return false;
  writer_.ForgetSection();
  return true;
}

bool CQXUninstallLog::WriteStep(int step) {
  switch (step) {
    case 0: return WritePlainSection(kLanguage);
    case 1: return WriteFilesWithFolders(L"Files", L"Folders");
    case 2: return WriteValuesWithKeys(L"Registry", L"RegistryKey");
    case 3: return !write64_ || WriteFilesWithFolders(L"Files64", L"Folders64");
    case 4: return !write64_ || WriteValuesWithKeys(L"Registry64", L"RegistryKey64");
    case 5: return WritePlainSection(kStartup);
    case 6: return WritePlainSection(kUninstInfo);
    case 7: return WritePlainSection(kUninstTarget);
    case 8: return WriteCustomFunctionSection();
    default: return false;
  }
}

bool CQXUninstallLog::WriteAll() {
  // A section this program does not model is written as read, after the section that stood
  // before it in the file (or first, when none did), so the uninstaller finds it whole.
  std::vector<std::vector<const CSection*>> unmodelled(kWriteSteps + 1);
  int last = -1;
  for (const CSection* section : model_.Sections()) {
    const int step = WriteStepOf(section->Name());
    if (step < 0) unmodelled[last + 1].push_back(section);
    else last = step;
  }
  for (const std::string& line : model_.Preamble())
    if (!writer_.WriteRawLine(line)) return false;
  for (int step = -1; step < kWriteSteps; ++step) {
    if (step >= 0 && !WriteStep(step)) return false;
    for (const CSection* section : unmodelled[step + 1])
      if (!WriteAsRead(*section)) return false;
  }
  return writer_.Close();
}

// ---- saving -------------------------------------------------------------------------------------

std::wstring CQXUninstallLog::TemporaryPath(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  const size_t nameStart = slash == std::wstring::npos ? 0 : slash + 1;
  const size_t dot = path.find_last_of(L'.');
  if (dot == std::wstring::npos || dot < nameStart) return path + L"_tmp";
  return path.substr(0, dot) + L"_tmp" + path.substr(dot);
}

bool CQXUninstallLog::Save(const std::wstring& path) {
  // The writer's stream is shared by the process: a save needs it free.
  if (path.empty() || CProfile::IsOpen()) return false;
  const std::wstring temporary = TemporaryPath(path);
  // The writer appends: a file left by an interrupted save must not be mixed in.
  if (!RemoveFileIfPresent(temporary) || !writer_.Open(temporary)) return false;
  if (!WriteAll()) {
    writer_.Close();
    RemoveFileIfPresent(temporary);
    return false;
  }
  if (!ReplaceFileInOneStep(temporary, path)) {
    RemoveFileIfPresent(temporary);
    return false;
  }
  return true;
}

}  // namespace brindle
