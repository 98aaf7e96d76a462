// Unregistering a COM server that a package deletes: the server's own DllUnregisterServer runs
// and one UNREGISTER_COM line tells how it went. The journal of a registration keeps the
// registry's state of what it writes, and its undo gives that state back.
#include <gtest/gtest.h>

#include "apply/com_unregistration_win.h"
#include "apply/package_journal_win.h"
#include "package/object_records.h"
#include "support/process_win.h"
#include "support/scratch.h"
#include "support/service_log_reader.h"
#include "sys/com_registration_win.h"
#include "sys/paths.h"
#include "sys/win_handles.h"

#include <windows.h>

using namespace brindle;
using namespace brindle::test;

namespace {

bool ServerKeyExists(const std::wstring& name) {
  UniqueRegKey key;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\Classes\\BrindleTestServer." + name).c_str(), 0,
                       KEY_READ, key.Receive()) == ERROR_SUCCESS;
}

// A value's text in this process's own view; "<none>" when it is missing.
std::wstring Text(const std::wstring& key, const std::wstring& name) {
  wchar_t text[MAX_PATH] = {};
  DWORD bytes = sizeof(text);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, text, &bytes) !=
      ERROR_SUCCESS)
    return L"<none>";
  return text;
}

DWORD SubKeyCount(const std::wstring& path) {
  UniqueRegKey key;
  DWORD count = 0;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS ||
      RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return 0;
  return count;
}

// The servers noted before their change, in order.
class NotedServers : public ComChangeJournal {
 public:
  bool NoteServer(const std::wstring& path, bool, bool registering) override {
    servers.push_back((registering ? L"register " : L"unregister ") + path);
    return true;
  }
  bool NoteWaitingRegistration(const std::wstring&) override { return true; }
  std::vector<std::wstring> servers;
};

}  // namespace

TEST(ComUnregistration, ARegisteredServerIsUnregisteredAndLoggedAsASuccess) {
  ScratchFolder scratch;
  const std::wstring server = ToBackslashes(scratch.File(L"unreg_server.dll"));
  ASSERT_TRUE(CopyFileW(ProgramPath(L"brindle_com_server.dll").c_str(), server.c_str(), FALSE));
  CComInitialization com;
  ASSERT_TRUE(CComRegistration::RegisterInProcess(server));
  ASSERT_TRUE(ServerKeyExists(L"unreg_server.dll"));

  ServiceLogTail tail;
  NotedServers notes;
  EXPECT_EQ(UnregisterComServer(server, false, notes).outcome, ComChangeOutcome::kDone);
  EXPECT_EQ(notes.servers, std::vector<std::wstring>{L"unregister " + server});
  EXPECT_FALSE(ServerKeyExists(L"unreg_server.dll"));
  EXPECT_EQ(tail.Details(L"UNREGISTER_COM"), std::vector<std::wstring>{L"-," + server + L",success,0"});
}

TEST(ComUnregistration, AMissingLibraryIsLoggedAsAnError) {
  ScratchFolder scratch;
  const std::wstring missing = ToBackslashes(scratch.File(L"missing.dll"));
  ServiceLogTail tail;
  NotedServers notes;
  EXPECT_EQ(UnregisterComServer(missing, false, notes).outcome, ComChangeOutcome::kFailed);
  EXPECT_EQ(tail.Details(L"UNREGISTER_COM"), std::vector<std::wstring>{L"-," + missing + L",error,0"});
}

