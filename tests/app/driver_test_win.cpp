// The update driver with test items in place of the real patch and component flows: the order
// of the work, the progress it shows, the install-log saves, and the final messages, answered
// the way a person would.
#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/coordination.h"
#include "ui/progress_context.h"
#include "app/update_driver.h"
#include "app/update_items.h"
#include "app/updater.h"
#include "apply/win_sub_updater_win.h"
#include "logs/install_log.h"
#include "logs/update_lists.h"
#include "support/install_log_fixture_win.h"
#include "support/process_win.h"
#include "support/scratch.h"
#include "support/service_log_reader.h"
#include "support/ui_driver_win.h"
#include "sys/paths.h"
#include "sys/system_util.h"
#include "sys/text.h"

#include <atomic>
#include <future>
#include <map>

using namespace brindle;
using namespace brindle::test;

namespace {

const wchar_t kProgressCaption[] = L"Mise \u00e0 jour logicielle\u2026";

// Items that record what the driver asked of them and answer as told.
class FakeItems : public CQXUpdateItems {
 public:
  // Answers by FileName, or by "delete <ID>" / "add <ID>"; success when not named.
  std::map<std::wstring, PatchResult> patchResults;
  std::map<std::wstring, SetupResult> setupResults;
  std::map<std::wstring, ComponentResult> componentResults;
  std::map<std::wstring, int> pauses;  // milliseconds to take, by FileName
  std::vector<std::wstring> calls;
  bool rebootNeeded = false;

  PatchResult ApplyPatchPackage(CQXInstallLog& log, const DiffLocalEntry& entry,
                                const std::wstring& packagePath) override {
    calls.push_back(L"patch " + entry.FileName);
    packagePaths.push_back(packagePath);
    if (pauses.count(entry.FileName)) Sleep(pauses[entry.FileName]);
    if (InstallLogEntry* app = FindEntry(log, entry.AppName))
      app->applicationVersion.text = L"2.0-" + entry.FileName;
    return patchResults.count(entry.FileName) ? patchResults[entry.FileName] : PatchResult::kApplied;
  }
  SetupResult RunSetupProgram(const std::wstring&, const DiffLocalEntry& entry) override {
    calls.push_back(L"setup " + entry.FileName);
    return setupResults.count(entry.FileName) ? setupResults[entry.FileName] : SetupResult::kDone;
  }
  ComponentResult DeleteComponent(const CQXActionListXML&, const std::wstring& id,
                                  ProgressContext&) override {
    calls.push_back(L"delete " + id);
    return ComponentAnswer(L"delete " + id);
  }
  ComponentResult AddComponent(const CQXActionListXML&, const std::wstring& id, ProgressContext&) override {
    calls.push_back(L"add " + id);
    return ComponentAnswer(L"add " + id);
  }
  ComponentResult ComponentAnswer(const std::wstring& call) {
    return componentResults.count(call) ? componentResults[call] : ComponentResult::kDone;
  }
  bool RebootNeeded() const override { return rebootNeeded; }

  std::vector<std::wstring> packagePaths;
};

struct Package {
  std::string order, fileName, appName, displayName;
};

std::wstring WriteDiffLocalList(const ScratchFolder& folder, const std::vector<Package>& packages) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffLocalList>";
  for (const Package& p : packages)
    xml += "<Package Order=\"" + p.order + "\"><FileName>" + p.fileName + "</FileName><AppName>" + p.appName +
           "</AppName><DisplayName>" + p.displayName + "</DisplayName></Package>";
  xml += "</DiffLocalList>";
  const std::wstring path = folder.File(L"list.xml");
  EXPECT_TRUE(WriteBytes(path, xml));
  return path;
}

