#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "package/diff_distribute.h"
#include "support/scratch.h"
#include "sys/text.h"
#include "support/tree_picture.h"
#include "xml/xml_parser.h"

using namespace brindle;
using brindle::test::Parse;
using brindle::test::Picture;
using brindle::test::ScratchFolder;
using brindle::test::WriteBytes;

namespace {

// Every element and attribute a package description can hold; each list is already in the
// order in which sections are written, so that writing and reading again gives an equal model.
const char kFullPackage[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- made by the packaging tool -->
<DiffDistribute Tool="ignored">
  <GeneralInfo>
    <Version>2.5.0.1</Version>
    <CheckAppName>Ostrel.exe</CheckAppName>
    <CheckAppName>OstrelHelper.exe</CheckAppName>
    <CheckAppName/>
    <Unknown>skipped</Unknown>
  </GeneralInfo>
  <DeleteObjects>
    <File COM="INST_REG" DelInfo="INST_REF" WOW="INST_64BIT">
      <FullPath>$ProgFolder$\old\a.ocx</FullPath>
    </File>
    <File COM="INST_NOREG" DelInfo="INST_HLD" WOW="INST_32BIT">
      <FullPath>$ProgFolder$\OLD\b.dll</FullPath>
      <FileName Type="AfterUpdate">b.dll</FileName>
    </File>
    <Registry WOW="INST_64BIT">
      <RegKeyPath RegRoot="REG_HLM">Software\Tamek\Old</RegKeyPath>
      <RegValueName>Gone</RegValueName>
      <RegData Type="REG_SZ"/>
    </Registry>
    <ShortCut>
      <SCName Type="INST_DSC">Old Ostrel</SCName>
      <FullPath Type="SCTarget">$ProgFolder$\old.exe</FullPath>
      <CLParameter/>
      <FullPath Type="WorkFolder">$ProgFolder$</FullPath>
      <WindowSize Type="INST_NML"/>
      <Text/>
    </ShortCut>
    <UninstTarget><UNInfo>C:\A\uninst.ini</UNInfo><Other/></UninstTarget>
  </DeleteObjects>
  <AddObjects>
    <File COM="INST_REG" DelInfo="INST_DEL" WOW="INST_32BIT">
      <FullPath>$CommonFolder$\Tamek\shared.dll</FullPath>
      <FileName Type="BeforeUpdate">shared.dll</FileName>
    </File>
    <Registry WOW="INST_32BIT">
      <RegKeyPath RegRoot="REG_HCR">CLSID\{0001}</RegKeyPath>
      <RegValueName/>
      <RegData Type="REG_EXPAND_SZ">%SystemRoot%\x.dll</RegData>
    </Registry>
    <Registry WOW="INST_64BIT">
      <RegKeyPath RegRoot="REG_HCU">Software\Tamek\Ostrel</RegKeyPath>
      <RegValueName>Count</RegValueName>
      <RegData Type="REG_DW">42</RegData>
    </Registry>
    <Registry WOW="INST_32BIT">
      <RegKeyPath RegRoot="REG_HLM">Software\Tamek\Ostrel</RegKeyPath>
      <RegValueName>Data</RegValueName>
      <RegData Type="REG_BINARY">0a0b</RegData>
    </Registry>
    <Registry WOW="INST_32BIT">
      <RegKeyPath RegRoot="REG_HLM">software\tamek\ostrel</RegKeyPath>
      <RegValueName>list</RegValueName>
      <RegData Type="REG_MULTI_SZ">a|b</RegData>
    </Registry>
    <Registry WOW="INST_32BIT">
      <RegKeyPath RegRoot="REG_HLM">Software\Tamek\Ostrel\Q</RegKeyPath>
      <RegValueName>Big</RegValueName>
      <RegData Type="REG_QWORD">1234567890123</RegData>
    </Registry>
    <Registry WOW="INST_32BIT">
      <RegKeyPath RegRoot="REG_HLM">Software\Tamek\Ostrel\Z</RegKeyPath>
      <RegValueName>Nothing</RegValueName>
      <RegData Type="REG_NONE"/>
    </Registry>
    <ShortCut>
      <SCName Type="INST_GSC">Ostrel</SCName>
      <FullPath Type="SCTarget">$ProgFolder$\Ostrel.exe</FullPath>
      <CLParameter>/start "x &amp; y"</CLParameter>
      <FullPath Type="WorkFolder">$ProgFolder$\work</FullPath>
      <WindowSize Type="INST_MIN"/>
      <Text>Ostrel &lt;2&gt;</Text>
    </ShortCut>
    <RecordAliasHandle>
      <KVTAppName>OstrelAlias</KVTAppName>
      <FullPath Type="WorkFolder">$ProgFolder$\alias</FullPath>
    </RecordAliasHandle>
    <Dock>Ostrel.app</Dock>
    <Dock/>
    <LSRegisterApp>Ostrel LS</LSRegisterApp>
    <ImageCapture>Capture.app</ImageCapture>
    <UninstTarget><UNInfo>C:\B\uninst.ini</UNInfo><UNInfo>C:\C\uninst.ini</UNInfo></UninstTarget>
  </AddObjects>
  <UpdateObjects>
    <File COM="INST_NOREG" DelInfo="INST_DEL" WOW="INST_64BIT">
      <FullPath>$ProgFolder$\Ostrel.exe</FullPath>
    </File>
    <Registry WOW="INST_32BIT">
      <RegKeyPath RegRoot="REG_HLM">Software\Tamek\Ostrel</RegKeyPath>
      <RegValueName>Version</RegValueName>
      <RegData Type="REG_SZ">2.5.0.1</RegData>
    </Registry>
    <ShortCut>
      <SCName Type="INST_DSC">Ostrel Help</SCName>
      <FullPath Type="SCTarget">$ProgFolder$\help.chm</FullPath>
      <CLParameter/>
      <FullPath Type="WorkFolder"/>
      <WindowSize Type="INST_MAX"/>
      <Text>Help</Text>
    </ShortCut>
    <RecordAliasHandle>
      <KVTAppName>Second</KVTAppName>
      <FullPath>C:/forward/slash</FullPath>
    </RecordAliasHandle>
    <Signature>SIG-0042</Signature>
    <DisplayName>Ostrel Suite 2.5</DisplayName>
    <UninstallCustomFunction>
      <Uninstall_Abort Flag="1"/>
      <Uninstall_AfterUninstall Flag="0"/>
      <Uninstall_BeforeUninstall Flag="1"/>
      <Uninstall_CheckRunning Flag="true"/>
      <Uninstall_CheckCondition Flag="1"/>
      <Uninstall_End Flag="1"/>
      <Uninstall_StartUp/>
      <FullPath Type="SCTarget">$ProgFolder$\uninst_hooks.dll</FullPath>
      <Version>1.0.3</Version>
    </UninstallCustomFunction>
  </UpdateObjects>
  <CustomFunction>
    <FileName Type="BeforeUpdate">hooks_before.dll</FileName>
    <FileName Type="AfterUpdate">hooks_after.dll</FileName>
  </CustomFunction>
</DiffDistribute>
)";

std::wostream& operator<<(std::wostream& out, const FullPathValue& value) {
  return out << L"(" << value.type << L"," << value.path << L")";
}

void DescribeBase(std::wostream& out, const CQXBaseObjects& section) {
  for (const auto& file : section.files) {
    out << L" file " << file->com << L"," << file->delInfo << L"," << file->wow.wow;
    if (file->fullPath) out << L" path" << *file->fullPath;
    if (file->fileName) out << L" name(" << file->fileName->type << L"," << file->fileName->name << L")";
    out << L"\n";
  }
  for (const auto& registry : section.registries) {
    out << L" registry " << registry->wow.wow << L" " << registry->keyPath.root << L":"
        << registry->keyPath.path << L" [" << registry->valueName << L"] " << registry->data.type << L"="
        << registry->data.data << L"\n";
  }
  for (const auto& shortCut : section.shortCuts) {
    out << L" shortcut " << shortCut->name.type << L":" << shortCut->name.name << L" " << shortCut->target
        << L" [" << shortCut->parameters << L"] " << shortCut->workFolder << L" " << shortCut->windowSize.type
        << L" [" << shortCut->text << L"]\n";
  }
}

void DescribeAliases(std::wostream& out, const std::vector<CQXRecordAliasHandle>& handles) {
  for (const auto& handle : handles) out << L" alias " << handle.appName << L" " << handle.fullPath << L"\n";
}

void DescribeList(std::wostream& out, const wchar_t* label, const std::vector<std::wstring>& list) {
  out << L" " << label << L":";
  for (const auto& item : list) out << L" [" << item << L"]";
  out << L"\n";
}

// Every field of the model, one line per record.
std::wstring Describe(const CQXDiffDistribute& model) {
  std::wostringstream out;
  out << L"version [" << model.generalInfo->version.text << L"]\n";
  DescribeList(out, L"check", model.generalInfo->checkAppNames);
  out << L"delete\n";
  DescribeBase(out, *model.deleteObjects);
  DescribeList(out, L"targets", model.deleteObjects->uninstTarget.targets);
  out << L"add\n";
  DescribeBase(out, *model.addObjects);
  DescribeAliases(out, model.addObjects->recordAliasHandles);
  DescribeList(out, L"docks", model.addObjects->docks);
  DescribeList(out, L"ls", model.addObjects->lsRegisterApps);
  DescribeList(out, L"captures", model.addObjects->imageCaptures);
  DescribeList(out, L"targets", model.addObjects->uninstTarget.targets);
  out << L"update\n";
  const CQXUpdateObjects& update = *model.updateObjects;
  DescribeBase(out, update);
  DescribeAliases(out, update.recordAliasHandles);
  out << L" signature [" << update.signature << L"] display [" << update.displayName.name << L"]\n";
  const CQXUninstallCustomFunction& hooks = update.uninstallCustomFunction;
  out << L" hooks absent=" << hooks.absent << L" " << hooks.fullPath << L" v" << hooks.version.text << L" ";
  for (const wchar_t* name : kUninstallHookNames) out << hooks.HookNamed(name)->flag;
  out << L"\ncustom after(" << model.customFunction->afterUpdate.type << L","
      << model.customFunction->afterUpdate.name << L") before(" << model.customFunction->beforeUpdate.type
      << L"," << model.customFunction->beforeUpdate.name << L")\n";
  return out.str();
}

std::unique_ptr<CQXDiffDistribute> LoadText(const ScratchFolder& folder, const std::string& xml) {
  const std::wstring path = folder.File(L"diff.xml");
  EXPECT_TRUE(WriteBytes(path, xml));
  return LoadDiffDistribute(path);
}

std::unique_ptr<CQXDiffDistribute> ModelOf(const std::wstring& xml) {
  auto document = Parse(xml);
  auto model = std::make_unique<CQXDiffDistribute>();
  EXPECT_EQ(model->FromXML(document->GetRoot()), 0);
  return model;
}

}  // namespace

