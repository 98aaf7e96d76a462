// The registry decisions on the in-memory registry: the verb and the changes of a deleted value
// follow from the key as it is before the change, and the in-memory registry answers as Windows
// does for views, case and keys left empty.
#include <gtest/gtest.h>

#include "apply/memory_registry.h"
#include "apply/registry_decisions.h"
#include "support/registry_values.h"
#include "package/object_records.h"
#include "sys/text.h"

namespace brindle {
namespace {

RegistryKeyName Key(const std::wstring& path, bool is64 = false, int root = kRegRootLocalMachine) {
  return RegistryKeyName{root, is64, path};
}

RegistryValueBytes Text(const std::wstring& text) { return RegistryText(text); }

// Decides the deletion of a value, then applies it as the program does; the verb of its line.
std::wstring DeleteAsTheProgramDoes(MemoryRegistry& registry, const RegistryKeyName& key,
                                    const std::wstring& name, bool inUpdate) {
  RegistryKeyState state;
  EXPECT_EQ(registry.Look(key, name, state), kSysSuccess);
  const RegistryDeletion d = DecideRegistryDeletion(state, inUpdate);
  if (d.deleteValue) {
    EXPECT_EQ(registry.DeleteValue(key, name), kSysSuccess);
  }
  if (d.deleteKey) {
    EXPECT_EQ(registry.DeleteKeyIfEmpty(key), kSysSuccess);
  }
  return d.verb;
}

TEST(RegistryDecisions, ADeletedValueTakesItsKeyOnlyWhenTheDeleteSectionLeavesItEmpty) {
  MemoryRegistry r;
  r.WriteValue(Key(L"Software\\Only"), L"V", Text(L"1"), false);
  r.WriteValue(Key(L"Software\\Shared"), L"V", Text(L"1"), false);
  r.WriteValue(Key(L"Software\\Shared"), L"Other", Text(L"2"), false);
  r.WriteValue(Key(L"Software\\Parent"), L"V", Text(L"1"), false);
  r.MakeKey(Key(L"Software\\Parent\\Child"));
  r.MakeKey(Key(L"Software\\Empty"));
  r.WriteValue(Key(L"Software\\Updated"), L"V", Text(L"1"), false);

  EXPECT_EQ(DeleteAsTheProgramDoes(r, Key(L"Software\\Only"), L"v", false), L"DELETE_REG");
  EXPECT_FALSE(r.HasKey(Key(L"Software\\Only")));
  EXPECT_TRUE(r.HasKey(Key(L"Software")));  // one level only

  EXPECT_EQ(DeleteAsTheProgramDoes(r, Key(L"Software\\Shared"), L"V", false), L"UPDATE_REG_DELETE");
  RegistryValueBytes kept;
  EXPECT_EQ(r.ReadValue(Key(L"Software\\Shared"), L"V", kept), kSysFileNotFound);
  EXPECT_EQ(r.ReadValue(Key(L"Software\\Shared"), L"OTHER", kept), kSysSuccess);

  EXPECT_EQ(DeleteAsTheProgramDoes(r, Key(L"Software\\Parent"), L"V", false), L"UPDATE_REG_DELETE");
  EXPECT_TRUE(r.HasKey(Key(L"Software\\Parent\\Child")));

  // A missing value in an empty key: the key still goes, as the program removes what is empty.
  EXPECT_EQ(DeleteAsTheProgramDoes(r, Key(L"Software\\Empty"), L"V", false), L"DELETE_REG");
  EXPECT_FALSE(r.HasKey(Key(L"Software\\Empty")));

  // The update section never removes a key.
  EXPECT_EQ(DeleteAsTheProgramDoes(r, Key(L"Software\\Updated"), L"V", true), L"UPDATE_REG_DELETE");
  EXPECT_TRUE(r.HasKey(Key(L"Software\\Updated")));
}

TEST(RegistryDecisions, AMissingKeyIsReportedAsAMissingValueWithTheSectionsErrorVerbKeptForFailures) {
  const RegistryDeletion inDelete = DecideRegistryDeletion(RegistryKeyState(), false);
  EXPECT_TRUE(inDelete.keyMissing);
  EXPECT_FALSE(inDelete.deleteValue || inDelete.deleteKey);
  EXPECT_EQ(std::wstring(inDelete.verb), L"UPDATE_REG_DELETE");
  EXPECT_EQ(std::wstring(inDelete.errorVerb), L"DELETE_REG");
  EXPECT_EQ(std::wstring(DecideRegistryDeletion(RegistryKeyState(), true).errorVerb), L"UPDATE_REG_DELETE");
  EXPECT_EQ(std::wstring(RegistryWriteVerb(true)), L"ADD_REG");
  EXPECT_EQ(std::wstring(RegistryWriteVerb(false)), L"UPDATE_REG_ADD");
}

TEST(MemoryRegistry, ViewsCaseAndEmptyKeysAnswerAsWindowsDoes) {
  MemoryRegistry r;
  // The 32-bit view of HKLM\Software is its WOW6432Node key; HKCU is shared by both views.
  r.WriteValue(Key(L"Software\\App"), L"V", Text(L"32"), false);
  EXPECT_TRUE(r.HasKey(Key(L"SOFTWARE\\Wow6432Node\\app", true)));
  EXPECT_FALSE(r.HasKey(Key(L"Software\\App", true)));
  EXPECT_TRUE(r.HasKey(Key(L"Software\\Wow6432Node\\App", false)));  // not mapped twice
  r.WriteValue(Key(L"Software\\User", false, kRegRootCurrentUser), L"V", Text(L"u"), false);
  EXPECT_TRUE(r.HasKey(Key(L"software\\user", true, kRegRootCurrentUser)));
  EXPECT_FALSE(r.HasKey(Key(L"Software\\User", true)));  // another root

  EXPECT_EQ(r.DeleteKeyIfEmpty(Key(L"Software\\App")), kSysDirNotEmpty);
  EXPECT_EQ(r.DeleteValue(Key(L"Software\\App"), L"missing"), kSysFileNotFound);
  EXPECT_EQ(r.DeleteValue(Key(L"Software\\Nowhere"), L"V"), kSysFileNotFound);
  EXPECT_EQ(r.DeleteKeyIfEmpty(Key(L"Software\\Nowhere")), kSysFileNotFound);
  EXPECT_EQ(r.WriteValue(Key(L""), L"V", Text(L"x"), false), kSysInvalidParameter);  // a root itself
}

TEST(MemoryRegistry, AnExportIsReadAsTheRegistryEditorWritesIt) {
  const std::wstring exported =
      L"Windows Registry Editor Version 5.00\r\n\r\n"
      L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Tamek\\App]\r\n"
      L"\"Path\"=\"C:\\\\Program Files (x86)\\\\App\"\r\n"
      L"\"Quote \\\"q\\\"\"=\"x\"\r\n"
      L"\"Count\"=dword:0000002a\r\n"
      L"@=\"default\"\r\n"
      L"\"Blob\"=hex:01,02,03,\\\r\n  04,05\r\n"
      L"\"Expand\"=hex(2):25,00,00,00\r\n\r\n"
      L"[HKEY_CURRENT_USER\\Software\\Gone\\Sub]\r\n"
      L"[-HKEY_CURRENT_USER\\Software\\Gone]\r\n"
      L"; a comment\r\n";
  MemoryRegistry r;
  size_t bad = 0;
  ASSERT_TRUE(r.LoadExport(exported, bad)) << "line " << bad;
  const RegistryKeyName app = Key(L"Software\\Tamek\\App");  // the 32-bit view
  RegistryValueBytes v;
  ASSERT_EQ(r.ReadValue(app, L"path", v), kSysSuccess);
  EXPECT_EQ(v.bytes, Text(L"C:\\Program Files (x86)\\App").bytes);
  ASSERT_EQ(r.ReadValue(app, L"Count", v), kSysSuccess);
  EXPECT_EQ(v.type, kStoredDword);
  EXPECT_EQ(v.bytes, std::string("\x2a\0\0\0", 4));
  for (const wchar_t* name : {L"Quote \"q\"", L"", L"Blob", L"Expand"})
    EXPECT_EQ(r.ReadValue(app, name, v), kSysSuccess) << Utf8FromWide(name);
  RegistryKeyState state;
  r.Look(app, L"x", state);
  EXPECT_EQ(state.values, 6u);
  EXPECT_FALSE(r.HasKey(Key(L"Software\\Gone", false, kRegRootCurrentUser)));
  EXPECT_TRUE(r.HasKey(Key(L"Software", false, kRegRootCurrentUser)));

  for (const std::wstring& wrong : {std::wstring(L"[HKEY_NOWHERE\\X]"), std::wstring(L"\"V\"=\"x\""),
                                    std::wstring(L"[HKEY_CURRENT_USER\\X]\r\n\"V\"=dword:xyz"),
                                    std::wstring(L"[HKEY_CURRENT_USER\\X]\r\n\r\nV=1")}) {
    MemoryRegistry other;
    EXPECT_FALSE(other.LoadExport(L"Windows Registry Editor Version 5.00\r\n" + wrong, bad))
        << Utf8FromWide(wrong);
    EXPECT_EQ(bad, wrong.find(L"\r\n\r\n") != std::wstring::npos ? 4u
                   : wrong.find(L"\r\n") != std::wstring::npos   ? 3u
                                                                 : 2u)
        << Utf8FromWide(wrong);
  }
}

}  // namespace
}  // namespace brindle
