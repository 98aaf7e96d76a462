// The executor of a package's actions: it runs the package's list in its order, each action by
// the family of its step, with every step opened and closed (also an empty one, and one whose
// action threw); a failed action lets its step finish and then stops the section, an action
// that ends its step does not fail it; the progress counts the records of the record steps;
// an undo hands each journal record, last first, to the family that undoes its kind; the
// uninstall log's own steps change the log as their section says.
#include <gtest/gtest.h>

#include "apply/package_executor.h"
#include "apply/sub_updater.h"
#include "apply/uninstall_log_actions.h"
#include "package/diff_distribute.h"
#include "package/object_records.h"
#include "support/scratch.h"
#include "support/package_action_text.h"
#include "support/tree_picture.h"
#include "uninstlog/uninstall_log.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace brindle;
using brindle::test::DescribeAction;
using brindle::test::FileRecordXml;
using brindle::test::Parse;
using brindle::test::ShortcutRecordXml;
using brindle::test::ValueRecordXml;

namespace {

std::wstring PassName(PackagePass pass) { return std::to_wstring(static_cast<int>(pass)); }

// Writes down what the executor asks of it; its answers are set by the test.
class RecordingFamily : public CQXActionFamily {
 public:
  RecordingFamily(std::wstring name, std::vector<std::wstring>& calls)
      : name_(std::move(name)), calls_(calls) {}
  StepOutcome BeginStep(const PackageStep& step, const std::vector<PackageAction>& actions) override {
    calls_.push_back(name_ + L" begin " + PassName(step.pass) + L" " + std::to_wstring(actions.size()));
    return beginAnswer;
  }
  ActionOutcome Do(const PackageAction& action) override {
    calls_.push_back(name_ + L" do " + DescribeAction(action));
    return answer ? answer(action) : ActionOutcome::kDone;
  }
  StepOutcome EndStep(const PackageStep& step) override {
    calls_.push_back(name_ + L" end " + PassName(step.pass));
    return endAnswer;
  }

  std::function<ActionOutcome(const PackageAction&)> answer;
  StepOutcome beginAnswer = StepOutcome::kCompleted;
  StepOutcome endAnswer = StepOutcome::kCompleted;

 private:
  std::wstring name_;
  std::vector<std::wstring>& calls_;
};

struct Executor {
  std::vector<std::wstring> calls;
  RecordingFamily files{L"files", calls};
  RecordingFamily registry{L"registry", calls};
  RecordingFamily shortcuts{L"shortcuts", calls};
  RecordingFamily log{L"log", calls};
  int records = 0;
  CQXPackageExecutor executor{{&files, &registry, &shortcuts, &log}, [this] { ++records; }};

  // The Do calls only, without the family's name.
  std::vector<std::wstring> Done() const {
    std::vector<std::wstring> done;
    for (const std::wstring& call : calls) {
      const size_t at = call.find(L" do ");
      if (at != std::wstring::npos) done.push_back(call.substr(at + 4));
    }
    return done;
  }
};

std::unique_ptr<CQXDiffDistribute> Package() {
  static std::unique_ptr<CXMLDocument> document;
  document = Parse(L"<DiffDistribute><GeneralInfo><Version>2</Version></GeneralInfo><DeleteObjects>" +
                   FileRecordXml(L"d1") + FileRecordXml(L"dcom", L"", true) + ValueRecordXml(L"dv") +
                   ShortcutRecordXml(L"ds") + L"</DeleteObjects><UpdateObjects>" +
                   FileRecordXml(L"ucom", L"u", true) + ValueRecordXml(L"uv") + ShortcutRecordXml(L"us") +
                   L"</UpdateObjects><AddObjects>" + ShortcutRecordXml(L"as") + ValueRecordXml(L"av") +
                   ValueRecordXml(L"av2") + FileRecordXml(L"a1", L"a") + L"</AddObjects></DiffDistribute>");
  auto package = std::make_unique<CQXDiffDistribute>();
  if (package->FromXML(document->GetRoot()) != 0) return nullptr;
  return package;
}

std::vector<PackageAction> SectionOf(const std::vector<PackageAction>& plan, PackageSection section) {
  std::vector<PackageAction> slice;
  for (const PackageAction& action : plan)
    if (action.step.section == section) slice.push_back(action);
  return slice;
}

}  // namespace

