// The extraction driver on archives built byte by byte: unsafe names, failing members, overwrite rules,
// cancellation, passwords, the scratch directory question and Unix modes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/headless/headless_ui.h"
#include "legacy_zip_member.h"
#include "unzip_test_run.h"
#include "zip/messages.h"
#include "support/zip_builder.h"

namespace {

namespace fs = std::filesystem;
using ziptest::BuildZip;
using ziptest::Member;
using ziptest::TempDir;

Member Stored(const std::string& name, const std::string& data) {
  Member m;
  m.Name = name;
  m.Data = data;
  m.Method = 0;
  return m;
}

Member Deflated(const std::string& name, const std::string& data) {
  Member m;
  m.Name = name;
  m.Data = data;
  return m;
}

std::string BigText(size_t size) {
  std::string text;
  for (size_t i = 0; text.size() < size; ++i) text += "line " + std::to_string(i * 7919 % 100003) + "\n";
  text.resize(size);
  return text;
}

TEST(UnZipDriverTest, NamesLeavingTheExtractDirectoryAreNotWritten) {
  TempDir temp;
  const std::string archive = temp.Write("escape.zip", BuildZip({
      Stored("../evil1.txt", "x"),
      Stored("a/../../evil2.txt", "x"),
      Stored("..\\evil3.txt", "x"),         // the foreign separator is a separator too
      Stored("a\\..\\..\\evil4.txt", "x"),
      Stored("/abs.txt", "inside"),          // absolute: made relative
      Stored("C:\\drive.txt", "inside"),     // drive letter: dropped
      Stored("a/../fine.txt", "inside"),     // ".." that stays inside is fine
  }));
  TUnZip unzip;
  const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "out").string());
  EXPECT_EQ(run.Count, 3);
  EXPECT_EQ(run.CountOf(zipmsg::kUnsafeMemberName), 4);
  EXPECT_EQ(run.Errors.size(), 4u);
  const auto files = ziptest::FilesBelow(temp.Path());
  const std::map<std::string, std::string> expected = {
      {"escape.zip", ziptest::ReadFile(archive)},
      {"out/abs.txt", "inside"},
      {"out/drive.txt", "inside"},
      {"out/fine.txt", "inside"},
  };
  EXPECT_EQ(files, expected);
}

// Runs with the current directory set to the given one, and puts the previous one back.
class CurrentDirectoryChange {
 public:
  explicit CurrentDirectoryChange(const fs::path& directory) : m_previous(fs::current_path()) {
    fs::current_path(directory);
  }
  ~CurrentDirectoryChange() { fs::current_path(m_previous); }

 private:
  fs::path m_previous;
};

// A relative ExtractDir is taken against the current directory (never against the root) and held as an
// absolute path, and the members stay inside it.
TEST(UnZipDriverTest, RelativeExtractDirectoriesAreTakenFromTheCurrentDirectory) {
  struct Case {
    const char* ExtractDir;
    const char* Inside;  // where the members land, below the current directory
  };
  const Case cases[] = {
      {"updater-inst", "updater-inst"},
      {"updater-sub/../updater-inst2", "updater-inst2"},
      {"./updater-inst3/sub/", "updater-inst3/sub"},  // '/' is foreign on Windows
      {"", "rel"},                                     // empty: the archive's own (relative) directory
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ExtractDir);
    TempDir temp;
    temp.Write("cwd/rel/a.zip", BuildZip({Stored("x.txt", "x"), Stored("d/y.txt", "y"), Stored("../up.txt", "u")}));
    const fs::path cwd = fs::canonical(temp.Path() / "cwd");
    CurrentDirectoryChange change(cwd);
    TUnZip unzip;
    const ziptest::RunResult run =
        ziptest::ExtractAll(unzip, std::string("rel") + platform::kPathSeparator + "a.zip", c.ExtractDir);
    EXPECT_EQ(unzip.ExtractDir(), ((cwd / c.Inside).make_preferred() / "").string());
    EXPECT_EQ(run.Count, 2);
    EXPECT_EQ(run.CountOf(zipmsg::kUnsafeMemberName), 1);
    // Nothing outside the current directory's tree, the refused "../up.txt" included.
    std::map<std::string, std::string> files = ziptest::FilesBelow(temp.Path());
    EXPECT_EQ(files.erase("cwd/rel/a.zip"), 1u);
    const std::string inside = "cwd/" + std::string(c.Inside) + "/";
    const std::map<std::string, std::string> expected = {{inside + "x.txt", "x"}, {inside + "d/y.txt", "y"}};
    EXPECT_EQ(files, expected);
  }
}

