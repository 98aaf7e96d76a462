// The registry actions of a patch: writing the values a package lists and deleting the ones it
// removes, each in the registry view its record names (the 64-bit view for 64-bit records, the
// 32-bit view for all others), with a key left empty by a deletion removed too. Every action
// writes its service-log line; values written by an add and keys removed by a delete are
// recorded in the uninstall log.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

namespace brindle {

class CQXRegistry;
class CWinQXSubUpdater;
struct PackageContext;

using RegistryList = std::vector<std::unique_ptr<CQXRegistry>>;

class CRegistryActions {
 public:
  explicit CRegistryActions(PackageContext& context) : context_(context) {}
  explicit CRegistryActions(CWinQXSubUpdater& updater);

  // The write pass: verb ADD_REG when isAdd, else UPDATE_REG_ADD (which deletes the old value
  // first). A record that cannot be applied (data that does not convert, a key that cannot be
  // created, a value that cannot be stored) gets an error line and changes nothing; the pass
  // goes on with the other records and then throws CUpdaterException, so the package fails.
  void WriteRegistry(const RegistryList& records, bool isAdd);
  // The delete pass: verb UPDATE_REG_DELETE when isUpdate, else DELETE_REG, which also removes
  // the value's key when it is left empty (one level only). A value or key that does not exist
  // gives an error line with code 2 and the pass goes on. Any other failure gives an error line
  // for the record; the pass goes on and then throws CUpdaterException.
  void DeleteRegistry(const RegistryList& records, bool isUpdate);

  // The root key of a record's root code (HKCR, HKLM, HKCU); null for an unknown code.
  static HKEY RootKey(int root);
  // The view flag of a record: KEY_WOW64_64KEY for 64-bit records, else KEY_WOW64_32KEY.
  static REGSAM View(const CQXRegistry& record);

 private:
  // False when the record could not be applied (its error line is written).
  bool WriteOne(const CQXRegistry& record, bool isAdd);
  bool DeleteOne(const CQXRegistry& record, bool isUpdate);
  // Deletes the emptied key through its parent; false when it could not.
  bool DeleteEmptiedKey(const CQXRegistry& record, const std::wstring& keyPath);
  // A 64-bit record on 32-bit Windows: it does not exist there and is skipped without a line.
  static bool Skipped(const CQXRegistry& record);

  PackageContext& context_;
};

}  // namespace brindle
