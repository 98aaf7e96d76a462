// The registry passes driven directly, step by step, on scratch keys of both registry views: the
// keys a step keeps open never outlive a key's removal or the step, never stand for the other
// view, and a key another program removed and made again meanwhile gets the value in its live
// form; the undo journal keeps a value's old data whole whatever its size.
#include <gtest/gtest.h>

#include "apply/package_context.h"
#include "apply/package_journal_win.h"
#include "apply/registry_actions_win.h"
#include "apply/sub_updater.h"
#include "package/object_records.h"
#include "support/service_log_reader.h"
#include "sys/win_handles.h"
#include "sys/wow64_redirection.h"

#include <windows.h>

#include <cwctype>
#include <map>
#include <memory>

using namespace brindle;
using namespace brindle::test;

namespace {

const PackageStep kDeleteStep{PackageSection::kDelete, PackagePass::kDeleteRegistry, L"DELETE_REG"};
const PackageStep kUpdateDeleteStep{PackageSection::kUpdate, PackagePass::kDeleteRegistry,
                                    L"UPDATE_REG_DELETE"};
const PackageStep kUpdateWriteStep{PackageSection::kUpdate, PackagePass::kWriteRegistry, L"UPDATE_REG_ADD"};
const PackageStep kAddStep{PackageSection::kAdd, PackagePass::kWriteRegistry, L"ADD_REG"};

REGSAM ViewFlag(int wow) { return wow == kWow64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }

// Raw bytes and type of a value in a view; false when it (or its key) is missing.
bool ReadValue(const std::wstring& key, const std::wstring& name, int wow, std::string& data, DWORD& type) {
  UniqueRegKey open;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | ViewFlag(wow), open.Receive()) !=
      ERROR_SUCCESS)
    return false;
  DWORD bytes = 0;
  if (RegQueryValueExW(open.Get(), name.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS)
    return false;
  data.assign(bytes, '\0');
  return RegQueryValueExW(open.Get(), name.c_str(), nullptr, &type,
                          bytes ? reinterpret_cast<BYTE*>(&data[0]) : nullptr, &bytes) == ERROR_SUCCESS;
}

std::wstring StringValue(const std::wstring& key, const std::wstring& name, int wow) {
  std::string data;
  DWORD type = 0;
  if (!ReadValue(key, name, wow, data, type) || type != REG_SZ) return L"<none>";
  std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

bool KeyExists(const std::wstring& key, int wow) {
  UniqueRegKey open;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | ViewFlag(wow), open.Receive()) ==
         ERROR_SUCCESS;
}

void SetRaw(const std::wstring& key, const std::wstring& name, DWORD type, const std::string& data, int wow) {
  UniqueRegKey open;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | ViewFlag(wow),
                            nullptr, open.Receive(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(open.Get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                           static_cast<DWORD>(data.size())),
            ERROR_SUCCESS);
}

// Removes the key with everything below it, in one view.
void RemoveTree(const std::wstring& key, int wow) {
  const size_t slash = key.find_last_of(L'\\');
  UniqueRegKey parent;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.substr(0, slash).c_str(), 0, KEY_ALL_ACCESS | ViewFlag(wow),
                    parent.Receive()) == ERROR_SUCCESS)
    RegDeleteTreeW(parent.Get(), key.substr(slash + 1).c_str());
}

std::unique_ptr<CQXRegistry> Value(const std::wstring& key, const std::wstring& name,
                                   const std::wstring& data, int wow = kWow32) {
  auto record = std::make_unique<CQXRegistry>();
  record->wow.wow = wow;
  record->keyPath.root = kRegRootLocalMachine;
  record->keyPath.path = key;
  record->valueName = name;
  record->data.type = kRegString;
  record->data.data = data;
  return record;
}

