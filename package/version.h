// Versions and the small attribute holders shared by the package description, the uninstall
// hooks and the install log.
#pragma once
#include <memory>
#include <string>

#include "xml/xml_tree.h"

namespace brindle {

// A version as written (for example 1.2.0.3), compared field by field as numbers: separators
// do not matter, missing trailing fields count as 0, leading zeros and text before the first
// digit are ignored, and an empty version equals 0.
class CQXVersion {
 public:
  CQXVersion() = default;
  explicit CQXVersion(std::wstring text) : text(std::move(text)) {}
  virtual ~CQXVersion() = default;
  CQXVersion(const CQXVersion&) = default;
  CQXVersion& operator=(const CQXVersion&) = default;

  virtual CQXVersion& Assign(const CQXVersion& other);
  // -1, 0 or 1 as this version is lower than, equal to or higher than the other.
  virtual int Compare(const CQXVersion& other) const;
  virtual bool Equals(const CQXVersion& other) const { return Compare(other) == 0; }
  virtual bool IsEmpty() const { return text.empty(); }
  // A Version element holding the text.
  virtual std::unique_ptr<CXMLElement> ToXML() const;
  virtual void Clear() { text.clear(); }
  // Takes the element's text (empty when it has none); 3 when no element is given, else 0.
  virtual int FromXML(const CXMLElement* element);

  std::wstring text;
};

// Kinds of version.
enum : int { kVersionApplication = 0, kVersionUninstall = 1, kVersionInstall = 2 };

// A version with a kind, written as a Version element with a Type attribute. The kind takes no
// part in comparison, equality or emptiness.
class CQXVersionWithType : public CQXVersion {
 public:
  CQXVersionWithType() = default;
  CQXVersionWithType(std::wstring text, int type) : CQXVersion(std::move(text)), type(type) {}
  std::unique_ptr<CXMLElement> ToXML() const override;
  // A missing Type attribute leaves the kind unchanged; an unknown one reads as Application.
  int FromXML(const CXMLElement* element) override;

  int type = kVersionApplication;
};

// An item path, carried as the attribute FullPath of its owner.
class CQXItem {
 public:
  virtual ~CQXItem() = default;
  void ReadFrom(const CXMLElement& owner);
  void WriteTo(CXMLElement& owner) const;
  std::wstring path;
};

// A region, carried as the attribute Region of its owner.
class CQXRegion {
 public:
  virtual ~CQXRegion() = default;
  void ReadFrom(const CXMLElement& owner);
  void WriteTo(CXMLElement& owner) const;
  std::wstring region;
};

// A display name, the text of a DisplayName element.
class CQXDisplayName {
 public:
  virtual ~CQXDisplayName() = default;
  int FromXML(const CXMLElement* element);
  std::unique_ptr<CXMLElement> ToXML() const;
  bool IsEmpty() const { return name.empty(); }
  std::wstring name;
};

// A language code as written (attribute Code of its owner) and the Windows language identifier
// it stands for, as decimal text. A code the table does not know has no identifier (empty).
class CQXLangCode {
 public:
  virtual ~CQXLangCode() = default;
  // Reads the Code attribute node; a missing attribute or value leaves both texts empty.
  void FromXML(const CXMLAttribute* code);
  // Appends the Code attribute; the identifier is derived, never written.
  void WriteTo(CXMLElement& owner) const;
  void SetCode(const std::wstring& code);

  std::wstring languageId;
  std::wstring code;
};

// The Windows language identifier of a language code ("en" gives "1033"), or empty text.
std::wstring LanguageIdOfCode(const std::wstring& code);

}  // namespace brindle
