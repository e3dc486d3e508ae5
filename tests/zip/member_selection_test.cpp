#include "zip/member_selection.h"

#include <gtest/gtest.h>

#include "platform/files.h"

namespace {

// Names in the native form the extractor makes of stored names.
std::string Native(std::string text) {
  for (char& c : text) {
    if (c == '/') c = platform::kPathSeparator;
  }
  return text;
}

bool Select(const std::string& name, std::vector<std::string> lines, bool recurse = true,
            const std::vector<std::string>& exclude = {}) {
  return MatchesFileSpec(Native(name), lines, recurse, exclude, nullptr);
}

TEST(NameDirectoryPartTest, Table) {
  const std::pair<const char*, const char*> cases[] = {
      {"a.txt", ""},
      {"dir/a.txt", "dir/"},
      {"dir/sub/", "dir/sub/"},
      {"C:/x", "C:/"},
      {"C:x", "C:x/"},  // three characters with a ':' are all directory
      {"C:/", "C:/"},
  };
  for (const auto& [name, expected] : cases) {
    EXPECT_EQ(NameDirectoryPart(Native(name)), Native(expected)) << name;
  }
}

TEST(MatchesFileSpecTest, StarDotStarSelectsNamesWithoutADotAndDirectories) {
  EXPECT_TRUE(Select("readme", {"*.*"}));
  EXPECT_TRUE(Select("dir/", {"*.*"}));
  EXPECT_TRUE(Select("dir/sub/readme", {"*.*"}));
  EXPECT_TRUE(Select("a.txt", {"*.*"}));
  EXPECT_FALSE(Select("", {"*.*"}));
  EXPECT_FALSE(Select("a.txt", {}));
  EXPECT_FALSE(Select("a.txt", {""}));
}

TEST(MatchesFileSpecTest, ALineWithoutADotIsWrittenBackWithOne) {
  std::vector<std::string> lines = {"readme"};
  EXPECT_TRUE(MatchesFileSpec("readme", lines, true, {}, nullptr));  // equal: no rewrite
  EXPECT_EQ(lines[0], "readme");
  EXPECT_TRUE(MatchesFileSpec(Native("d/readme"), lines, true, {}, nullptr));  // last component matches
  EXPECT_EQ(lines[0], "readme");
  EXPECT_FALSE(MatchesFileSpec("other", lines, true, {}, nullptr));  // the retry changes the line
  EXPECT_EQ(lines[0], "readme.");
  EXPECT_TRUE(MatchesFileSpec("readme", lines, true, {}, nullptr));
}

TEST(MatchesFileSpecTest, DirectoryPartsWithAndWithoutRecursion) {
  EXPECT_TRUE(Select("sub/a.txt", {"*.txt"}, true));
  EXPECT_FALSE(Select("sub/a.txt", {"*.txt"}, false));
  EXPECT_TRUE(Select("a.txt", {"*.txt"}, false));
  EXPECT_TRUE(Select("sub/a.txt", {Native("SUB/*.txt")}, false));
  EXPECT_FALSE(Select("other/a.txt", {Native("sub/*.txt")}, true));
  EXPECT_TRUE(Select("SUB/A.TXT", {Native("sub/a.txt")}, false));  // equal ignoring case
}

TEST(MatchesFileSpecTest, ExcludeSpecWinsAndFiresTheEvent) {
  std::vector<std::string> lines = {"*.*"};
  std::vector<std::string> excluded;
  const auto onExclude = [&excluded](const std::string& name) { excluded.push_back(name); };
  EXPECT_FALSE(MatchesFileSpec("setup.log", lines, true, {"*.log"}, onExclude));
  EXPECT_TRUE(MatchesFileSpec("setup.exe", lines, true, {"*.log"}, onExclude));
  EXPECT_EQ(excluded, std::vector<std::string>{"setup.log"});
}

}  // namespace