TEST(DiffDistribute, EveryElementOfAFullPackageIsRead) {
  ScratchFolder folder;
  auto model = LoadText(folder, kFullPackage);
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(
      Describe(*model),
      L"version [2.5.0.1]\n"
      L" check: [Ostrel.exe] [OstrelHelper.exe] []\n"
      L"delete\n"
      L" file 1,2,1 path(0,$ProgFolder$\\old\\a.ocx)\n"
      L" file 0,0,0 path(0,$ProgFolder$\\OLD\\b.dll) name(1,b.dll)\n"
      L" registry 1 1:Software\\Tamek\\Old [Gone] 1=\n"
      L" shortcut 0:Old Ostrel (1,$ProgFolder$\\old.exe) [] (2,$ProgFolder$) 0 []\n"
      L" targets: [C:\\A\\uninst.ini]\n"
      L"add\n"
      L" file 1,1,0 path(0,$CommonFolder$\\Tamek\\shared.dll) name(2,shared.dll)\n"
      L" registry 0 0:CLSID\\{0001} [] 6=%SystemRoot%\\x.dll\n"
      L" registry 1 2:Software\\Tamek\\Ostrel [Count] 0=42\n"
      L" registry 0 1:Software\\Tamek\\Ostrel [Data] 3=0a0b\n"
      L" registry 0 1:software\\tamek\\ostrel [list] 5=a|b\n"
      L" registry 0 1:Software\\Tamek\\Ostrel\\Q [Big] 4=1234567890123\n"
      L" registry 0 1:Software\\Tamek\\Ostrel\\Z [Nothing] 2=\n"
      L" shortcut 1:Ostrel (1,$ProgFolder$\\Ostrel.exe) [/start \"x & y\"] (2,$ProgFolder$\\work) 2 [Ostrel <2>]\n"
      L" alias OstrelAlias (2,$ProgFolder$\\alias)\n"
      L" docks: [Ostrel.app]\n"
      L" ls: [Ostrel LS]\n"
      L" captures: [Capture.app]\n"
      L" targets: [C:\\B\\uninst.ini] [C:\\C\\uninst.ini]\n"
      L"update\n"
      L" file 0,1,1 path(0,$ProgFolder$\\Ostrel.exe)\n"
      L" registry 0 1:Software\\Tamek\\Ostrel [Version] 1=2.5.0.1\n"
      L" shortcut 0:Ostrel Help (1,$ProgFolder$\\help.chm) [] (2,) 1 [Help]\n"
      L" alias Second (0,C:/forward/slash)\n"
      L" signature [SIG-0042] display [Ostrel Suite 2.5]\n"
      L" hooks absent=0 (1,$ProgFolder$\\uninst_hooks.dll) v1.0.3 1010110\n"
      L"custom after(1,hooks_after.dll) before(2,hooks_before.dll)\n");
  EXPECT_FALSE(model->deleteObjects->IsEmpty());
  EXPECT_FALSE(model->addObjects->IsEmpty());
  EXPECT_FALSE(model->updateObjects->IsEmpty());
  EXPECT_STREQ(model->GetElementName(), L"DiffDistribute");
}

