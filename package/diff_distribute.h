// The package model: what a differential package's diff.xml says to delete, add and update,
// which hook library to call before and after the update, and the application's version
// afterwards. The driver and the sub-updater read its members directly and never change them.
//
// Only the root element's name is required. Below it everything is tolerant: unknown elements
// and attributes are skipped, missing ones leave empty defaults, repeated sections add to their
// lists, and a repeated single element is read again so that the last one wins.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "package/object_records.h"
#include "package/uninstall_records.h"
#include "package/version.h"
#include "xml/xml_tree.h"

namespace brindle {

// GeneralInfo: the version after the update and the programs that must not be running.
class CQXGeneralInfo {
 public:
  virtual ~CQXGeneralInfo() = default;
  int FromXML(const CXMLElement* element);
  std::unique_ptr<CXMLElement> ToXML() const;
  void Clear();

  CQXVersion version;
  std::vector<std::wstring> checkAppNames;
};

// What the three object sections share: files, registry values and shortcuts, in file order.
class CQXBaseObjects {
 public:
  CQXBaseObjects() = default;
  virtual ~CQXBaseObjects() = default;
  CQXBaseObjects(const CQXBaseObjects&) = delete;
  CQXBaseObjects& operator=(const CQXBaseObjects&) = delete;

  // Empties the file, registry and shortcut lists.
  virtual void Clear();
  // An element of that name with the files, then the registry values, then the shortcuts, each
  // group in its sort order (the lists themselves keep their order).
  virtual std::unique_ptr<CXMLElement> ToXML(const std::wstring& name) const;
  // Adds the section's File, Registry and ShortCut records to the lists (which are not emptied
  // first, so a second section of the same kind adds to the first).
  virtual int FromXML(const CXMLElement* element);
  virtual bool IsEmpty() const;

  std::vector<std::unique_ptr<CQXFile>> files;
  std::vector<std::unique_ptr<CQXRegistry>> registries;
  std::vector<std::unique_ptr<CQXShortCut>> shortCuts;
};

// DeleteObjects: what to remove, and the uninstall targets to take out of the uninstall log.
class CQXDeleteObjects : public CQXBaseObjects {
 public:
  using CQXBaseObjects::ToXML;
  int FromXML(const CXMLElement* element) override;
  // DeleteObjects, with the UninstTarget element at the end when it names any target.
  virtual std::unique_ptr<CXMLElement> ToXML() const;
  const CQXUninstallTarget& GetUninstTarget() const { return uninstTarget; }
  void SetUninstTarget(const CQXUninstallTarget& target);

  CQXUninstallTarget uninstTarget;
};

// AddObjects: what to add, alias records, the Dock, LSRegisterApp and ImageCapture entries, and
// the uninstall targets to add to the uninstall log.
class CQXAddObjects : public CQXBaseObjects {
 public:
  using CQXBaseObjects::ToXML;
  void Clear() override;
  int FromXML(const CXMLElement* element) override;
  bool IsEmpty() const override;
  // AddObjects: the base records, the alias records, Dock, LSRegisterApp and ImageCapture
  // entries, then UninstTarget when it names any target.
  virtual std::unique_ptr<CXMLElement> ToXML() const;

  std::vector<CQXRecordAliasHandle> recordAliasHandles;
  std::vector<std::wstring> docks;
  std::vector<std::wstring> lsRegisterApps;
  std::vector<std::wstring> imageCaptures;
  CQXUninstallTarget uninstTarget;
};

// UpdateObjects: what to replace, alias records, a signature, the application's new display
// name and the uninstaller's custom-function record.
class CQXUpdateObjects : public CQXBaseObjects {
 public:
  using CQXBaseObjects::ToXML;
  void Clear() override;
  int FromXML(const CXMLElement* element) override;
  // True when the base lists are empty, no custom-function record was read and there is no
  // display name (alias records and the signature do not count).
  bool IsEmpty() const override;
  // UpdateObjects: the base records, the alias records, then Signature and DisplayName when
  // not empty and UninstallCustomFunction when one was read.
  virtual std::unique_ptr<CXMLElement> ToXML() const;

  std::vector<CQXRecordAliasHandle> recordAliasHandles;
  std::wstring signature;
  CQXUninstallCustomFunction uninstallCustomFunction;
  CQXDisplayName displayName;
};

// CustomFunction: the hook library to call after and before the update.
class CQXCustomFunction {
 public:
  CQXCustomFunction();
  virtual ~CQXCustomFunction() = default;
  int FromXML(const CXMLElement* element);
  // CustomFunction with a FileName for each hook library that was named.
  std::unique_ptr<CXMLElement> ToXML() const;
  void Clear();

  CQXFileName afterUpdate;
  CQXFileName beforeUpdate;
};

// The whole package description. The five parts exist from construction on and are never null.
class CQXDiffDistribute {
 public:
  CQXDiffDistribute();
  virtual ~CQXDiffDistribute();
  CQXDiffDistribute(const CQXDiffDistribute&) = delete;
  CQXDiffDistribute& operator=(const CQXDiffDistribute&) = delete;

  virtual const wchar_t* GetElementName() const { return L"DiffDistribute"; }
  // Fills the model from the root element: 0, or 3 (model untouched) when the root is missing
  // or not named DiffDistribute.
  int FromXML(const CXMLElement* root);
  // The DiffDistribute element with every part.
  std::unique_ptr<CXMLElement> ToXML() const;

  std::unique_ptr<CQXGeneralInfo> generalInfo;
  std::unique_ptr<CQXDeleteObjects> deleteObjects;
  std::unique_ptr<CQXAddObjects> addObjects;
  std::unique_ptr<CQXUpdateObjects> updateObjects;
  std::unique_ptr<CQXCustomFunction> customFunction;
};

// The model of the diff.xml file, or null when the file cannot be loaded as XML or its root is
// not DiffDistribute.
std::unique_ptr<CQXDiffDistribute> LoadDiffDistribute(const std::wstring& path);

}  // namespace brindle
