// The log verbs: install logs deciphered and enciphered byte for byte as the program does it,
// uninstall logs checked line by line with the program's reader rules; and help for every verb.
#include <gtest/gtest.h>

#include "logs/install_log_cipher.h"
#include "pack_test_support.h"
#include "support/scratch.h"

using namespace brindle;
using namespace brindle::test;

namespace {

const char kLogXml[] =
    "<?xml version=\"1.0\"?>\r\n<AppLocalList>\r\n     <AppLocal>\r\n"
    "          <AppName>Viewer</AppName>\r\n          <FullPath>C:\\Program Files (x86)\\Caf\xe9</FullPath>\r\n"
    "     </AppLocal>\r\n</AppLocalList>\r\n";

TEST(PackLog, DecodeGivesTheProgramsTextAndEncodeGivesTheSameBytes) {
  ScratchFolder folder;
  const std::wstring log = folder.File(L"TamekOstrelLog.dat");
  // Written by the program's own encoder, as the installer's file would be; the text is long
  // enough for several 1024-byte pieces.
  std::wstring text;
  ASSERT_TRUE(WideFromAnsi(kLogXml, text));
  for (int i = 0; i < 40; ++i) text += L"<!-- filler line to pass the piece size -->\r\n";
  ASSERT_TRUE(EncodeInstallLog(text, log));

  ToolRun decoded = RunTool({L"log", L"decode", log});
  ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
  std::string ansi;
  ASSERT_TRUE(AnsiFromWide(text, ansi));
  EXPECT_EQ(decoded.out, ansi);

  const std::wstring xml = folder.File(L"log.xml"), again = folder.File(L"again.dat");
  ASSERT_EQ(RunTool({L"log", L"decode", log, L"-o", xml}).exitCode, 0);
  ToolRun encoded = RunTool({L"log", L"encode", xml, L"-o", again});
  ASSERT_EQ(encoded.exitCode, 0) << encoded.err;
  std::string original, roundTrip;
  ASSERT_TRUE(ReadBytes(log, original));
  ASSERT_TRUE(ReadBytes(again, roundTrip));
  EXPECT_EQ(roundTrip, original);
  // And the program reads what the tool wrote.
  std::wstring back;
  ASSERT_TRUE(DecodeInstallLog(again, back));
  EXPECT_EQ(back, text);
}

TEST(PackLog, DamagedEmptyAndMissingLogsFailWithTheFileNamed) {
  ScratchFolder folder;
  const std::wstring log = folder.File(L"log.dat");
  ASSERT_TRUE(EncodeInstallLog(L"<AppLocalList/>", log));
  std::string bytes;
  ASSERT_TRUE(ReadBytes(log, bytes));
  bytes.back() ^= 0x55;  // the padding no longer checks
  ASSERT_TRUE(WriteBytes(log, bytes));
  ToolRun damaged = RunTool({L"log", L"decode", log});
  EXPECT_EQ(damaged.exitCode, 1);
  EXPECT_TRUE(damaged.ErrHas("log.dat: the file does not decipher")) << damaged.err;
  EXPECT_TRUE(damaged.out.empty());

  ASSERT_TRUE(WriteBytes(log, ""));
  EXPECT_TRUE(RunTool({L"log", L"decode", log}).ErrHas("the file is empty"));
  EXPECT_TRUE(RunTool({L"log", L"decode", folder.File(L"none.dat")}).ErrHas("cannot read"));
  EXPECT_EQ(RunTool({L"log", L"encode", log}).exitCode, 2);  // no -o
}

TEST(PackUninstlog, EveryBadLineIsReportedWithItsNumberAndReason) {
  ScratchFolder folder;
  const std::wstring path = folder.File(L"uninst.log");
  ASSERT_TRUE(WriteBytes(path,
                         "Orphan=1\r\n"                                                           // 1
                         "[Files]\r\n"                                                            // 2
                         "UIFILE=\"C:\\\\App\\\\a.dll\" INST_REQ INST_VER INST_DEL INST_REG\r\n"  // 3 ok
                         "UIFILE=\"C:\\\\App\\\\b.dll\" INST_REQ INST_VER INST_FOO INST_REG\r\n"  // 4
                         "UIFILE=\"C:\\\\App\\\\c.dll\" INST_REQ INST_VER\r\n"                    // 5
                         "Name=\"unclosed\r\n"                                                    // 6
                         "Key\r\n"                                                                // 7
                         "Uninstall_End=yes\r\n"                                                  // 8
                         "' a comment\r\n"                                                        // 9 ok
                         "UIFLDR=\"\" INST_REQ INST_CRE INST_DEL\r\n"                             // 10
                         "Trail=abc\\\r\n"                                                        // 11
                         "[Open\r\n"));                                                           // 12
  ToolRun run = RunTool({L"uninstlog", L"check", path});
  EXPECT_EQ(run.exitCode, 1);
  const std::string name = Utf8FromWide(path);
  for (const char* expected :
       {":1: error: a key line before the first section header",
        ":4: error: \"INST_FOO\" is not a flag or root name",
        ":5: error: UIFILE needs 5 field(s) after its name, the line has 3",
        ":6: error: a double quote is not closed", ":7: error: the key Key has no value",
        ":8: error: \"yes\" is not a number", ":10: error: field 1 of UIFLDR (a path) must not be empty",
        ":11: error: the line ends with a lone backslash", ":12: error: a bracket is not closed"})
    EXPECT_TRUE(run.OutHas(name + expected)) << expected << "\n" << run.out;
  EXPECT_FALSE(run.OutHas(":3:"));
  EXPECT_FALSE(run.OutHas(":9:"));
  EXPECT_TRUE(run.OutHas("9 error(s)"));
  EXPECT_TRUE(run.OutHas("refuses the whole file"));
}

TEST(PackUninstlog, AGoodLogPassesAndDataAfterAnEndMarkIsCaught) {
  ScratchFolder folder;
  const std::wstring path = folder.File(L"uninst.log");
  const std::string good =
      "[Startup]\r\nVersion=\"1.0\"\r\n[Uninst Info]\r\nUNInfo=\"C:\\\\x.log\"\r\n"
      "[Registry]\r\nUIREGI=HLM \"Software\\\\X\" \"\" INST_REQ INST_REQ INST_DEL\r\n"
      "Uninstall_End=0x10\r\n";
  ASSERT_TRUE(WriteBytes(path, good));
  ToolRun run = RunTool({L"uninstlog", L"check", path});
  EXPECT_EQ(run.exitCode, 0) << run.out;
  EXPECT_TRUE(run.OutHas("0 error(s)"));

  ASSERT_TRUE(WriteBytes(path, good + std::string("\x1a", 1) + "[Files]\r\n"));
  run = RunTool({L"uninstlog", L"check", path});
  EXPECT_EQ(run.exitCode, 1);
  // The program's reader refuses such a file as a whole; the check says so.
  EXPECT_TRUE(
      run.OutHas("Ctrl-Z stands before the end of the text: the program's reader refuses "
                 "the whole file"))
      << run.out;
  EXPECT_FALSE(run.OutHas("stops there")) << run.out;
}

TEST(PackHelp, EveryVerbExplainsItselfAndWrongCommandLinesSayWhy) {
  for (const wchar_t* verb : {L"make", L"check", L"plan", L"log", L"uninstlog"}) {
    ToolRun run = RunTool({verb, L"--help"});
    EXPECT_EQ(run.exitCode, 0) << Utf8FromWide(verb);
    EXPECT_TRUE(run.OutHas("Usage: brindle-pack " + Utf8FromWide(verb))) << run.out;
  }
  EXPECT_TRUE(RunTool({L"--help"}).OutHas("make OLD NEW"));
  EXPECT_EQ(RunTool({}).exitCode, 2);
  ToolRun unknown = RunTool({L"frobnicate"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_TRUE(unknown.ErrHas("unknown verb \"frobnicate\""));
  ToolRun badOption = RunTool({L"uninstlog", L"check", L"x", L"--bogus"});
  EXPECT_EQ(badOption.exitCode, 2);
  EXPECT_TRUE(badOption.ErrHas("unknown option --bogus"));
}

}  // namespace
