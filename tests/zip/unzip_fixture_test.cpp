// Archives made by Info-ZIP zip (tests/fixtures/zip, see tools/make_zip_fixtures.py), extracted and
// compared with what Info-ZIP unzip extracts from them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "unzip_test_run.h"
#include "zip/messages.h"
#include "support/zip_builder.h"

namespace {

namespace fs = std::filesystem;
using ziptest::TempDir;

std::string FixturePath(const std::string& name) { return std::string(UPDATER_FIXTURES_DIR) + "/zip/" + name; }

#ifdef _WIN32
constexpr bool kCompareModes = false;
#else
constexpr bool kCompareModes = true;
#endif

// One line per entry, in the form of the .expected files. Symbolic links of the oracle are written as
// regular files holding the link target (we never create links), so the expectation is turned into that.
std::set<std::string> ExpectedListing(const std::string& fixture, const std::set<std::string>& skipped) {
  std::ifstream in(FixturePath(fixture + ".expected"));
  std::set<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string kind;
    fields >> kind;
    if (kind == "l") {
      std::string target;
      std::string path;
      fields >> target >> path;
      char crc[16];
      std::snprintf(crc, sizeof crc, "%08x", ziptest::Crc32(target));
      // Its mode is whatever the process's umask leaves: not compared.
      line = "f " + std::string(crc) + " " + std::to_string(target.size()) + " " + path;
      lines.insert(line);
      continue;
    }
    const std::string path = line.substr(line.rfind(' ') + 1);
    if (skipped.count(path) != 0) continue;
    if (kind != "d" && !kCompareModes) {
      std::istringstream parts(line);
      std::string k, c, s, m, p;
      parts >> k >> c >> s >> m >> p;
      line = k + " " + c + " " + s + " " + p;
    }
    lines.insert(line);
  }
  return lines;
}

std::set<std::string> ActualListing(const fs::path& root, const std::set<std::string>& linkPaths) {
  std::set<std::string> lines;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(entry.path(), root).generic_string();
    if (entry.is_directory()) {
      lines.insert("d " + rel);
      continue;
    }
    const std::string data = ziptest::ReadFile(entry.path());
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x", ziptest::Crc32(data));
    std::string line = "f " + std::string(crc) + " " + std::to_string(data.size()) + " ";
    if (kCompareModes && linkPaths.count(rel) == 0) {
      char mode[8];
      std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(fs::status(entry.path()).permissions() & fs::perms::mask));
      line += std::string(mode) + " ";
    }
    lines.insert(line + rel);
  }
  return lines;
}

struct FixtureCase {
  const char* Name;
  std::set<std::string> Skipped;  // members the extractor leaves out on purpose
  int ExpectedCount;
  std::vector<int> ExpectedCodes;
};

TEST(UnZipFixtureTest, ExtractsWhatInfoZipUnzipExtracts) {
  const FixtureCase cases[] = {
      {"tree", {}, 8, {}},
      {"streamed", {}, 4, {}},
      {"zip64", {}, 4, {}},
      {"encrypted", {}, 3, {}},
      // BZip2 is not a method of this extractor: reported, skipped, the others extracted.
      {"bzip2", {"tree/big.log"}, 2, {zipmsg::kUnsupportedCompressionMethod, zipmsg::kFileFailsCrcCheck}},
  };
  // Archives made by a real tool have a whole central directory: strict reading reads them the same.
  for (const FixtureCase& c : cases) {
    for (const bool strict : {false, true}) {
      SCOPED_TRACE(std::string(c.Name) + (strict ? ", strict" : ""));
      TempDir out;
      TUnZip unzip;
      unzip.Passwords().push_back("secret");
      unzip.CreateStoredDirs = true;  // as unzip does: empty directories too
      unzip.RequireCentralDirectory = strict;
      const ziptest::RunResult run =
          ziptest::ExtractAll(unzip, FixturePath(std::string(c.Name) + ".zip"), out.Text());
      EXPECT_EQ(run.Count, c.ExpectedCount);
      std::vector<int> codes;
      for (const auto& e : run.Errors) codes.push_back(e.Code);
      EXPECT_EQ(codes, c.ExpectedCodes);
      EXPECT_EQ(ActualListing(out.Path(), {"tree/link"}), ExpectedListing(c.Name, c.Skipped));
    }
  }
}

TEST(UnZipFixtureTest, SetUidAndSymbolicLinkModesAreNotRestored) {
  TempDir out;
  TUnZip unzip;
  ziptest::ExtractAll(unzip, FixturePath("tree.zip"), out.Text());
  const fs::path script = out.Path() / "tree" / "setuid.sh";
  ASSERT_TRUE(fs::is_regular_file(script));
  EXPECT_EQ(fs::status(script).permissions() & (fs::perms::set_uid | fs::perms::set_gid | fs::perms::sticky_bit),
            fs::perms::none);
  const fs::path link = out.Path() / "tree" / "link";
  EXPECT_FALSE(fs::is_symlink(link));
  EXPECT_EQ(ziptest::ReadFile(link), "a.txt");
}

TEST(UnZipFixtureTest, EncryptedMembersWithoutPasswordAreSkippedAfterOneReport) {
  TempDir out;
  TUnZip unzip;
  const ziptest::RunResult run = ziptest::ExtractAll(unzip, FixturePath("encrypted.zip"), out.Text());
  EXPECT_EQ(run.Count, 1);
  EXPECT_EQ(run.CountOf(zipmsg::kRequiredEventNotAssigned), 1);
  EXPECT_TRUE(fs::exists(out.Path() / "tree" / "readme"));
  EXPECT_FALSE(fs::exists(out.Path() / "tree" / "a.txt"));
  EXPECT_FALSE(fs::exists(out.Path() / "tree" / "big.log"));
  EXPECT_EQ(ziptest::FilesBelow(out.Path()).size(), 1u);  // no temporary file left behind
}

#ifndef _WIN32
// Byte for byte against a live Info-ZIP unzip, where one is installed (never under Wine).
TEST(UnZipFixtureTest, TreesAreByteForByteThoseOfInfoZipUnzip) {
  if (std::system("unzip -v >/dev/null 2>&1") != 0) GTEST_SKIP() << "Info-ZIP unzip is not installed";
  for (const char* name : {"tree", "streamed", "zip64", "encrypted"}) {
    SCOPED_TRACE(name);
    TempDir ours;
    TempDir theirs;
    TUnZip unzip;
    unzip.Passwords().push_back("secret");
    ziptest::ExtractAll(unzip, FixturePath(std::string(name) + ".zip"), ours.Text());
    const std::string command = "unzip -qq -o -P secret '" + FixturePath(std::string(name) + ".zip") + "' -d '" +
                                theirs.Path().string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    auto expected = ziptest::FilesBelow(theirs.Path());
    if (fs::is_symlink(theirs.Path() / "tree" / "link")) expected["tree/link"] = "a.txt";
    EXPECT_EQ(ziptest::FilesBelow(ours.Path()), expected);
  }
}
#else
TEST(UnZipFixtureTest, TreesAreByteForByteThoseOfInfoZipUnzip) {
  GTEST_SKIP() << "no Info-ZIP unzip runs inside Wine; the listings it made are compared instead";
}
#endif

}  // namespace
