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
