// The COM changes with their undo notes, on the in-memory machine: a server unregistered or
// registered only once what takes it back is noted, the system's answers for a server that is not
// there, and a registration that waits for the next logon.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apply/com_changes.h"
#include "apply/memory_com.h"
#include "apply/memory_files.h"
#include "sys/paths.h"

namespace brindle {
namespace {

const std::wstring kServer = L"C:\\Program Files\\Tamek\\App\\server.dll";
const std::wstring kProgram = L"C:\\Program Files\\Tamek\\App\\server.EXE";

// Writes down each note in order; refuses the notes of one kind when told.
class RecordingNotes : public ComChangeJournal {
 public:
  bool NoteServer(const std::wstring& path, bool is64Bit, bool registering) override {
    notes.push_back((registering ? L"register " : L"unregister ") + path + (is64Bit ? L" 64" : L" 32"));
    return !refuseServer;
  }
  bool NoteWaitingRegistration(const std::wstring& valueName) override {
    notes.push_back(L"waiting " + valueName);
    return !refuseWaiting;
  }
  std::vector<std::wstring> notes;
  bool refuseServer = false;
  bool refuseWaiting = false;
};

struct Machine {
  MemoryFiles files;
  MemoryCom com{files};
  RecordingNotes notes;
  // The server installed and registered in the given view.
  void Install(const std::wstring& server, bool is64Bit) {
    files.AddFile(server, is64Bit, "dll");
    com.AddRegistered(server, is64Bit);
  }
};

TEST(ComChanges, AServerIsUnregisteredAfterItsNoteAndNotAtAllWithoutIt) {
  Machine m;
  m.Install(kServer, false);
  ComChangeResult result = UnregisterComServerRecord(m.com, m.notes, kServer, false);
  EXPECT_EQ(result.outcome, ComChangeOutcome::kDone);
  EXPECT_EQ(result.code, 0u);
  EXPECT_FALSE(m.com.IsRegistered(kServer, false));
  EXPECT_EQ(m.notes.notes, std::vector<std::wstring>{L"unregister " + kServer + L" 32"});

  Machine full;
  full.Install(kServer, true);
  full.notes.refuseServer = true;
  result = UnregisterComServerRecord(full.com, full.notes, kServer, true);
  EXPECT_EQ(result.outcome, ComChangeOutcome::kFailPackage);
  EXPECT_TRUE(full.com.IsRegistered(kServer, true));
}

TEST(ComChanges, AServerNotThereFailsAsTheSystemAnswersAndAProgramNotThereIsPassedOver) {
  Machine m;
  ComChangeResult result = UnregisterComServerRecord(m.com, m.notes, kServer, false);
  EXPECT_EQ(result.outcome, ComChangeOutcome::kFailed);  // loaded in process: no code
  EXPECT_EQ(result.code, 0u);
  result = UnregisterComServerRecord(m.com, m.notes, kServer, true);
  EXPECT_EQ(result.outcome, ComChangeOutcome::kFailed);  // no short path: the tool is not started
  EXPECT_EQ(result.code, 0u);
  EXPECT_EQ(UnregisterComServerRecord(m.com, m.notes, kProgram, false).outcome, ComChangeOutcome::kDone);
  // A server whose own unregistration fails: the tool's code in the 64-bit view only.
  m.files.AddFile(kServer, true, "dll");
  m.com.Refuse(kServer, true, 5);
  result = UnregisterComServerRecord(m.com, m.notes, kServer, true);
  EXPECT_EQ(result.outcome, ComChangeOutcome::kFailed);
  EXPECT_EQ(result.code, 5u);
}

TEST(ComChanges, ARegistrationNotesTheRunOnceValueItMayWaitUnderFirst) {
  Machine m;
  m.files.AddFile(kServer, false, "dll");
  m.com.WaitForLogon(kServer, false);
  ComChangeResult result = RegisterComServerRecord(m.com, m.notes, kServer, false);
  EXPECT_EQ(result.outcome, ComChangeOutcome::kDone);
  EXPECT_TRUE(result.waitsForLogon);
  EXPECT_EQ(m.notes.notes,
            (std::vector<std::wstring>{L"register " + kServer + L" 32", L"waiting " + kServer}));

  // A program registers itself: it waits under no RunOnce value.
  Machine program;
  program.files.AddFile(kProgram, false, "exe");
  result = RegisterComServerRecord(program.com, program.notes, kProgram, false);
  EXPECT_EQ(result.outcome, ComChangeOutcome::kDone);
  EXPECT_FALSE(result.waitsForLogon);
  EXPECT_TRUE(program.com.IsRegistered(kProgram, false));
  EXPECT_EQ(program.notes.notes, std::vector<std::wstring>{L"register " + kProgram + L" 32"});

  // The RunOnce value cannot be noted: the server is not registered and the package fails.
  Machine refusing;
  refusing.files.AddFile(kServer, true, "dll");
  refusing.notes.refuseWaiting = true;
  result = RegisterComServerRecord(refusing.com, refusing.notes, kServer, true);
  EXPECT_EQ(result.outcome, ComChangeOutcome::kFailPackage);
  EXPECT_FALSE(refusing.com.IsRegistered(kServer, true));

  // A library that is not there cannot be registered.
  Machine missing;
  EXPECT_EQ(RegisterComServerRecord(missing.com, missing.notes, kServer, false).outcome,
            ComChangeOutcome::kFailed);
}

TEST(ComChanges, AProgramIsNamedByItsLastExtension) {
  for (const wchar_t* name : {L"a.exe", L"C:\\x\\A.EXE", L"x/y.Exe"})
    EXPECT_TRUE(HasExeExtension(name)) << name;
  for (const wchar_t* name : {L"a.dll", L"C:\\x.exe\\a", L"a.exe.bak", L"exe", L"a.exes", L"C:\\x.exe\\"})
    EXPECT_FALSE(HasExeExtension(name)) << name;
}

}  // namespace
}  // namespace brindle