TEST(DiffDistribute, WrittenSectionsReadBackToAnEqualModel) {
  ScratchFolder folder;
  auto model = LoadText(folder, kFullPackage);
  ASSERT_NE(model, nullptr);
  auto document = NewDocument(model->ToXML());
  CXMLParser* parser = GetXMLParser();
  ASSERT_NE(parser, nullptr);
  const std::wstring written = folder.File(L"written.xml");
  ASSERT_TRUE(parser->Save(document.get(), written));
  auto again = LoadDiffDistribute(written);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(Describe(*again), Describe(*model));

  std::wstring text;
  parser->GetXML(document.get(), text);
  auto fromText = std::make_unique<CQXDiffDistribute>();
  auto parsed = Parse(text);
  ASSERT_EQ(fromText->FromXML(parsed->GetRoot()), 0);
  EXPECT_EQ(Describe(*fromText), Describe(*model));
}

TEST(DiffDistribute, UnusablePackagesGiveNoModel) {
  ScratchFolder folder;
  EXPECT_EQ(LoadDiffDistribute(folder.File(L"missing.xml")), nullptr);
  EXPECT_EQ(LoadDiffDistribute(L""), nullptr);
  const char* const bad[] = {
      "",
      "<DiffDistribute><GeneralInfo></DiffDistribute>",
      "<?xml version=\"1.0\"?><!-- no root -->",
      "<diffdistribute/>",
      "<DIFFDISTRIBUTE/>",
      "<DiffLocalList/>",
      "<DiffDistribute><GeneralInfo><Version><![CDATA[1.0]]></Version></GeneralInfo></DiffDistribute>",
      "<DiffDistribute><?hook run?></DiffDistribute>",
      "<!DOCTYPE DiffDistribute [<!ENTITY v \"1.0\">]><DiffDistribute><GeneralInfo><Version>&v;</Version>"
      "</GeneralInfo></DiffDistribute>",
      "<DiffDistribute><AddObjects><File COM=\"INST_REG\" COM=\"INST_NOREG\"/></AddObjects></DiffDistribute>",
      "\xef\xbb\xbf",
  };
  for (const char* text : bad) EXPECT_EQ(LoadText(folder, text), nullptr) << text;

  std::string deep = "<DiffDistribute>";
  for (int i = 0; i < 10000; ++i) deep += "<GeneralInfo>";
  for (int i = 0; i < 10000; ++i) deep += "</GeneralInfo>";
  deep += "</DiffDistribute>";
  auto deepModel = LoadText(folder, deep);  // no model, or a model with nothing read
  if (deepModel) {
    EXPECT_TRUE(deepModel->generalInfo->version.IsEmpty());
  }
}

