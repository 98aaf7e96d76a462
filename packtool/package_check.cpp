#include "packtool/package_check.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <map>
#include <set>

#include "apply/registry_data.h"
#include "package/diff_distribute.h"
#include "package/diff_elements.h"
#include "package/uninstaller_files.h"
#include "package/xml_reading.h"
#include "packtool/suggest.h"
#include "packtool/pe_image.h"
#include "packtool/xml_places.h"
#include "sys/env.h"
#include "sys/safe_names.h"
#include "sys/text.h"
#include "xml/xml_parser.h"

namespace brindle::pack {

namespace {

// Variables a full path may begin with (each names a folder).

// Longest path the program's file and shortcut actions handle.
constexpr size_t kMaxPath = 259;
// The all-users program menu as long as it usually is; a shortcut path adds its name to it.
constexpr size_t kProgramMenuLength = 52;  // C:\ProgramData\Microsoft\Windows\Start Menu\Programs

std::wstring Attribute(const CXMLElement& element, const std::wstring& name, bool& present) {
  const CXMLAttribute* attribute = FindAttribute(&element, name);
  present = attribute != nullptr;
  return attribute ? ValueText(attribute) : std::wstring();
}

std::wstring Quote(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'a' && c <= L'z') c = c - L'a' + L'A';
  return text;
}

class Checker {
 public:
  Checker(const PackageSource& source, const CheckOptions& options, Report& report)
      : source_(source),
        options_(options),
        report_(report),
        progress_(options.progress, options.progressVerb) {}

  void Run();

 private:
  void Error(const CXMLElement* at, const std::wstring& message, const std::wstring& rule = L"package") {
    const Place p = places_ ? places_->Of(at) : Place();
    report_.Error(L"diff.xml", p.line, p.path, message, rule);
  }
  void Warning(const CXMLElement* at, const std::wstring& message, const std::wstring& rule = L"package") {
    const Place p = places_ ? places_->Of(at) : Place();
    report_.Warning(L"diff.xml", p.line, p.path, message, rule);
  }

  // " (the first is on line N)".
  std::wstring FirstAt(const CXMLElement* first) const {
    const Place p = places_ ? places_->Of(first) : Place();
    return p.line ? L" (the first is on line " + ToWideDecimal(static_cast<long long>(p.line)) + L")"
                  : std::wstring();
  }
  void CheckCabinetEntries();
  void CheckShape(const CXMLElement& element, const std::wstring& parent);
  // A token attribute: an error when the model does not write the same token back.
  void CheckToken(const CXMLElement& element, const std::wstring& attribute, const CXMLElement* written,
                  const std::wstring& known);
  void CheckVariables(const CXMLElement& at, const std::wstring& what, const std::wstring& text,
                      bool allowInstallTime);
  void CheckFullPath(const CXMLElement& at, const std::wstring& what, const std::wstring& path);
  void CheckSection(const CXMLElement& section);
  void CheckFile(const CXMLElement& element, const std::wstring& section);
  void CheckRegistry(const CXMLElement& element, const std::wstring& section);
  void CheckShortCut(const CXMLElement& element, const std::wstring& section);
  void CheckUninstTarget(const CXMLElement& element);
  void CheckUninstallCustomFunction(const CXMLElement& element);
  void CheckGeneralInfo(const CXMLElement& element);
  void CheckCustomFunction(const CXMLElement& element);
  void CheckHookLibrary(const CXMLElement& at, const std::wstring& name, const std::string& entry);
  void CheckWrapperFiles();
  void CheckUnusedInstFiles();

