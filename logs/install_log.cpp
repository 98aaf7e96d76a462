// Reading and writing the install log's XML document.
#include "logs/install_log.h"

#include "logs/install_log_cipher.h"
#include "logs/service_log.h"
#include "xml/xml_parser.h"

namespace brindle {

namespace {

const wchar_t kRootName[] = L"AppLocalList";
const wchar_t kEntryName[] = L"AppLocal";

// The attribute's value, or null when the element has no such attribute.
const wchar_t* AttributeValue(const CXMLElement* element, const wchar_t* name) {
  const CXMLAttribute* a = FindAttribute(element, name);
  if (!a) return nullptr;
  const wchar_t* v = a->GetValue();
  return v ? v : L"";
}

// A Version element with text goes to the version its Type names exactly; another or a
// missing Type is ignored.
void ReadVersion(const CXMLElement* element, InstallLogEntry& entry) {
  const wchar_t* text = element->GetValue();
  const wchar_t* type = AttributeValue(element, L"Type");
  if (!text || !type) return;
  const std::wstring t = type;
  if (t == L"Application") entry.applicationVersion.text = text;
  else if (t == L"Uninstall") entry.uninstallerVersion.text = text;
  else if (t == L"Install") entry.installerVersion.text = text;
}

std::unique_ptr<InstallLogEntry> ReadEntry(const CXMLElement& element) {
  auto entry = std::make_unique<InstallLogEntry>();
  for (unsigned i = 0; i < element.GetChildCount(); ++i) {
    const CXMLElement* child = AsElement(element.GetChild(i));
    if (!child || !child->GetName()) continue;
    const std::wstring name = child->GetName();
    if (name == L"AppName") entry->AppName = ValueText(child);
    else if (name == L"FullPath") entry->FullPath = ValueText(child);
    else if (name == L"PvkURL") entry->PvkURL = ValueText(child);
    else if (name == L"UninstLog") entry->UninstLog = ValueText(child);
    else if (name == L"DisplayName") entry->DisplayName.FromXML(child);
    else if (name == L"Version") ReadVersion(child, *entry);
    else if (name == L"Region") entry->Region.ReadFrom(*child);
    else if (name == L"PvkOnly") {
      const wchar_t* v = AttributeValue(child, L"Support");
      if (v && (std::wstring(v) == L"Y" || std::wstring(v) == L"N")) entry->PvkOnly = v;
    } else if (name == L"Lang") {
      entry->Lang.FromXML(FindAttribute(child, L"Code"));
    } else if (name == L"Item") {
      entry->Item.ReadFrom(*child);
    }
  }
  return entry;
}

void AddText(CXMLElement* parent, const wchar_t* name, const std::wstring& text) {
  if (!text.empty()) AppendChild(NewTextElement(name, text), parent);
}

// An element that carries its value in an attribute, written by the value's holder.
template <typename Holder>
void AddHolderElement(CXMLElement* parent, const wchar_t* name, bool empty, const Holder& holder) {
  if (empty) return;
  auto element = NewElement(name);
  holder.WriteTo(*element);
  AppendChild(std::move(element), parent);
}

void AddVersion(CXMLElement* parent, const CQXVersionWithType& version) {
  if (!version.IsEmpty()) AppendChild(version.ToXML(), parent);
}

std::unique_ptr<CXMLElement> WriteEntry(const InstallLogEntry& e) {
  auto element = NewElement(kEntryName);
  CXMLElement* p = element.get();
  AddText(p, L"AppName", e.AppName);
  AddHolderElement(p, L"Lang", e.Lang.code.empty(), e.Lang);
  AddText(p, L"FullPath", e.FullPath);
  AddVersion(p, e.applicationVersion);
  AddVersion(p, e.uninstallerVersion);
  AddVersion(p, e.installerVersion);
  if (!e.DisplayName.IsEmpty()) AppendChild(e.DisplayName.ToXML(), p);
  AddHolderElement(p, L"Region", e.Region.region.empty(), e.Region);
  if (!e.PvkOnly.empty()) {
    auto pvk = NewElement(L"PvkOnly");
    AppendAttribute(pvk.get(), L"Support", e.PvkOnly);
    AppendChild(std::move(pvk), p);
  }
  AddText(p, L"PvkURL", e.PvkURL);
  AddText(p, L"UninstLog", e.UninstLog);
  AddHolderElement(p, L"Item", e.Item.path.empty(), e.Item);
  return element;
}

}  // namespace

const wchar_t kInstallLogSubpath[] = L"\\Tamek_Inc_RW\\Ostrel\\TamekOstrelLog.dat";

int ParseInstallLog(const std::wstring& xml, CQXInstallLog& log) {
  log.entries.clear();
  CXMLParser* parser = GetXMLParser();
  if (!parser) return kInstallLogNotXml;
  std::unique_ptr<CXMLDocument> document = parser->LoadXML(xml);
  if (!document || !document->GetRoot()) return kInstallLogNotXml;
  const CXMLElement* root = document->GetRoot();
  if (!IsElementNamed(root, kRootName)) return kInstallLogWrongRoot;
  for (unsigned i = 0; i < root->GetChildCount(); ++i) {
    const CXMLNode* child = root->GetChild(i);
    if (IsElementNamed(child, kEntryName)) log.entries.push_back(ReadEntry(*AsElement(child)));
  }
  return kInstallLogParsed;
}

int SerialiseInstallLog(const CQXInstallLog& log, std::wstring& xml) {
  auto root = NewElement(kRootName);
  for (const auto& entry : log.entries) AppendChild(WriteEntry(*entry), root.get());
  std::unique_ptr<CXMLDocument> document = NewDocument(std::move(root));
  if (CXMLParser* parser = GetXMLParser()) parser->GetXML(document.get(), xml);
  return 0;
}

InstallLogEntry* FindEntry(const CQXInstallLog& log, const std::wstring& appName) {
  for (const auto& entry : log.entries)
    if (entry->AppName == appName) return entry.get();
  return nullptr;
}

std::unique_ptr<CQXInstallLog> LoadInstallLog(const std::wstring& path, unsigned codePage) {
  std::wstring xml;
  if (!DecodeInstallLog(path, xml, codePage)) return nullptr;
  WriteServiceLog({L"-"}, L"BR", L"DECODE_QXLOGXML");
  auto log = std::make_unique<CQXInstallLog>();
  if (ParseInstallLog(xml, *log) != kInstallLogParsed) return nullptr;
  return log;
}

bool SaveInstallLog(const CQXInstallLog& log, const std::wstring& path, unsigned codePage) {
  std::wstring xml;
  SerialiseInstallLog(log, xml);
  const bool saved = !xml.empty() && EncodeInstallLog(xml, path, codePage);
  WriteServiceLog({L"-"}, L"BR", L"ENCODE_QXLOGXML");
  return saved;
}

}  // namespace brindle