TEST(DiffDistribute, OtherEncodingsDoctypesAndLargePackagesLoad) {
  ScratchFolder folder;
  auto latin1 = LoadText(folder,
                         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><DiffDistribute><UpdateObjects>"
                         "<DisplayName>Ostrel \xe9\x64ition</DisplayName></UpdateObjects></DiffDistribute>");
  ASSERT_NE(latin1, nullptr);
  EXPECT_EQ(latin1->updateObjects->displayName.name, L"Ostrel \u00e9dition");

  std::string utf16 = "\xff\xfe";
  const std::wstring text =
      L"<DiffDistribute><GeneralInfo><Version>3.0</Version></GeneralInfo></DiffDistribute>";
  utf16 += Utf16LeBytes(text);
  auto wide = LoadText(folder, utf16);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide->generalInfo->version.text, L"3.0");

  auto doctype = LoadText(folder, "<!DOCTYPE DiffDistribute><DiffDistribute/>");
  EXPECT_NE(doctype, nullptr);

  std::string big = "<DiffDistribute><AddObjects>";
  for (int i = 0; i < 20000; ++i)
    big +=
        "<File COM=\"INST_NOREG\" DelInfo=\"INST_DEL\" WOW=\"INST_32BIT\"><FullPath>$ProgFolder$\\data\\f" +
        std::to_string(i) + ".bin</FullPath></File>\n";
  big += "</AddObjects></DiffDistribute>";
  ASSERT_GT(big.size(), 2u * 1024 * 1024);
  auto large = LoadText(folder, big);
  ASSERT_NE(large, nullptr);
  ASSERT_EQ(large->addObjects->files.size(), 20000u);
  EXPECT_EQ(large->addObjects->files[19999]->Path(), L"$ProgFolder$\\data\\f19999.bin");
}