// The system sees a name only up to its first zero byte; so does the extractor (a fuzzer found the search
// for a free temporary name looping for ever on such a name).
TEST(UnZipDriverTest, NamesEndAtTheirFirstZeroByte) {
  TempDir temp;
  const std::string archive = temp.Write("zero.zip", BuildZip({
      Stored(std::string("dir/a.txt\0/../../x", 18), "first"),
      Deflated(std::string("b.txt\0\0junk", 11), "second"),
  }));
  TUnZip unzip;
  const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "out").string());
  EXPECT_EQ(run.Count, 2);
  EXPECT_TRUE(run.Errors.empty());
  const auto files = ziptest::FilesBelow(temp.Path() / "out");
  const std::map<std::string, std::string> expected = {{"dir/a.txt", "first"}, {"b.txt", "second"}};
  EXPECT_EQ(files, expected);
}

// A member name as its archive means it: UTF-8 when flagged, given by a Unicode path field whose CRC is the
// header name's, or written by a Unix host as valid UTF-8; otherwise from the OEM code page. A UTF-8 name is
// written in the system code page: GBK in the Windows run whose code page is 936 ("zip_cp936"); a Windows
// code page without Chinese (1252) cannot hold it and the member fails. Linux keeps UTF-8 as it is.
TEST(UnZipDriverTest, MemberNamesAsTheArchiveMeansThem) {
  const std::string utf8Name = "\xE8\xAF\xB4\xE6\x98\x8E.txt";  // 说明.txt
  const std::string gbkName = "\xCB\xB5\xC3\xF7.txt";
  const auto unicodePath = [](const std::string& crcOf, const std::string& name) {
    const uint32_t crc = ziptest::Crc32(crcOf);
    std::string field = "\x75\x70" + std::string{static_cast<char>(5 + name.size()), '\0'} + '\x01';
    for (int shift = 0; shift < 32; shift += 8) field += static_cast<char>((crc >> shift) & 0xFF);
    return field + name;
  };
  struct Row {
    const char* What;
    std::string Name;
    uint16_t Flags;
    uint16_t VersionMadeBy;
    std::string Extra;
    bool MeantAsUtf8;  // otherwise the name is read from the OEM code page, as the system does
  };
  const Row rows[] = {
      {"flagged UTF-8", utf8Name, 0x0800, 20, "", true},
      {"Unicode path, CRC of the name", "__.txt", 0, 20, unicodePath("__.txt", utf8Name), true},
      {"Unicode path, CRC of another name", "plain.txt", 0, 20, unicodePath("other.txt", utf8Name), false},
      {"Unix host, valid UTF-8", utf8Name, 0, 0x0314, "", true},
      {"Unix host, not UTF-8", "f\x81r.txt", 0, 0x0314, "", false},
      {"DOS host", utf8Name, 0, 20, "", false},
  };
  const char* codePage = std::getenv("UPDATER_TEST_CODE_PAGE");
  const bool windows = platform::kPathSeparator == '\\';
  const bool gbk = codePage != nullptr && std::string(codePage) == "936";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.What);
    TempDir temp;
    Member m = Stored(row.Name, "content");
    m.Flags = row.Flags;
    m.VersionMadeBy = row.VersionMadeBy;
    m.LocalExtra = row.Extra;
    m.CentralExtra = row.Extra;
    const std::string archive = temp.Write("names.zip", BuildZip({m}));
    TUnZip unzip;
    unzip.RequireCentralDirectory = true;
    const std::string out = (temp.Path() / "out").string();
    const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, out);
    if (row.MeantAsUtf8 && windows && !gbk) {
      EXPECT_EQ(run.Count, 0);
      ASSERT_EQ(run.Errors.size(), 1u);
      EXPECT_EQ(run.Errors[0].Code, zipmsg::kMemberNameNotInCodePage);
      EXPECT_EQ(run.Errors[0].FileName, "??.txt");
      EXPECT_FALSE(fs::exists(temp.Path() / "out"));
      continue;
    }
    const std::string expected = !row.MeantAsUtf8 ? platform::OemToSystem(row.Name) : windows ? gbkName : utf8Name;
    EXPECT_EQ(run.Count, 1);
    EXPECT_TRUE(run.Errors.empty());
    EXPECT_TRUE(platform::FileExists(out + platform::kPathSeparator + expected)) << expected;
    EXPECT_EQ(ziptest::FilesBelow(temp.Path() / "out").size(), 1u);
  }
}