TEST(PackageExecutor, RunsThePlannedListInItsOrderEachActionByTheFamilyOfItsStep) {
  const auto package = Package();
  ASSERT_TRUE(package);
  const std::vector<PackageAction> plan = PlanPackageActions(*package);
  Executor run;
  for (PackageSection section : PackageSections()) run.executor.RunSection(section, SectionOf(plan, section));

  std::vector<std::wstring> planned;
  for (const PackageAction& action : plan) planned.push_back(DescribeAction(action));
  EXPECT_EQ(run.Done(), planned);

  // Every step of every section is opened and closed by its family, also one without actions,
  // and its actions come between the two.
  size_t steps = 0;
  for (size_t i = 0; i < run.calls.size(); ++i) {
    const std::wstring& call = run.calls[i];
    const size_t begin = call.find(L" begin ");
    if (begin == std::wstring::npos) continue;
    ++steps;
    const std::wstring family = call.substr(0, begin);
    const std::wstring pass = call.substr(begin + 7, call.find(L' ', begin + 7) - (begin + 7));
    const size_t count = std::stoul(call.substr(call.rfind(L' ') + 1));
    ASSERT_LT(i + count + 1, run.calls.size());
    for (size_t k = 1; k <= count; ++k)
      EXPECT_EQ(run.calls[i + k].rfind(family + L" do ", 0), 0u) << run.calls[i + k];
    EXPECT_EQ(run.calls[i + count + 1], family + L" end " + pass);
  }
  EXPECT_EQ(steps, PackageSteps().size());
  EXPECT_NE(std::find(run.calls.begin(), run.calls.end(), L"registry do DELETE_REG dv"), run.calls.end());
  EXPECT_NE(std::find(run.calls.begin(), run.calls.end(), L"shortcuts do ADD_SHORTCUT as"), run.calls.end());
  EXPECT_NE(std::find(run.calls.begin(), run.calls.end(), L"files do UNREGISTER_COM ucom"), run.calls.end());
  EXPECT_NE(std::find(run.calls.begin(), run.calls.end(), L"log do (log)"), run.calls.end());

  // One progress step per record of the file, registry and shortcut steps; the COM and
  // uninstall-log steps are not records: 4 in the delete group, 2 x 3 in the update group, 4 added.
  EXPECT_EQ(run.records, 4 + 6 + 4);
}

TEST(PackageExecutor, AFailedActionLetsItsStepFinishThenNoFurtherStepRuns) {
  const auto package = Package();
  ASSERT_TRUE(package);
  const std::vector<PackageAction> add = SectionOf(PlanPackageActions(*package), PackageSection::kAdd);
  Executor run;
  run.registry.answer = [](const PackageAction& action) {
    return action.registry->valueName == L"av" ? ActionOutcome::kFailed : ActionOutcome::kDone;
  };
  EXPECT_THROW(run.executor.RunSection(PackageSection::kAdd, add), CUpdaterException);
  // The value after the failed one is still written and the step closed; the shortcut step
  // that follows never begins.
  EXPECT_EQ(run.Done(), (std::vector<std::wstring>{L"ADD_FILE a1", L"ADD_REG av", L"ADD_REG av2"}));
  EXPECT_EQ(run.calls.back(), L"registry end " + PassName(PackagePass::kWriteRegistry));

  // Records that are missing, not applied or not for this machine fail nothing.
  for (ActionOutcome outcome :
       {ActionOutcome::kMissingRecord, ActionOutcome::kNotApplied, ActionOutcome::kSkipped}) {
    Executor calm;
    calm.registry.answer = [outcome](const PackageAction&) { return outcome; };
    EXPECT_NO_THROW(calm.executor.RunSection(PackageSection::kAdd, add));
    EXPECT_EQ(calm.Done().size(), add.size());
  }
}