TEST(DiffDistribute, ARootAloneGivesAnEmptyModel) {
  auto model = ModelOf(L"<DiffDistribute/>");
  EXPECT_TRUE(model->generalInfo->version.IsEmpty());
  EXPECT_TRUE(model->generalInfo->checkAppNames.empty());
  EXPECT_TRUE(model->deleteObjects->IsEmpty());
  EXPECT_TRUE(model->addObjects->IsEmpty());
  EXPECT_TRUE(model->updateObjects->IsEmpty());
  EXPECT_TRUE(model->updateObjects->uninstallCustomFunction.absent);
  EXPECT_EQ(model->customFunction->afterUpdate.type, kFileNameNone);
  EXPECT_EQ(model->customFunction->beforeUpdate.name, L"");
}

TEST(DiffDistribute, AnotherRootLeavesTheModelUntouched) {
  auto model = ModelOf(L"<DiffDistribute><GeneralInfo><Version>1.0</Version></GeneralInfo></DiffDistribute>");
  auto other = Parse(L"<diffDistribute><GeneralInfo><Version>9.0</Version></GeneralInfo></diffDistribute>");
  EXPECT_EQ(model->FromXML(other->GetRoot()), 3);
  EXPECT_EQ(model->FromXML(nullptr), 3);
  EXPECT_EQ(model->generalInfo->version.text, L"1.0");
}

