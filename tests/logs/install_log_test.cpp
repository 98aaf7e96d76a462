#include <gtest/gtest.h>

#include "logs/install_log.h"
#include "logs/install_log_cipher.h"
#include "logs/service_log.h"
#include "support/scratch.h"
#include "sys/paths.h"
#include "sys/text.h"

#include <cstdlib>

using namespace brindle;
using namespace brindle::test;

namespace {

const wchar_t kDeclaration[] = L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";

CQXInstallLog Parsed(const std::wstring& xml) {
  CQXInstallLog log;
  EXPECT_EQ(ParseInstallLog(xml, log), InstallLogParse::kParsed) << "the text does not parse";
  return log;
}

std::wstring Serialised(const CQXInstallLog& log) {
  std::wstring xml;
  EXPECT_EQ(SerialiseInstallLog(log, xml), 0);
  return xml;
}

std::unique_ptr<InstallLogEntry> Entry(const std::wstring& name) {
  auto e = std::make_unique<InstallLogEntry>();
  e->AppName = name;
  return e;
}

// Keeps the service log of this test in its scratch folder on the native build.
struct ServiceLogHere {
  ScratchFolder dir;
  ServiceLogHere() {
#ifndef _WIN32
    setenv("XDG_DATA_HOME", Utf8FromWide(dir.Path()).c_str(), 1);
#endif
  }
  std::string Text() {
    std::string bytes;
    ReadBytes(JoinPath(ServiceLogFolder(), kServiceLogFileName), bytes);
    return bytes;
  }
};

}  // namespace

TEST(InstallLog, ReadsEveryFieldAndWritesThemInTheFixedOrder) {
  const std::wstring xml =
      L"<AppLocalList><AppLocal Ignored=\"1\">"
      L"<Item FullPath=\"C:\\App\\item\"/><UninstLog>C:\\App\\Uninst.log</UninstLog>"
      L"<PvkURL>http://x/</PvkURL><PvkOnly Support=\"N\"/><Region Region=\"EU\"/>"
      L"<DisplayName>Caf\u00e9 App</DisplayName><Version Type=\"Install\">3.1</Version>"
      L"<Version Type=\"Uninstall\">2.0</Version><Version Type=\"Application\">1.2.0</Version>"
      L"<FullPath>C:\\App</FullPath><Lang Code=\"fr\"/><AppName>App</AppName><Unknown>u</Unknown>"
      L"</AppLocal></AppLocalList>";
  CQXInstallLog log = Parsed(xml);
  ASSERT_EQ(log.entries.size(), 1u);
  const InstallLogEntry& e = *log.entries[0];
  EXPECT_EQ(e.AppName, L"App");
  EXPECT_EQ(e.Lang.code, L"fr");
  EXPECT_EQ(e.Lang.languageId, L"1036");
  EXPECT_EQ(e.FullPath, L"C:\\App");
  EXPECT_EQ(e.applicationVersion.text, L"1.2.0");
  EXPECT_EQ(e.uninstallerVersion.text, L"2.0");
  EXPECT_EQ(e.installerVersion.text, L"3.1");
  EXPECT_EQ(e.DisplayName.name, L"Caf\u00e9 App");
  EXPECT_EQ(e.Region.region, L"EU");
  EXPECT_EQ(e.PvkOnly, L"N");
  EXPECT_EQ(e.PvkURL, L"http://x/");
  EXPECT_EQ(e.UninstLog, L"C:\\App\\Uninst.log");
  EXPECT_EQ(e.Item.path, L"C:\\App\\item");
  // The same fields in an entry made here (no document behind it) are written in the fixed order.
  log.source.reset();
  log.entries[0]->source.reset();
  EXPECT_EQ(Serialised(log), std::wstring(kDeclaration) +
                                 L"<AppLocalList>\r\n"
                                 L"     <AppLocal>\r\n"
                                 L"          <AppName>App</AppName>\r\n"
                                 L"          <Lang Code=\"fr\"/>\r\n"
                                 L"          <FullPath>C:\\App</FullPath>\r\n"
                                 L"          <Version Type=\"Application\">1.2.0</Version>\r\n"
                                 L"          <Version Type=\"Uninstall\">2.0</Version>\r\n"
                                 L"          <Version Type=\"Install\">3.1</Version>\r\n"
                                 L"          <DisplayName>Caf\u00e9 App</DisplayName>\r\n"
                                 L"          <Region Region=\"EU\"/>\r\n"
                                 L"          <PvkOnly Support=\"N\"/>\r\n"
                                 L"          <PvkURL>http://x/</PvkURL>\r\n"
                                 L"          <UninstLog>C:\\App\\Uninst.log</UninstLog>\r\n"
                                 L"          <Item FullPath=\"C:\\App\\item\"/>\r\n"
                                 L"     </AppLocal>\r\n"
                                 L"</AppLocalList>\r\n");
}

