// File utilities and cabinet extraction against the real file system and the system's cabinet
// library. Cabinets come from gcab (started as a Linux program through Wine) and, for names
// gcab would never write, from a small writer of uncompressed cabinets below.
#include <gtest/gtest.h>

#include <windows.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <regex>
#include <vector>

#include "support/scratch.h"
#include "sys/file_util.h"
#include "sys/paths.h"
#include "sys/win_handles.h"

using namespace brindle;
using namespace brindle::test;

namespace {

// Cabinets made by gcab at build time, with the files they hold beside them under src/.
const wchar_t kFixtures[] = L"Z:" BRINDLE_BUILD_DIR L"/fixtures/cab";

std::wstring Back(const std::wstring& path) { return ToBackslashes(path); }

FILETIME FileTimeOf(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
  SYSTEMTIME st = {};
  st.wYear = year;
  st.wMonth = month;
  st.wDay = day;
  st.wHour = hour;
  st.wMinute = minute;
  st.wSecond = second;
  FILETIME ft = {};
  SystemTimeToFileTime(&st, &ft);
  return ft;
}

std::uint64_t AsNumber(const FILETIME& ft) {
  return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

bool SetWriteTime(const std::wstring& path, const FILETIME& time) {
  UniqueFile file(CreateFileW(Back(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file && SetFileTime(file.Get(), nullptr, nullptr, &time);
}

bool CreationAndWriteTimes(const std::wstring& path, FILETIME& created, FILETIME& written) {
  UniqueFile file(CreateFileW(Back(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  return file && GetFileTime(file.Get(), &created, nullptr, &written);
}

std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned state = seed;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>((state >> 16) & 0x3F);  // compressible, but not trivially
  }
  return bytes;
}

// Uncompressed cabinets: one folder, data blocks of at most 32 KB, no checksums.
struct CabEntry {
  std::string name;  // as stored, '\' between folders
  std::string data;
  WORD date;
  WORD time;
  WORD attributes = 0x20;
};

void Put16(std::string& out, unsigned value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>((value >> 8) & 0xFF));
}
void Put32(std::string& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

WORD DosDate(int year, int month, int day) {
  return static_cast<WORD>(((year - 1980) << 9) | (month << 5) | day);
}
WORD DosTime(int hour, int minute, int second) {
  return static_cast<WORD>((hour << 11) | (minute << 5) | (second / 2));
}

std::string StoredCabinet(const std::vector<CabEntry>& entries) {
  std::string files, all;
  for (const CabEntry& e : entries) {
    Put32(files, static_cast<std::uint32_t>(e.data.size()));
    Put32(files, static_cast<std::uint32_t>(all.size()));
    Put16(files, 0);  // folder 0
    Put16(files, e.date);
    Put16(files, e.time);
    Put16(files, e.attributes);
    files += e.name;
    files.push_back('\0');
    all += e.data;
  }
  std::string blocks;
  unsigned blockCount = 0;
  for (size_t pos = 0; pos < all.size(); pos += 32768, ++blockCount) {
    const std::string chunk = all.substr(pos, 32768);
    Put32(blocks, 0);  // no checksum
    Put16(blocks, static_cast<unsigned>(chunk.size()));
    Put16(blocks, static_cast<unsigned>(chunk.size()));
    blocks += chunk;
  }
  const std::uint32_t headerSize = 36 + 8;
  std::string cab = "MSCF";
  Put32(cab, 0);
  Put32(cab, static_cast<std::uint32_t>(headerSize + files.size() + blocks.size()));
  Put32(cab, 0);
  Put32(cab, headerSize);  // first file record
  Put32(cab, 0);
  cab.push_back(3);  // version 1.3
  cab.push_back(1);
  Put16(cab, 1);  // folders
  Put16(cab, static_cast<unsigned>(entries.size()));
  Put16(cab, 0);  // flags
  Put16(cab, 0x4242);
  Put16(cab, 0);
  Put32(cab, static_cast<std::uint32_t>(headerSize + files.size()));  // first data block
  Put16(cab, blockCount);
  Put16(cab, 0);  // stored
  return cab + files + blocks;
}

// Every file below the folder, as relative paths with '\'.
void ListFiles(const std::wstring& folder, const std::wstring& prefix, std::vector<std::wstring>& out) {
  WIN32_FIND_DATAW data;
  UniqueFind find(FindFirstFileW((Back(folder) + L"\\*").c_str(), &data));
  if (!find) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListFiles(folder + L"/" + name, prefix + name + L"\\", out);
    } else {
      out.push_back(prefix + name);
    }
  } while (FindNextFileW(find.Get(), &data));
}

std::string Contents(const std::wstring& path) {
  std::string bytes;
  return ReadBytes(path, bytes) ? bytes : std::string("<unreadable>");
}

}  // namespace

TEST(Cabinet, GcabCabinetsExtractWithFoldersContentsAndTimes) {
  const std::wstring fixtures = kFixtures;
  const std::wstring src = fixtures + L"/src";
  ASSERT_TRUE(FileExists(fixtures + L"/mszip.cab")) << "the build makes the cabinets with gcab";
  const FILETIME timeA = FileTimeOf(2019, 7, 1, 12, 34, 56);
  const FILETIME timeB = FileTimeOf(2008, 1, 31, 23, 59, 58);
  ScratchFolder scratch;
  for (const wchar_t* name : {L"stored.cab", L"mszip.cab"}) {
    SCOPED_TRACE(name);
    const std::wstring out = scratch.File(L"work/one/pkg");  // not there yet: created
    // A leftover longer file at an output name is replaced, not overwritten in place.
    ASSERT_TRUE(CreateFolderChain(out));
    ASSERT_TRUE(WriteBytes(out + L"/a.txt", std::string(500, 'x')));

    ASSERT_TRUE(ExtractCabinet(fixtures + L"/" + name, out));
    std::vector<std::wstring> files;
    ListFiles(out, L"", files);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::wstring>{L"a.txt", L"sub\\c.txt", L"sub\\deeper\\b.bin"}));
    EXPECT_EQ(Contents(out + L"/a.txt"), "first file\r\n");
    EXPECT_EQ(Contents(out + L"/sub/deeper/b.bin"), Contents(src + L"/sub/deeper/b.bin"));
    EXPECT_GT(Contents(out + L"/sub/deeper/b.bin").size(), 100000u);
    EXPECT_EQ(Contents(out + L"/sub/c.txt"), "");

    FILETIME created = {}, written = {};
    ASSERT_TRUE(CreationAndWriteTimes(out + L"/a.txt", created, written));
    EXPECT_EQ(AsNumber(written), AsNumber(timeA));
    EXPECT_EQ(AsNumber(created), AsNumber(timeA));
    std::uint64_t stamp = 0;
    ASSERT_TRUE(GetFileWriteTime(Back(out + L"/sub/deeper/b.bin"), stamp));
    EXPECT_EQ(stamp, AsNumber(timeB));
    ASSERT_TRUE(RemoveTree(scratch.File(L"work")));
  }
}

TEST(Cabinet, StoredCabinetKeepsLocalDosTimesAndUtf8Names) {
  ScratchFolder scratch;
  const std::string cab = StoredCabinet({
      {"INST\\bin\\app.exe", Pattern(40000, 3), DosDate(2021, 6, 15), DosTime(10, 20, 30)},
      {"caf\xC3\xA9.txt", "utf", DosDate(1999, 12, 31), DosTime(0, 0, 2), 0x20 | 0x80},
      {"diff.xml", "<DiffDistribute/>", DosDate(2021, 1, 2), DosTime(3, 4, 6)},
  });
  ASSERT_TRUE(WriteBytes(scratch.File(L"p.cab"), cab));
  const std::wstring out = scratch.File(L"out");
  ASSERT_TRUE(ExtractCabinet(Back(scratch.File(L"p.cab")), out + L"/"));
  EXPECT_EQ(Contents(out + L"/INST/bin/app.exe"), Pattern(40000, 3));
  EXPECT_EQ(Contents(out + L"/caf\x00E9.txt"), "utf");
  EXPECT_EQ(Contents(out + L"/diff.xml"), "<DiffDistribute/>");

  // The stored time is the local time the file shows.
  std::uint64_t stamp = 0;
  ASSERT_TRUE(GetFileWriteTime(Back(out + L"/INST/bin/app.exe"), stamp));
  FILETIME utc = {static_cast<DWORD>(stamp), static_cast<DWORD>(stamp >> 32)};
  SYSTEMTIME utcTime = {}, local = {};
  ASSERT_TRUE(FileTimeToSystemTime(&utc, &utcTime));
  ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &utcTime, &local));
  EXPECT_EQ(local.wYear, 2021);
  EXPECT_EQ(local.wMonth, 6);
  EXPECT_EQ(local.wDay, 15);
  EXPECT_EQ(local.wHour, 10);
  EXPECT_EQ(local.wMinute, 20);
  EXPECT_EQ(local.wSecond, 30);
}