TEST(DiffDistribute, RepeatedSectionsAccumulateAndRepeatedSingleElementsReplace) {
  auto model = ModelOf(
      L"<DiffDistribute>"
      L"<GeneralInfo><Version>1.0</Version><CheckAppName>a.exe</CheckAppName></GeneralInfo>"
      L"<DeleteObjects><File><FullPath>z.dll</FullPath></File><UninstTarget><UNInfo>t1</UNInfo></UninstTarget></DeleteObjects>"
      L"<GeneralInfo><CheckAppName>b.exe</CheckAppName><CheckAppName>b.exe</CheckAppName></GeneralInfo>"
      L"<DeleteObjects><File><FullPath>a.dll</FullPath></File></DeleteObjects>"
      L"<AddObjects><UninstTarget><UNInfo>x</UNInfo></UninstTarget><Dock>d1</Dock></AddObjects>"
      L"<AddObjects><UninstTarget><UNInfo>y</UNInfo></UninstTarget><Dock>d2</Dock></AddObjects>"
      L"<UpdateObjects><Signature>s1</Signature><DisplayName>n1</DisplayName>"
      L"<UninstallCustomFunction><Uninstall_End Flag=\"1\"/><Version>1</Version></UninstallCustomFunction>"
      L"<Signature>s2</Signature>"
      L"<UninstallCustomFunction><Uninstall_StartUp Flag=\"1\"/></UninstallCustomFunction></UpdateObjects>"
      L"<CustomFunction><FileName Type=\"BeforeUpdate\">first.dll</FileName>"
      L"<FileName Type=\"BeforeUpdate\">second.dll</FileName><FileName>untyped.dll</FileName>"
      L"<FileName Type=\"Other\">other.dll</FileName></CustomFunction>"
      L"</DiffDistribute>");
  EXPECT_TRUE(model->generalInfo->version.IsEmpty());  // the second GeneralInfo has no Version
  EXPECT_EQ(model->generalInfo->checkAppNames, (std::vector<std::wstring>{L"b.exe", L"b.exe"}));
  ASSERT_EQ(model->deleteObjects->files.size(), 2u);
  EXPECT_EQ(model->deleteObjects->files[0]->Path(), L"z.dll");
  EXPECT_EQ(model->deleteObjects->files[1]->Path(), L"a.dll");
  EXPECT_EQ(model->deleteObjects->GetUninstTarget().Targets(), std::vector<std::wstring>{L"t1"});
  EXPECT_EQ(model->addObjects->uninstTarget.targets, std::vector<std::wstring>{L"y"});
  EXPECT_EQ(model->addObjects->docks, (std::vector<std::wstring>{L"d1", L"d2"}));
  EXPECT_EQ(model->updateObjects->signature, L"s2");
  const CQXUninstallCustomFunction& hooks = model->updateObjects->uninstallCustomFunction;
  EXPECT_EQ(hooks.end.flag, 0);
  EXPECT_EQ(hooks.startUp.flag, 1);
  EXPECT_TRUE(hooks.version.IsEmpty());  // the second element replaced the first whole
  EXPECT_EQ(model->customFunction->beforeUpdate.name, L"second.dll");
  EXPECT_EQ(model->customFunction->afterUpdate.type, kFileNameNone);
  EXPECT_EQ(model->customFunction->afterUpdate.name, L"");
}

TEST(DiffDistribute, EmptyTextsFollowEachElementsRule) {
  auto model = ModelOf(
      L"<DiffDistribute><GeneralInfo><Version/><CheckAppName/><CheckAppName></CheckAppName></GeneralInfo>"
      L"<AddObjects><Dock/><Dock></Dock><LSRegisterApp/><ImageCapture/></AddObjects>"
      L"<UpdateObjects><Signature/><DisplayName/></UpdateObjects></DiffDistribute>");
  EXPECT_TRUE(model->generalInfo->version.IsEmpty());
  EXPECT_EQ(model->generalInfo->checkAppNames, (std::vector<std::wstring>{L"", L""}));
  EXPECT_TRUE(model->addObjects->docks.empty());
  EXPECT_TRUE(model->addObjects->lsRegisterApps.empty());
  EXPECT_TRUE(model->addObjects->imageCaptures.empty());
  EXPECT_TRUE(model->addObjects->IsEmpty());
  EXPECT_TRUE(model->updateObjects->IsEmpty());
}

