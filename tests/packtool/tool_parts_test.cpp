// The parts the verbs stand on, where a fault would go unnoticed by the package tests: the PE
// reader on damaged files, cabinets that keep names, bytes and time stamps, and make's options,
// progress and refusals.
#include <gtest/gtest.h>

#include "package/diff_distribute.h"
#include "pack_test_support.h"
#include "packtool/cabinet.h"
#include "packtool/xml_places.h"
#include "packtool/file_access.h"
#include "packtool/pe_image.h"
#include "support/scratch.h"

#include <algorithm>
#include <chrono>

using namespace brindle;
using namespace brindle::test;

namespace {

bool Put(const std::wstring& path, const std::string& bytes) { return pack::WriteFileBytes(path, bytes); }

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A hook library or a versioned program that is cut short or has a damaged header is read
// without reading past its bytes (the sanitizers of the native build watch this), and never
// yields an export or a version it does not hold in full.
TEST(PackPeImage, DamagedAndTruncatedImagesAreReadSafely) {
  const std::string whole = PeLibrary({"Update_BeforeUpdate", "Update_AfterUpdate"}, 0x00020003);
  const pack::PeImage full = pack::ReadPeImage(whole);
  ASSERT_TRUE(full.valid);
  EXPECT_EQ(full.machine, pack::kMachineX86);
  EXPECT_TRUE(full.isLibrary);
  EXPECT_TRUE(full.Exports("Update_AfterUpdate"));
  EXPECT_FALSE(full.Exports("Update_After"));
  EXPECT_EQ(full.VersionText(), L"2.3.0.0");

  for (size_t length = 0; length < whole.size(); ++length) {
    const pack::PeImage cut = pack::ReadPeImage(whole.substr(0, length));
    for (const std::string& name : cut.exports)
      EXPECT_TRUE(name == "Update_BeforeUpdate" || name == "Update_AfterUpdate" || name.size() < 18)
          << length;
    if (length < 0x380 + 20) {
      EXPECT_FALSE(cut.hasVersion) << length;
    }
  }
  // Every header byte turned to 0xFF in turn: headers claiming huge counts and offsets.
  for (size_t at = 0; at < 0x400; ++at) {
    std::string damaged = whole;
    damaged[at] = '\xFF';
    const pack::PeImage image = pack::ReadPeImage(damaged);
    if (at < 2) {
      EXPECT_FALSE(image.valid) << at;
    }
    EXPECT_LE(image.exports.size(), 65536u);
  }
  EXPECT_FALSE(pack::ReadPeImage("MZ").valid);
  EXPECT_FALSE(pack::ReadPeImage("not a program at all, just text").hasVersion);
}

// Cabinets keep each entry's folder, bytes and time stamp: plan's skip decisions compare the
// stored time with the installed file's, as the program does after extracting.
TEST(PackCabinet, EntriesComeBackWithTheirFoldersBytesAndTimes) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"src/a.txt"), "alpha"));
  ASSERT_TRUE(Put(s.File(L"src/empty.bin"), ""));
  // Below one 32 KB data block: libgcab leaks its inflate state on cabinets of several blocks,
  // which the leak checker of the native build would report.
  std::string binary;
  for (int i = 0; i < 30000; ++i) binary += static_cast<char>((i * 7919) % 251);
  ASSERT_TRUE(Put(s.File(L"src/big.bin"), binary));
  const auto old = pack::fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
  std::error_code ec;
  pack::fs::last_write_time(pack::FsPath(s.File(L"src/a.txt")), old, ec);
  ASSERT_FALSE(ec);

  const std::vector<pack::CabinetEntry> entries = {{L"diff.xml", s.File(L"src/a.txt")},
                                                   {L"INST\\deep\\er\\a.txt", s.File(L"src/a.txt")},
                                                   {L"INST\\empty.bin", s.File(L"src/empty.bin")},
                                                   {L"INST\\big.bin", s.File(L"src/big.bin")}};
  std::wstring reason;
  std::vector<size_t> progress;
  ASSERT_TRUE(pack::WriteCabinet(s.File(L"p.cab"), entries, reason, [&](size_t done, size_t total) {
    EXPECT_EQ(total, entries.size());
    progress.push_back(done);
  })) << Utf8FromWide(reason);
  EXPECT_EQ(progress, (std::vector<size_t>{1, 2, 3, 4}));

  std::vector<std::wstring> names;
  ASSERT_TRUE(pack::ReadCabinet(s.File(L"p.cab"), s.File(L"out"), names, reason)) << Utf8FromWide(reason);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"INST\\big.bin", L"INST\\deep\\er\\a.txt", L"INST\\empty.bin",
                                              L"diff.xml"}));
  std::string bytes;
  ASSERT_TRUE(ReadBytes(s.File(L"out/INST/deep/er/a.txt"), bytes));
  EXPECT_EQ(bytes, "alpha");
  ASSERT_TRUE(ReadBytes(s.File(L"out/INST/empty.bin"), bytes));
  EXPECT_EQ(bytes, "");
  ASSERT_TRUE(ReadBytes(s.File(L"out/INST/big.bin"), bytes));
  EXPECT_EQ(bytes, binary);
  const auto back = pack::fs::last_write_time(pack::FsPath(s.File(L"out/INST/deep/er/a.txt")), ec);
  ASSERT_FALSE(ec);
  const auto drift = std::chrono::duration_cast<std::chrono::seconds>(back - old).count();
  EXPECT_LE(drift < 0 ? -drift : drift, 2) << "the stored time stamp was not kept";

  // A file that is not a cabinet, and a missing one, fail with a reason and extract nothing.
  ASSERT_TRUE(Put(s.File(L"fake.cab"), "MSCF but not really a cabinet"));
  EXPECT_FALSE(pack::ReadCabinet(s.File(L"fake.cab"), s.File(L"fake"), names, reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_FALSE(pack::ReadCabinet(s.File(L"none.cab"), s.File(L"none"), names, reason));
  std::vector<pack::FolderFile> extracted;
  pack::ListFiles(s.File(L"fake"), extracted);
  EXPECT_TRUE(extracted.empty());
}

// Two application folders of many files: progress lines while comparing and packing (none with
// --quiet), the options that shape diff.xml, and the version-down warning.
TEST(PackMake, ManyFilesShowProgressAndTheOptionsShapeThePackage) {
  ScratchFolder s;
  for (int i = 0; i < 150; ++i) {
    const std::wstring name = L"/data/f" + std::to_wstring(i) + L".txt";
    ASSERT_TRUE(Put(s.File(L"old") + name, "old " + std::to_string(i)));
    ASSERT_TRUE(Put(s.File(L"new") + name, (i % 50 == 0 ? "new " : "old ") + std::to_string(i)));
  }
  ASSERT_TRUE(Put(s.File(L"old/lib.dll"), PeLibrary({}, 0x00030000)));
  ASSERT_TRUE(Put(s.File(L"new/lib.dll"), PeLibrary({"X"}, 0x00020000)));
  ToolRun run = RunTool({L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"p.DIFF"), L"--version",
                         L"4.0", L"--target", L"$ProgFolder$\\Tamek\\App", L"--check-app", L"app.exe",
                         L"--check-app", L"helper.exe", L"--diff-xml", s.File(L"copy/diff.xml"), L"--force"});
  // No uninstaller files: the check of what was built fails, and --force keeps it, saying so.
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(
      run.ErrHas("make: --force: " + Utf8FromWide(s.File(L"p.DIFF")) + " was written with 1 error(s)"))
      << run.err;
  EXPECT_TRUE(FileExists(s.File(L"p.DIFF")));
  EXPECT_EQ(Count(run.err, "make: compared "), 11u) << run.err;
  EXPECT_TRUE(run.ErrHas("make: compared 151/151")) << run.err;
  EXPECT_TRUE(run.ErrHas("p.DIFF: 0 added, 4 updated, 0 deleted")) << run.err;
  EXPECT_TRUE(run.ErrHas("warning: lib.dll: the version goes down (3.0.0.0 -> 2.0.0.0)")) << run.err;
  EXPECT_EQ(Count(run.out, "\n"), 4u) << run.out;

  auto model = LoadDiffDistribute(s.File(L"copy/diff.xml"));
  ASSERT_TRUE(model);
  EXPECT_EQ(model->generalInfo->version.text, L"4.0");
  EXPECT_EQ(model->generalInfo->checkAppNames, (std::vector<std::wstring>{L"app.exe", L"helper.exe"}));
  ASSERT_EQ(model->updateObjects->files.size(), 4u);
  EXPECT_EQ(model->updateObjects->files[0]->Path(), L"$ProgFolder$\\Tamek\\App\\data\\f0.txt");
  ASSERT_TRUE(model->updateObjects->files[0]->fileName);
  EXPECT_EQ(model->updateObjects->files[0]->fileName->name, L"data\\f0.txt");
  EXPECT_EQ(model->updateObjects->files[3]->Path(), L"$ProgFolder$\\Tamek\\App\\lib.dll");

  for (const wchar_t* f : {L"COMMON/setup.dll", L"COMMON/Uninst.exe", L"ENGLISH/UninstRsc.dll"})
    ASSERT_TRUE(Put(s.File(L"znq/INSTALL/") + f, "x"));
  ASSERT_TRUE(Put(s.File(L"znq/INSTALL/COMMON/UninsVer.txt"), "7.1"));
  ToolRun quiet = RunTool({L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"q.DIFF"), L"--version",
                           L"4.0", L"--quiet", L"--znq", s.File(L"znq")});
  ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
  EXPECT_FALSE(quiet.ErrHas("make: ")) << quiet.err;

  // Folders that cannot be read, and a version file without a version, stop make with no package.
  ToolRun missing =
      RunTool({L"make", s.File(L"nowhere"), s.File(L"new"), L"-o", s.File(L"m.DIFF"), L"--version", L"1"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_TRUE(missing.ErrHas("nowhere: error: not a folder that can be read")) << missing.err;
  ToolRun noVersion = RunTool(
      {L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"m.DIFF"), L"--version-from", L"data/f1.txt"});
  EXPECT_EQ(noVersion.exitCode, 1);
  EXPECT_TRUE(noVersion.ErrHas("no version resource")) << noVersion.err;
  EXPECT_FALSE(FileExists(s.File(L"m.DIFF")));
}

