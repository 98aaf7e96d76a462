#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "logs/update_lists.h"
#include "support/scratch.h"

using namespace brindle;
using brindle::test::ScratchFolder;
using brindle::test::WriteBytes;

namespace {

std::wstring WriteList(const ScratchFolder& folder, const std::string& xml) {
  const std::wstring path = folder.File(L"list.xml");
  EXPECT_TRUE(WriteBytes(path, xml));
  return path;
}

std::string Entry(const std::string& orderAttribute, const std::string& name) {
  return "<Package" + orderAttribute + "><FileName>" + name + ".diff</FileName><AppName>" + name +
         "App</AppName><DisplayName>" + name + " Suite</DisplayName></Package>";
}

std::vector<std::wstring> FileNames(const std::vector<DiffLocalEntry>& entries) {
  std::vector<std::wstring> names;
  for (const auto& entry : entries) names.push_back(entry.FileName);
  return names;
}

}  // namespace

TEST(DiffLocalList, EntriesRunInAscendingOrderAndEqualOrdersKeepFileOrder) {
  ScratchFolder folder;
  const std::wstring path =
      WriteList(folder, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DiffLocalList>" +
                            Entry(" Order=\"10\"", "A") + Entry(" Order=\"2\"", "B") +
                            Entry(" Order=\"2\"", "C") + Entry(" Order=\"-1\"", "D") + "</DiffLocalList>");
  std::vector<DiffLocalEntry> entries;
  ASSERT_EQ(LoadDiffLocalList(path, entries), ListLoad::kLoaded);
  EXPECT_EQ(FileNames(entries), (std::vector<std::wstring>{L"D.diff", L"B.diff", L"C.diff", L"A.diff"}));
  EXPECT_EQ(entries[0].AppName, L"DApp");
  EXPECT_EQ(entries[0].DisplayName, L"D Suite");
  EXPECT_EQ(entries[3].order.value, 10);
}

TEST(DiffLocalList, OrderTextIsReadLikeTheCLibrary) {
  EXPECT_EQ(OrderFromText(L"3abc"), 3);
  EXPECT_EQ(OrderFromText(L"abc"), 0);
  EXPECT_EQ(OrderFromText(L""), 0);
  EXPECT_EQ(OrderFromText(L"  \t-42x"), -42);
  EXPECT_EQ(OrderFromText(L"+7"), 7);
  EXPECT_EQ(OrderFromText(L"- 7"), 0);
  EXPECT_EQ(OrderFromText(L"007"), 7);
  EXPECT_EQ(OrderFromText(L"99999999999999999999"), 2147483647);
  EXPECT_EQ(OrderFromText(L"-99999999999999999999"), -2147483647 - 1);

  ScratchFolder folder;
  const std::wstring path = WriteList(folder, "<DiffLocalList>" + Entry(" Order=\"3abc\"", "Three") +
                                                  Entry(" Order=\"abc\"", "Zero") + Entry("", "None") +
                                                  Entry(" Order=\"1\"", "One") + "</DiffLocalList>");
  std::vector<DiffLocalEntry> entries;
  ASSERT_EQ(LoadDiffLocalList(path, entries), ListLoad::kLoaded);
  EXPECT_EQ(FileNames(entries),
            (std::vector<std::wstring>{L"None.diff", L"Zero.diff", L"One.diff", L"Three.diff"}));
  EXPECT_EQ(entries[0].order.value, -1);
}

TEST(DiffLocalList, EntriesAreTolerantAndAppendedAfterExistingOnes) {
  ScratchFolder folder;
  const std::wstring path =
      WriteList(folder,
                "<DiffLocalList>text<!-- c --><Any Order=\"1\"><FileName>first</FileName><Extra/>"
                "<FileName>second</FileName></Any><Other Order=\"0\"/></DiffLocalList>");
  std::vector<DiffLocalEntry> entries(1);
  entries[0].FileName = L"kept";
  ASSERT_EQ(LoadDiffLocalList(path, entries), ListLoad::kLoaded);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].FileName, L"kept");
  EXPECT_EQ(entries[1].FileName, L"");  // the Order 0 entry without data
  EXPECT_EQ(entries[1].AppName, L"");
  EXPECT_EQ(entries[2].FileName, L"second");
}

TEST(DiffLocalList, UnreadableFilesAndOtherRootsAreRefused) {
  ScratchFolder folder;
  std::vector<DiffLocalEntry> entries;
  EXPECT_EQ(LoadDiffLocalList(folder.File(L"missing.xml"), entries), ListLoad::kUnreadable);
  EXPECT_EQ(LoadDiffLocalList(WriteList(folder, ""), entries), ListLoad::kUnreadable);
  EXPECT_EQ(LoadDiffLocalList(WriteList(folder, "<DiffLocalList><x></DiffLocalList>"), entries),
            ListLoad::kUnreadable);
  EXPECT_EQ(
      LoadDiffLocalList(WriteList(folder, "<DiffLocalList><x><![CDATA[1]]></x></DiffLocalList>"), entries),
      ListLoad::kUnreadable);
  EXPECT_EQ(
      LoadDiffLocalList(WriteList(folder, "<difflocallist>" + Entry("", "A") + "</difflocallist>"), entries),
      ListLoad::kWrongRoot);
  EXPECT_EQ(LoadDiffLocalList(WriteList(folder, "<ActionList/>"), entries), ListLoad::kWrongRoot);
  EXPECT_TRUE(entries.empty());
  EXPECT_EQ(LoadDiffLocalList(WriteList(folder, "<DiffLocalList/>"), entries), ListLoad::kLoaded);
  EXPECT_TRUE(entries.empty());
}