TEST(PackageExecutor, AnActionThatStopsItsPassSkipsTheRestOfItButNotTheNextStep) {
  const auto package = Package();
  ASSERT_TRUE(package);
  const std::vector<PackageAction> add = SectionOf(PlanPackageActions(*package), PackageSection::kAdd);
  Executor run;
  run.registry.answer = [](const PackageAction&) { return ActionOutcome::kStopPass; };
  EXPECT_NO_THROW(run.executor.RunSection(PackageSection::kAdd, add));
  EXPECT_EQ(run.Done(),
            (std::vector<std::wstring>{L"ADD_FILE a1", L"ADD_REG av", L"ADD_SHORTCUT as", L"(log)"}));
  // Only the records handled count for the progress.
  EXPECT_EQ(run.records, 3);

  // An action that fails the package (a redirection that cannot be switched) also skips the
  // rest of its step, which is still closed, and no later step runs.
  Executor failing;
  failing.registry.answer = [](const PackageAction&) { return ActionOutcome::kFailPackage; };
  EXPECT_THROW(failing.executor.RunSection(PackageSection::kAdd, add), CUpdaterException);
  EXPECT_EQ(failing.Done(), (std::vector<std::wstring>{L"ADD_FILE a1", L"ADD_REG av"}));
  EXPECT_EQ(failing.calls.back(), L"registry end " + PassName(PackagePass::kWriteRegistry));

  // A step can also fail as a whole when it closes.
  Executor closing;
  closing.shortcuts.endAnswer = StepOutcome::kFailed;
  EXPECT_THROW(closing.executor.RunSection(PackageSection::kAdd, add), CUpdaterException);
  EXPECT_EQ(closing.calls.back(), L"shortcuts end " + PassName(PackagePass::kCreateShortcuts));

  // Or when it begins (its undo records cannot be written): none of its actions is done, it is
  // closed all the same, and no later step runs.
  Executor undeclared;
  undeclared.registry.beginAnswer = StepOutcome::kFailed;
  EXPECT_THROW(undeclared.executor.RunSection(PackageSection::kAdd, add), CUpdaterException);
  EXPECT_EQ(undeclared.Done(), (std::vector<std::wstring>{L"ADD_FILE a1"}));
  EXPECT_EQ(undeclared.calls.back(), L"registry end " + PassName(PackagePass::kWriteRegistry));
}

TEST(PackageExecutor, AStepWhoseActionThrowsIsStillClosedAndTheErrorLeavesTheSection) {
  const auto package = Package();
  ASSERT_TRUE(package);
  const std::vector<PackageAction> add = SectionOf(PlanPackageActions(*package), PackageSection::kAdd);
  Executor run;
  run.files.answer = [](const PackageAction&) -> ActionOutcome { throw CUpdaterException("copy"); };
  EXPECT_THROW(run.executor.RunSection(PackageSection::kAdd, add), CUpdaterException);
  EXPECT_EQ(run.calls, (std::vector<std::wstring>{L"files begin " + PassName(PackagePass::kCopyFiles) + L" 1",
                                                  L"files do ADD_FILE a1",
                                                  L"files end " + PassName(PackagePass::kCopyFiles)}));
}

namespace {

class KindsUndo : public CQXUndoFamily {
 public:
  KindsUndo(std::vector<UndoKind> kinds, std::vector<std::wstring>& undone, unsigned long code = 0)
      : kinds_(std::move(kinds)), undone_(undone), code_(code) {}
  bool Undoes(UndoKind kind) const override {
    return std::find(kinds_.begin(), kinds_.end(), kind) != kinds_.end();
  }
  unsigned long Undo(const UndoRecord& record) override {
    undone_.push_back(record.path);
    return code_;
  }

 private:
  std::vector<UndoKind> kinds_;
  std::vector<std::wstring>& undone_;
  unsigned long code_;
};

UndoRecord Record(UndoKind kind, const std::wstring& path) {
  UndoRecord record;
  record.kind = kind;
  record.path = path;
  return record;
}

}  // namespace

TEST(PackageExecutor, AnUndoHandsEachRecordLastFirstToTheFamilyThatWroteIt) {
  const std::vector<UndoRecord> records = {
      Record(UndoKind::PackageBegun, L"App"), Record(UndoKind::FileMovedAside, L"f1"),
      Record(UndoKind::RegistryValue, L"v1"), Record(UndoKind::FileCreated, L"f2"),
      Record(UndoKind::RegistryKeyCreated, L"k1")};
  std::vector<std::wstring> files, registry;
  KindsUndo fileFamily({UndoKind::FileMovedAside, UndoKind::FileCreated}, files);
  KindsUndo registryFamily({UndoKind::RegistryValue, UndoKind::RegistryKeyCreated}, registry);
  EXPECT_TRUE(UndoByFamilies(records, {&fileFamily, &registryFamily}));
  EXPECT_EQ(files, (std::vector<std::wstring>{L"f2", L"f1"}));
  EXPECT_EQ(registry, (std::vector<std::wstring>{L"k1", L"v1"}));

  // A record that no family takes back, or a family that fails, makes the undo fail; every
  // other record is still taken back.
  files.clear();
  registry.clear();
  EXPECT_FALSE(UndoByFamilies(records, {&fileFamily}));
  EXPECT_EQ(files, (std::vector<std::wstring>{L"f2", L"f1"}));
  std::vector<std::wstring> failing;
  KindsUndo brokenRegistry({UndoKind::RegistryValue, UndoKind::RegistryKeyCreated}, failing, 5);
  files.clear();
  EXPECT_FALSE(UndoByFamilies(records, {&fileFamily, &brokenRegistry}));
  EXPECT_EQ(failing, (std::vector<std::wstring>{L"k1", L"v1"}));
  EXPECT_EQ(files, (std::vector<std::wstring>{L"f2", L"f1"}));
}