// A member of a fixture archive (its compressed bytes, method, variant bits and CRC), stored as target.txt
// with a declared size a gigabyte larger than what its data decode to.
Member PromisesMoreThanItHolds(const std::string& fixture) {
  const TLegacyZipMember source = ReadLegacyZip("legacy/" + fixture).front();
  Member m;
  m.Name = "target.txt";
  m.Method = source.Method;
  m.Flags = source.Flags & 0x06;
  m.Data.assign(source.Compressed.begin(), source.Compressed.end());
  m.DeclaredCrc = source.Crc;
  m.DeclaredUncompressedSize = source.UncompressedSize + (int64_t{1} << 30);
  return m;
}

TEST(UnZipDriverTest, FailingMembersLeaveTheOldFileAndAreNotCounted) {
  struct Case {
    const char* What;
    Member Bad;
    int Code;
  };
  Member wrongCrc = Deflated("target.txt", "new content");
  wrongCrc.DeclaredCrc = 0x12345678;
  Member tooLong = Stored("target.txt", "0123456789");
  tooLong.DeclaredUncompressedSize = 5;  // ten bytes of data for a member declared as five
  Member unsupported = Stored("target.txt", "new content");
  unsupported.Method = 12;
  Member truncatedDeflate = Deflated("target.txt", BigText(100000));
  truncatedDeflate.DeclaredUncompressedSize = 50000;
  Member cutWithItsCrc = truncatedDeflate;
  cutWithItsCrc.DeclaredCrc = ziptest::Crc32(BigText(100000).substr(0, 50000));
  // Output shorter than declared, with the CRC of what does come out.
  Member shortStored = Stored("target.txt", "four");
  shortStored.DeclaredUncompressedSize = int64_t{1} << 30;
  Member shortDeflated = Deflated("target.txt", "four");
  shortDeflated.DeclaredUncompressedSize = int64_t{1} << 30;
  const Case cases[] = {
      {"CRC mismatch", wrongCrc, zipmsg::kFileFailsCrcCheck},
      {"more data than declared", tooLong, zipmsg::kFileFailsCrcCheck},
      {"declared size cuts the data", truncatedDeflate, zipmsg::kFileFailsCrcCheck},
      {"declared size cuts the data, the CRC of the cut", cutWithItsCrc, zipmsg::kFileFailsCrcCheck},
      {"method 12", unsupported, zipmsg::kUnsupportedCompressionMethod},
      {"stored, less than declared", shortStored, zipmsg::kFileFailsCrcCheck},
      {"deflated, less than declared", shortDeflated, zipmsg::kFileFailsCrcCheck},
      {"deflate64, less than declared", PromisesMoreThanItHolds("deflate64-small.zip"), zipmsg::kFileFailsCrcCheck},
      {"shrunk, less than declared", PromisesMoreThanItHolds("shrink-single.zip"), zipmsg::kFileFailsCrcCheck},
      {"reduced, less than declared", PromisesMoreThanItHolds("reduce-factor4.zip"), zipmsg::kFileFailsCrcCheck},
      {"imploded, less than declared", PromisesMoreThanItHolds("implode-single.zip"), zipmsg::kFileFailsCrcCheck},
  };
  for (const Case& c : cases) {
    // Read through the central directory, and by the local header walk (the end record cut off), where
    // the local header's sizes are all there is.
    for (const bool localWalk : {false, true}) {
      SCOPED_TRACE(std::string(c.What) + (localWalk ? ", local header walk" : ""));
      TempDir temp;
      std::string bytes = BuildZip({c.Bad, Stored("other.txt", "fine")});
      if (localWalk) bytes.resize(bytes.size() - 22);
      const std::string archive = temp.Write("a.zip", bytes);
      temp.Write("out/target.txt", "old content");
      TUnZip unzip;
      const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "out").string());
      EXPECT_EQ(run.Count, 1);
      EXPECT_GE(run.CountOf(c.Code), 1);
      const std::map<std::string, std::string> expected = {{"target.txt", "old content"}, {"other.txt", "fine"}};
      EXPECT_EQ(ziptest::FilesBelow(temp.Path() / "out"), expected);
    }
  }
}

// Directories and files below root, relative and '/'-separated: "d name" and "f name".
std::set<std::string> TreeBelow(const fs::path& root) {
  std::set<std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    tree.insert((entry.is_directory() ? "d " : "f ") + entry.path().lexically_relative(root).generic_string());
  }
  return tree;
}