#ifndef _WIN32
// Names that differ only in letter case are one file on Windows: NEW cannot hold both.
TEST(PackMake, NamesDifferingOnlyInCaseAreRefused) {
  ScratchFolder s;
  ASSERT_TRUE(Put(s.File(L"old/a.txt"), "a"));
  ASSERT_TRUE(Put(s.File(L"new/Read.me"), "1"));
  ASSERT_TRUE(Put(s.File(L"new/READ.ME"), "2"));
  ToolRun run =
      RunTool({L"make", s.File(L"old"), s.File(L"new"), L"-o", s.File(L"p.DIFF"), L"--version", L"2"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.ErrHas("differ only in letter case")) << run.err;
  EXPECT_FALSE(FileExists(s.File(L"p.DIFF")));
}
#endif

}  // namespace

// Where a text the parser refuses goes wrong: line and column (in characters) of the fault.
TEST(PackXmlPlaces, AMalformedTextIsPlacedAtItsFault) {
  struct Case {
    std::string text;
    size_t line, column;
    std::string what;
  };
  const Case cases[] = {
      {"<a>\n  <b></c>\n</a>", 2, 6, "the end tag </c> does not match <b> opened on line 2"},
      {"<a>\n<b>", 2, 1, "<b> is never closed"},
      {"<a x=\"1>\"\n>\n<!-- never", 3, 1, "a comment that is never closed"},
      {"<a>\xC3\xA9 < b</a>", 1, 6, "a '<' that starts no tag"},
      {"<a/>\n<b/>", 2, 1, "a second root element <b>"},
      {"</a>", 1, 1, "the end tag </a> closes no element"},
      {"<a>\n</a>\ntext", 3, 1, "text after the root element's end"},
      {"<a>\n b & c</a>", 2, 4, "a '&' that starts no reference (write &amp;"},
      {"<a>&nbsp;</a>", 1, 4, "the entity &nbsp; is not defined"},
      {"<a>&#x4G;</a>", 1, 4, "the character reference &#x4G; is not a number"},
      {"<a>\n<b x=1/></a>", 2, 6, "the value of the attribute x is not in quotes"},
      {"<a y=\"1\" disabled/>", 1, 10, "the attribute disabled has no value"},
      {"<a x=\"&foo;\"/>", 1, 7, "the entity &foo; is not defined"},
      {"<a>tail &amp", 1, 9, "a '&' that starts no reference"},
  };
  for (const Case& c : cases) {
    pack::XmlMalformation found;
    ASSERT_TRUE(pack::FindMalformation(c.text, found)) << c.text;
    EXPECT_EQ(found.line, c.line) << c.text;
    EXPECT_EQ(found.column, c.column) << c.text;
    EXPECT_NE(Utf8FromWide(found.what).find(c.what), std::string::npos) << Utf8FromWide(found.what);
  }
  pack::XmlMalformation none;
  EXPECT_FALSE(pack::FindMalformation("<?xml version=\"1.0\"?>\n<a><![CDATA[<x>]]><b/></a>\n", none));
  EXPECT_FALSE(pack::FindMalformation("<a x='&amp;&#233;&#xE9;' y = \"2\">&lt;&quot;<!-- & --></a>", none))
      << Utf8FromWide(none.what);
}
