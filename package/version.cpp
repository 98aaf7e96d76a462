#include "package/version.h"

#include "package/xml_reading.h"

namespace brindle {

namespace {

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// The next run of digits at or after pos, without its leading zeros; false when the text has
// no further digit. pos moves past the run.
bool NextNumber(const std::wstring& text, size_t& pos, std::wstring& digits) {
  while (pos < text.size() && !IsDigit(text[pos])) ++pos;
  if (pos >= text.size()) return false;
  const size_t start = pos;
  while (pos < text.size() && IsDigit(text[pos])) ++pos;
  size_t first = start;
  while (first + 1 < pos && text[first] == L'0') ++first;
  digits.assign(text, first, pos - first);
  return true;
}

// Compares two runs of digits without leading zeros by their value, however long they are.
int CompareDigitRuns(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  const int order = a.compare(b);
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}

const Token kVersionTypes[] = {
    {L"Application", kVersionApplication},
    {L"Uninstall", kVersionUninstall},
    {L"Install", kVersionInstall},
};

struct LanguageRow {
  const wchar_t* code;
  const wchar_t* id;
};
const LanguageRow kLanguages[] = {
    {L"en", L"1033"}, {L"ja", L"1041"},    {L"fr", L"1036"}, {L"de", L"1031"}, {L"it", L"1040"},
    {L"es", L"1034"}, {L"zh_CN", L"2052"}, {L"ru", L"1049"}, {L"ko", L"1042"},
};

}  // namespace

// ---- CQXVersion -----------------------------------------------------------------------------

CQXVersion& CQXVersion::Assign(const CQXVersion& other) {
  if (&other != this) text = other.text;
  return *this;
}

int CQXVersion::Compare(const CQXVersion& other) const {
  size_t mine = 0;
  size_t theirs = 0;
  for (;;) {
    std::wstring a, b;
    const bool haveA = NextNumber(text, mine, a);
    const bool haveB = NextNumber(other.text, theirs, b);
    if (!haveA && !haveB) return 0;
    if (!haveA) a = L"0";
    if (!haveB) b = L"0";
    const int order = CompareDigitRuns(a, b);
    if (order != 0) return order;
  }
}

std::unique_ptr<CXMLElement> CQXVersion::ToXML() const { return NewTextElement(L"Version", text); }

int CQXVersion::FromXML(const CXMLElement* element) {
  if (!element) return kReadNoElement;
  text = ValueText(element);
  return kReadOk;
}

// ---- CQXVersionWithType -----------------------------------------------------------------------

std::unique_ptr<CXMLElement> CQXVersionWithType::ToXML() const {
  auto element = NewElement(L"Version");
  AppendAttribute(element.get(), L"Type", TokenOfCode(kVersionTypes, type, L"Application"));
  element->SetValue(text);
  return element;
}

int CQXVersionWithType::FromXML(const CXMLElement* element) {
  if (!element) return kReadNoElement;
  ForEachAttribute(*element, [this](const std::wstring& name, const std::wstring& value) {
    if (name == L"Type") type = CodeOfToken(kVersionTypes, value, kVersionApplication);
  });
  text = ValueText(element);
  return kReadOk;
}

// ---- Attribute holders ------------------------------------------------------------------------

void CQXItem::ReadFrom(const CXMLElement& owner) {
  ForEachAttribute(owner, [this](const std::wstring& name, const std::wstring& value) {
    if (name == L"FullPath") path = value;
  });
}

void CQXItem::WriteTo(CXMLElement& owner) const { AppendAttribute(&owner, L"FullPath", path); }

void CQXRegion::ReadFrom(const CXMLElement& owner) {
  ForEachAttribute(owner, [this](const std::wstring& name, const std::wstring& value) {
    if (name == L"Region") region = value;
  });
}

void CQXRegion::WriteTo(CXMLElement& owner) const { AppendAttribute(&owner, L"Region", region); }

int CQXDisplayName::FromXML(const CXMLElement* element) {
  if (!element) return kReadNoElement;
  name = ValueText(element);
  return kReadOk;
}

std::unique_ptr<CXMLElement> CQXDisplayName::ToXML() const { return NewTextElement(L"DisplayName", name); }

// ---- CQXLangCode ------------------------------------------------------------------------------

std::wstring LanguageIdOfCode(const std::wstring& code) {
  for (const LanguageRow& row : kLanguages) {
    if (code == row.code) return row.id;
  }
  return std::wstring();
}

void CQXLangCode::SetCode(const std::wstring& value) {
  code = value;
  languageId = LanguageIdOfCode(value);
}

void CQXLangCode::FromXML(const CXMLAttribute* attribute) {
  code.clear();
  languageId.clear();
  if (attribute && attribute->GetValueString()) SetCode(*attribute->GetValueString());
}

void CQXLangCode::WriteTo(CXMLElement& owner) const { AppendAttribute(&owner, L"Code", code); }

}  // namespace brindle