TEST(DiffDistribute, ReadingAgainStartsFromEmptySections) {
  auto model = ModelOf(
      L"<DiffDistribute><DeleteObjects><File/><UninstTarget><UNInfo>t</UNInfo></UninstTarget></DeleteObjects>"
      L"<AddObjects><Dock>d</Dock><RecordAliasHandle/></AddObjects>"
      L"<UpdateObjects><Signature>s</Signature><UninstallCustomFunction/></UpdateObjects>"
      L"<CustomFunction><FileName Type=\"AfterUpdate\">a.dll</FileName></CustomFunction></DiffDistribute>");
  EXPECT_FALSE(model->updateObjects->uninstallCustomFunction.absent);
  auto second = Parse(L"<DiffDistribute/>");
  ASSERT_EQ(model->FromXML(second->GetRoot()), 0);
  EXPECT_TRUE(model->deleteObjects->files.empty());
  EXPECT_TRUE(model->deleteObjects->uninstTarget.IsEmpty());
  EXPECT_TRUE(model->addObjects->IsEmpty());
  EXPECT_TRUE(model->addObjects->recordAliasHandles.empty());
  EXPECT_TRUE(model->updateObjects->uninstallCustomFunction.absent);
  EXPECT_EQ(model->updateObjects->signature, L"");
  EXPECT_EQ(model->customFunction->afterUpdate.name, L"");
}

TEST(Sections, IsEmptyCountsWhatEachSectionOwns) {
  CQXDeleteObjects deletes;
  deletes.uninstTarget.targets.push_back(L"t");
  EXPECT_TRUE(deletes.IsEmpty());  // the uninstall target does not count here
  deletes.registries.push_back(std::make_unique<CQXRegistry>());
  EXPECT_FALSE(deletes.IsEmpty());

  CQXAddObjects adds;
  adds.uninstTarget.targets.push_back(L"t");
  EXPECT_FALSE(adds.IsEmpty());
  adds.Clear();
  EXPECT_TRUE(adds.IsEmpty());
  adds.imageCaptures.push_back(L"c");
  EXPECT_FALSE(adds.IsEmpty());

  CQXUpdateObjects updates;
  updates.recordAliasHandles.emplace_back();
  updates.signature = L"s";
  EXPECT_TRUE(updates.IsEmpty());  // alias records and the signature do not count
  updates.displayName.name = L"n";
  EXPECT_FALSE(updates.IsEmpty());
  updates.Clear();
  EXPECT_TRUE(updates.IsEmpty());
  EXPECT_TRUE(updates.recordAliasHandles.empty());
  updates.uninstallCustomFunction.absent = false;
  EXPECT_FALSE(updates.IsEmpty());
}

TEST(Sections, WrittenInSortOrderWhileTheListsKeepTheirs) {
  auto model = ModelOf(
      L"<DiffDistribute><DeleteObjects>"
      L"<ShortCut><SCName>b</SCName><FullPath Type=\"SCTarget\">C:\\X.exe</FullPath></ShortCut>"
      L"<File><FullPath>C:\\b.dll</FullPath></File>"
      L"<Registry><RegKeyPath>KEY</RegKeyPath><RegValueName>b</RegValueName></Registry>"
      L"<File><FullPath>c:\\A.dll</FullPath></File>"
      L"<ShortCut><SCName>A</SCName><FullPath Type=\"SCTarget\">c:\\x.exe</FullPath></ShortCut>"
      L"<File/>"
      L"<Registry><RegKeyPath>key</RegKeyPath><RegValueName>A</RegValueName></Registry>"
      L"<Registry><RegKeyPath>Another</RegKeyPath><RegValueName>z</RegValueName></Registry>"
      L"</DeleteObjects></DiffDistribute>");
  const CQXDeleteObjects& deletes = *model->deleteObjects;
  auto written = deletes.ToXML();
  std::wstring order;
  for (unsigned i = 0; i < written->GetChildCount(); ++i) {
    const CXMLElement* child = AsElement(written->GetChild(i));
    const std::wstring name = child->GetName();
    if (name == L"File") {
      order += L"F(" + (child->GetChildCount() ? ValueText(child->GetChild(0)) : std::wstring()) + L") ";
    } else if (name == L"Registry") {
      order += L"R(" + ValueText(child->GetChild(0)) + L"/" + ValueText(child->GetChild(1)) + L") ";
    } else {
      order += L"S(" + ValueText(child->GetChild(0)) + L") ";
    }
  }
  EXPECT_EQ(order, L"F() F(c:\\A.dll) F(C:\\b.dll) R(Another/z) R(key/A) R(KEY/b) S(A) S(b) ");
  EXPECT_EQ(deletes.files[0]->Path(), L"C:\\b.dll");  // the list keeps file order
  EXPECT_STREQ(written->GetName(), L"DeleteObjects");
  EXPECT_EQ(Picture(deletes.CQXBaseObjects::ToXML(L"Named").get()).substr(0, 7), L"<Named>");
}

