// Reading and writing the install log's XML document.
#include "logs/install_log.h"

#include "logs/install_log_cipher.h"
#include "logs/service_log.h"
#include "xml/xml_parser.h"

#include <unordered_map>
#include <unordered_set>

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

// The fields of an entry, in the fixed order of a written entry.
enum Field : int {
  kFieldAppName,
  kFieldLang,
  kFieldFullPath,
  kFieldApplicationVersion,
  kFieldUninstallerVersion,
  kFieldInstallerVersion,
  kFieldDisplayName,
  kFieldRegion,
  kFieldPvkOnly,
  kFieldPvkURL,
  kFieldUninstLog,
  kFieldItem,
  kFieldCount,
  kNoField = -1,
};

// The field an element of an entry is read into, or kNoField for content this program does not
// know (other names, a Version whose Type names no version of ours, text).
int FieldOf(const CXMLNode* node) {
  const CXMLElement* element = AsElement(node);
  if (!element || !element->GetName()) return kNoField;
  const std::wstring name = element->GetName();
  if (name == L"AppName") return kFieldAppName;
  if (name == L"Lang") return kFieldLang;
  if (name == L"FullPath") return kFieldFullPath;
  if (name == L"DisplayName") return kFieldDisplayName;
  if (name == L"Region") return kFieldRegion;
  if (name == L"PvkOnly") return kFieldPvkOnly;
  if (name == L"PvkURL") return kFieldPvkURL;
  if (name == L"UninstLog") return kFieldUninstLog;
  if (name == L"Item") return kFieldItem;
  if (name == L"Version") {
    const wchar_t* type = AttributeValue(element, L"Type");
    const std::wstring t = type ? type : L"";
    if (t == L"Application") return kFieldApplicationVersion;
    if (t == L"Uninstall") return kFieldUninstallerVersion;
    if (t == L"Install") return kFieldInstallerVersion;
  }
  return kNoField;
}

std::unique_ptr<CXMLElement> TextElement(const wchar_t* name, const std::wstring& text) {
  return text.empty() ? nullptr : NewTextElement(name, text);
}

// An element that carries its value in an attribute, written by the value's holder.
template <typename Holder>
std::unique_ptr<CXMLElement> HolderElement(const wchar_t* name, bool empty, const Holder& holder) {
  if (empty) return nullptr;
  auto element = NewElement(name);
  holder.WriteTo(*element);
  return element;
}

std::unique_ptr<CXMLElement> VersionElement(const CQXVersionWithType& version) {
  return version.IsEmpty() ? nullptr : version.ToXML();
}

// The element of one field, or null when the field is empty.
std::unique_ptr<CXMLElement> FieldElement(const InstallLogEntry& e, int field) {
  switch (field) {
    case kFieldAppName: return TextElement(L"AppName", e.AppName);
    case kFieldLang: return HolderElement(L"Lang", e.Lang.code.empty(), e.Lang);
    case kFieldFullPath: return TextElement(L"FullPath", e.FullPath);
    case kFieldApplicationVersion: return VersionElement(e.applicationVersion);
    case kFieldUninstallerVersion: return VersionElement(e.uninstallerVersion);
    case kFieldInstallerVersion: return VersionElement(e.installerVersion);
    case kFieldDisplayName: return e.DisplayName.IsEmpty() ? nullptr : e.DisplayName.ToXML();
    case kFieldRegion: return HolderElement(L"Region", e.Region.region.empty(), e.Region);
    case kFieldPvkOnly: {
      if (e.PvkOnly.empty()) return nullptr;
      auto pvk = NewElement(L"PvkOnly");
      AppendAttribute(pvk.get(), L"Support", e.PvkOnly);
      return pvk;
    }
    case kFieldPvkURL: return TextElement(L"PvkURL", e.PvkURL);
    case kFieldUninstLog: return TextElement(L"UninstLog", e.UninstLog);
    case kFieldItem: return HolderElement(L"Item", e.Item.path.empty(), e.Item);
    default: return nullptr;
  }
}

// Appends the attributes of from that to does not have (by name), in their order.
void KeepOtherAttributes(const CXMLElement& from, CXMLElement& to) {
  for (unsigned i = 0; i < from.GetAttributeCount(); ++i) {
    const CXMLAttribute* a = from.GetAttribute(i);
    if (!a || !a->GetName() || FindAttribute(&to, a->GetName())) continue;
    AppendAttribute(&to, a->GetName(), a->GetValue() ? a->GetValue() : L"");
  }
}

// A copy of the node and everything below it (elements nest at most kXMLMaxDepth deep).
std::unique_ptr<CXMLNode> CopyOf(const CXMLNode& node) {
  if (const CXMLElement* element = AsElement(&node)) {
    auto copy = NewElement(element->GetName() ? element->GetName() : L"");
    KeepOtherAttributes(*element, *copy);
    for (unsigned i = 0; i < element->GetChildCount(); ++i)
      if (const CXMLNode* child = element->GetChild(i)) AppendChild(CopyOf(*child), copy.get());
    return copy;
  }
  auto text = std::make_unique<CXMLText>();
  if (node.GetValue()) text->SetValue(node.GetValue());
  return text;
}

