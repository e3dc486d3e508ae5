#include "app/command_line.h"
#include "platform/process.h"

#include <gtest/gtest.h>

namespace {

using Items = std::vector<std::string>;

const platform::LeadByteTable kNoLeadBytes{};

TEST(SplitCommandLineTest, SplitsAtRunsOfBlanksAndControlBytes) {
  EXPECT_EQ(SplitCommandLine("prog a  b\tc\x01" "d", kNoLeadBytes), (Items{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitCommandLine("prog", kNoLeadBytes), Items{});
  EXPECT_EQ(SplitCommandLine("  prog   ", kNoLeadBytes), Items{});
}

TEST(SplitCommandLineTest, QuotedStretchesKeepBlanksAndJoinWhatTouchesThem) {
  EXPECT_EQ(SplitCommandLine("\"C:\\My App\\up.exe\" \"a b\" c", kNoLeadBytes), (Items{"a b", "c"}));
  EXPECT_EQ(SplitCommandLine("p x\"y z\"w", kNoLeadBytes), Items{"xy zw"});
  EXPECT_EQ(SplitCommandLine("p \"  padded  \"", kNoLeadBytes), Items{"  padded  "});
  // An unterminated quote runs to the end of the line.
  EXPECT_EQ(SplitCommandLine("p \"open end", kNoLeadBytes), Items{"open end"});
}

TEST(SplitCommandLineTest, EmptyQuotedPairIsSkippedSoLaterArgumentsMoveUp) {
  EXPECT_EQ(SplitCommandLine("p url dir \"\" run dl", kNoLeadBytes), (Items{"url", "dir", "run", "dl"}));
  EXPECT_EQ(SplitCommandLine("p \"\"\"\" a", kNoLeadBytes), Items{"a"});
}

TEST(SplitCommandLineTest, LoneQuoteAtTheEndIsAnEmptyItemThatEndsTheCount) {
  EXPECT_EQ(SplitCommandLine("p a b \"", kNoLeadBytes), (Items{"a", "b"}));
}

TEST(SplitCommandLineTest, DoubleByteTrailBytesAreNeverTakenForQuotesOrBlanks) {
  const platform::LeadByteTable& gbk = platform::GbkLeadBytes();
  // 0x81 leads; its trail byte 0x22 is the quote character and 0x20 a blank: both stay in the item.
  EXPECT_EQ(SplitCommandLine("p a\x81\"b c", gbk), (Items{"a\x81\"b", "c"}));
  EXPECT_EQ(SplitCommandLine("p \"x\x81\" y\"", gbk), Items{"x\x81\" y"});
  EXPECT_EQ(SplitCommandLine("p a\x81 b", gbk), Items{"a\x81 b"});
  // Without double-byte rules the same bytes split.
  EXPECT_EQ(SplitCommandLine("p a\x81 b", kNoLeadBytes), (Items{"a\x81", "b"}));
  // A lead byte at the very end does not step over the end.
  EXPECT_EQ(SplitCommandLine("p a\x81", gbk), Items{"a\x81"});
}

TEST(ProgramArgumentsTest, ArgvItemsAreTheItemsAndEmptyOnesAreSkipped) {
  if (platform::RawCommandLine()) GTEST_SKIP() << "this system hands over a raw command line";
  const char* argv[] = {"updater", "u", "", "d", "a b"};
  EXPECT_EQ(ProgramArguments(5, const_cast<char**>(argv)), (Items{"u", "d", "a b"}));
}

}  // namespace