// Scratch keys below HKLM\SOFTWARE in both views (two distinct keys under a 64-bit Windows),
// and the registry family driven as the executor drives it.
class RegistryPasses : public ::testing::Test {
 protected:
  RegistryPasses()
      : base_(L"SOFTWARE\\BrindleRegPass" + std::to_wstring(GetCurrentProcessId())), actions_(context_) {}
  // Every package's actions run with its journal.
  void SetUp() override {
    Clean();
    StartJournal();
  }
  void TearDown() override {
    if (journal_) journal_->Commit();
    Clean();
  }
  void Clean() {
    RemoveTree(base_, kWow32);
    RemoveTree(base_, kWow64);
  }
  void StartJournal() {
    journal_ = CPackageJournal::Begin(L"RegistryPasses", L"registry.cab");
    ASSERT_TRUE(journal_);
    context_.journal = journal_.get();
  }
  // Runs the records as one step; the outcome of each.
  std::vector<ActionOutcome> Step(const PackageStep& step, const std::vector<const CQXRegistry*>& records) {
    const std::vector<PackageAction> actions = Actions(step, records);
    EXPECT_EQ(actions_.BeginStep(step, actions), StepOutcome::kCompleted);
    std::vector<ActionOutcome> outcomes;
    for (const PackageAction& action : actions) outcomes.push_back(actions_.Do(action));
    actions_.EndStep(step);
    return outcomes;
  }
  // Each record's first action; the test may change the machine between them.
  void Begin(const PackageStep& step, const std::vector<const CQXRegistry*>& records) {
    stepActions_ = Actions(step, records);
    EXPECT_EQ(actions_.BeginStep(step, stepActions_), StepOutcome::kCompleted);
  }
  static std::vector<PackageAction> Actions(const PackageStep& step,
                                            const std::vector<const CQXRegistry*>& records) {
    std::vector<PackageAction> actions;
    for (const CQXRegistry* record : records) {
      PackageAction action;
      action.step = step;
      action.registry = record;
      actions.push_back(action);
    }
    return actions;
  }
  ActionOutcome Do(size_t index) { return actions_.Do(stepActions_[index]); }

  const std::wstring base_;
  PackageContext context_;
  CRegistryActions actions_;
  std::unique_ptr<CPackageJournal> journal_;
  std::vector<PackageAction> stepActions_;
};

const std::vector<ActionOutcome> kAllDone2{ActionOutcome::kDone, ActionOutcome::kDone};

}  // namespace

TEST_F(RegistryPasses, AValueWrittenAfterAnotherProgramRemovedAndRemadeItsKeyLandsInTheLiveKey) {
  const std::wstring key = base_ + L"\\Live";
  auto first = Value(key, L"First", L"1"), second = Value(key, L"Second", L"2");
  ServiceLogTail lines;
  Begin(kUpdateWriteStep, {first.get(), second.get()});
  ASSERT_EQ(Do(0), ActionOutcome::kDone);
  // Another program removes the key and makes it again between two values of the step.
  RemoveTree(key, kWow32);
  SetRaw(key, L"Theirs", REG_SZ, std::string("t\0\0\0", 4), kWow32);
  EXPECT_EQ(Do(1), ActionOutcome::kDone);
  actions_.EndStep(kUpdateWriteStep);
  EXPECT_EQ(StringValue(key, L"Second", kWow32), L"2");
  EXPECT_EQ(StringValue(key, L"Theirs", kWow32), L"t");
  EXPECT_EQ(lines.Details(L"UPDATE_REG_ADD"),
            (std::vector<std::wstring>{L"-," + key + L",success,0", L"-," + key + L",success,0"}));
}

TEST_F(RegistryPasses, AKeyTheDeletePassRemovesIsLookedAtAgainByTheStepAndMadeAgainByTheNextWrite) {
  const std::wstring key = base_ + L"\\Emptied";
  SetRaw(key, L"Only", REG_SZ, std::string("o\0\0\0", 4), kWow32);
  auto only = Value(key, L"Only", L""), after = Value(key, L"After", L""), added = Value(key, L"Added", L"a");
  ServiceLogTail lines;
  // The first deletion empties the key, which goes; the second finds no key.
  EXPECT_EQ(Step(kDeleteStep, {only.get(), after.get()}), kAllDone2);
  EXPECT_FALSE(KeyExists(key, kWow32));
  EXPECT_EQ(lines.Details(L"DELETE_REG"), (std::vector<std::wstring>{L"-," + key + L",success,0"}));
  EXPECT_EQ(lines.Details(L"UPDATE_REG_DELETE"), (std::vector<std::wstring>{L"-," + key + L",error,2"}));
  // The next step's write makes the key again and its value is in it.
  EXPECT_EQ(Step(kAddStep, {added.get()}), std::vector<ActionOutcome>{ActionOutcome::kDone});
  EXPECT_EQ(StringValue(key, L"Added", kWow32), L"a");
  // Deleted again in a later step, through a key opened afresh.
  EXPECT_EQ(Step(kUpdateDeleteStep, {added.get()}), std::vector<ActionOutcome>{ActionOutcome::kDone});
  EXPECT_EQ(StringValue(key, L"Added", kWow32), L"<none>");
  // The undo takes the three steps back: the key is there again with its one old value.
  EXPECT_TRUE(journal_->Undo());
  journal_.reset();
  EXPECT_EQ(StringValue(key, L"Only", kWow32), L"o");
  std::string data;
  DWORD type = 0;
  EXPECT_FALSE(ReadValue(key, L"Added", kWow32, data, type));
}