TEST(ActionList, ActionsAreSelectedByExactTypeAndPath) {
  ScratchFolder folder;
  const std::wstring path =
      WriteList(folder,
                "<ActionList ParentAppName=\"Parent\" ComponentType=\"Plugin\">"
                "<Action ID=\"c1\" Action=\"DELETE\"/>"
                "<Action ID=\"c2\" Action=\"UPDATE\" Path=\"\" Version=\"2.0\"/>"
                "<Action ID=\"c3\" Action=\"UPDATE\" Path=\"D:\\src\\c3\" Version=\"2.1\" Result=\"0\"/>"
                "<Action ID=\"c4\" Action=\"add\" Path=\"D:\\src\\c4\"/>"
                "<Action ID=\"c5\" Action=\"ADD\" Path=\"D:\\src\\c5\"/>"
                "<Action ID=\"c1\" Action=\"ADD\" Path=\"D:\\src\\c1b\"/>"
                "<Action Action=\"DELETE\" Path=\"no id\"/>"
                "<Action ID=\"c6\" Path=\"no action\"/>"
                "<Action ID=\"\" Action=\"DELETE\"/>"
                "<Action ID=\"c7\" Action=\"MOVE\" Path=\"x\"/>"
                "</ActionList>");
  CQXActionListXML list;
  ASSERT_EQ(LoadActionList(path, list), ListLoad::kLoaded);
  EXPECT_EQ(list.ParentAppName, L"Parent");
  EXPECT_EQ(list.ComponentType, L"Plugin");
  ASSERT_EQ(list.actions.size(), 7u);
  for (const auto& action : list.actions) EXPECT_EQ(action.size(), kActionFieldCount);
  EXPECT_EQ(list.actions[2][kActionVersion], L"2.1");
  EXPECT_EQ(list.actions[2][kActionResult], L"0");
  EXPECT_EQ(list.actions[0][kActionPath], L"");

  using Ids = std::vector<std::wstring>;
  EXPECT_EQ(ActionIds(list, L"DELETE"), (Ids{L"c1"}));
  EXPECT_EQ(ActionIds(list, L"UPDATE"), (Ids{L"c2", L"c3"}));
  EXPECT_EQ(ActionIdsWithPath(list, L"UPDATE"), (Ids{L"c3"}));
  EXPECT_EQ(ActionIdsWithPath(list, L"ADD"), (Ids{L"c5", L"c1"}));
  EXPECT_EQ(ActionIds(list, L"Add"), Ids{});
  EXPECT_EQ(ActionIds(list, L"MOVE"), (Ids{L"c7"}));
  EXPECT_EQ(ActionPath(list, L"c1"), L"");  // the first record with the ID
  EXPECT_EQ(ActionPath(list, L"c5"), L"D:\\src\\c5");
  EXPECT_EQ(ActionPath(list, L"C5"), L"");
  EXPECT_EQ(ActionPath(list, L"nothing"), L"");
}

TEST(ActionList, ARootWithoutActionsOrOfAnotherNameIsRefusedAndOldRecordsGo) {
  ScratchFolder folder;
  CQXActionListXML list;
  ASSERT_EQ(LoadActionList(
                WriteList(folder, "<ActionList><A ID=\"x\" Action=\"ADD\" Path=\"p\"/></ActionList>"), list),
            ListLoad::kLoaded);
  ASSERT_EQ(list.actions.size(), 1u);

  EXPECT_EQ(LoadActionList(WriteList(folder, "<ActionList ParentAppName=\"P\" ComponentType=\"T\"/>"), list),
            ListLoad::kUnreadable);
  EXPECT_TRUE(list.actions.empty());
  EXPECT_EQ(LoadActionList(WriteList(folder, "<ActionList>text only</ActionList>"), list),
            ListLoad::kUnreadable);
  EXPECT_EQ(
      LoadActionList(WriteList(folder, "<DiffLocalList><A ID=\"x\" Action=\"ADD\"/></DiffLocalList>"), list),
      ListLoad::kWrongRoot);
  EXPECT_EQ(LoadActionList(folder.File(L"missing.xml"), list), ListLoad::kUnreadable);
  EXPECT_EQ(LoadActionList(WriteList(folder, "<ActionList><A ID=\"x\""), list), ListLoad::kUnreadable);

  // Children without usable data do not fail the load.
  EXPECT_EQ(LoadActionList(WriteList(folder, "<ActionList><A/><B ID=\"only\"/></ActionList>"), list),
            ListLoad::kLoaded);
  EXPECT_TRUE(list.actions.empty());
}
