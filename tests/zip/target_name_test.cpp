#include "zip/target_name.h"

#include <gtest/gtest.h>

#include "platform/files.h"

namespace {

std::string Native(std::string text) {
  for (char& c : text) {
    if (c == '/') c = platform::kPathSeparator;
  }
  return text;
}

TEST(BuildTargetNameTest, Table) {
  struct Case {
    const char* Stored;
    const char* ExtractDir;
    bool UseStoredDirs;
    const char* Expected;
  };
  const Case cases[] = {
      {"x.txt", "/out/", true, "/out/x.txt"},
      {"/abs/x.txt", "/out/", true, "/out/abs/x.txt"},       // absolute names become relative
      {"C:/x/y.txt", "/out/", true, "/out/x/y.txt"},         // drive prefixes are dropped
      {"C:y.txt", "/out/", true, "/out/y.txt"},
      {"a/../b.txt", "/out/", true, "/out/a/../b.txt"},      // left for the containment check
      {"a/b/c.txt", "/out/", false, "/out/c.txt"},
      {"dir/", "/out/", true, "/out/dir/"},
      {"x.txt", "out/", true, "/out/x.txt"},                 // relative: from the root
      {"", "/out/", true, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BuildTargetName(Native(c.Stored), Native(c.ExtractDir), c.UseStoredDirs), Native(c.Expected))
        << c.Stored;
  }
}

TEST(TargetStaysInsideTest, PosixRules) {
  TTargetRules rules;  // '/' separates, names compare exactly
  EXPECT_TRUE(TargetStaysInside("/out/", "/out/x.txt", rules));
  EXPECT_TRUE(TargetStaysInside("/out/", "/out/a/../b.txt", rules));
  EXPECT_TRUE(TargetStaysInside("/out/", "/out/./dir/", rules));
  EXPECT_TRUE(TargetStaysInside("/a/../out/", "/a/../out/x", rules));
  EXPECT_TRUE(TargetStaysInside("/out/", "/out/a\\..\\..\\x", rules));  // '\' is a name byte here
  EXPECT_FALSE(TargetStaysInside("/out/", "/out/../x.txt", rules));
  EXPECT_FALSE(TargetStaysInside("/out/", "/out/a/../../x.txt", rules));
  EXPECT_FALSE(TargetStaysInside("/out/", "/out/..", rules));
  EXPECT_FALSE(TargetStaysInside("/out/", "/../../etc/passwd", rules));
  EXPECT_FALSE(TargetStaysInside("/out/", "/outside/x", rules));
  EXPECT_FALSE(TargetStaysInside("/out/", "/OUT/x", rules));
}

TEST(TargetStaysInsideTest, WindowsRules) {
  TTargetRules rules;
  rules.BackslashSeparates = true;
  rules.SlashSeparates = true;
  rules.WindowsNames = true;
  EXPECT_TRUE(TargetStaysInside("D:\\out\\", "D:\\out\\x.txt", rules));
  EXPECT_TRUE(TargetStaysInside("D:\\out\\", "d:\\OUT\\sub\\x.txt", rules));
  EXPECT_TRUE(TargetStaysInside("D:\\out\\", "D:\\out\\console.txt", rules));
  EXPECT_TRUE(TargetStaysInside("D:\\out\\", "D:\\out\\com10", rules));
  EXPECT_FALSE(TargetStaysInside("D:\\out\\", "D:\\out\\..\\x.txt", rules));
  EXPECT_FALSE(TargetStaysInside("D:\\out\\", "D:\\out\\a/../../x.txt", rules));
  EXPECT_FALSE(TargetStaysInside("D:\\out\\", "D:\\out\\.. \\x.txt", rules));
  EXPECT_FALSE(TargetStaysInside("D:\\out\\", "D:\\out\\...\\x.txt", rules));
  for (const char* device : {"CON", "nul", "Aux.txt", "PRN", "COM1", "lpt9.log", "CON .txt"}) {
    EXPECT_FALSE(TargetStaysInside("D:\\out\\", std::string("D:\\out\\sub\\") + device, rules)) << device;
  }
  EXPECT_FALSE(TargetStaysInside("D:\\out\\", "D:\\out\\x.txt:stream", rules));
  EXPECT_FALSE(TargetStaysInside("D:\\out\\", "D:\\out\\:c", rules));
}

}  // namespace