TEST(Cabinet, NotACabinetOrMissingInputWritesNothing) {
  ScratchFolder scratch;
  const std::wstring out = scratch.File(L"out");
  ASSERT_TRUE(WriteBytes(scratch.File(L"plain.cab"), "this is a text file, not a cabinet\n"));
  std::string truncated = StoredCabinet({{"a.txt", "abc", DosDate(2020, 1, 1), 0}});
  ASSERT_TRUE(WriteBytes(scratch.File(L"short.cab"), truncated.substr(0, 20)));
  EXPECT_FALSE(ExtractCabinet(scratch.File(L"plain.cab"), out));
  EXPECT_FALSE(ExtractCabinet(scratch.File(L"short.cab"), out));
  EXPECT_FALSE(ExtractCabinet(scratch.File(L"missing.cab"), out));
  EXPECT_FALSE(ExtractCabinet(L"", out));
  EXPECT_FALSE(ExtractCabinet(scratch.File(L"plain.cab"), L""));
  EXPECT_FALSE(FileExists(out));
}

TEST(Cabinet, UnsafeOrOverlongEntryNamesRefuseTheWholeCabinet) {
  ScratchFolder scratch;
  const std::wstring zone = scratch.File(L"zone");
  const std::wstring out = zone + L"/pkg";
  ASSERT_TRUE(CreateFolderChain(zone));
  const std::string absolute = "C:\\evil-" + std::to_string(GetCurrentProcessId()) + ".txt";
  std::string scratchAbsolute;
  for (wchar_t c : Back(scratch.File(L"evil.txt"))) scratchAbsolute.push_back(static_cast<char>(c));
  std::string deep;
  while (deep.size() < 280) deep += "folder\\";
  deep += "f.txt";
  for (const std::string& hostile :
       {std::string("..\\..\\evil.txt"), std::string("sub\\..\\..\\..\\evil.txt"), std::string("\\evil.txt"),
        absolute, scratchAbsolute, std::string("a.txt:evil"), std::string("../../evil.txt"), deep}) {
    SCOPED_TRACE(hostile);
    // A good file first: the refusal must come before anything is written.
    const std::string cab = StoredCabinet({
        {"good.txt", "good", DosDate(2020, 1, 1), 0},
        {hostile, "evil", DosDate(2020, 1, 1), 0},
    });
    ASSERT_TRUE(WriteBytes(scratch.File(L"hostile.cab"), cab));
    EXPECT_FALSE(ExtractCabinet(scratch.File(L"hostile.cab"), out));
    EXPECT_FALSE(FileExists(out));
    std::vector<std::wstring> files;
    ListFiles(scratch.Path(), L"", files);
    EXPECT_EQ(files, (std::vector<std::wstring>{L"hostile.cab"}));
    EXPECT_FALSE(FileExists(std::wstring(absolute.begin(), absolute.end())));
  }
  // A destination that leaves no room for the names fails the same way.
  const std::wstring longOut = zone + L"/" + std::wstring(240, L'd');
  const std::string cab = StoredCabinet({{"long-enough-name.txt", "x", DosDate(2020, 1, 1), 0}});
  ASSERT_TRUE(WriteBytes(scratch.File(L"ok.cab"), cab));
  EXPECT_FALSE(ExtractCabinet(scratch.File(L"ok.cab"), longOut));
  EXPECT_FALSE(FileExists(longOut));
  EXPECT_TRUE(ExtractCabinet(scratch.File(L"ok.cab"), out));
  EXPECT_EQ(Contents(out + L"/long-enough-name.txt"), "x");
}