  const PackageSource& source_;
  const CheckOptions& options_;
  Report& report_;
  std::unique_ptr<PlaceIndex> places_;
  std::vector<size_t> lines_;
  // Per section: first element of each file path, registry value and shortcut (duplicates).
  std::map<std::wstring, std::map<std::wstring, const CXMLElement*>> files_, registries_, shortcuts_;
  std::set<std::wstring> usedInst_;  // INST names (upper case) that records name
  CaseBlindFinder finder_;           // the package's folders, each listed once
  Progress progress_;
  size_t records_ = 0, recordsChecked_ = 0;
};

void Checker::Run() {
  if (source_.IsCabinet()) CheckCabinetEntries();
  const std::wstring diffXml = finder_.Find(source_.Folder(), L"diff.xml");
  std::string bytes;
  if (diffXml.empty() || !ReadFileBytes(diffXml, bytes)) {
    report_.Error(source_.Path(), 0, L"",
                  L"the package holds no diff.xml: the program finds no package description");
    return;
  }
  CXMLParser* parser = GetXMLParser();
  std::unique_ptr<CXMLDocument> document = parser ? parser->Load(diffXml) : nullptr;
  if (!document || !document->GetRoot()) {
    XmlMalformation where;
    if (FindMalformation(bytes, where)) {
      report_.Error(L"diff.xml", where.line, L"",
                    L"the program's XML parser cannot load diff.xml: " + where.what, L"xml");
      report_.findings.back().column = where.column;
    } else {
      report_.Error(L"diff.xml", 0, L"",
                    L"the program's XML parser cannot load diff.xml (not well formed, or it holds "
                    L"CDATA, a processing instruction or an entity inside an element)",
                    L"xml");
    }
    return;
  }
  lines_ = StartTagLines(bytes);
  places_ = std::make_unique<PlaceIndex>(document->GetRoot(), lines_);
  const CXMLElement& root = *document->GetRoot();
  if (!IsElementNamed(&root, L"DiffDistribute")) {
    Error(&root,
          L"the root element must be DiffDistribute (exact letter case): the program "
          L"rejects the whole package");
    return;
  }
  CheckShape(root, L"");
  ForEachChildElement(root, [&](const std::wstring& name, const CXMLElement& child) {
    if (name == L"DeleteObjects" || name == L"AddObjects" || name == L"UpdateObjects")
      ForEachChildElement(child, [&](const std::wstring&, const CXMLElement&) { ++records_; });
  });
  int generalInfos = 0, customFunctions = 0;
  ForEachChildElement(root, [&](const std::wstring& name, const CXMLElement& child) {
    if (name == L"GeneralInfo") {
      if (++generalInfos == 2) Warning(&child, L"a second GeneralInfo: the program keeps only the last one");
      CheckGeneralInfo(child);
    } else if (name == L"CustomFunction") {
      if (++customFunctions == 2)
        Warning(&child, L"a second CustomFunction: the program keeps only the last one");
      CheckCustomFunction(child);
    } else if (name == L"DeleteObjects" || name == L"AddObjects" || name == L"UpdateObjects") {
      CheckSection(child);
    }
  });
  if (generalInfos == 0) Error(&root, L"no GeneralInfo: the install log would record an empty version");
  // Records named in more than one section.
  for (const auto& [path, element] : files_[L"DeleteObjects"]) {
    if (files_[L"AddObjects"].count(path) || files_[L"UpdateObjects"].count(path))
      Warning(element, L"the file is deleted and then written again by the same package");
  }
  for (const auto& [path, element] : files_[L"AddObjects"]) {
    if (files_[L"UpdateObjects"].count(path))
      Warning(element, L"the file is both updated and added; the add finds it already in place");
  }
  CheckWrapperFiles();
  CheckUnusedInstFiles();
}

void Checker::CheckCabinetEntries() {
  std::set<std::wstring> seen;
  for (const std::wstring& name : source_.EntryNames()) {
    if (!IsSafeRelativePath(name)) {
      report_.Error(source_.Path(), 0, L"",
                    L"cabinet entry " + Quote(name) +
                        L" is not a safe relative name (empty, absolute, a drive, a colon, '..', "
                        L"a device name or too long): the program refuses to extract the package");
      continue;
    }
    if (!seen.insert(Upper(name)).second)
      report_.Error(source_.Path(), 0, L"",
                    L"cabinet entry " + Quote(name) + L" is stored twice (letter case ignored)");
    const std::wstring top = Upper(name.substr(0, name.find_first_of(L"\\/")));
    if (top != L"DIFF.XML" && top != L"INST" && top != L"CUSTOM" && top != L"ZNQ")
      report_.Warning(source_.Path(), 0, L"",
                      L"cabinet entry " + Quote(name) +
                          L" is outside diff.xml, INST, CUSTOM and ZNQ: the program never uses it");
  }
}

void Checker::CheckShape(const CXMLElement& element, const std::wstring& parent) {
  const std::wstring name = element.GetNameString() ? *element.GetNameString() : L"";
  const DiffElementShape* shape = DiffElementShapeOf(name);
  if (!shape) return;
  const std::vector<std::wstring> attributes(shape->attributes.begin(), shape->attributes.end());
  // What the program's reader skips is lost without a word: an error unless the author says
  // the names are meant for something else (--allow-unknown).
  auto unknown = [&](const CXMLElement* at, const std::wstring& message, const std::wstring& rule) {
    if (options_.allowUnknown) Warning(at, message, rule);
    else Error(at, message, rule);
  };
  ForEachAttribute(element, [&](const std::wstring& attribute, const std::wstring&) {
    if (!shape->attributes.count(attribute))
      unknown(&element,
              L"attribute " + attribute + L" is not read by the program on " + name +
                  DidYouMean(attribute, attributes, L" (a misspelling?)"),
              L"unknown-attribute");
  });
  const bool container = !shape->children.empty();
  const std::vector<std::wstring> children(shape->children.begin(), shape->children.end());
  for (unsigned i = 0; i < element.GetChildCount(); ++i) {
    const CXMLElement* child = AsElement(element.GetChild(i));
    if (!child) {
      // Text directly inside a container element means nothing to the program.
      if (container && !ValueText(element.GetChild(i)).empty())
        Warning(&element, L"text inside " + name + L" is ignored by the program", L"ignored-text");
      continue;
    }
    const std::wstring childName = child->GetNameString() ? *child->GetNameString() : L"";
    if (!shape->children.count(childName)) {
      unknown(child,
              L"element " + childName + L" is ignored by the program inside " + name +
                  DidYouMean(childName, children, L" (a misspelling, or the wrong section?)"),
              L"unknown-element");
      continue;
    }
    CheckShape(*child, name);
  }
}

void Checker::CheckToken(const CXMLElement& element, const std::wstring& attribute,
                         const CXMLElement* written, const std::wstring& known) {
  bool present = false;
  const std::wstring token = Attribute(element, attribute, present);
  if (!present) return;
  bool writtenPresent = false;
  const std::wstring back = written ? Attribute(*written, attribute, writtenPresent) : L"";
  if (writtenPresent && back == token) return;
  // The tokens named in known ("A, B or C").
  std::vector<std::wstring> tokens;
  std::wstring word;
  for (const wchar_t c : known + L" ") {
    if (c == L' ' || c == L',') {
      if (!word.empty() && word != L"or") tokens.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  Error(&element,
        attribute + L"=" + Quote(token) + L" is not a token the program knows (" + known +
            L"; exact letter case): it reads as " + (back.empty() ? std::wstring(L"no value") : back) +
            DidYouMean(token, tokens, L""),
        L"unknown-token");
}

void Checker::CheckVariables(const CXMLElement& at, const std::wstring& what, const std::wstring& text,
                             bool allowInstallTime) {
  for (const std::wstring& name : UnknownVariables(text, allowInstallTime))
    Error(&at,
          what + L": " + name +
              L" is not a variable the program knows; it stays in the "
              L"text unexpanded" +
              VariableSuggestion(name, allowInstallTime),
          L"unknown-variable");
}

void Checker::CheckFullPath(const CXMLElement& at, const std::wstring& what, const std::wstring& path) {
  if (path.empty()) {
    Error(&at, what + L" is empty");
    return;
  }
  CheckVariables(at, what, path, false);
  if (path.size() > kMaxPath)
    Error(&at, what + L" has " + ToWideDecimal(static_cast<long long>(path.size())) +
                   L" characters; the program handles paths of at most 259");
  if (!IsTargetPath(path))
    Error(&at, what + L" " + Quote(path) +
                   L" is not a full path (a drive, or a folder variable such as $InsFolder$, "
                   L"first): the program would act relative to its own working folder");
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != L'\\' && path[i] != L'/') continue;
    const std::wstring component = path.substr(start, i - start);
    if (component == L"..") {
      Error(&at, what + L" " + Quote(path) + L" climbs out of its folder with '..'");
      break;
    }
    const size_t colon = component.find(L':');
    if (colon != std::wstring::npos && !(start == 0 && colon == 1 && component.size() == 2)) {
      Error(&at, what + L" " + Quote(path) + L" has a colon outside its drive (an alternate data stream)");
      break;
    }
    start = i + 1;
  }
}

void Checker::CheckGeneralInfo(const CXMLElement& element) {
  CQXGeneralInfo info;
  info.FromXML(&element);
  const CXMLElement* versionElement = nullptr;
  ForEachChildElement(element, [&](const std::wstring& name, const CXMLElement& child) {
    if (name == L"Version") versionElement = &child;
    if (name == L"CheckAppName") {
      const std::wstring app = ValueText(&child);
      if (app.empty())
        Warning(&child, L"an empty CheckAppName: the program looks for a program without a name");
      else if (app.find_first_of(L"\\/") != std::wstring::npos)
        Warning(&child, L"CheckAppName " + Quote(app) +
                            L" holds a folder; the program compares running programs' file names");
    }
  });
  if (info.version.IsEmpty()) {
    Error(versionElement ? versionElement : &element,
          L"the version after the update is empty: the install log would record an empty version");
  } else if (info.version.text.find_first_of(L"0123456789") == std::wstring::npos) {
    Warning(versionElement, L"the version " + Quote(info.version.text) +
                                L" has no digits: it compares equal to every version 0");
  }
}

void Checker::CheckSection(const CXMLElement& section) {
  const std::wstring name = *section.GetNameString();
  ForEachChildElement(section, [&](const std::wstring& child, const CXMLElement& element) {
    progress_.Step(L"checked", ++recordsChecked_, records_);
    if (child == L"File") CheckFile(element, name);
    else if (child == L"Registry") CheckRegistry(element, name);
    else if (child == L"ShortCut") CheckShortCut(element, name);
    else if (child == L"UninstTarget" && name != L"UpdateObjects") CheckUninstTarget(element);
    else if (child == L"UninstallCustomFunction" && name == L"UpdateObjects")
      CheckUninstallCustomFunction(element);
  });
}

void Checker::CheckFile(const CXMLElement& element, const std::wstring& section) {
  CQXFile file;
  file.FromXML(&element);
  std::unique_ptr<CXMLElement> written = file.ToXML();
  CheckToken(element, L"COM", written.get(), L"INST_REG or INST_NOREG");
  CheckToken(element, L"DelInfo", written.get(), L"INST_HLD, INST_DEL or INST_REF");
  CheckToken(element, L"WOW", written.get(), L"INST_32BIT or INST_64BIT");
  if (!file.fullPath) {
    Error(&element, L"the file has no FullPath: the program acts on an empty path");
  } else {
    CheckFullPath(element, L"FullPath", file.fullPath->path);
    auto& seen = files_[section];
    const std::wstring key = Upper(file.fullPath->path);
    const auto first = seen.emplace(key, &element);
    if (!first.second)
      Error(&element,
            L"a second record for " + Quote(file.fullPath->path) + L" in " + section +
                FirstAt(first.first->second),
            L"duplicate-record");
  }
  if (section == L"DeleteObjects") return;
  if (!file.fileName || file.fileName->name.empty()) {
    Error(&element, L"the file has no FileName: the program copies from the INST folder itself");
    return;
  }
  const std::wstring& name = file.fileName->name;
  if (!IsSafeRelativePath(name)) {
    Error(&element, L"FileName " + Quote(name) +
                        L" is not a safe name inside INST (absolute, a drive, a colon, '..', a "
                        L"device name or too long)");
    return;
  }
  usedInst_.insert(Upper(name));
  const std::wstring found = finder_.Find(source_.Folder(), L"INST/" + name);
  if (found.empty() || !IsFile(found)) {
    Error(&element, L"INST\\" + name +
                        L" is not in the package: the copy fails and the file is "
                        L"left for a restart that cannot complete it");
    return;
  }
  if (file.com == kComRegister) {
    std::string bytes;
    ReadFileBytes(found, bytes);
    const PeImage image = ReadPeImage(bytes);
    if (!image.valid || !image.Exports("DllRegisterServer"))
      Warning(&element,
              L"COM=\"INST_REG\" but INST\\" + name + L" is not a library exporting DllRegisterServer");
  }
}

void Checker::CheckRegistry(const CXMLElement& element, const std::wstring& section) {
  CQXRegistry registry;
  registry.FromXML(&element);
  std::unique_ptr<CXMLElement> written = registry.ToXML();
  CheckToken(element, L"WOW", written.get(), L"INST_32BIT or INST_64BIT");
  const CXMLElement *keyPath = nullptr, *data = nullptr;
  ForEachChildElement(element, [&](const std::wstring& name, const CXMLElement& child) {
    if (name == L"RegKeyPath") keyPath = &child;
    if (name == L"RegData") data = &child;
  });
  const CXMLElement* writtenKey = nullptr;
  const CXMLElement* writtenData = nullptr;
  ForEachChildElement(*written, [&](const std::wstring& name, const CXMLElement& child) {
    if (name == L"RegKeyPath") writtenKey = &child;
    if (name == L"RegData") writtenData = &child;
  });
  if (!keyPath || registry.keyPath.path.empty()) {
    Error(keyPath ? keyPath : &element, L"the registry record has no key path");
  } else {
    CheckToken(*keyPath, L"RegRoot", writtenKey, L"REG_HCR, REG_HLM or REG_HCU");
    CheckVariables(*keyPath, L"RegKeyPath", registry.keyPath.path, false);
    size_t start = 0;
    const std::wstring& path = registry.keyPath.path;
    for (size_t i = 0; i <= path.size(); ++i) {
      if (i < path.size() && path[i] != L'\\') continue;
      if (i - start > 255)
        Error(keyPath, L"a key name of the path has more than 255 characters, the registry's limit");
      if (i == start && i != path.size())
        Error(keyPath, L"the key path " + Quote(path) +
                           L" has an empty key name (a doubled or "
                           L"leading backslash)");
      start = i + 1;
    }
  }
  if (registry.valueName.size() > 16383)
    Error(&element, L"the value name has more than 16383 characters, the registry's limit");
  CheckVariables(element, L"RegValueName", registry.valueName, false);
  const std::wstring key = ToWideDecimal(registry.keyPath.root) + L":" + Upper(registry.keyPath.path) + L":" +
                           Upper(registry.valueName) + L":" + ToWideDecimal(registry.wow.wow);
  const auto first = registries_[section].emplace(key, &element);
  if (!first.second)
    Error(&element,
          L"a second record for the value " + Quote(registry.valueName) + L" of " +
              Quote(registry.keyPath.path) + L" in " + section + FirstAt(first.first->second),
          L"duplicate-record");
  if (section == L"DeleteObjects") return;
  if (!data) {
    Error(&element,
          L"the registry record has no RegData: the program writes a REG_DW from "
          L"empty text, which does not convert: the record is refused and the package fails");
    return;
  }
  CheckToken(*data, L"Type", writtenData,
             L"REG_DW, REG_SZ, REG_EXPAND_SZ, REG_NONE, REG_BINARY, REG_QWORD or REG_MULTI_SZ");
  const std::wstring& text = registry.data.data;
  CheckVariables(*data, L"RegData", text, true);
  const std::wstring stops =
      L": the program refuses this record with an error line, writes the other records of the "
      L"pass, then fails the package";
  const bool isString = registry.data.type == kRegString || registry.data.type == kRegExpandString;
  if (!isString && registry.data.type != kRegNone && registry.data.type != kRegBinary &&
      registry.data.type != kRegQword && registry.data.type != kRegMultiString &&
      text.find(L'$') != std::wstring::npos) {
    // A number from variables converts only once they are expanded on the machine.
    if (ReplaceInstallTimeWith(text, 1) != L"1")
      Warning(data,
              L"REG_DW data " + Quote(text) +
                  L" holds variables; it converts only when the expanded text is a number",
              L"registry-data");
    return;
  }
  const std::wstring problem = RegistryDataProblem(registry.data.type, text);
  if (!problem.empty()) {
    Error(data, problem + stops, L"registry-data");
  } else if (isString && text.find(L'$') != std::wstring::npos &&
             (text.size() + 1) * 2 + 320 > kRegistryDataLimit) {
    Warning(data,
            L"the string is close to the 499-character limit before its variables "
            L"are expanded",
            L"registry-data");
  }
}

void Checker::CheckShortCut(const CXMLElement& element, const std::wstring& section) {
  CQXShortCut shortcut;
  shortcut.FromXML(&element);
  std::unique_ptr<CXMLElement> written = shortcut.ToXML();
  bool hasTarget = false;
  ForEachChildElement(element, [&](const std::wstring& name, const CXMLElement& child) {
    const CXMLElement* same = nullptr;
    ForEachChildElement(*written, [&](const std::wstring& n, const CXMLElement& c) {
      if (n == name && !same) same = &c;
    });
    if (name == L"SCName") {
      CheckToken(child, L"Type", same, L"INST_DSC or INST_GSC");
    } else if (name == L"WindowSize") {
      CheckToken(child, L"Type", same, L"INST_NML, INST_MAX or INST_MIN");
    } else if (name == L"FullPath") {
      FullPathValue value;
      ReadFullPath(&child, value);
      if (value.type == kPathShortcutTarget) hasTarget = true;
      else if (value.type != kPathWorkFolder)
        Error(&child,
              L"a FullPath of a shortcut without Type \"SCTarget\" or \"WorkFolder\" is "
              L"ignored by the program");
    }
  });
  const std::wstring& name = shortcut.name.name;
  if (name.empty()) {
    Error(&element, L"the shortcut has no SCName");
  } else {
    CheckVariables(element, L"SCName", name, false);
    if (name.find(L'$') == std::wstring::npos && !IsSafeRelativePath(name))
      Error(&element, L"SCName " + Quote(name) +
                          L" is not a safe name inside the desktop or program menu (absolute, a "
                          L"drive, a colon, '..' or a device name)");
    else if (kProgramMenuLength + 1 + name.size() + 4 > kMaxPath)
      Error(&element, L"SCName is too long: the shortcut's path would pass 259 characters");
    const std::wstring key = ToWideDecimal(shortcut.name.type) + L":" + Upper(name);
    const auto first = shortcuts_[section].emplace(key, &element);
    if (!first.second)
      Error(&element,
            L"a second shortcut named " + Quote(name) + L" in " + section + FirstAt(first.first->second),
            L"duplicate-record");
  }
  if (section == L"DeleteObjects") return;
  if (!hasTarget) {
    Error(&element, L"the shortcut has no FullPath with Type \"SCTarget\": the link points nowhere");
  } else {
    CheckFullPath(element, L"the shortcut's target", shortcut.target.path);
  }
  if (!shortcut.workFolder.path.empty())
    CheckVariables(element, L"the working folder", shortcut.workFolder.path, false);
  CheckVariables(element, L"CLParameter", shortcut.parameters, false);
  CheckVariables(element, L"Text", shortcut.text, false);
}

void Checker::CheckUninstTarget(const CXMLElement& element) {
  std::set<std::wstring> seen;
  ForEachChildElement(element, [&](const std::wstring& name, const CXMLElement& child) {
    if (name != L"UNInfo") return;
    const std::wstring target = ValueText(&child);
    if (target.empty()) Error(&child, L"an empty UNInfo: the uninstall log cannot hold an empty target");
    else if (!seen.insert(target).second)
      Warning(&child, L"the target " + Quote(target) + L" is listed twice; it is added twice");
  });
}

void Checker::CheckUninstallCustomFunction(const CXMLElement& element) {
  CQXUninstallCustomFunction record;
  record.FromXML(&element);
  ForEachChildElement(element, [&](const std::wstring& name, const CXMLElement& child) {
    if (!record.HookNamed(name)) return;
    bool present = false;
    const std::wstring flag = Attribute(child, L"Flag", present);
    if (present && flag != L"1" && flag != L"0")
      Error(&child, L"Flag=" + Quote(flag) + L" on " + name +
                        L": only \"1\" switches the hook on; this value reads as 0");
  });
  if (record.fullPath.path.empty())
    Warning(&element,
            L"UninstallCustomFunction without a FullPath: the uninstall log's DLLPath "
            L"becomes empty");
}

void Checker::CheckCustomFunction(const CXMLElement& element) {
  std::set<int> seen;
  ForEachChildElement(element, [&](const std::wstring& name, const CXMLElement& child) {
    if (name != L"FileName") return;
    CQXFileName file;
    file.FromXML(&child);
    if (file.type == kFileNameNone) {
      bool present = false;
      const std::wstring type = Attribute(child, L"Type", present);
      Error(&child,
            L"a hook FileName needs Type \"BeforeUpdate\" or \"AfterUpdate\" (exact letter "
            L"case); " +
                (present ? L"Type=" + Quote(type) : std::wstring(L"no Type")) +
                L" makes the program ignore it");
      return;
    }
    if (!seen.insert(file.type).second)
      Warning(&child, L"a second hook of the same Type: the program calls only the last one");
    CheckHookLibrary(child, file.name,
                     file.type == kFileNameBeforeUpdate ? "Update_BeforeUpdate" : "Update_AfterUpdate");
  });
}

void Checker::CheckHookLibrary(const CXMLElement& at, const std::wstring& name, const std::string& entry) {
  const std::wstring fails = L": the update fails";
  if (!IsSafeSingleName(name)) {
    Error(&at, L"the hook library " + Quote(name) +
                   L" is not a plain file name inside CUSTOM (a folder, drive, colon, '..' or "
                   L"device name)" +
                   fails);
    return;
  }
  const std::wstring found = finder_.Find(source_.Folder(), L"CUSTOM/" + name);
  std::string bytes;
  if (found.empty() || !ReadFileBytes(found, bytes)) {
    Error(&at, L"CUSTOM\\" + name + L" is not in the package" + fails);
    return;
  }
  const PeImage image = ReadPeImage(bytes);
  if (!image.valid) {
    Error(&at, L"CUSTOM\\" + name + L" is " + image.problem + fails);
    return;
  }
  if (!image.Exports(entry)) {
    std::wstring hint;
    for (const std::string& e : image.exports)
      if (e.find(entry) != std::string::npos)
        hint = L" (it exports " + WideFromUtf8(e) + L": export the undecorated name)";
    Error(&at, L"CUSTOM\\" + name + L" does not export " + WideFromUtf8(entry) + hint + fails);
  }
  if (image.machine != kMachineX86)
    Warning(&at, L"CUSTOM\\" + name +
                     L" is not a 32-bit x86 library; the shipped 32-bit "
                     L"Brindle.exe cannot load it");
}

void Checker::CheckWrapperFiles() {
  std::wstring znq = options_.znq;
  std::wstring where = znq;
  if (znq.empty()) {
    znq = finder_.Find(source_.BesideFolder(), L"ZNQ");
    where = L"ZNQ beside the package";
    if (znq.empty() && source_.IsCabinet()) {
      znq = finder_.Find(source_.Folder(), L"ZNQ");
      if (!znq.empty())
        report_.Warning(source_.Path(), 0, L"",
                        L"the uninstaller files are only inside the cabinet; the program reads "
                        L"them from the ZNQ folder beside the package file, so deliver that "
                        L"folder with it");
      where = L"ZNQ inside the cabinet";
    }
  }
  const std::wstring fails = L": the update fails before any change";
  if (znq.empty() || !IsFolder(znq)) {
    report_.Error(source_.Path(), 0, L"",
                  L"no uninstaller files (ZNQ\\INSTALL\\COMMON beside the package)" + fails);
    return;
  }
  for (const std::wstring& file : UninstallerCommonFiles()) {
    if (finder_.Find(znq, L"INSTALL/COMMON/" + file).empty())
      report_.Error(source_.Path(), 0, L"", L"INSTALL\\COMMON\\" + file + L" is missing in " + where + fails,
                    L"uninstaller-files");
  }
  const std::wstring versionFile = finder_.Find(znq, L"INSTALL/COMMON/UninsVer.txt");
  std::string version;
  if (!versionFile.empty() && ReadFileBytes(versionFile, version)) {
    std::wstring word;
    if (!UninstallerVersionFromText(version, word))
      report_.Error(source_.Path(), 0, L"",
                    L"UninsVer.txt's first word " + Quote(word) +
                        L" is not a usable folder name for the uninstaller's version (one plain "
                        L"name of at most 64 characters, in the ANSI code page)" +
                        fails,
                    L"uninstaller-files");
  }
  auto hasResources = [&](const std::wstring& folder) {
    return !finder_.Find(znq, L"INSTALL/" + folder + L"/" + kUninstallerLanguageFile).empty();
  };
  if (!options_.lang.empty()) {
    const std::wstring folder = UninstallerLanguageFolder(options_.lang);
    const std::wstring used = folder.empty() ? std::wstring()
                                             : (finder_.Find(znq, L"INSTALL/" + folder).empty()
                                                    ? std::wstring(kUninstallerFallbackLanguage)
                                                    : folder);
    if (!used.empty() && !hasResources(used))
      report_.Error(source_.Path(), 0, L"",
                    L"INSTALL\\" + used + L"\\UninstRsc.dll is missing in " + where + L" (language " +
                        options_.lang + L")" + fails);
    if (used.empty() && finder_.Find(znq, L"INSTALL/UninstRsc.dll").empty())
      report_.Error(source_.Path(), 0, L"",
                    L"INSTALL\\UninstRsc.dll is missing in " + where + L" (language " + options_.lang +
                        L" has no folder of its own)" + fails);
    return;
  }
  if (!hasResources(L"ENGLISH"))
    report_.Warning(source_.Path(), 0, L"",
                    L"INSTALL\\ENGLISH\\UninstRsc.dll is missing in " + where +
                        L": applications in a language without its own folder cannot be updated "
                        L"(check with --lang CODE)");
}

void Checker::CheckUnusedInstFiles() {
  std::vector<FolderFile> files;
  const std::wstring inst = finder_.Find(source_.Folder(), L"INST");
  if (inst.empty() || !ListFiles(inst, files)) return;
  for (const FolderFile& f : files) {
    std::wstring name = f.relative;
    for (wchar_t& c : name)
      if (c == L'/') c = L'\\';
    if (!usedInst_.count(Upper(name)) && !usedInst_.count(Upper(f.relative)))
      report_.Warning(source_.Path(), 0, L"", L"INST\\" + name + L" is named by no record");
  }
}

}  // namespace