TEST_F(RegistryPasses, TheTwoViewsOfOnePathKeepTheirOwnKeysAndLetterCaseNamesOneKey) {
  if (!IsWow64Windows())
    GTEST_SKIP() << "a 32-bit Windows has one view, and 64-bit records are skipped there";
  const std::wstring key = base_ + L"\\Views";
  std::wstring upper = key;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
  auto in32 = Value(key, L"V", L"thirty-two", kWow32), in64 = Value(key, L"V", L"sixty-four", kWow64);
  auto again32 = Value(upper, L"W", L"w32", kWow32), again64 = Value(upper, L"W", L"w64", kWow64);
  EXPECT_EQ(Step(kAddStep, {in32.get(), in64.get(), again32.get(), again64.get()}),
            (std::vector<ActionOutcome>(4, ActionOutcome::kDone)));
  EXPECT_EQ(StringValue(key, L"V", kWow32), L"thirty-two");
  EXPECT_EQ(StringValue(key, L"V", kWow64), L"sixty-four");
  EXPECT_EQ(StringValue(key, L"W", kWow32), L"w32");
  EXPECT_EQ(StringValue(key, L"W", kWow64), L"w64");
  // And the delete pass takes each view's value from its own view only.
  EXPECT_EQ(Step(kUpdateDeleteStep, {in64.get()}), std::vector<ActionOutcome>{ActionOutcome::kDone});
  EXPECT_EQ(StringValue(key, L"V", kWow64), L"<none>");
  EXPECT_EQ(StringValue(key, L"V", kWow32), L"thirty-two");
}

TEST_F(RegistryPasses, TheUndoGivesBackOldDataOfEverySizeWholeAndRemovesTheKeysTheWritesMade) {
  const std::wstring key = base_ + L"\\Old";
  const std::wstring made = base_ + L"\\Made\\Deeper";
  // Old data around the size of the journal's first read, and well beyond it.
  std::map<std::wstring, std::string> old;
  for (size_t size : {0u, 1u, 2047u, 2048u, 2049u, 70000u}) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7 + size) & 0xFF);
    old[L"B" + std::to_wstring(size)] = data;
    SetRaw(key, L"B" + std::to_wstring(size), REG_BINARY, data, kWow32);
  }
  SetRaw(key, L"Gone", REG_EXPAND_SZ, std::string("%\0x\0%\0\0\0", 8), kWow32);
  std::vector<std::unique_ptr<CQXRegistry>> records;
  for (const auto& value : old) records.push_back(Value(key, value.first, L"new"));
  records.push_back(Value(made, L"New", L"n"));
  records.push_back(Value(made, L"Other", L"o"));
  std::vector<const CQXRegistry*> writes;
  for (const auto& record : records) writes.push_back(record.get());
  auto gone = Value(key, L"Gone", L"");
  EXPECT_EQ(Step(kUpdateDeleteStep, {gone.get()}), std::vector<ActionOutcome>{ActionOutcome::kDone});
  EXPECT_EQ(Step(kUpdateWriteStep, writes), std::vector<ActionOutcome>(writes.size(), ActionOutcome::kDone));
  EXPECT_EQ(StringValue(key, L"B70000", kWow32), L"new");
  EXPECT_EQ(StringValue(made, L"Other", kWow32), L"o");

  EXPECT_TRUE(journal_->Undo());
  journal_.reset();
  for (const auto& value : old) {
    std::string data;
    DWORD type = 0;
    ASSERT_TRUE(ReadValue(key, value.first, kWow32, data, type)) << value.first;
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY)) << value.first;
    EXPECT_TRUE(data == value.second) << value.first << ": " << data.size() << " bytes back";
  }
  std::string data;
  DWORD type = 0;
  ASSERT_TRUE(ReadValue(key, L"Gone", kWow32, data, type));
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_TRUE(data == std::string("%\0x\0%\0\0\0", 8));
  EXPECT_FALSE(KeyExists(base_ + L"\\Made", kWow32));
}