TEST(FileUtil, CompareFilesReadsBothToTheEnd) {
  ScratchFolder scratch;
  CQXFileUtil& util = GetFileUtil();
  EXPECT_EQ(&util, &GetFileUtil());
  const std::string big = Pattern(70000, 11);
  std::string differentLast = big;
  differentLast.back() = static_cast<char>(differentLast.back() ^ 1);
  ASSERT_TRUE(WriteBytes(scratch.File(L"e1"), ""));
  ASSERT_TRUE(WriteBytes(scratch.File(L"e2"), ""));
  ASSERT_TRUE(WriteBytes(scratch.File(L"big"), big));
  ASSERT_TRUE(WriteBytes(scratch.File(L"big-copy"), big));
  ASSERT_TRUE(WriteBytes(scratch.File(L"big-longer"), big + "!"));
  ASSERT_TRUE(WriteBytes(scratch.File(L"big-last"), differentLast));
  const auto f = [&](const wchar_t* name) { return Back(scratch.File(name)); };
  EXPECT_EQ(util.CompareFiles(f(L"e1"), f(L"e2")), 1);
  EXPECT_EQ(util.CompareFiles(f(L"big"), f(L"big-copy")), 1);
  EXPECT_EQ(util.CompareFiles(f(L"big"), f(L"big-longer")), 0);
  EXPECT_EQ(util.CompareFiles(f(L"big-longer"), f(L"big")), 0);
  EXPECT_EQ(util.CompareFiles(f(L"big"), f(L"big-last")), 0);
  EXPECT_EQ(util.CompareFiles(f(L"e1"), f(L"big")), 0);
  EXPECT_EQ(util.CompareFiles(f(L"big"), f(L"missing")), -1);
  EXPECT_EQ(util.CompareFiles(f(L"missing"), f(L"big")), -1);
}