// A person in front of the screen, in a process of its own (brindle_person.exe): the process
// under test runs only the driver's own two threads, as the program does (three threads at work
// crash a 32-bit Wine process under qemu-i386). The person watches this process's windows from
// the moment the constructor returns; Result waits for it and reads what it wrote.
class PersonProcess {
 public:
  PersonProcess(const std::wstring& mode, const std::wstring& caption, const std::wstring& button,
                unsigned timeoutMs)
      : result_(folder_.File(L"person.txt")) {
    static LONG counter = 0;
    const std::wstring stopName = L"BrindlePersonStop." + std::to_wstring(GetCurrentProcessId()) + L"." +
                                  std::to_wstring(InterlockedIncrement(&counter));
    stop_.Reset(CreateEventW(nullptr, TRUE, FALSE, stopName.c_str()));
    const std::wstring quote = L"\"";
    bool ready = false;
    process_ = StartWhenReady(ProgramPath(L"brindle_person.exe"),
                              mode + L" " + std::to_wstring(GetCurrentProcessId()) + L" " + quote + caption +
                                  quote + L" " + quote + button + quote + L" " + std::to_wstring(timeoutMs) +
                                  L" " + stopName + L" " + quote + ToBackslashes(result_) + quote,
                              60000, ready);
    EXPECT_TRUE(ready) << "the person helper did not start";
  }
  ~PersonProcess() { Result(true); }
  // Waits for the helper's result; stop first tells a watching helper (nobox) to end.
  std::wstring Result(bool stop = false) {
    if (!done_) {
      if (stop && stop_) SetEvent(stop_.Get());
      done_ = true;
      std::string bytes;
      if (WaitForExit(process_, 120000) != 0 || !ReadBytes(result_, bytes))
        text_ = L"<the person helper failed>";
      else text_ = WideFromUtf8(bytes);
    }
    return text_;
  }

 private:
  ScratchFolder folder_;
  std::wstring result_;
  UniqueHandle stop_;
  StartedProcess process_;
  bool done_ = false;
  std::wstring text_;
};

// Waits for the box titled caption, reads it, presses button.
class Answerer {
 public:
  Answerer(std::wstring caption, std::wstring button, unsigned timeoutMs = 20000)
      : person_(L"answer", caption, button, timeoutMs) {}
  std::wstring Text() { return person_.Result(); }

 private:
  PersonProcess person_;
};

// Watches for a box that must not appear while a call runs: a box that does appear is read and
// answered at once, so the call ends and the test fails on the text instead of hanging.
class NoBoxWatcher {
 public:
  explicit NoBoxWatcher(std::wstring caption) : person_(L"nobox", caption, L"-", 0) {}
  // Call after the run: the text of the box that appeared, or empty text when none did.
  std::wstring Shown() { return person_.Result(true); }

 private:
  PersonProcess person_;
};

// Watches the progress dialog and keeps every percentage text it showed.
class ProgressWatcher {
 public:
  ProgressWatcher() : person_(L"progress", kProgressCaption, L"-", 15000) {}
  std::vector<std::wstring> Seen() {
    std::vector<std::wstring> seen;
    const std::wstring lines = person_.Result();
    for (size_t at = 0; at < lines.size();) {
      const size_t end = lines.find(L'\n', at);
      if (end == std::wstring::npos) break;
      seen.push_back(lines.substr(at, end - at));
      at = end + 1;
    }
    return seen;
  }

 private:
  PersonProcess person_;
};

RunResult RunList(const std::wstring& list, FakeItems& items, UpdateMode mode) {
  CWinQXSystemUtil system;
  CWinQXSubUpdater subUpdater;
  return RunUpdateWith(ToForwardSlashes(list), &system, &subUpdater, items, mode);
}

std::wstring VersionOf(const std::wstring& app) {
  std::unique_ptr<CQXInstallLog> log = LoadInstallLog(InstallLogPath());
  if (!log) return L"<no log>";
  InstallLogEntry* entry = FindEntry(*log, app);
  return entry ? entry->applicationVersion.text : L"<no entry>";
}

class Driver : public testing::Test {
 protected:
  InstallLogGuard installLog;
  ScratchFolder folder;
};

}  // namespace

TEST_F(Driver, EntriesRunInOrderAndTheFirstEntryNamesTheBoxes) {
  ASSERT_TRUE(installLog.WriteWithApps({L"A", L"B", L"C"}));
  FakeItems items;
  const std::wstring list = WriteDiffLocalList(
      folder, {{"5", "c.diff", "C", "Gamma"}, {"1", "a.diff", "A", "Alpha"}, {"3", "b.diff", "B", "Beta"}});
  Answerer person(L"Alpha", L"OK");
  EXPECT_EQ(RunList(list, items, UpdateMode::kNormal), RunResult::kDone);
  EXPECT_EQ(person.Text(), L"Mise \u00e0 jour logicielle termin\u00e9e.");
  EXPECT_EQ(items.calls, (std::vector<std::wstring>{L"patch a.diff", L"patch b.diff", L"patch c.diff"}));
  EXPECT_EQ(items.packagePaths.front(), folder.Path() + L"/a.diff");
  EXPECT_FALSE(FileExists(list));
  EXPECT_EQ(VersionOf(L"C"), L"2.0-c.diff");
}