TEST(UnZipDriverTest, DirectoriesAreLeftOnlyForMembersThatAreWritten) {
  TempDir temp;
  fs::path out = temp.Path() / "out";
#ifndef _WIN32
  // Deep enough that the long member below cannot be created (PATH_MAX); on Windows its name alone is past
  // MAX_PATH.
  while (out.string().size() + 251 < 4000) out /= std::string(250, 'p');
  out /= std::string(4000 - out.string().size() - 1, 'q');
#endif
  fs::create_directories(out / "existing");
  Member badCrc = Deflated("bad/crc/x.txt", "data");
  badCrc.DeclaredCrc = 1;
  Member beside = badCrc;
  beside.Name = "keep/sub/bad.txt";
  Member inExisting = badCrc;
  inExisting.Name = "existing/deep/bad.txt";
  Member shortOutput = Stored("short/x.txt", "four");
  shortOutput.DeclaredUncompressedSize = 5;
  Member method = Stored("method/x.txt", "data");
  method.Method = 12;
  std::string longName;
  for (int i = 0; i < 127; ++i) longName += "d/";
  longName += "x";
  const std::string archive =
      temp.Write("a.zip", BuildZip({Stored("keep/ok.txt", "ok"), beside, badCrc, inExisting, shortOutput, method,
                                    Stored("made/", ""), Stored(longName, "long")}));
  TUnZip unzip;
  unzip.CreateStoredDirs = true;
  const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, out.string());
  std::set<std::string> expected = {"d keep", "f keep/ok.txt", "d existing", "d made"};
  // Whatever the system allows for the long name: its directories stay only with its file.
  std::error_code tooLong;
  if (fs::exists(out / longName, tooLong)) {
    for (size_t at = longName.find('/'); at != std::string::npos; at = longName.find('/', at + 1)) {
      expected.insert("d " + longName.substr(0, at));
    }
    expected.insert("f " + longName);
  }
#ifndef _WIN32
  EXPECT_EQ(run.CountOf(zipmsg::kErrorOpeningFile), 1);
#endif
  EXPECT_EQ(TreeBelow(out), expected);
}

// A check decodes every member as a run would, and makes nothing on disk: no file, no temporary file, no
// directory, not for a renamed member nor a directory member; an existing target stays as it is.
TEST(UnZipDriverTest, CheckOnlyDecodesEveryMemberAndWritesNothing) {
  TempDir temp;
  Member badCrc = Deflated("sub/deeper/bad.txt", "data");
  badCrc.DeclaredCrc = 1;
  Member goesOn = Deflated("sub/long.txt", BigText(100000));  // its stream goes on past the declared size
  goesOn.DeclaredUncompressedSize = 50000;
  goesOn.DeclaredCrc = ziptest::Crc32(BigText(100000).substr(0, 50000));
  const std::string archive = temp.Write("a.zip", BuildZip({Deflated("sub/deeper/ok.txt", BigText(300000)),
                                                            Stored("top.txt", "new"), badCrc, goesOn, Stored("made/", "")}));
  temp.Write("top.txt", "old");
  const std::set<std::string> before = TreeBelow(temp.Path());
  std::vector<std::string> ends;
  TUnZip unzip;
  unzip.CheckOnly = true;
  unzip.CreateStoredDirs = true;
  unzip.OnRenameFile = [&](TUnBase&, const std::string& name, std::string& newName) {
    if (name.find("top.txt") != std::string::npos) newName = (temp.Path() / "renamed" / "top.txt").string();
  };
  unzip.OnBegin = [](TUnBase&, const std::string&, int, bool& extract) { extract = true; };
  unzip.OnEnd = [&](TUnBase&, const std::string& name, bool pass) {
    ends.push_back(fs::path(name).filename().string() + (pass ? " pass" : " fail"));
  };
  const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, temp.Text());
  EXPECT_EQ(run.Count, 2);
  const std::vector<std::string> expected = {"ok.txt pass", "top.txt pass", "bad.txt fail", "long.txt fail", " pass"};
  EXPECT_EQ(ends, expected);
  EXPECT_EQ(TreeBelow(temp.Path()), before);
  EXPECT_EQ(ziptest::ReadFile(temp.Path() / "top.txt"), "old");
}

TEST(UnZipDriverTest, StoredCrcEqualToTheComplementPasses) {
  TempDir temp;
  Member m = Deflated("x.txt", "complemented");
  m.DeclaredCrc = ~ziptest::Crc32("complemented");
  const std::string archive = temp.Write("a.zip", BuildZip({m}));
  TUnZip unzip;
  const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, temp.Text());
  EXPECT_EQ(run.Count, 1);
  EXPECT_TRUE(run.Errors.empty());
  EXPECT_EQ(ziptest::ReadFile(temp.Path() / "x.txt"), "complemented");
}