TEST(FileUtil, CopyPathCopiesFilesAndFolders) {
  ScratchFolder scratch;
  CQXFileUtil& util = GetFileUtil();
  ASSERT_TRUE(WriteBytes(scratch.File(L"new.dll"), "new bytes"));
  ASSERT_TRUE(WriteBytes(scratch.File(L"old.dll"), "old"));
  // Forward slashes and doubled separators are normalised; missing parents are created.
  const std::wstring target = scratch.Path() + L"//app/bin\\\\lib/new.dll";
  EXPECT_TRUE(util.CopyPath(scratch.File(L"new.dll"), target, false));
  EXPECT_EQ(Contents(scratch.File(L"app/bin/lib/new.dll")), "new bytes");
  // An existing destination stays unless overwriting is asked for.
  EXPECT_FALSE(util.CopyPath(scratch.File(L"new.dll"), scratch.File(L"old.dll"), false));
  EXPECT_EQ(Contents(scratch.File(L"old.dll")), "old");
  EXPECT_TRUE(util.CopyPath(scratch.File(L"new.dll"), scratch.File(L"old.dll"), true));
  EXPECT_EQ(Contents(scratch.File(L"old.dll")), "new bytes");
  EXPECT_FALSE(util.CopyPath(scratch.File(L"missing.dll"), scratch.File(L"m.dll"), true));
  EXPECT_FALSE(FileExists(scratch.File(L"m.dll")));

  // A folder's contents are copied into a new folder, and the answer is still false.
  ASSERT_TRUE(CreateFolderChain(scratch.File(L"tree/inner")));
  ASSERT_TRUE(WriteBytes(scratch.File(L"tree/top.txt"), "top"));
  ASSERT_TRUE(WriteBytes(scratch.File(L"tree/inner/deep.txt"), "deep"));
  EXPECT_FALSE(util.CopyPath(scratch.File(L"tree"), scratch.File(L"copy/of/tree"), false));
  EXPECT_EQ(Contents(scratch.File(L"copy/of/tree/top.txt")), "top");
  EXPECT_EQ(Contents(scratch.File(L"copy/of/tree/inner/deep.txt")), "deep");
}