// An entry made here: its fields in the fixed order.
std::unique_ptr<CXMLElement> WriteNewEntry(const InstallLogEntry& e) {
  auto element = NewElement(kEntryName);
  for (int field = 0; field < kFieldCount; ++field)
    if (auto child = FieldElement(e, field)) AppendChild(std::move(child), element.get());
  return element;
}

// An entry that was read: its document again, with each field's element (the last of its kind,
// whose value was taken) rewritten from the field, earlier duplicates left out, and everything
// else copied as it was. A field the document lacked goes before the first field that follows
// it in the fixed order, or at the end.
std::unique_ptr<CXMLElement> WriteReadEntry(const InstallLogEntry& e) {
  const CXMLElement& source = *e.source;
  auto element = NewElement(kEntryName);
  KeepOtherAttributes(source, *element);
  std::vector<int> lastOf(kFieldCount, -1);
  for (unsigned i = 0; i < source.GetChildCount(); ++i) {
    const int field = FieldOf(source.GetChild(i));
    if (field != kNoField) lastOf[field] = static_cast<int>(i);
  }
  int nextMissing = 0;  // fields before this one that the document lacked are written
  auto writeMissingBefore = [&](int limit) {
    for (; nextMissing < limit; ++nextMissing)
      if (lastOf[nextMissing] < 0)
        if (auto child = FieldElement(e, nextMissing)) AppendChild(std::move(child), element.get());
  };
  for (unsigned i = 0; i < source.GetChildCount(); ++i) {
    const CXMLNode* child = source.GetChild(i);
    if (!child) continue;
    const int field = FieldOf(child);
    if (field == kNoField) {
      AppendChild(CopyOf(*child), element.get());
      continue;
    }
    if (lastOf[field] != static_cast<int>(i)) continue;  // an earlier duplicate
    writeMissingBefore(field);
    if (auto written = FieldElement(e, field)) {
      KeepOtherAttributes(*AsElement(child), *written);
      AppendChild(std::move(written), element.get());
    }
  }
  writeMissingBefore(kFieldCount);
  return element;
}

std::unique_ptr<CXMLElement> WriteEntry(const InstallLogEntry& e) {
  return e.source ? WriteReadEntry(e) : WriteNewEntry(e);
}

}  // namespace

const wchar_t kInstallLogSubpath[] = L"\\Tamek_Inc_RW\\Ostrel\\TamekOstrelLog.dat";

InstallLogParse ParseInstallLog(const std::wstring& xml, CQXInstallLog& log) {
  log.entries.clear();
  log.source.reset();
  CXMLParser* parser = GetXMLParser();
  if (!parser) return InstallLogParse::kNotXml;
  std::shared_ptr<const CXMLDocument> document = parser->LoadXML(xml);
  if (!document || !document->GetRoot()) return InstallLogParse::kNotXml;
  const CXMLElement* root = document->GetRoot();
  if (!IsElementNamed(root, kRootName)) return InstallLogParse::kWrongRoot;
  // The document stays alive as long as the log or any entry refers to a part of it.
  log.source = std::shared_ptr<const CXMLElement>(document, root);
  for (unsigned i = 0; i < root->GetChildCount(); ++i) {
    const CXMLNode* child = root->GetChild(i);
    if (!IsElementNamed(child, kEntryName)) continue;
    const CXMLElement* element = AsElement(child);
    log.entries.push_back(ReadEntry(*element));
    log.entries.back()->source = std::shared_ptr<const CXMLElement>(document, element);
  }
  return InstallLogParse::kParsed;
}

int SerialiseInstallLog(const CQXInstallLog& log, std::wstring& xml) {
  auto root = NewElement(kRootName);
  // Each entry goes where its element was read; the root's other content stays in its place.
  // Entries made here, or read from another document, follow at the end.
  std::unordered_map<const CXMLElement*, const InstallLogEntry*> entryOf;
  for (const auto& entry : log.entries)
    if (entry->source) entryOf.emplace(entry->source.get(), entry.get());
  std::unordered_set<const InstallLogEntry*> written;
  if (log.source) {
    KeepOtherAttributes(*log.source, *root);
    for (unsigned i = 0; i < log.source->GetChildCount(); ++i) {
      const CXMLNode* child = log.source->GetChild(i);
      if (!child) continue;
      if (!IsElementNamed(child, kEntryName)) {
        AppendChild(CopyOf(*child), root.get());
        continue;
      }
      const auto found = entryOf.find(AsElement(child));
      if (found == entryOf.end()) continue;  // an entry no longer in the log
      AppendChild(WriteEntry(*found->second), root.get());
      written.insert(found->second);
    }
  }
  for (const auto& entry : log.entries)
    if (!written.count(entry.get())) AppendChild(WriteEntry(*entry), root.get());
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
  if (ParseInstallLog(xml, *log) != InstallLogParse::kParsed) return nullptr;
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
