// Windows only: a log that another program holds open cannot be replaced, and then stays as it
// was.
#include <gtest/gtest.h>

#include "logs/install_log_cipher.h"
#include "support/scratch.h"
#include "sys/paths.h"
#include "sys/win_handles.h"

#include <windows.h>

using namespace brindle;
using namespace brindle::test;

TEST(InstallLogReplaceWin, ALogHeldOpenByAnotherProgramIsLeftIntact) {
  ScratchFolder dir;
  const std::wstring path = dir.File(L"TamekOstrelLog.dat");
  ASSERT_TRUE(EncodeInstallLog(L"<AppLocalList>old</AppLocalList>", path, 1252));
  std::string before;
  ASSERT_TRUE(ReadBytes(path, before));
  {
    // Shared for reading and writing but not for deletion or renaming.
    UniqueFile holder(CreateFileW(ToBackslashes(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder.Valid());
    EXPECT_FALSE(EncodeInstallLog(L"<AppLocalList>new and longer</AppLocalList>", path, 1252));
  }
  std::string after;
  ASSERT_TRUE(ReadBytes(path, after));
  EXPECT_EQ(after, before);
  EXPECT_FALSE(FileExists(CQXReplacingFileWriter::TemporaryPathFor(path)));
  // Once released, the same save goes through.
  EXPECT_TRUE(EncodeInstallLog(L"<AppLocalList>new and longer</AppLocalList>", path, 1252));
  std::wstring text;
  ASSERT_TRUE(DecodeInstallLog(path, text, 1252));
  EXPECT_EQ(text, L"<AppLocalList>new and longer</AppLocalList>");
}

// The system's replace first moves the old log to the backup name and can stop there; the
// steps after it must still leave one whole log.
TEST(InstallLogReplaceWin, AReplaceThatStopsHalfWayNeverLeavesNoLogAtAll) {
  ScratchFolder dir;
  const std::wstring path = ToBackslashes(dir.File(L"TamekOstrelLog.dat"));
  const std::wstring temp = CQXReplacingFileWriter::TemporaryPathFor(path);
  const std::wstring backup = CQXReplacingFileWriter::BackupPathFor(path);
  const ReplaceSteps system = SystemReplaceSteps();
  auto prepare = [&] {
    ASSERT_TRUE(WriteBytes(path, "old log"));
    ASSERT_TRUE(WriteBytes(temp, "new log"));
  };
  auto bytes = [](const std::wstring& file) {
    std::string read;
    return ReadBytes(file, read) ? read : std::string("(none)");
  };
  ReplaceSteps halfWay = system;
  halfWay.replace = [](const std::wstring& p, const std::wstring&, const std::wstring& b) {
    MoveFileW(p.c_str(), b.c_str());
    return false;
  };

  // The new log is then moved into place.
  prepare();
  EXPECT_TRUE(PutReplacementInPlace(path, temp, halfWay));
  EXPECT_EQ(bytes(path), "new log");
  EXPECT_FALSE(FileExists(temp));
  EXPECT_FALSE(FileExists(backup));

  // When it cannot be, the old one goes back.
  ReplaceSteps newStuck = halfWay;
  newStuck.move = [&](const std::wstring& from, const std::wstring& to) {
    return from != temp && system.move(from, to);
  };
  prepare();
  EXPECT_FALSE(PutReplacementInPlace(path, temp, newStuck));
  EXPECT_EQ(bytes(path), "old log");
  EXPECT_FALSE(FileExists(temp));
  EXPECT_FALSE(FileExists(backup));

  // When nothing can be moved, both whole logs stay where they are.
  ReplaceSteps allStuck = halfWay;
  allStuck.move = [](const std::wstring&, const std::wstring&) { return false; };
  prepare();
  EXPECT_FALSE(PutReplacementInPlace(path, temp, allStuck));
  EXPECT_EQ(bytes(backup), "old log");
  EXPECT_EQ(bytes(temp), "new log");
  DeleteFileW(backup.c_str());
  DeleteFileW(temp.c_str());

  // A replace that fails before moving anything leaves the old log in place.
  ReplaceSteps refused = newStuck;
  refused.replace = [](const std::wstring&, const std::wstring&, const std::wstring&) { return false; };
  prepare();
  EXPECT_FALSE(PutReplacementInPlace(path, temp, refused));
  EXPECT_EQ(bytes(path), "old log");
  EXPECT_FALSE(FileExists(temp));

  // And the system's own steps put a new log in place, keeping no backup behind.
  prepare();
  EXPECT_TRUE(PutReplacementInPlace(path, temp, system));
  EXPECT_EQ(bytes(path), "new log");
  EXPECT_FALSE(FileExists(temp));
  EXPECT_FALSE(FileExists(backup));
}
