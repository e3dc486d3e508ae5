#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace {

TEST(GbkToUtf8Test, ConvertsTheUserTexts) {
  struct Case {
    const char* gbk;
    const char* utf8;
  };
  const Case cases[] = {
      {"\xD0\xC5\xCF\xA2\xCC\xE1\xCA\xBE", "\xE4\xBF\xA1\xE6\x81\xAF\xE6\x8F\x90\xE7\xA4\xBA"},  // 信息提示
      {"\xC8\xED\xBC\xFE\xD7\xD4\xB6\xAF\xB8\xFC\xD0\xC2",                                     // 软件自动更新
       "\xE8\xBD\xAF\xE4\xBB\xB6\xE8\x87\xAA\xE5\x8A\xA8\xE6\x9B\xB4\xE6\x96\xB0"},
      {"ASCII stays 1:1", "ASCII stays 1:1"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::GbkToUtf8(c.gbk), c.utf8) << c.utf8;
}

TEST(GbkToUtf8Test, ABrokenSequenceStillGivesText) {
  // A lead byte at the end has no trail: the text around it must survive.
  const std::string converted = platform::GbkToUtf8("ok\xD0");
  EXPECT_EQ(converted.substr(0, 2), "ok");
  EXPECT_GT(converted.size(), 2u);
}

TEST(LeadBytesTest, GbkLeadBytesAre81ToFE) {
  const platform::LeadByteTable& gbk = platform::GbkLeadBytes();
  for (int b = 0; b < 256; ++b) EXPECT_EQ(gbk[static_cast<size_t>(b)], b >= 0x81 && b <= 0xFE) << b;
}

TEST(LeadBytesTest, OverrideReplacesTheSystemTableUntilItEnds) {
  const platform::LeadByteTable before = platform::SystemLeadBytes();
  {
    platform::LeadBytesOverride gbk(platform::GbkLeadBytes());
    EXPECT_TRUE(platform::SystemLeadBytes()[0xD0]);
    EXPECT_FALSE(platform::SystemLeadBytes()['A']);
  }
  EXPECT_EQ(platform::SystemLeadBytes(), before);
  // No ASCII byte ever leads a double-byte character, whatever the system's code page.
  for (int b = 0; b < 0x80; ++b) EXPECT_FALSE(before[static_cast<size_t>(b)]) << b;
}

TEST(SystemTextTest, AsciiPassesUnchanged) {
  EXPECT_EQ(platform::SystemToUtf8("C:\\Program Files\\app.exe"), "C:\\Program Files\\app.exe");
  EXPECT_EQ(platform::OemToSystem("DIR/FILE.TXT"), "DIR/FILE.TXT");
  EXPECT_EQ(platform::SystemToUtf8(""), "");
  EXPECT_EQ(platform::OemToSystem(""), "");
}

}  // namespace