TEST(UnZipDriverTest, SelectionAndOverwriteSettings) {
  TempDir temp;
  const std::string archive = temp.Write("a.zip", BuildZip({Stored("a.txt", "new"), Stored("b.txt", "new")}));
  {
    TUnZip unzip;
    unzip.FileSpec().push_back("");  // no usable line: nothing selected
    EXPECT_EQ(ziptest::ExtractAll(unzip, archive, (temp.Path() / "none").string()).Count, 0);
    EXPECT_FALSE(fs::exists(temp.Path() / "none" / "a.txt"));
  }
  {
    TUnZip unzip;
    unzip.FileSpec().push_back("*.*");
    unzip.SetArchiveFile(archive);
    unzip.SetExtractDir((temp.Path() / "skip").string());
    unzip.OverwriteMode = TOverwriteMode::omSkip;  // without ConfirmOverwrites: skips even new files
    EXPECT_EQ(unzip.Extract(), 0);
    EXPECT_FALSE(fs::exists(temp.Path() / "skip" / "a.txt"));
  }
  {
    // A read-only target is not replaced; the other member is.
    temp.Write("ro/a.txt", "old");
    temp.Write("ro/b.txt", "old");
    ASSERT_TRUE(platform::SetAttributes((temp.Path() / "ro" / "a.txt").string(), platform::kAttrReadOnly));
    TUnZip unzip;
    const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "ro").string());
    EXPECT_EQ(run.Count, 1);
    EXPECT_EQ(run.CountOf(zipmsg::kErrorOpeningFile), 1);
    EXPECT_EQ(ziptest::ReadFile(temp.Path() / "ro" / "a.txt"), "old");
    EXPECT_EQ(ziptest::ReadFile(temp.Path() / "ro" / "b.txt"), "new");
  }
}

TEST(UnZipDriverTest, ConfirmOverwritesAsksOnFileExistsOrReportsItsAbsence) {
  TempDir temp;
  const std::string archive = temp.Write("a.zip", BuildZip({Stored("a.txt", "new")}));
  temp.Write("out/a.txt", "old");
  {
    TUnZip unzip;
    unzip.ConfirmOverwrites = true;
    const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "out").string());
    EXPECT_EQ(run.Count, 0);
    ASSERT_EQ(run.CountOf(zipmsg::kRequiredEventNotAssigned), 1);
    EXPECT_EQ(run.Errors[0].ExtendedMsg, "OnFileExists");
    EXPECT_EQ(ziptest::ReadFile(temp.Path() / "out" / "a.txt"), "old");
  }
  {
    TUnZip unzip;
    unzip.ConfirmOverwrites = true;
    const std::string renamed = (temp.Path() / "out" / "renamed.txt").string();
    unzip.OnFileExists = [&renamed](TUnBase&, const std::string&, std::string& newName, TOverwriteMode& mode) {
      newName = renamed;
      mode = TOverwriteMode::omOverwrite;
    };
    const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "out").string());
    EXPECT_EQ(run.Count, 1);
    EXPECT_EQ(ziptest::ReadFile(temp.Path() / "out" / "a.txt"), "old");
    EXPECT_EQ(ziptest::ReadFile(renamed), "new");
  }
}

TEST(UnZipDriverTest, EventsOfARun) {
  TempDir temp;
  const std::string archive =
      temp.Write("a.zip", BuildZip({Stored("dir/", ""), Stored("a.txt", "a"), Stored("b.txt", "b")}));
  std::vector<std::string> events;  // "dir/" has no directory attribute: its name alone makes it one
  TUnZip unzip;
  unzip.OnActivate = [&](TUnBase&) { events.push_back("activate"); };
  unzip.OnDeactivate = [&](TUnBase&) { events.push_back("deactivate"); };
  unzip.OnElapsedTime = [&](TUnBase&, float seconds) { events.push_back(seconds >= 0 ? "elapsed" : "negative"); };
  unzip.OnRenameFile = [&](TUnBase&, const std::string& name, std::string& newName) {
    if (name.find("b.txt") != std::string::npos) newName = (temp.Path() / "renamed" / "b2.txt").string();
  };
  unzip.OnBegin = [&](TUnBase&, const std::string& name, int count, bool& extract) {
    events.push_back("begin " + fs::path(name).filename().string() + " " + std::to_string(count));
    extract = name.find("skipped") == std::string::npos;
  };
  unzip.OnEnd = [&](TUnBase&, const std::string& name, bool pass) {
    events.push_back("end " + fs::path(name).filename().string() + (pass ? " pass" : " fail"));
  };
  const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "out").string());
  EXPECT_EQ(run.Count, 2);
  const std::vector<std::string> expected = {"activate", "end  pass", "begin a.txt 1", "end a.txt pass",
                                             "begin b2.txt 2", "end b2.txt pass", "elapsed", "deactivate"};
  EXPECT_EQ(events, expected);
  EXPECT_EQ(ziptest::ReadFile(temp.Path() / "renamed" / "b2.txt"), "b");
  EXPECT_FALSE(fs::exists(temp.Path() / "out" / "dir"));  // CreateStoredDirs is off by default
}