TEST(FileUtil, FoldersSizesAndTimes) {
  ScratchFolder scratch;
  CQXFileUtil& util = GetFileUtil();
  EXPECT_TRUE(util.CreateFolder(Back(scratch.Path())));
  EXPECT_TRUE(util.CreateFolder(Back(scratch.File(L"one"))));
  EXPECT_TRUE(FileExists(scratch.File(L"one")));
  EXPECT_FALSE(util.CreateFolder(Back(scratch.File(L"two/three"))));
  EXPECT_FALSE(FileExists(scratch.File(L"two")));

  ASSERT_TRUE(WriteBytes(scratch.File(L"five.bin"), "12345"));
  EXPECT_EQ(util.GetFileSizeText(Back(scratch.File(L"five.bin"))), L"5");
  ASSERT_TRUE(WriteBytes(scratch.File(L"empty.bin"), ""));
  EXPECT_EQ(util.GetFileSizeText(Back(scratch.File(L"empty.bin"))), L"0");
  EXPECT_EQ(util.GetFileSizeText(Back(scratch.File(L"missing.bin"))), L"");

  const FILETIME stamp = FileTimeOf(2017, 11, 23, 8, 9, 10);
  ASSERT_TRUE(SetWriteTime(scratch.File(L"five.bin"), stamp));
  std::wstring text = L"left over";
  util.GetFileTimeText(Back(scratch.File(L"five.bin")), text);
  // The C runtime's view of the same file, in local time.
  struct _stat64 status = {};
  ASSERT_EQ(_wstat64(Back(scratch.File(L"five.bin")).c_str(), &status), 0);
  wchar_t expected[32] = {};
  wcsftime(expected, 32, L"%Y-%m-%dT%H:%M:%S", _localtime64(&status.st_mtime));
  EXPECT_EQ(text, expected);
  EXPECT_TRUE(std::regex_match(text, std::wregex(L"2017-11-2[234]T\\d\\d:09:10")));
  text = L"left over";
  util.GetFileTimeText(Back(scratch.File(L"one")), text);
  EXPECT_EQ(text, L"");
  text = L"left over";
  util.GetFileTimeText(Back(scratch.File(L"missing.bin")), text);
  EXPECT_EQ(text, L"");

  std::uint64_t written = 0;
  EXPECT_TRUE(GetFileWriteTime(Back(scratch.File(L"five.bin")), written));
  EXPECT_EQ(written, AsNumber(stamp));
  EXPECT_FALSE(GetFileWriteTime(Back(scratch.File(L"missing.bin")), written));
}

TEST(FileUtil, CreateFolderPathCreatesEveryFolderBeforeABackslash) {
  ScratchFolder scratch;
  const std::wstring base = Back(scratch.Path());
  EXPECT_TRUE(CreateFolderPath(base + L"\\l1\\l2\\l3"));
  EXPECT_TRUE(FileExists(scratch.File(L"l1/l2")));
  EXPECT_FALSE(FileExists(scratch.File(L"l1/l2/l3")));
  EXPECT_TRUE(CreateFolderPath(base + L"\\l1\\l2\\l3\\"));
  EXPECT_TRUE(FileExists(scratch.File(L"l1/l2/l3")));
  // A file in the way, and a root that is no drive.
  ASSERT_TRUE(WriteBytes(scratch.File(L"file"), "x"));
  EXPECT_FALSE(CreateFolderPath(base + L"\\file\\sub\\"));
  EXPECT_FALSE(CreateFolderPath(L"QQ:\\nowhere\\"));
  EXPECT_FALSE(CreateFolderPath(L"no-root-here"));
}

TEST(FileUtil, FileVersionFromTheVersionResource) {
  wchar_t system[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  std::uint32_t most = 0, least = 0;
  ASSERT_TRUE(GetFileVersion(std::wstring(system) + L"\\kernel32.dll", most, least));
  EXPECT_NE(most, 0u);
  ScratchFolder scratch;
  ASSERT_TRUE(WriteBytes(scratch.File(L"plain.dll"), "no resources"));
  EXPECT_FALSE(GetFileVersion(Back(scratch.File(L"plain.dll")), most, least));
  EXPECT_FALSE(GetFileVersion(Back(scratch.File(L"missing.dll")), most, least));
}