TEST_F(Driver, KindsComeFromTheExtensionAndSkippedEntriesStillCount) {
  ASSERT_TRUE(installLog.WriteWithApps({L"A"}));
  FakeItems items;
  const std::wstring list = WriteDiffLocalList(folder, {{"1", "Upper.DIFF", "A", "Alpha"},
                                                        {"2", "notes.zip", "A", "Alpha"},
                                                        {"3", "nodot", "A", "Alpha"},
                                                        {"4", "trailing.", "A", "Alpha"},
                                                        {"5", "setup.EXE", "A", "Alpha"},
                                                        {"6", "tool.apz", "A", "Alpha"}});
  ProgressWatcher progress;
  NoBoxWatcher noBox(L"Alpha");
  // Mode 2: a run that ends well shows no message at all.
  EXPECT_EQ(RunList(list, items, UpdateMode::kNoNotification), RunResult::kDone);
  EXPECT_EQ(noBox.Shown(), L"");
  EXPECT_EQ(items.calls,
            (std::vector<std::wstring>{L"patch Upper.DIFF", L"setup setup.EXE", L"setup tool.apz"}));
  const auto seen = progress.Seen();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), L"100 %");
}

TEST_F(Driver, ASecondPackageFailingStopsTheRunAndKeepsTheFirstPackagesLog) {
  ASSERT_TRUE(installLog.WriteWithApps({L"A", L"B", L"C"}));
  FakeItems items;
  items.patchResults[L"b.diff"] = PatchResult::kFailed;
  items.pauses[L"b.diff"] = 1500;  // long enough for the dialog to show where the run is
  const std::wstring list = WriteDiffLocalList(
      folder, {{"1", "a.diff", "A", "Alpha"}, {"2", "b.diff", "B", "Beta"}, {"3", "c.diff", "C", "Gamma"}});
  ProgressWatcher progress;
  Answerer person(L"Alpha", L"OK");
  EXPECT_EQ(RunList(list, items, UpdateMode::kNormal), RunResult::kFailed);
  EXPECT_EQ(person.Text(), L"Une erreur s'est produite pendant la mise \u00e0 jour de Alpha.");
  EXPECT_EQ(items.calls, (std::vector<std::wstring>{L"patch a.diff", L"patch b.diff"}));
  const auto seen = progress.Seen();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), L"33 %");
  EXPECT_EQ(VersionOf(L"A"), L"2.0-a.diff");  // saved after the first package
  EXPECT_EQ(VersionOf(L"B"), L"1.0");         // the failing package's change is dropped
}

TEST_F(Driver, ARestartIsAskedEvenInMode2AndTheAnswerDecidesTheResult) {
  ASSERT_TRUE(installLog.WriteWithApps({L"A"}));
  for (const auto& [button, expected] :
       {std::make_pair(L"Oui", RunResult::kDoneReboot), std::make_pair(L"Non", RunResult::kDone)}) {
    FakeItems items;
    items.rebootNeeded = true;
    const std::wstring list = WriteDiffLocalList(folder, {{"1", "a.diff", "A", "Alpha"}});
    Answerer person(L"Alpha", button);
    EXPECT_EQ(RunList(list, items, UpdateMode::kNoNotification), expected);
    EXPECT_EQ(person.Text(),
              L"Mise \u00e0 niveau du logiciel termin\u00e9e.\nVous devez red\u00e9marrer votre ordinateur "
              L"pour pouvoir utiliser le logiciel.\n\nVoulez-vous red\u00e9marrer maintenant ?");
  }
}

