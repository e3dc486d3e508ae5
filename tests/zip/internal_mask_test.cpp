#include "zip/internal_mask.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct MaskCase {
  const char* Name;
  const char* Mask;
  bool Expected;
};

TEST(MaskMatchesTest, Table) {
  const MaskCase cases[] = {
      {"readme", "*.*", false},            // "*.*" demands a dot ...
      {"readme.", "*.*", true},            // ... a trailing one will do
      {"README.TXT", "*.txt", true},       // ASCII letters ignore case
      {"a\\b\\c.txt", "*.txt", true},      // '*' crosses separators
      {"a/b/c.txt", "*.txt", true},
      {"abc", "a?c", true},
      {"ac", "a?c", false},
      {"x", "*?", true},                   // '?' after '*' is dropped
      {"", "*?", true},
      {"archive.tar.gz", "*.gz", true},    // backtracking to the last '.'
      {"archive.gz.tar", "*.gz", false},
      {"data", "*.", true},                // mask ending in '.': a name without one gets one
      {"data.txt", "*.", false},
      {"data.", "*.", true},
      {"anything", "*", true},
      {"", "", true},                      // the empty mask matches only the empty name
      {"a", "", false},
      {"ab", "a?", true},
      {"a", "a?", false},                  // '?' never takes the end of the name
      {"a", "a??", false},
      {"\xC4\xE3.txt", "\xE4\xE3.TXT", false},  // only ASCII letters fold
      {"\xC4\xE3.txt", "\xC4\xE3.TXT", true},
      {"abcabd", "*abd", true},
      {"aaaa", "*a*a*a*a", true},
      {"aaa", "*a*a*a*a", false},
  };
  for (const MaskCase& c : cases) {
    EXPECT_EQ(MaskMatches(c.Name, c.Mask), c.Expected) << "name '" << c.Name << "' mask '" << c.Mask << "'";
  }
}

TEST(MaskMatchesTest, ManyStarsMatchCorrectlyAndQuickly) {
  // 40 star items, more than the 30 resume points a stack of old would hold; exhaustive backtracking
  // over these names would not end in a lifetime.
  std::string mask;
  std::string name;
  for (int i = 0; i < 40; ++i) {
    mask += "*a";
    name += "xa";
  }
  name += "tail";
  EXPECT_TRUE(MaskMatches(name, mask + "*"));
  EXPECT_TRUE(MaskMatches(name, mask + "tail"));
  EXPECT_FALSE(MaskMatches(name, mask + "x"));
  // Needs the earliest stars to move: every 'a' of the name is taken by the last match.
  EXPECT_TRUE(MaskMatches(std::string(80, 'a') + "b", mask + "b"));
  EXPECT_FALSE(MaskMatches(std::string(39, 'a') + "b", mask + "b"));
  EXPECT_FALSE(MaskMatches(std::string(255, 'a'), "*a*a*a*a*a*a*a*a*a*a*b"));
}

TEST(MaskMatchesTest, NameIsNeverReadPastItsEnd) {
  // A name taken from a larger buffer: the bytes after it must not take part.
  const std::string buffer = "abcXYZ";
  EXPECT_FALSE(MaskMatches(std::string_view(buffer.data(), 3), "abc?"));
  EXPECT_FALSE(MaskMatches(std::string_view(buffer.data(), 3), "*X*"));
  EXPECT_TRUE(MaskMatches(std::string_view(buffer.data(), 3), "abc*"));
}

}  // namespace