TEST(InstallLog, EmptyAndInvalidFieldsAreDroppedAndTheLaterDuplicateIsWrittenOnce) {
  CQXInstallLog log = Parsed(
      L"<AppLocalList><AppLocal><PvkOnly Support=\"y\"/><Version Type=\"Application\">1.0"
      L"</Version><Version Type=\"Application\">1.1</Version><Version>9</Version>"
      L"<Version Type=\"application\">8</Version><Version Type=\"Uninstall\"/><FullPath/>"
      L"<AppName>A</AppName></AppLocal></AppLocalList>");
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(log.entries[0]->PvkOnly, L"") << "lower-case y is ignored";
  EXPECT_EQ(log.entries[0]->applicationVersion.text, L"1.1") << "the later duplicate wins";
  EXPECT_EQ(log.entries[0]->uninstallerVersion.text, L"");
  // Versions whose Type names none of the three are not this program's: they stay as read.
  EXPECT_EQ(Serialised(log), std::wstring(kDeclaration) +
                                 L"<AppLocalList>\r\n     <AppLocal>\r\n"
                                 L"          <Version Type=\"Application\">1.1</Version>\r\n"
                                 L"          <Version>9</Version>\r\n"
                                 L"          <Version Type=\"application\">8</Version>\r\n"
                                 L"          <AppName>A</AppName>\r\n"
                                 L"     </AppLocal>\r\n</AppLocalList>\r\n");
}

// What a newer installer writes and this program does not know (attributes of the root and of
// an entry, other elements with their own content, versions of another type) is written back
// exactly as read, in its place, around the fields this program changes or adds.
TEST(InstallLog, UnknownContentOfTheRootAndOfEntriesIsKeptInItsPlace) {
  CQXInstallLog log = Parsed(
      L"<AppLocalList Format=\"3\"><Meta Written=\"2026\">installer 9</Meta>"
      L"<AppLocal Id=\"7\"><AppName>A</AppName><Channel Kind=\"beta\"><Sub>1</Sub></Channel>"
      L"<Version Type=\"Application\" Build=\"12\">1.0</Version><Version Type=\"Patch\">0.3</Version>"
      L"<FullPath>C:\\A</FullPath><Region Region=\"EU\"/></AppLocal>"
      L"<Separator/><AppLocal><AppName>B</AppName></AppLocal><Trailer/></AppLocalList>");
  ASSERT_EQ(log.entries.size(), 2u);
  log.entries[0]->applicationVersion.text = L"1.1";
  log.entries[0]->DisplayName.name = L"A Suite";  // a field the entry did not have
  log.entries[0]->FullPath.clear();               // and one that goes
  log.entries[1]->uninstallerVersion.text = L"2.0";
  const std::wstring expected = std::wstring(kDeclaration) +
                                L"<AppLocalList Format=\"3\">\r\n"
                                L"     <Meta Written=\"2026\">installer 9</Meta>\r\n"
                                L"     <AppLocal Id=\"7\">\r\n"
                                L"          <AppName>A</AppName>\r\n"
                                L"          <Channel Kind=\"beta\">\r\n"
                                L"               <Sub>1</Sub>\r\n"
                                L"          </Channel>\r\n"
                                L"          <Version Type=\"Application\" Build=\"12\">1.1</Version>\r\n"
                                L"          <Version Type=\"Patch\">0.3</Version>\r\n"
                                L"          <DisplayName>A Suite</DisplayName>\r\n"
                                L"          <Region Region=\"EU\"/>\r\n"
                                L"     </AppLocal>\r\n"
                                L"     <Separator/>\r\n"
                                L"     <AppLocal>\r\n"
                                L"          <AppName>B</AppName>\r\n"
                                L"          <Version Type=\"Uninstall\">2.0</Version>\r\n"
                                L"     </AppLocal>\r\n"
                                L"     <Trailer/>\r\n"
                                L"</AppLocalList>\r\n";
  const std::wstring written = Serialised(log);
  EXPECT_EQ(written, expected);
  // Read again and written again, nothing moves.
  EXPECT_EQ(Serialised(Parsed(written)), expected);

  // An entry taken out of the log is gone from the document; one added goes at the end.
  log.entries.erase(log.entries.begin());
  log.entries.push_back(Entry(L"C"));
  EXPECT_EQ(Serialised(log), std::wstring(kDeclaration) +
                                 L"<AppLocalList Format=\"3\">\r\n"
                                 L"     <Meta Written=\"2026\">installer 9</Meta>\r\n"
                                 L"     <Separator/>\r\n"
                                 L"     <AppLocal>\r\n"
                                 L"          <AppName>B</AppName>\r\n"
                                 L"          <Version Type=\"Uninstall\">2.0</Version>\r\n"
                                 L"     </AppLocal>\r\n"
                                 L"     <Trailer/>\r\n"
                                 L"     <AppLocal>\r\n"
                                 L"          <AppName>C</AppName>\r\n"
                                 L"     </AppLocal>\r\n"
                                 L"</AppLocalList>\r\n");
}

