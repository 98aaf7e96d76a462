// The records of a package's object sections: files, registry values and shortcuts, alias
// records and custom-function library names. Each reads itself from its XML element (never
// rejecting it: defaults stand in for whatever is missing or unknown) and writes itself back.
// Path texts may hold $Variable$ names; they are expanded when a record is applied, not here.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "package/order.h"
#include "xml/xml_tree.h"

namespace brindle {

// Kinds of full path.
enum : int { kPathNone = 0, kPathShortcutTarget = 1, kPathWorkFolder = 2 };

// A FullPath element: a path and its kind.
struct FullPathValue {
  int type = kPathNone;
  std::wstring path;
};
// Reads a FullPath element; a missing Type leaves the kind as it is, an unknown one gives none.
int ReadFullPath(const CXMLElement* element, FullPathValue& value);
// A FullPath element, with a Type attribute only for a kind other than none.
std::unique_ptr<CXMLElement> FullPathToXML(const FullPathValue& value);
bool operator==(const FullPathValue& a, const FullPathValue& b);

// Kinds of custom-function library name.
enum : int { kFileNameNone = 0, kFileNameAfterUpdate = 1, kFileNameBeforeUpdate = 2 };

// A FileName element: a file name and its kind (Type "AfterUpdate" or "BeforeUpdate").
class CQXFileName {
 public:
  virtual ~CQXFileName() = default;
  int FromXML(const CXMLElement* element);
  std::unique_ptr<CXMLElement> ToXML() const;
  void Clear() {
    type = kFileNameNone;
    name.clear();
  }
  int type = kFileNameNone;
  std::wstring name;
};

// The registry or file-system view an object belongs to: attribute WOW.
enum : int { kWow32 = 0, kWow64 = 1 };
class CQXWow {
 public:
  virtual ~CQXWow() = default;
  void ReadToken(const std::wstring& token);
  const wchar_t* Token() const;
  int wow = kWow32;
};

// COM registration of a file.
enum : int { kComNoRegister = 0, kComRegister = 1 };
// What an uninstall does with a file: hold it, delete it, or count its references.
enum : int { kDelInfoHold = 0, kDelInfoDelete = 1, kDelInfoReference = 2 };

// One file to delete, add or update.
class CQXFile {
 public:
  CQXFile() = default;
  virtual ~CQXFile() = default;
  CQXFile(const CQXFile& other);
  CQXFile& operator=(const CQXFile& other);

  int FromXML(const CXMLElement* element);
  std::unique_ptr<CXMLElement> ToXML() const;
  // The file's path, or empty text when it has none.
  std::wstring Path() const { return fullPath ? fullPath->path : std::wstring(); }

  int com = kComNoRegister;
  int delInfo = kDelInfoDelete;
  CQXWow wow;
  std::unique_ptr<FullPathValue> fullPath;  // null without a FullPath child
  std::unique_ptr<CQXFileName> fileName;    // null without a FileName child
};

// Registry roots.
enum : int { kRegRootClassesRoot = 0, kRegRootLocalMachine = 1, kRegRootCurrentUser = 2 };

// A RegKeyPath element: the root (attribute RegRoot) and the key path below it.
class CQXRegistryKeyPath {
 public:
  virtual ~CQXRegistryKeyPath() = default;
  int FromXML(const CXMLElement* element);
  std::unique_ptr<CXMLElement> ToXML() const;
  int root = kRegRootClassesRoot;
  std::wstring path;
};

// Registry value types.
enum : int {
  kRegDword = 0,
  kRegString = 1,
  kRegNone = 2,
  kRegBinary = 3,
  kRegQword = 4,
  kRegMultiString = 5,
  kRegExpandString = 6,
};

// A RegData element: the value's type (attribute Type) and its data as text.
class CQXRegistryData {
 public:
  virtual ~CQXRegistryData() = default;
  int FromXML(const CXMLElement* element);
  std::unique_ptr<CXMLElement> ToXML() const;
  int type = kRegDword;
  std::wstring data;
};

// One registry value.
class CQXRegistry {
 public:
  virtual ~CQXRegistry() = default;
  int FromXML(const CXMLElement* element);
  std::unique_ptr<CXMLElement> ToXML() const;
  CQXWow wow;
  CQXRegistryKeyPath keyPath;
  std::wstring valueName;
  CQXRegistryData data;
};

// Kinds of shortcut: on the desktop or in the program menu.
enum : int { kShortcutDesktop = 0, kShortcutGroup = 1 };
class CQXShortCutName {
 public:
  virtual ~CQXShortCutName() = default;
  int FromXML(const CXMLElement* element);
  std::unique_ptr<CXMLElement> ToXML() const;
  int type = kShortcutDesktop;
  std::wstring name;
};

// How the shortcut's window opens.
enum : int { kWindowNormal = 0, kWindowMaximised = 1, kWindowMinimised = 2 };
class CQXWindowSize {
 public:
  virtual ~CQXWindowSize() = default;
  int FromXML(const CXMLElement* element);
  std::unique_ptr<CXMLElement> ToXML() const;
  int type = kWindowNormal;
};

// One shortcut.
class CQXShortCut {
 public:
  CQXShortCut();
  virtual ~CQXShortCut() = default;
  int FromXML(const CXMLElement* element);
  std::unique_ptr<CXMLElement> ToXML() const;
  CQXShortCutName name;
  FullPathValue target;      // kind: shortcut target
  std::wstring parameters;   // the target's command-line parameters
  FullPathValue workFolder;  // kind: working folder
  CQXWindowSize windowSize;
  std::wstring text;
};

// An alias record: an application key and a path.
class CQXRecordAliasHandle {
 public:
  virtual ~CQXRecordAliasHandle() = default;
  CQXRecordAliasHandle() = default;
  CQXRecordAliasHandle(const CQXRecordAliasHandle&) = default;
  CQXRecordAliasHandle& operator=(const CQXRecordAliasHandle&) = default;
  int FromXML(const CXMLElement* element);
  std::unique_ptr<CXMLElement> ToXML() const;
  std::wstring appName;
  FullPathValue fullPath;
};

// ---- The order in which a section writes its records -------------------------------------

// Compares code unit by code unit; where two units differ, a to z count as A to Z, then the
// units compare as unsigned numbers; a text that ends first is smaller. Result < 0, 0 or > 0.
int CompareCaseBlind(const std::wstring& a, const std::wstring& b);

// Files by path, case-blind (no path counts as empty text).
bool FileSortsBefore(const CQXFile& a, const CQXFile& b);
// Registry values by key path, case-blind, then by value name with case.
bool RegistrySortsBefore(const CQXRegistry& a, const CQXRegistry& b);
// Shortcuts by target path, case-blind, then by name with case.
bool ShortCutSortsBefore(const CQXShortCut& a, const CQXShortCut& b);

}  // namespace brindle