TEST(UnZipDriverTest, CancelFromOnProgressStopsAndKeepsTheOldFile) {
  TempDir temp;
  const std::string archive =
      temp.Write("a.zip", BuildZip({Stored("big.txt", BigText(200000)), Deflated("next.txt", "never")}));
  temp.Write("out/big.txt", "old");
  TUnZip unzip;
  int progressCalls = 0;
  unzip.OnProgress = [&progressCalls](TUnBase& sender, uint8_t, uint8_t) {
    if (++progressCalls == 1) sender.SetCancel(true);
  };
  const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "out").string());
  EXPECT_EQ(progressCalls, 1);
  EXPECT_EQ(run.Count, 0);
  ASSERT_FALSE(run.Errors.empty());
  for (const auto& e : run.Errors) EXPECT_EQ(e.Code, zipmsg::kUserCanceled);
  const std::map<std::string, std::string> expected = {{"big.txt", "old"}};
  EXPECT_EQ(ziptest::FilesBelow(temp.Path() / "out"), expected);
}

TEST(UnZipDriverTest, AHandlerThatRaisesAbandonsOnlyItsMember) {
  TempDir temp;
  const std::string archive =
      temp.Write("a.zip", BuildZip({Stored("big.txt", BigText(100000)), Deflated("next.txt", "next")}));
  temp.Write("out/big.txt", "old");
  TUnZip unzip;
  int calls = 0;
  unzip.OnProgress = [&calls](TUnBase&, uint8_t, uint8_t) {
    if (++calls == 1) throw std::runtime_error("handler failed");
  };
  const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "out").string());
  EXPECT_EQ(run.Count, 1);
  const std::map<std::string, std::string> expected = {{"big.txt", "old"}, {"next.txt", "next"}};
  EXPECT_EQ(ziptest::FilesBelow(temp.Path() / "out"), expected);
}

TEST(UnZipDriverTest, ProgressReachesOneHundredAndProcessesMessages) {
  TempDir temp;
  const std::string archive =
      temp.Write("a.zip", BuildZip({Stored("s.txt", BigText(70000)), Deflated("d.txt", BigText(90000))}));
  platform::HeadlessUi ui;
  TUnZip unzip(&ui);
  std::vector<std::pair<int, int>> reports;
  unzip.OnProgress = [&reports](TUnBase&, uint8_t byFile, uint8_t byArchive) { reports.emplace_back(byFile, byArchive); };
  EXPECT_EQ(ziptest::ExtractAll(unzip, archive, temp.Text()).Count, 2);
  ASSERT_GE(reports.size(), 6u);  // 3 stored chunks, 3 inflated chunks
  EXPECT_EQ(reports.back(), std::make_pair(100, 100));
  for (size_t i = 1; i < reports.size(); ++i) EXPECT_GE(reports[i].second, reports[i - 1].second);
  EXPECT_GE(ui.Turns(), static_cast<int>(reports.size()));
}

TEST(UnZipDriverTest, PasswordsFromTheListAndFromOnGetPassword) {
  TempDir temp;
  Member a = Deflated("a.txt", BigText(5000));
  a.Password = "pw";
  Member b = Stored("b.txt", "stored secret");
  b.Password = "pw";
  b.DataDescriptor = true;  // the check byte comes from the DOS time
  const std::string archive = temp.Write("a.zip", BuildZip({a, b}));
  {
    TUnZip unzip;
    unzip.Passwords() = {"wrong", "pw"};
    const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "list").string());
    EXPECT_EQ(run.Count, 2);
    EXPECT_TRUE(run.Errors.empty());
    EXPECT_EQ(ziptest::ReadFile(temp.Path() / "list" / "a.txt"), BigText(5000));
    EXPECT_EQ(ziptest::ReadFile(temp.Path() / "list" / "b.txt"), "stored secret");
  }
  {
    TUnZip unzip;
    std::vector<std::string> answers = {"nope", "pw"};
    int asked = 0;
    unzip.OnGetPassword = [&](TUnBase&, const std::string&, std::string& password, bool&) {
      password = answers[static_cast<size_t>(asked++)];
    };
    const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "asked").string());
    EXPECT_EQ(run.Count, 2);
    EXPECT_EQ(asked, 2);  // the accepted answer serves the second member too
    ASSERT_EQ(run.CountOf(zipmsg::kInvalidPassword), 1);
    EXPECT_EQ(run.Errors[0].ExtendedMsg, "nope");
    EXPECT_EQ(unzip.Passwords(), std::vector<std::string>{"pw"});
  }
  {
    TUnZip unzip;
    unzip.OnGetPassword = [](TUnBase&, const std::string&, std::string&, bool& tryAgain) { tryAgain = false; };
    const ziptest::RunResult run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "refused").string());
    EXPECT_EQ(run.Count, 0);
    ASSERT_GE(run.CountOf(zipmsg::kInvalidPassword), 1);
    EXPECT_EQ(run.Errors[0].ExtendedMsg, "User canceled");
    EXPECT_FALSE(fs::exists(temp.Path() / "refused" / "a.txt"));
  }
}