TEST(InstallLog, StatusesForBadTextAndWrongRoots) {
  CQXInstallLog log;
  log.entries.push_back(Entry(L"stale"));
  EXPECT_EQ(ParseInstallLog(L"<AppLocalList><AppLocal>", log), InstallLogParse::kNotXml);
  EXPECT_EQ(ParseInstallLog(L"", log), InstallLogParse::kNotXml);
  EXPECT_EQ(ParseInstallLog(L"<applocallist/>", log), InstallLogParse::kWrongRoot);
  EXPECT_EQ(ParseInstallLog(L"<AppLocalLists/>", log), InstallLogParse::kWrongRoot);
  EXPECT_EQ(ParseInstallLog(L"<AppLocalList><Other><AppName>x</AppName></Other></AppLocalList>", log),
            InstallLogParse::kParsed);
  EXPECT_TRUE(log.entries.empty()) << "only AppLocal children are entries";
  CQXInstallLog empty;
  EXPECT_EQ(Serialised(empty), std::wstring(kDeclaration) + L"<AppLocalList/>\r\n");
}

TEST(InstallLog, FindEntryMatchesTheWholeNameExactly) {
  CQXInstallLog log = Parsed(
      L"<AppLocalList><AppLocal><AppName>Viewer</AppName></AppLocal><AppLocal/>"
      L"<AppLocal><AppName>Viewer</AppName><FullPath>second</FullPath></AppLocal>"
      L"</AppLocalList>");
  ASSERT_EQ(log.entries.size(), 3u);
  EXPECT_EQ(FindEntry(log, L"Viewer"), log.entries[0].get()) << "the first of two";
  EXPECT_EQ(FindEntry(log, L"viewer"), nullptr);
  EXPECT_EQ(FindEntry(log, L"View"), nullptr);
  EXPECT_EQ(FindEntry(log, L""), log.entries[1].get()) << "an entry without AppName";
}

