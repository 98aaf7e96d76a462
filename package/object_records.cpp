#include "package/object_records.h"

#include "package/xml_reading.h"

namespace brindle {

namespace {

const Token kPathTypes[] = {{L"SCTarget", kPathShortcutTarget}, {L"WorkFolder", kPathWorkFolder}};
const Token kFileNameTypes[] = {{L"AfterUpdate", kFileNameAfterUpdate},
                                {L"BeforeUpdate", kFileNameBeforeUpdate}};
const Token kWowTokens[] = {{L"INST_32BIT", kWow32}, {L"INST_64BIT", kWow64}};
const Token kComTokens[] = {{L"INST_NOREG", kComNoRegister}, {L"INST_REG", kComRegister}};
const Token kDelInfoTokens[] = {
    {L"INST_HLD", kDelInfoHold}, {L"INST_DEL", kDelInfoDelete}, {L"INST_REF", kDelInfoReference}};
const Token kRootTokens[] = {
    {L"REG_HCR", kRegRootClassesRoot}, {L"REG_HLM", kRegRootLocalMachine}, {L"REG_HCU", kRegRootCurrentUser}};
const Token kRegTypeTokens[] = {{L"REG_DW", kRegDword},
                                {L"REG_SZ", kRegString},
                                {L"REG_NONE", kRegNone},
                                {L"REG_BINARY", kRegBinary},
                                {L"REG_QWORD", kRegQword},
                                {L"REG_MULTI_SZ", kRegMultiString},
                                {L"REG_EXPAND_SZ", kRegExpandString}};
const Token kShortcutTokens[] = {{L"INST_DSC", kShortcutDesktop}, {L"INST_GSC", kShortcutGroup}};
const Token kWindowTokens[] = {
    {L"INST_NML", kWindowNormal}, {L"INST_MAX", kWindowMaximised}, {L"INST_MIN", kWindowMinimised}};

wchar_t FoldAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') ? c - L'a' + L'A' : c; }

int CompareWithCase(const std::wstring& a, const std::wstring& b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned long>(a[i]);
    const auto y = static_cast<unsigned long>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

// ---- FullPathValue and CQXFileName ----------------------------------------------------------

int ReadFullPath(const CXMLElement* element, FullPathValue& value) {
  if (!element) return kReadNoElement;
  ForEachAttribute(*element, [&value](const std::wstring& name, const std::wstring& token) {
    if (name == L"Type") value.type = CodeOfToken(kPathTypes, token, kPathNone);
  });
  value.path = ValueText(element);
  return kReadOk;
}

std::unique_ptr<CXMLElement> FullPathToXML(const FullPathValue& value) {
  auto element = NewElement(L"FullPath");
  if (value.type != kPathNone)
    AppendAttribute(element.get(), L"Type", TokenOfCode(kPathTypes, value.type, L""));
  element->SetValue(value.path);
  return element;
}

bool operator==(const FullPathValue& a, const FullPathValue& b) {
  return a.type == b.type && a.path == b.path;
}

int CQXFileName::FromXML(const CXMLElement* element) {
  if (!element) return kReadNoElement;
  type = kFileNameNone;
  ForEachAttribute(*element, [this](const std::wstring& attribute, const std::wstring& token) {
    if (attribute == L"Type") type = CodeOfToken(kFileNameTypes, token, kFileNameNone);
  });
  name = ValueText(element);
  return kReadOk;
}

std::unique_ptr<CXMLElement> CQXFileName::ToXML() const {
  auto element = NewElement(L"FileName");
  if (type != kFileNameNone) AppendAttribute(element.get(), L"Type", TokenOfCode(kFileNameTypes, type, L""));
  element->SetValue(name);
  return element;
}

// ---- CQXWow and CQXFile -----------------------------------------------------------------------

void CQXWow::ReadToken(const std::wstring& token) { wow = CodeOfToken(kWowTokens, token, kWow32); }
const wchar_t* CQXWow::Token() const { return wow == kWow64 ? L"INST_64BIT" : L"INST_32BIT"; }

CQXFile::CQXFile(const CQXFile& other)
    : com(other.com),
      delInfo(other.delInfo),
      wow(other.wow),
      fullPath(other.fullPath ? std::make_unique<FullPathValue>(*other.fullPath) : nullptr),
      fileName(other.fileName ? std::make_unique<CQXFileName>(*other.fileName) : nullptr) {}

CQXFile& CQXFile::operator=(const CQXFile& other) {
  if (this != &other) {
    CQXFile copy(other);
    com = copy.com;
    delInfo = copy.delInfo;
    wow = copy.wow;
    fullPath = std::move(copy.fullPath);
    fileName = std::move(copy.fileName);
  }
  return *this;
}

int CQXFile::FromXML(const CXMLElement* element) {
  if (!element) return kReadNoElement;
  ForEachAttribute(*element, [this](const std::wstring& name, const std::wstring& token) {
    if (name == L"COM") {
      com = token == L"INST_REG" ? kComRegister : kComNoRegister;
    } else if (name == L"DelInfo") {
      delInfo = CodeOfToken(kDelInfoTokens, token, kDelInfoDelete);
    } else if (name == L"WOW") {
      wow.ReadToken(token);
    }
  });
  ForEachChildElement(*element, [this](const std::wstring& name, const CXMLElement& child) {
    if (name == L"FullPath") {
      auto value = std::make_unique<FullPathValue>();
      ReadFullPath(&child, *value);
      fullPath = std::move(value);
    } else if (name == L"FileName") {
      auto value = std::make_unique<CQXFileName>();
      value->FromXML(&child);
      fileName = std::move(value);
    }
  });
  return kReadOk;
}

std::unique_ptr<CXMLElement> CQXFile::ToXML() const {
  auto element = NewElement(L"File");
  AppendAttribute(element.get(), L"COM", TokenOfCode(kComTokens, com, L""));
  AppendAttribute(element.get(), L"DelInfo", TokenOfCode(kDelInfoTokens, delInfo, L""));
  AppendAttribute(element.get(), L"WOW", wow.Token());
  if (fullPath) AppendChild(FullPathToXML(*fullPath), element.get());
  if (fileName) AppendChild(fileName->ToXML(), element.get());
  return element;
}

// ---- Registry ---------------------------------------------------------------------------------

int CQXRegistryKeyPath::FromXML(const CXMLElement* element) {
  if (!element) return kReadNoElement;
  ForEachAttribute(*element, [this](const std::wstring& name, const std::wstring& token) {
    if (name == L"RegRoot") root = CodeOfToken(kRootTokens, token, kRegRootClassesRoot);
  });
  path = ValueText(element);
  return kReadOk;
}

std::unique_ptr<CXMLElement> CQXRegistryKeyPath::ToXML() const {
  auto element = NewElement(L"RegKeyPath");
  AppendAttribute(element.get(), L"RegRoot", TokenOfCode(kRootTokens, root, L"REG_HCR"));
  element->SetValue(path);
  return element;
}

int CQXRegistryData::FromXML(const CXMLElement* element) {
  if (!element) return kReadNoElement;
  ForEachAttribute(*element, [this](const std::wstring& name, const std::wstring& token) {
    if (name == L"Type") type = CodeOfToken(kRegTypeTokens, token, kRegDword);
  });
  data = ValueText(element);
  return kReadOk;
}

std::unique_ptr<CXMLElement> CQXRegistryData::ToXML() const {
  auto element = NewElement(L"RegData");
  AppendAttribute(element.get(), L"Type", TokenOfCode(kRegTypeTokens, type, L"REG_DW"));
  element->SetValue(data);
  return element;
}

int CQXRegistry::FromXML(const CXMLElement* element) {
  if (!element) return kReadNoElement;
  ForEachAttribute(*element, [this](const std::wstring& name, const std::wstring& token) {
    if (name == L"WOW") wow.ReadToken(token);
  });
  ForEachChildElement(*element, [this](const std::wstring& name, const CXMLElement& child) {
    if (name == L"RegKeyPath") {
      keyPath.FromXML(&child);
    } else if (name == L"RegValueName") {
      valueName = ValueText(&child);
    } else if (name == L"RegData") {
      data.FromXML(&child);
    }
  });
  return kReadOk;
}

std::unique_ptr<CXMLElement> CQXRegistry::ToXML() const {
  auto element = NewElement(L"Registry");
  AppendAttribute(element.get(), L"WOW", wow.Token());
  AppendChild(keyPath.ToXML(), element.get());
  AppendChild(NewTextElement(L"RegValueName", valueName), element.get());
  AppendChild(data.ToXML(), element.get());
  return element;
}

// ---- Shortcuts --------------------------------------------------------------------------------

int CQXShortCutName::FromXML(const CXMLElement* element) {
  if (!element) return kReadNoElement;
  ForEachAttribute(*element, [this](const std::wstring& attribute, const std::wstring& token) {
    if (attribute == L"Type") type = CodeOfToken(kShortcutTokens, token, kShortcutDesktop);
  });
  name = ValueText(element);
  return kReadOk;
}

std::unique_ptr<CXMLElement> CQXShortCutName::ToXML() const {
  auto element = NewElement(L"SCName");
  AppendAttribute(element.get(), L"Type", type == kShortcutGroup ? L"INST_GSC" : L"INST_DSC");
  element->SetValue(name);
  return element;
}

int CQXWindowSize::FromXML(const CXMLElement* element) {
  if (!element) return kReadNoElement;
  ForEachAttribute(*element, [this](const std::wstring& attribute, const std::wstring& token) {
    if (attribute == L"Type") type = CodeOfToken(kWindowTokens, token, kWindowNormal);
  });
  return kReadOk;
}

std::unique_ptr<CXMLElement> CQXWindowSize::ToXML() const {
  auto element = NewElement(L"WindowSize");
  AppendAttribute(element.get(), L"Type", TokenOfCode(kWindowTokens, type, L"INST_NML"));
  return element;
}

CQXShortCut::CQXShortCut() {
  target.type = kPathShortcutTarget;
  workFolder.type = kPathWorkFolder;
}

int CQXShortCut::FromXML(const CXMLElement* element) {
  if (!element) return kReadNoElement;
  ForEachChildElement(*element, [this](const std::wstring& childName, const CXMLElement& child) {
    if (childName == L"SCName") {
      name.FromXML(&child);
    } else if (childName == L"FullPath") {
      // Only a typed path counts: the target or the working folder.
      FullPathValue scratch;
      ReadFullPath(&child, scratch);
      if (scratch.type == kPathShortcutTarget) {
        ReadFullPath(&child, target);
      } else if (scratch.type == kPathWorkFolder) {
        ReadFullPath(&child, workFolder);
      }
    } else if (childName == L"CLParameter") {
      parameters = ValueText(&child);
    } else if (childName == L"WindowSize") {
      windowSize.FromXML(&child);
    } else if (childName == L"Text") {
      text = ValueText(&child);
    }
  });
  return kReadOk;
}

std::unique_ptr<CXMLElement> CQXShortCut::ToXML() const {
  auto element = NewElement(L"ShortCut");
  AppendChild(name.ToXML(), element.get());
  AppendChild(FullPathToXML(target), element.get());
  AppendChild(NewTextElement(L"CLParameter", parameters), element.get());
  AppendChild(FullPathToXML(workFolder), element.get());
  AppendChild(windowSize.ToXML(), element.get());
  AppendChild(NewTextElement(L"Text", text), element.get());
  return element;
}

// ---- Alias records ----------------------------------------------------------------------------

int CQXRecordAliasHandle::FromXML(const CXMLElement* element) {
  if (!element) return kReadNoElement;
  ForEachChildElement(*element, [this](const std::wstring& name, const CXMLElement& child) {
    if (name == L"KVTAppName") {
      appName = ValueText(&child);
    } else if (name == L"FullPath") {
      ReadFullPath(&child, fullPath);
    }
  });
  return kReadOk;
}

std::unique_ptr<CXMLElement> CQXRecordAliasHandle::ToXML() const {
  auto element = NewElement(L"RecordAliasHandle");
  AppendChild(NewTextElement(L"KVTAppName", appName), element.get());
  AppendChild(FullPathToXML(fullPath), element.get());
  return element;
}

// ---- Sort order -------------------------------------------------------------------------------

int CompareCaseBlind(const std::wstring& a, const std::wstring& b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    const auto x = static_cast<unsigned long>(FoldAsciiLetter(a[i]));
    const auto y = static_cast<unsigned long>(FoldAsciiLetter(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool FileSortsBefore(const CQXFile& a, const CQXFile& b) { return CompareCaseBlind(a.Path(), b.Path()) < 0; }

bool RegistrySortsBefore(const CQXRegistry& a, const CQXRegistry& b) {
  const int byKey = CompareCaseBlind(a.keyPath.path, b.keyPath.path);
  if (byKey != 0) return byKey < 0;
  return CompareWithCase(a.valueName, b.valueName) < 0;
}

bool ShortCutSortsBefore(const CQXShortCut& a, const CQXShortCut& b) {
  const int byTarget = CompareCaseBlind(a.target.path, b.target.path);
  if (byTarget != 0) return byTarget < 0;
  return CompareWithCase(a.name.name, b.name.name) < 0;
}

}  // namespace brindle