// Copy A of a class was registered, and another program gave its key many keys of its own and
// its InprocServer32 key a value. Registering copy B is journaled as the state of what B's
// registration writes: the small InprocServer32 key whole, and nothing of the larger trees it
// writes in (the class key's, SOFTWARE\Classes, SOFTWARE). The undo points the class at copy A
// again and leaves the other program's keys alone.
TEST(ComRegistration, TheJournalKeepsTheStateARegistrationChangesAndTheUndoGivesItBack) {
  ScratchFolder scratch;
  const std::wstring name = L"twin" + std::to_wstring(GetCurrentProcessId()) + L".dll";
  const std::wstring copyA = ToBackslashes(scratch.File(L"a\\" + name));
  const std::wstring copyB = ToBackslashes(scratch.File(L"b\\" + name));
  for (const std::wstring& copy : {copyA, copyB}) {
    ASSERT_TRUE(CreateFolderChain(ParentFolder(copy)));
    ASSERT_TRUE(CopyFileW(ProgramPath(L"brindle_com_server.dll").c_str(), copy.c_str(), FALSE));
  }
  const std::wstring classKey = L"SOFTWARE\\Classes\\BrindleTestServer." + name;
  const std::wstring inproc = classKey + L"\\InprocServer32";
  ASSERT_TRUE(CComRegistration::RegisterInProcess(copyA));
  for (int i = 0; i < 70; ++i) {
    UniqueRegKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (classKey + L"\\Other" + std::to_wstring(i)).c_str(), 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr),
              ERROR_SUCCESS);
  }
  {
    UniqueRegKey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, inproc.c_str(), 0, KEY_ALL_ACCESS, key.Receive()),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueExW(key.Get(), L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Both"), 10),
        ERROR_SUCCESS);
  }

  std::unique_ptr<CPackageJournal> journal = CPackageJournal::Begin(L"ComJournal", L"com.cab");
  ASSERT_TRUE(journal);
  journal->NoteCom(copyB, false, true);
  std::vector<std::wstring> kept;
  bool comRecordKeepsState = false;
  for (const UndoRecord& record : journal->Records()) {
    if (record.kind == UndoKind::ComRegistered) comRecordKeepsState = record.existed && record.path == copyB;
    if (record.kind == UndoKind::RegistryKeyRemoved) kept.push_back(L"key " + record.path);
    if (record.kind == UndoKind::RegistryKeyCreated) kept.push_back(L"new " + record.path);
    if (record.kind == UndoKind::RegistryValue)
      kept.push_back(L"value " + record.path + L"|" + record.name + (record.existed ? L"|old" : L"|none"));
  }
  EXPECT_TRUE(comRecordKeepsState);
  EXPECT_EQ(kept, (std::vector<std::wstring>{L"key " + inproc, L"value " + inproc + L"||old",
                                             L"value " + inproc + L"|ThreadingModel|old"}));

  ASSERT_TRUE(CComRegistration::RegisterInProcess(copyB));
  ASSERT_EQ(Text(inproc, L""), copyB);
  EXPECT_TRUE(journal->Undo());
  EXPECT_EQ(Text(inproc, L""), copyA);
  EXPECT_EQ(Text(inproc, L"ThreadingModel"), L"Both");
  EXPECT_EQ(SubKeyCount(classKey), 71u);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, classKey.c_str());
}

// A COM step makes and removes keys (here: a local server's, which the journal cannot try):
// a key path the registry passes found whole before it is looked at again by the next write,
// whose keys, removed by the step in between, are then journaled as made by the package.
TEST(ComRegistration, AKeyPathLookedAtBeforeACOMStepIsLookedAtAgainAfterIt) {
  const std::wstring base = L"SOFTWARE\\BrindleComStep" + std::to_wstring(GetCurrentProcessId());
  const std::wstring path = base + L"\\Sub";
  const bool own64 = sizeof(void*) == 8;
  {
    UniqueRegKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.Receive(), nullptr),
              ERROR_SUCCESS);
  }
  std::unique_ptr<CPackageJournal> journal = CPackageJournal::Begin(L"ComJournal", L"com.cab");
  ASSERT_TRUE(journal);
  journal->NoteMissingKeys(kRegRootLocalMachine, own64, path);
  journal->NoteCom(L"C:\\nowhere\\server.exe", false, false);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, base.c_str());
  journal->NoteMissingKeys(kRegRootLocalMachine, own64, path);
  std::vector<std::wstring> made;
  for (const UndoRecord& record : journal->Records()) {
    if (record.kind == UndoKind::ComUnregistered) {
      EXPECT_FALSE(record.existed);
    }
    if (record.kind == UndoKind::RegistryKeyCreated) made.push_back(record.path);
  }
  EXPECT_EQ(made, (std::vector<std::wstring>{base, path}));
  journal->Commit();
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, base.c_str());
}