TEST(InstallLog, SeveralEntriesSurviveEncipherDecipherParseAndSerialise) {
  ServiceLogHere serviceLog;
  ScratchFolder dir;
  const std::wstring path = dir.File(L"TamekOstrelLog.dat");
  CQXInstallLog log;
  for (int i = 0; i < 40; ++i) {
    auto e = Entry(L"App" + std::to_wstring(i));
    e->DisplayName.name = L"Application \u00e9 " + std::to_wstring(i) + L" & <co>";
    e->applicationVersion.text = L"1.0." + std::to_wstring(i);
    e->uninstallerVersion.text = i % 2 ? L"2.0" : L"";
    e->FullPath = L"C:\\Program Files\\Tamek\\App" + std::to_wstring(i);
    e->Lang.SetCode(L"fr");
    e->Region.region = L"EU";
    e->PvkOnly = i % 3 ? L"Y" : L"N";
    e->UninstLog = e->FullPath + L"\\Uninst.log";
    log.entries.push_back(std::move(e));
  }
  const std::wstring original = Serialised(log);
  ASSERT_GT(original.size(), 3000u) << "the log spans several pieces";
  ASSERT_TRUE(SaveInstallLog(log, path, 1252));
  EXPECT_NE(serviceLog.Text().find(",BR,ENCODE_QXLOGXML,-"), std::string::npos);

  std::unique_ptr<CQXInstallLog> loaded = LoadInstallLog(path, 1252);
  ASSERT_TRUE(loaded);
  EXPECT_NE(serviceLog.Text().find(",BR,DECODE_QXLOGXML,-"), std::string::npos);
  ASSERT_EQ(loaded->entries.size(), 40u);
  EXPECT_EQ(Serialised(*loaded), original);
  InstallLogEntry* e = FindEntry(*loaded, L"App7");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->uninstallerVersion.text, L"2.0");

  // The updater's change: new versions in one entry, then the next load sees them.
  e->applicationVersion.text = L"1.1.0";
  ASSERT_TRUE(SaveInstallLog(*loaded, path, 1252));
  std::unique_ptr<CQXInstallLog> again = LoadInstallLog(path, 1252);
  ASSERT_TRUE(again);
  EXPECT_EQ(FindEntry(*again, L"App7")->applicationVersion.text, L"1.1.0");
  EXPECT_EQ(FindEntry(*again, L"App8")->applicationVersion.text, L"1.0.8");
}

TEST(InstallLog, LoadFailsForMissingUndecipherableAndUnparsableFiles) {
  ScratchFolder dir;
  EXPECT_FALSE(LoadInstallLog(dir.File(L"missing.dat"), 1252));
  ASSERT_TRUE(WriteBytes(dir.File(L"plain.dat"), "<AppLocalList/>"));
  EXPECT_FALSE(LoadInstallLog(dir.File(L"plain.dat"), 1252)) << "not enciphered";
  ASSERT_TRUE(EncodeInstallLog(L"<AppLocalList>", dir.File(L"broken.dat"), 1252));
  EXPECT_FALSE(LoadInstallLog(dir.File(L"broken.dat"), 1252)) << "not well formed";
  ASSERT_TRUE(EncodeInstallLog(L"<Other/>", dir.File(L"other.dat"), 1252));
  EXPECT_FALSE(LoadInstallLog(dir.File(L"other.dat"), 1252)) << "another root";
}

TEST(InstallLog, JapaneseNamesAcrossPieceBoundariesSurviveSaveAndLoad) {
  ScratchFolder dir;
  const std::wstring path = dir.File(L"TamekOstrelLog.dat");
  CQXInstallLog log;
  for (int i = 0; i < 30; ++i) {
    auto e = Entry(L"App" + std::to_wstring(i));
    e->DisplayName.name = L"\u65e5\u672c\u8a9e\u306e\u30a2\u30d7\u30ea " + std::to_wstring(i);
    log.entries.push_back(std::move(e));
  }
  // Pad the first entry until a double-byte character straddles the first piece boundary
  // (the first 1024 bytes then end with a lone lead byte).
  bool straddles = false;
  for (int pad = 0; pad < 300 && !straddles; ++pad) {
    log.entries[0]->PvkURL = std::wstring(pad + 1, L'p');
    std::string ansi, head;
    std::wstring ignored;
    ASSERT_TRUE(AnsiFromWide(Serialised(log), ansi, 932));
    straddles = !WideFromAnsi(ansi.substr(0, kLogPieceBytes), ignored, 932);
  }
  ASSERT_TRUE(straddles);
  ASSERT_TRUE(SaveInstallLog(log, path, 932));
  std::unique_ptr<CQXInstallLog> loaded = LoadInstallLog(path, 932);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(Serialised(*loaded), Serialised(log));
}

TEST(InstallLog, ThePathLiesUnderTheCommonDataFolderInForwardSlashes) {
  const std::wstring path = InstallLogPath();
  const std::wstring tail = L"/Tamek_Inc_RW/Ostrel/TamekOstrelLog.dat";
  ASSERT_GT(path.size(), tail.size());
  EXPECT_EQ(path.substr(path.size() - tail.size()), tail);
  EXPECT_EQ(path.find(L'\\'), std::wstring::npos);
#ifdef _WIN32
  EXPECT_TRUE(EqualsIgnoreAsciiCase(path, L"C:/ProgramData" + tail)) << Utf8FromWide(path);
#endif
}
