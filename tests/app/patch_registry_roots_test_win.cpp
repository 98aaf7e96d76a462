// Registry values under the current user's hive and HKEY_CLASSES_ROOT, added and deleted by
// the real Brindle.exe: the values in the record's view, the classes value in the uninstall
// log, the user's value never there (the uninstall log cannot hold that hive).
#include <gtest/gtest.h>

#include "support/patch_fixture_win.h"
#include "support/service_log_reader.h"
#include "sys/text.h"
#include "sys/win_handles.h"

#include <windows.h>

using namespace brindle;
using namespace brindle::test;

namespace {

const REGSAM kView = KEY_WOW64_32KEY;  // the records are 32-bit ones

std::string Record(const std::string& root, const std::string& key, const std::string& name,
                   const std::string& type, const std::string& data) {
  return "<Registry WOW=\"INST_32BIT\"><RegKeyPath RegRoot=\"" + root + "\">" + key +
         "</RegKeyPath><RegValueName>" + name + "</RegValueName><RegData Type=\"" + type + "\">" + data +
         "</RegData></Registry>";
}

bool KeyExists(HKEY root, const std::wstring& key) {
  UniqueRegKey opened;
  return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | kView, opened.Receive()) == ERROR_SUCCESS;
}

// The value's data as text ("<missing>" when there is none): REG_SZ as it is, REG_DWORD in decimal.
std::wstring ValueText(HKEY root, const std::wstring& key, const std::wstring& name) {
  UniqueRegKey opened;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | kView, opened.Receive()) != ERROR_SUCCESS)
    return L"<missing>";
  BYTE data[512] = {};
  DWORD type = 0, bytes = sizeof(data) - sizeof(wchar_t);
  if (RegQueryValueExW(opened.Get(), name.c_str(), nullptr, &type, data, &bytes) != ERROR_SUCCESS)
    return L"<missing>";
  if (type == REG_DWORD) return std::to_wstring(*reinterpret_cast<DWORD*>(data));
  return reinterpret_cast<wchar_t*>(data);
}

void DeleteKey(HKEY root, const std::wstring& key) { RegDeleteKeyExW(root, key.c_str(), kView, 0); }

class RegistryRoots : public PatchFixture {
 protected:
  void SetUp() override {
    PatchFixture::SetUp();
    userKey_ = L"Software\\" + Unique(L"BrindleUser");
    classKey_ = Unique(L"BrindleClass");
  }
  void TearDown() override {
    DeleteKey(HKEY_CURRENT_USER, userKey_);
    DeleteKey(HKEY_CLASSES_ROOT, classKey_);
    PatchFixture::TearDown();
  }
  std::wstring Run(const std::string& version, const std::string& group, const std::string& records) {
    ClearPackageSource();
    return BuildPackage(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffDistribute><GeneralInfo><Version>" + version +
        "</Version></GeneralInfo><" + group + ">" + records + "</" + group + "></DiffDistribute>");
  }
  std::string Records() const {
    return Record("REG_HCU", Utf8FromWide(userKey_), "User", "REG_SZ", "user value") +
           Record("REG_HCR", Utf8FromWide(classKey_), "Class", "REG_DW", "0x10");
  }

  std::wstring userKey_, classKey_;
};

}  // namespace

TEST_F(RegistryRoots, UserAndClassesValuesAreAddedAndDeletedAndOnlyTheClassesOneIsLogged) {
  ASSERT_TRUE(WriteFileText(app_ + L"\\uninst.ini",
                            "[Language]\r\nLang=\"en\"\r\n[Startup]\r\nVersion=\"1.0\"\r\n[Uninst Info]\r\n"
                            "[UninstallCustomFunction]\r\nDLLPath=\"\"\r\n"));
  WriteInstallLog(L"en");
  WriteWrapperFiles({L"ENGLISH"});
  const std::string classEntry = "UIREGI=HCR \"" + Utf8FromWide(classKey_) + "\" \"Class\"";

  ServiceLogTail added;
  EXPECT_EQ(RunBrindle(Run("1.1", "AddObjects", Records()), L"/non_notification"), 200);
  EXPECT_EQ(ValueText(HKEY_CURRENT_USER, userKey_, L"User"), L"user value");
  EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, classKey_, L"Class"), L"16");
  EXPECT_EQ(added.Details(L"ADD_REG"),
            (std::vector<std::wstring>{L"-," + userKey_ + L",success,0", L"-," + classKey_ + L",success,0"}));
  std::string uninst = FileText(app_ + L"\\uninst.ini");
  EXPECT_NE(uninst.find(classEntry), std::string::npos) << uninst;
  EXPECT_EQ(uninst.find(Utf8FromWide(userKey_.substr(userKey_.find(L'\\') + 1))), std::string::npos)
      << uninst;

  ServiceLogTail deleted;
  EXPECT_EQ(RunBrindle(Run("1.2", "DeleteObjects", Records()), L"/non_notification"), 200);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, userKey_));  // its last value gone, the key goes
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, classKey_));
  EXPECT_EQ(deleted.Details(L"DELETE_REG"),
            (std::vector<std::wstring>{L"-," + userKey_ + L",success,0", L"-," + classKey_ + L",success,0"}));
  uninst = FileText(app_ + L"\\uninst.ini");
  EXPECT_EQ(uninst.find(classEntry), std::string::npos) << uninst;
}