TEST(UnZipDriverTest, CheckByteOfTraditionalEncryption) {
  const std::string data = "checked secret";
  const int crcByte = static_cast<int>(ziptest::Crc32(data) >> 24);
  const int timeByte = static_cast<int>((Member().DosDateTime >> 8) & 0xFF);
  ASSERT_NE(crcByte, timeByte);
  const struct {
    bool Descriptor;
    int CheckByte;
    bool Accepted;
  } rows[] = {
      {false, crcByte, true},
      {true, timeByte, true},
      {true, crcByte, true},    // a streamed member whose writer knew its CRC
      {false, timeByte, false}, // without a descriptor only the CRC's byte counts
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.Descriptor) + " " + std::to_string(row.CheckByte));
    TempDir temp;
    Member member = Stored("s.txt", data);
    member.Password = "pw";
    member.DataDescriptor = row.Descriptor;
    member.CheckByte = row.CheckByte;
    TUnZip unzip;
    unzip.Passwords() = {"pw"};
    const ziptest::RunResult run =
        ziptest::ExtractAll(unzip, temp.Write("a.zip", BuildZip({member})), (temp.Path() / "out").string());
    EXPECT_EQ(run.Count, row.Accepted ? 1 : 0);
    EXPECT_EQ(run.CountOf(zipmsg::kRequiredEventNotAssigned), row.Accepted ? 0 : 1);
    EXPECT_EQ(fs::exists(temp.Path() / "out" / "s.txt"), row.Accepted);
  }
}

TEST(UnZipDriverTest, ScratchDirConfirmation) {
  TempDir temp;
  // A name beyond ASCII, in the system code page: UTF-8 on Linux, GBK in the Windows run whose code page is
  // 936 ("zip_cp936"); the question shows it in UTF-8, as every text of the window.
  std::string name = "deep";
  const char* codePage = std::getenv("UPDATER_TEST_CODE_PAGE");
  if (codePage != nullptr && std::string(codePage) == "936") {
    name = "\xD6\xD0\xCE\xC4";
  } else if (platform::kPathSeparator == '/') {
    name = "\xE4\xB8\xAD\xE6\x96\x87";
  }
  const std::string parent = temp.Path().string() + platform::kPathSeparator + "scratch" + platform::kPathSeparator;
  const std::string missing = parent + name;
  const std::string shown =
      parent + (name == "deep" ? "deep" : "\xE4\xB8\xAD\xE6\x96\x87") + platform::kPathSeparator;
  {
    platform::HeadlessUi ui;
    TUnZip unzip(&ui);
    unzip.SetScratchDir(missing);
    ASSERT_EQ(ui.LinesStartingWith("confirm").size(), 1u);
    EXPECT_EQ(ui.Log().back(), "confirm Confirm: Directory does not exist... Create?\r\r" + shown);
    EXPECT_TRUE(platform::DirectoryExists(missing));
    EXPECT_EQ(unzip.ScratchDir(), missing + platform::kPathSeparator);
  }
  {
    platform::HeadlessUi ui;
    ui.SetConfirmAnswer(false);
    TUnZip unzip(&ui);
    const std::string refused = (temp.Path() / "refused").string();
    unzip.SetScratchDir(refused);
    EXPECT_FALSE(fs::exists(refused));
    EXPECT_EQ(unzip.ScratchDir(), platform::TempDirectory());
  }
  {
    TUnZip unzip;  // no user interface: the question answers itself with Yes
    const std::string created = (temp.Path() / "quiet").string();
    unzip.SetScratchDir(created);
    EXPECT_TRUE(fs::is_directory(created));
  }
}