TEST(Sections, TheUninstallTargetIsWrittenOnlyWhenItNamesATarget) {
  CQXDeleteObjects deletes;
  EXPECT_EQ(Picture(deletes.ToXML().get()), L"<DeleteObjects></DeleteObjects>");
  CQXUninstallTarget target;
  auto element = Parse(L"<UninstTarget><UNInfo>C:\\A\\uninst.ini</UNInfo><Other/>text</UninstTarget>");
  ASSERT_EQ(target.FromXML(element->GetRoot()), 0);
  deletes.SetUninstTarget(target);
  deletes.SetUninstTarget(deletes.GetUninstTarget());
  EXPECT_EQ(
      Picture(deletes.ToXML().get()),
      L"<DeleteObjects><UninstTarget><UNInfo>[C:\\A\\uninst.ini]</UNInfo></UninstTarget></DeleteObjects>");

  CQXAddObjects adds;
  adds.docks = {L"d"};
  adds.lsRegisterApps = {L"l"};
  adds.imageCaptures = {L"i"};
  adds.recordAliasHandles.emplace_back();
  adds.recordAliasHandles.back().appName = L"k";
  adds.files.push_back(std::make_unique<CQXFile>());
  EXPECT_EQ(
      Picture(adds.ToXML().get()),
      L"<AddObjects><File COM=INST_NOREG DelInfo=INST_DEL WOW=INST_32BIT></File>"
      L"<RecordAliasHandle><KVTAppName>[k]</KVTAppName><FullPath>[]</FullPath></RecordAliasHandle>"
      L"<Dock>[d]</Dock><LSRegisterApp>[l]</LSRegisterApp><ImageCapture>[i]</ImageCapture></AddObjects>");
}

TEST(UninstallCustomFunction, OnlyFlagOneSetsAHook) {
  CQXUninstallCustomFunction hooks;
  EXPECT_TRUE(hooks.absent);
  auto element = Parse(
      L"<UninstallCustomFunction><Uninstall_End Flag=\"1\"/><Uninstall_Abort Flag=\"true\"/>"
      L"<Uninstall_StartUp Flag=\"01\"/><Uninstall_CheckRunning Flag=\" 1\"/><uninstall_abort Flag=\"1\"/>"
      L"</UninstallCustomFunction>");
  ASSERT_EQ(hooks.FromXML(element->GetRoot()), 0);
  EXPECT_FALSE(hooks.absent);
  EXPECT_EQ(hooks.end.flag, 1);
  EXPECT_EQ(hooks.abort.flag, 0);
  EXPECT_EQ(hooks.startUp.flag, 0);
  EXPECT_EQ(hooks.checkRunning.flag, 0);

  auto repeated = NewElement(L"UninstallCustomFunction");
  auto hook = NewElement(L"Uninstall_AfterUninstall");
  AppendAttribute(hook.get(), L"Flag", L"0");
  AppendAttribute(hook.get(), L"Flag", L"1");
  AppendChild(std::move(hook), repeated.get());
  hooks.FromXML(repeated.get());
  EXPECT_EQ(hooks.afterUninstall.flag, 1);  // of several Flag attributes the last counts
  EXPECT_EQ(hooks.end.flag, 0);             // every hook is cleared by a read

  auto bare = Parse(L"<UninstallCustomFunction/>");
  CQXUninstallCustomFunction fresh;
  ASSERT_EQ(fresh.FromXML(bare->GetRoot()), 0);
  EXPECT_FALSE(fresh.absent);
  EXPECT_EQ(fresh.FromXML(nullptr), 3);
}
