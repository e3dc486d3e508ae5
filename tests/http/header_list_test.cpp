#include "http/header_list.h"

#include <gtest/gtest.h>

#include "http/text_search.h"
#include "platform/codepage.h"

namespace {

TIdHeaderList ListOf(std::initializer_list<const char*> lines) {
  TIdHeaderList list;
  for (const char* line : lines) list.Add(line);
  return list;
}

// A value of "kNN=vNN; " items, long enough to need several lines at width 78.
std::string LongCookieValue(size_t length) {
  std::string value;
  for (int i = 0; value.size() < length; ++i) value += "k" + std::to_string(i) + "=v" + std::to_string(i) + "; ";
  value.resize(length);
  if (value.back() == ' ' || value.back() == ';') value.back() = 'x';
  return value;
}

// True when every piece ends on a character boundary of the system code page.
bool EndsOnCharacterBoundary(const std::string& piece) {
  for (size_t i = 0; i < piece.size(); i += IsLeadByte(piece[i]) ? 2 : 1) {
    if (IsLeadByte(piece[i]) && i + 1 >= piece.size()) return false;
  }
  return true;
}

}  // namespace

TEST(TIdHeaderListTest, FindsNamesWithoutRegardToCase) {
  const TIdHeaderList list = ListOf({"Content-Length: 10", "X-A:b", "no colon here", "Empty:"});
  EXPECT_EQ(list.ValueOf("content-length"), "10");
  EXPECT_EQ(list.ValueOf("X-A"), "b");
  EXPECT_EQ(list.ValueOf("Empty"), "");
  EXPECT_EQ(list.ValueOf("Absent"), "");
  EXPECT_EQ(list.IndexOfHeader("x-a"), 1);
  EXPECT_EQ(list.IndexOfHeader("Absent"), -1);
  EXPECT_EQ(list.NameAt(0), "CONTENT-LENGTH");
  EXPECT_EQ(list.NameAt(2), "");
  EXPECT_EQ(list.ValueAt(-1), "");
  EXPECT_EQ(list.ValueAt(4), "");
}

TEST(TIdHeaderListTest, UnfoldsContinuationLines) {
  TIdHeaderList list = ListOf({"Subject: a", "\tb", " c", "Next: d"});
  EXPECT_EQ(list.ValueOf("Subject"), "a b c");
  EXPECT_EQ(list.ValueOf("Next"), "d");
  list.UnfoldContinuations = false;
  EXPECT_EQ(list.ValueOf("Subject"), "a");
}

TEST(TIdHeaderListTest, FoldsALongValueAndReplacesAllItsLines) {
  TIdHeaderList list = ListOf({"Host: h", "Accept: */*"});
  const std::string value = LongCookieValue(200);
  list.SetValue("Cookie", value);

  ASSERT_GT(list.Count(), 4);
  EXPECT_EQ(list[0], "Host: h");
  EXPECT_EQ(list[1], "Accept: */*");
  EXPECT_EQ(list[2].rfind("Cookie: ", 0), 0u);
  for (int i = 2; i < list.Count(); ++i) {
    EXPECT_LE(list[i].size(), 78u) << list[i];
    if (i > 2) {
      EXPECT_EQ(list[i][0], ' ') << list[i];
    }
  }
  // The breaks fall after the blanks of "; ", so unfolding gives the value back.
  EXPECT_EQ(list.ValueOf("Cookie"), value);

  list.SetValue("Cookie", "short=1");
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list[2], "Cookie: short=1");
}

TEST(TIdHeaderListTest, NeverBreaksInsideQuotes) {
  TIdHeaderList list;
  const std::string quoted = "\"" + std::string(30, 'q') + " inside the quotes, no break " + std::string(30, 'q') + "\"";
  list.SetValue("X-Quoted", "a, b, c, " + quoted + ", d");
  bool found = false;
  for (int i = 0; i < list.Count(); ++i) found = found || list[i].find(quoted) != std::string::npos;
  EXPECT_TRUE(found) << list.Text();
  EXPECT_GT(list.Count(), 1);
}

TEST(TIdHeaderListTest, NeverSplitsADoubleByteCharacter) {
  platform::LeadBytesOverride gbk(platform::GbkLeadBytes());
  std::string value;
  // "\xB0\xA1" is one GBK character; the "\x81 " pairs put a lead byte right before a blank, which must not be
  // taken for a break point.
  for (int i = 0; i < 40; ++i) value += (i % 3 == 0) ? "\x81 \xB0\xA1 " : "\xB0\xA1\xB0\xA1 ";
  value += "end";
  TIdHeaderList list;
  list.SetValue("X-Text", value);
  ASSERT_GT(list.Count(), 1);
  for (int i = 0; i < list.Count(); ++i) {
    EXPECT_TRUE(EndsOnCharacterBoundary(list[i])) << i;
    EXPECT_NE(list[i].back(), '\x81') << i;
  }
}

TEST(TIdHeaderListTest, KeepsAShortValueOnOneLineAndAnUnbreakableValueWhole) {
  TIdHeaderList list;
  list.SetValue("X-Short", std::string(78 - 9, 'a'));  // exactly the width with "X-Short: "
  EXPECT_EQ(list.Count(), 1);
  // The only break point is the blank after the name, so the token goes whole onto a continuation line.
  list.SetValue("X-Long", std::string(100, 'b'));
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list[1], "X-Long:");
  EXPECT_EQ(list[2], " " + std::string(100, 'b'));
  EXPECT_EQ(list.ValueOf("X-Long"), std::string(100, 'b'));
}

// A fuzzer found a piece holding only a control byte and blanks folding into an empty line, which ended the
// value there: what followed was lost to it.
TEST(TIdHeaderListTest, APieceOfOnlyBlanksAndControlBytesLeavesNoEmptyLine) {
  TIdHeaderList list(0);
  list.SetValue("X", "\x1E \xFF   tail   ");
  for (int i = 0; i < list.Count(); ++i) EXPECT_FALSE(list[i].empty()) << i;
  EXPECT_EQ(list.ValueOf("X"), "\xFF tail");
}

TEST(TIdHeaderListTest, EmptyValueRemovesAndNeverAdds) {
  TIdHeaderList list = ListOf({"A: 1", "Subject: a", " b", "C: 3"});
  list.SetValue("Absent", "");
  EXPECT_EQ(list.Count(), 4);
  list.SetValue("subject", "");
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list[0], "A: 1");
  EXPECT_EQ(list[1], "C: 3");
}

TEST(TIdHeaderListTest, ReplacingWithoutFoldingStillDropsTheOldContinuations) {
  TIdHeaderList list = ListOf({"A: 1", " more", "B: 2"});
  list.FoldOnSet = false;
  list.SetValue("A", "x");
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.ValueOf("A"), "x");
}

TEST(TIdHeaderListTest, CollectsRepeatedHeadersInOrder) {
  const TIdHeaderList list = ListOf({"Set-Cookie: a=1", "Other: x", "set-cookie: b=2", " ; path=/"});
  std::vector<std::string> values{"earlier"};
  list.CollectValues("Set-cookie", values);
  EXPECT_EQ(values, (std::vector<std::string>{"earlier", "a=1", "b=2 ; path=/"}));
}

TEST(TIdHeaderListTest, ALineBreakInAValueCannotStartAHeaderLine) {
  TIdHeaderList list;
  list.SetValue("Cookie", "a=1\r\nX-Injected: 1\rY: 2\nZ: 3");
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.IndexOfHeader("X-Injected"), -1);
  EXPECT_EQ(list[0], "Cookie: a=1  X-Injected: 1 Y: 2 Z: 3");
}
