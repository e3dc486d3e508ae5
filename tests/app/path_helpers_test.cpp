#include "app/path_helpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "support/temp_dir.h"

using testsupport::TempDir;

namespace {

const std::string S(1, platform::kPathSeparator);

TEST(AffixTest, AddsOnlyWhenMissingAndStripsOneCopy) {
  EXPECT_EQ(AddAffix("", "/", /*atEnd=*/true), "/");
  EXPECT_EQ(AddAffix("a", "", /*atEnd=*/true), "a");
  EXPECT_EQ(AddAffix("a/", "/", /*atEnd=*/true), "a/");
  EXPECT_EQ(AddAffix("a", "/", /*atEnd=*/false), "/a");
  EXPECT_EQ(StripAffix("//a", "/", /*atEnd=*/false), "/a");
  EXPECT_EQ(StripAffix("a//", "/", /*atEnd=*/true), "a/");
  EXPECT_EQ(StripAffix("a", "/", /*atEnd=*/true), "a");
  EXPECT_EQ(StripAffix("ab", "abc", /*atEnd=*/true), "ab");
}

TEST(JoinPathTest, JoinsWithExactlyOneSeparatorAtTheSeam) {
  for (const auto& [first, second] : std::vector<std::pair<std::string, std::string>>{
           {"C:" + S + "A", "B"}, {"C:" + S + "A" + S, "B"}, {"C:" + S + "A", S + "B"}, {"C:" + S + "A" + S, S + "B"}}) {
    EXPECT_EQ(JoinPath(first, second, /*slash=*/false), "C:" + S + "A" + S + "B")
        << first << " + " << second;
  }
  EXPECT_EQ(JoinPath("", "pkg.zip", /*slash=*/false), "pkg.zip");
  EXPECT_EQ(JoinPath("C:" + S + "App", "   ", /*slash=*/false), "C:" + S + "App");
  EXPECT_EQ(JoinPath("  a b ", "\t c d  ", /*slash=*/false), "a b" + S + "c d");
  EXPECT_EQ(JoinPath("x", "y", /*slash=*/true), "x/y");
}

TEST(JoinPathTest, DoubledSeparatorsOnBothSidesLeaveThreeAtTheSeam) {
  EXPECT_EQ(JoinPath("a" + S + S, S + S + "b", /*slash=*/false), "a" + S + S + S + "b");
}

TEST(JoinPathTest, ComparesBytesSoATrailByteEqualToTheSeparatorCounts) {
  // GBK 0x955C: its second byte is '\' and counts as the trailing separator on Windows, where '\' is the
  // separator; this is the behaviour callers have always seen.
  const std::string name = std::string("dir\x95") + S;
  EXPECT_EQ(JoinPath(name, "f", /*slash=*/false), name + "f");
}

TEST(CreateDirChainTest, CreatesMissingLevelsInOrder) {
  TempDir temp;
  const std::string deep = (temp.Path() / "a" / "b" / "c").string();
  EXPECT_TRUE(CreateDirChain(deep));
  EXPECT_TRUE(platform::DirectoryExists(deep));
  EXPECT_TRUE(CreateDirChain(deep));  // existing: nothing to do
  EXPECT_TRUE(CreateDirChain("   "));
}

TEST(CreateDirChainTest, DoubleByteNamesStayWholeWhereTheirTrailByteIsTheBackslash) {
  // Where the separator is the backslash's byte the system itself must read the names as GBK: the Windows
  // build runs this on a system whose code page is 936 (the test "app_cp936", which says so in
  // UPDATER_TEST_CODE_PAGE). Elsewhere GBK's lead bytes stand in for the system's.
  const char* codePage = std::getenv("UPDATER_TEST_CODE_PAGE");
  if (codePage != nullptr && std::string(codePage) == "936") {
    ASSERT_EQ(platform::SystemLeadBytes(), platform::GbkLeadBytes()) << "the system code page is not 936";
  }
  std::optional<platform::LeadBytesOverride> gbk;
  if (!platform::SystemLeadBytes()[0xD5]) {
    if (platform::kPathSeparator == '\\') GTEST_SKIP() << "the system code page is not 936";
    gbk.emplace(platform::GbkLeadBytes());
  }
  const std::string cheng = "\xD5\x5C";  // the GBK bytes of a character ending in the backslash's byte
  const struct {
    std::string Path;
    std::vector<std::string> Levels;  // below the temporary directory
  } rows[] = {
      {cheng, {cheng}},
      {cheng + S, {cheng}},
      {cheng + S + "sub", {cheng, cheng + S + "sub"}},
      {"a" + cheng + "b" + S + cheng + cheng, {"a" + cheng + "b", "a" + cheng + "b" + S + cheng + cheng}},
  };
  for (const auto& row : rows) {
    TempDir temp;
    const std::string base = temp.Path().string() + S;
    EXPECT_TRUE(CreateDirChain(base + row.Path)) << row.Path;
    for (const std::string& level : row.Levels) EXPECT_TRUE(platform::DirectoryExists(base + level)) << level;
  }
}

TEST(CreateDirChainTest, FailsAtAFileInTheWayAndCreatesNothingDeeper) {
  TempDir temp;
  temp.Write("file", "x");
  EXPECT_FALSE(CreateDirChain((temp.Path() / "file" / "sub" / "deeper").string()));
  EXPECT_FALSE(platform::DirectoryExists((temp.Path() / "file" / "sub").string()));
}

}  // namespace