std::vector<std::wstring> UnknownVariables(const std::wstring& text, bool allowInstallTime) {
  const std::vector<std::wstring>& known = VariableNames();
  std::vector<std::wstring> unknown;
  for (size_t at = text.find(L'$'); at != std::wstring::npos;) {
    const size_t end = text.find(L'$', at + 1);
    if (end == std::wstring::npos) break;
    const std::wstring name = text.substr(at, end - at + 1);
    bool word = name.size() > 2;
    for (size_t i = 1; i + 1 < name.size(); ++i) word = word && (std::iswalnum(name[i]) || name[i] == L'_');
    if (!word) {
      at = end;  // the second '$' may open the next name
      continue;
    }
    const bool isKnown = (allowInstallTime && name == kInstallTimeName) ||
                         std::find(known.begin(), known.end(), name) != known.end();
    if (!isKnown && std::find(unknown.begin(), unknown.end(), name) == unknown.end()) unknown.push_back(name);
    at = text.find(L'$', end + 1);
  }
  return unknown;
}

std::wstring RegistryDataProblem(int type, const std::wstring& text) {
  RegistryValueBytes bytes;
  if (ConvertRegistryData(type, text, bytes)) return std::wstring();
  switch (type) {
    case kRegString:
    case kRegExpandString:
      return L"the string has " + ToWideDecimal(static_cast<long long>(text.size())) +
             L" characters; the program stores at most " +
             ToWideDecimal(static_cast<long long>(kRegistryDataLimit / 2 - 1));
    case kRegNone:
    case kRegBinary:
    case kRegQword:
    case kRegMultiString: return L"the program has no conversion for this registry type";
    default:
      return L"REG_DW data " + Quote(text) +
             L" is not a number the program converts (digits of one base only: decimal, 0x "
             L"hexadecimal or 0 octal; no sign, blank or other character; at most 4294967295)";
  }
}