TEST_F(Driver, AbortAtTheRunningProgramQuestionAndASetupProgramsOwnFailure) {
  ASSERT_TRUE(installLog.WriteWithApps({L"A"}));
  const std::string before = installLog.Bytes();
  {
    FakeItems items;
    items.patchResults[L"a.diff"] = PatchResult::kCancelled;
    const std::wstring list =
        WriteDiffLocalList(folder, {{"1", "a.diff", "A", "Alpha"}, {"2", "b.diff", "A", "Alpha"}});
    Answerer person(L"Alpha", L"OK");
    EXPECT_EQ(RunList(list, items, UpdateMode::kNormal), RunResult::kFailed);
    EXPECT_EQ(person.Text(), L"Mise \u00e0 jour logicielle abandonn\u00e9e.");
    EXPECT_EQ(items.calls.size(), 1u);
    EXPECT_EQ(installLog.Bytes(), before);  // nothing saved
  }
  {
    FakeItems items;
    items.setupResults[L"setup.exe"] = SetupResult::kReportedFailure;
    const std::wstring list =
        WriteDiffLocalList(folder, {{"1", "setup.exe", "A", "Alpha"}, {"2", "b.diff", "A", "Alpha"}});
    NoBoxWatcher noBox(L"Alpha");
    EXPECT_EQ(RunList(list, items, UpdateMode::kNormal), RunResult::kFailed);
    EXPECT_EQ(noBox.Shown(), L"");  // quietly: no message
    EXPECT_EQ(items.calls, std::vector<std::wstring>{L"setup setup.exe"});
  }
}

TEST_F(Driver, AMissingInstallLogFailsThePatchWithoutRunningIt) {
  FakeItems items;
  const std::wstring list = WriteDiffLocalList(folder, {{"1", "a.diff", "A", "Alpha"}});
  Answerer person(L"Alpha", L"OK");
  EXPECT_EQ(RunList(list, items, UpdateMode::kNormal), RunResult::kFailed);
  EXPECT_EQ(person.Text(), L"Une erreur s'est produite pendant la mise \u00e0 jour de Alpha.");
  EXPECT_TRUE(items.calls.empty());
}

TEST_F(Driver, AnUnreadableListIsRefusedAndDeleted) {
  FakeItems items;
  const std::wstring list = folder.File(L"list.xml");
  ASSERT_TRUE(WriteBytes(list, "<DiffLocalList><Package>"));  // cut short
  Answerer person(L"Ostrel Service", L"OK");
  EXPECT_EQ(RunList(list, items, UpdateMode::kNormal), RunResult::kFailed);
  EXPECT_EQ(person.Text(), L"Impossible de d\u00e9marrer directement ce logiciel.");
  EXPECT_FALSE(FileExists(list));
  EXPECT_TRUE(items.calls.empty());
}

TEST_F(Driver, ComponentPassesRunInOrderAndAnUpdateStopsAtAFailedDelete) {
  FakeItems items;
  items.componentResults[L"delete u2"] = ComponentResult::kFailed;
  items.componentResults[L"add u3"] = ComponentResult::kAddFailed;
  const std::wstring list = folder.File(L"actions.xml");
  ASSERT_TRUE(WriteBytes(list,
                         "<ActionList ParentAppName=\"Viewer\">"
                         "<Action ID=\"a1\" Action=\"ADD\" Path=\"C:\\src\\a1\"/>"
                         "<Action ID=\"a0\" Action=\"ADD\" Path=\"\"/>"
                         "<Action ID=\"u1\" Action=\"UPDATE\" Path=\"C:\\src\\u1\"/>"
                         "<Action ID=\"d1\" Action=\"DELETE\"/>"
                         "<Action ID=\"u2\" Action=\"UPDATE\" Path=\"C:\\src\\u2\"/>"
                         "<Action ID=\"u3\" Action=\"UPDATE\" Path=\"C:\\src\\u3\"/>"
                         "</ActionList>"));
  ServiceLogTail log;
  EXPECT_EQ(RunList(list, items, UpdateMode::kComponent), RunResult::kDone);  // the fake flows set no flag
  EXPECT_EQ(items.calls, (std::vector<std::wstring>{L"delete d1", L"delete u1", L"add u1", L"delete u2",
                                                    L"delete u3", L"add u3", L"add a1"}));
  EXPECT_EQ(log.Details(L"START_COMPONENT_INSTALLATION"),
            (std::vector<std::wstring>{L"-,d1,3", L"-,u1,4", L"-,u2,4", L"-,u3,4", L"-,a1,5"}));
  const auto thrown = log.Details(L"THROW_MSG");
  ASSERT_EQ(thrown.size(), 11u);
  EXPECT_EQ(thrown.back(), L"-");
  EXPECT_FALSE(FileExists(list));
}