TEST(UnZipDriverTest, FailuresOfTheRunItself) {
  TempDir temp;
  {
    TUnZip unzip;
    const ziptest::RunResult run = ziptest::ExtractAll(unzip, (temp.Path() / "missing.zip").string(), temp.Text());
    EXPECT_EQ(run.Count, 0);
    EXPECT_EQ(run.CountOf(zipmsg::kFileNotFound), 1);
    EXPECT_EQ(unzip.ArcType(), TArcType::atNA);
    EXPECT_TRUE(unzip.ArchiveFile().empty());
  }
  {
    TUnZip unzip;
    const std::string text = temp.Write("notes.zip", std::string(5000, 'n'));
    const ziptest::RunResult run = ziptest::ExtractAll(unzip, text, temp.Text());
    EXPECT_EQ(run.Count, 0);
    EXPECT_TRUE(run.Errors.empty());
    EXPECT_EQ(unzip.ArcType(), TArcType::atNA);
  }
}

#ifndef _WIN32
// A file size limit makes writes fail as a full disk does (the platform maps EFBIG to error 112).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &m_previous);
    m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = m_previous;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &m_previous);
    std::signal(SIGXFSZ, m_previousHandler);
  }

 private:
  rlimit m_previous{};
  void (*m_previousHandler)(int) = nullptr;
};

TEST(UnZipDriverTest, DiskFullIsFatalForTheMemberAndZeroesTheCount) {
  TempDir temp;
  const std::string archive = temp.Write(
      "a.zip", BuildZip({Stored("small.txt", "small"), Stored("big.txt", BigText(300000)), Stored("after.txt", "z")}));
  temp.Write("out/big.txt", "old");
  platform::HeadlessUi ui;
  TUnZip unzip(&ui);
  ziptest::RunResult run;
  {
    FileSizeLimit limit(100000);
    run = ziptest::ExtractAll(unzip, archive, (temp.Path() / "out").string());
  }
  EXPECT_EQ(run.CountOf(zipmsg::kDiskFull), 1);
  EXPECT_EQ(run.Count, 1);  // zeroed by the full disk; the member after it counts again
  EXPECT_EQ(ui.LinesStartingWith("box").size(), 1u);
  EXPECT_NE(ui.LinesStartingWith("box")[0].find("Disk full"), std::string::npos);
  const std::map<std::string, std::string> expected = {{"small.txt", "small"}, {"big.txt", "old"}, {"after.txt", "z"}};
  EXPECT_EQ(ziptest::FilesBelow(temp.Path() / "out"), expected);
}

TEST(UnZipDriverTest, UnixModesKeepOnlyPermissionBits) {
  TempDir temp;
  Member setuid = Stored("tool", "#!/bin/sh\n");
  setuid.VersionMadeBy = 0x0314;
  setuid.ExternalAttributes = (0104755u << 16);
  Member link = Stored("link", "/etc/passwd");
  link.VersionMadeBy = 0x0314;
  link.ExternalAttributes = (0120777u << 16);
  Member readOnly = Stored("ro.txt", "r");
  readOnly.VersionMadeBy = 0x0314;
  readOnly.ExternalAttributes = (0100444u << 16);
  const std::string archive = temp.Write("a.zip", BuildZip({setuid, link, readOnly}));
  TUnZip unzip;
  EXPECT_EQ(ziptest::ExtractAll(unzip, archive, temp.Text()).Count, 3);
  EXPECT_EQ(fs::status(temp.Path() / "tool").permissions() & fs::perms::mask, static_cast<fs::perms>(0755));
  EXPECT_FALSE(fs::is_symlink(temp.Path() / "link"));
  EXPECT_EQ(ziptest::ReadFile(temp.Path() / "link"), "/etc/passwd");
  // The link's 0777 is not applied: the file keeps its default mode, which never has execute bits.
  EXPECT_EQ(fs::status(temp.Path() / "link").permissions() & (fs::perms::owner_exec | fs::perms::others_exec),
            fs::perms::none);
  EXPECT_EQ(fs::status(temp.Path() / "ro.txt").permissions() & fs::perms::mask, static_cast<fs::perms>(0444));
}
#else
TEST(UnZipDriverTest, DiskFullIsFatalForTheMemberAndZeroesTheCount) {
  GTEST_SKIP() << "simulating a full disk needs a file-size limit (RLIMIT_FSIZE), which Windows does not have";
}

TEST(UnZipDriverTest, UnixModesKeepOnlyPermissionBits) {
  GTEST_SKIP() << "Unix permission bits are not applied on Windows";
}
#endif

}  // namespace