bool IsTargetPath(const std::wstring& path) {
  bool full =
      path.size() >= 3 && std::iswalpha(path[0]) && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
  full = full || path.compare(0, 2, L"\\\\") == 0;
  for (const std::wstring& variable : FolderVariables())
    if (path.compare(0, variable.size(), variable) == 0) full = true;
  return full;
}

const std::vector<std::wstring>& FolderVariables() {
  // The table's names less those that name no folder.
  static const std::vector<std::wstring> folders = [] {
    const std::set<std::wstring> notFolders = {L"$UninsParam$",     L"$Region$",   L"$LangCode$",
                                               L"$PvkURL$",         L"$UninsVer$", L"$UninsExe$",
                                               L"$UninsWrapperExe$"};
    std::vector<std::wstring> list;
    for (const std::wstring& name : VariableNames())
      if (!notFolders.count(name)) list.push_back(name);
    return list;
  }();
  return folders;
}

std::wstring VariableSuggestion(const std::wstring& name, bool allowInstallTime) {
  std::vector<std::wstring> candidates = VariableNames();
  if (allowInstallTime) candidates.push_back(kInstallTimeName);
  return DidYouMean(name, candidates, L"");
}

void CheckPackage(const PackageSource& source, const CheckOptions& options, Report& report) {
  Checker(source, options, report).Run();
}

}  // namespace brindle::pack