// ---- the uninstall log's own steps ----------------------------------------------------------------

using brindle::test::ReadBytes;
using brindle::test::ScratchFolder;
using brindle::test::WriteBytes;

TEST(PackageExecutor, TheUninstallLogStepsRemoveAndAddTargetsAndWriteTheLibraryOfTheirSections) {
  ScratchFolder scratch;
  const std::wstring path = scratch.File(L"Uninst.log");
  ASSERT_TRUE(
      WriteBytes(path,
                 "[Language]\r\nLang=\"French\"\r\n[Startup]\r\nAppName=\"Example\"\r\nVersion=\"1.0\"\r\n"
                 "[Uninst Info]\r\nTitle=\"Example\"\r\n[UninstTarget]\r\nUNInfo=\"old\"\r\n"
                 "[UninstallCustomFunction]\r\nDLLPath=\"C:\\\\App\\\\old.dll\"\r\nOwnerName=\"Tamek\"\r\n"
                 "Version=\"1.0\"\r\n"));
  CQXUninstallLog log(L"Example", nullptr, nullptr, L"2.0");
  ASSERT_TRUE(log.Load(path));

  CQXDeleteObjects deletions;
  deletions.uninstTarget.targets = {L"old"};
  CQXUpdateObjects updates;
  updates.uninstallCustomFunction.fullPath.path = L"$InsFolder$\\new.dll";
  updates.uninstallCustomFunction.version.text = L"2.5";
  updates.uninstallCustomFunction.absent = false;
  CQXAddObjects additions;
  additions.uninstTarget.targets = {L"new"};

  Executor run;
  CUninstallLogActions logSteps(&log);
  CQXPackageExecutor executor({&run.files, &run.registry, &run.shortcuts, &logSteps}, {});
  executor.RunSection(PackageSection::kDelete, PlanSectionActions(PackageSection::kDelete, deletions,
                                                                  &deletions.uninstTarget, nullptr));
  executor.RunSection(PackageSection::kUpdate, PlanSectionActions(PackageSection::kUpdate, updates, nullptr,
                                                                  &updates.uninstallCustomFunction));
  executor.RunSection(PackageSection::kAdd,
                      PlanSectionActions(PackageSection::kAdd, additions, &additions.uninstTarget, nullptr));
  ASSERT_TRUE(log.Save(path));
  std::string saved;
  ASSERT_TRUE(ReadBytes(path, saved));
  EXPECT_EQ(saved.find("UNInfo=\"old\""), std::string::npos) << saved;
  EXPECT_NE(saved.find("[UninstTarget]\r\nUNInfo=\"new\"\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("DLLPath=\"$InsFolder$\\\\new.dll\""), std::string::npos) << saved;
  EXPECT_NE(saved.find("Version=\"2.5\""), std::string::npos) << saved;

  // A section without targets or without a library record, or no log yet, changes nothing.
  CQXAddObjects none;
  CUninstallLogActions noLog(nullptr);
  PackageAction targets;
  targets.step = {PackageSection::kAdd, PackagePass::kUninstallTargets, nullptr};
  targets.uninstallTargets = &additions.uninstTarget;
  EXPECT_EQ(noLog.Do(targets), ActionOutcome::kSkipped);
  targets.uninstallTargets = &none.uninstTarget;
  EXPECT_EQ(logSteps.Do(targets), ActionOutcome::kSkipped);
  PackageAction library;
  library.step = {PackageSection::kUpdate, PackagePass::kUninstallCustomFunction, nullptr};
  CQXUninstallCustomFunction absent;
  library.customFunction = &absent;
  EXPECT_EQ(logSteps.Do(library), ActionOutcome::kSkipped);
}
