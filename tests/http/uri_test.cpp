#include "http/uri.h"

#include <gtest/gtest.h>

#include "http/text_search.h"
#include "platform/codepage.h"
#include "support/raised.h"

using testsupport::RaisedMessage;

namespace {

struct UriCase {
  const char* url;
  const char* scheme;
  const char* user;
  const char* password;
  const char* host;
  const char* port;
  const char* dir;
  const char* doc;
  const char* query;
  const char* fragment;
};

const UriCase kUriCases[] = {
    {"http://h", "http", "", "", "h", "", "/", "", "", ""},
    {"http://h/", "http", "", "", "h", "", "/", "", "", ""},
    {"HTTP://H/A/B.ZIP", "HTTP", "", "", "H", "", "/A/", "B.ZIP", "", ""},
    {"http://user@h/", "http", "user", "", "h", "", "/", "", "", ""},
    {"http://:secret@h/", "http", "", "", "h", "", "/", "", "", ""},
    {"http://u:p@h:8080/a/b/file.zip?x=1#top", "http", "u", "p", "h", "8080", "/a/b/", "file.zip", "?x=1", "top"},
    {"http://h/dir/file.zip?a=1#frag", "http", "", "", "h", "", "/dir/", "file.zip", "?a=1", "frag"},
    {"http://h/cgi/run=5", "http", "", "", "h", "", "/cgi/", "run", "=5", ""},
    {"http://h/a/b?c/d", "http", "", "", "h", "", "/a/", "b", "?c/d", ""},
    {"http://h:abc/", "http", "", "", "h", "abc", "/", "", "", ""},
    {"http:\\\\h\\dir\\f.zip", "http", "", "", "h", "", "/dir/", "f.zip", "", ""},
    {"http://h/d/f.zip#part", "http", "", "", "h", "", "/d/", "f.zip", "", "part"},
    // Relative forms, as a redirect may give them: no "/" is prepended and the document keeps its "#".
    {"file2.zip", "", "", "", "", "", "", "file2.zip", "", ""},
    {"/dir/file", "", "", "", "", "", "/dir/", "file", "", ""},
    {"sub/f#x", "", "", "", "", "", "sub/", "f#x", "", ""},
    {"sub/f?q#x", "", "", "", "", "", "sub/", "f", "?q", "x"},
};

}  // namespace

TEST(TIdURITest, SplitsUrlsIntoTheirParts) {
  for (const UriCase& c : kUriCases) {
    SCOPED_TRACE(c.url);
    const TIdURI uri(c.url);
    EXPECT_EQ(uri.Scheme, c.scheme);
    EXPECT_EQ(uri.UserPart, c.user);
    EXPECT_EQ(uri.PasswordPart, c.password);
    EXPECT_EQ(uri.HostPart, c.host);
    EXPECT_EQ(uri.PortPart, c.port);
    EXPECT_EQ(uri.DirPart, c.dir);
    EXPECT_EQ(uri.DocPart, c.doc);
    EXPECT_EQ(uri.QueryPart, c.query);
    EXPECT_EQ(uri.FragmentPart, c.fragment);
  }
}

TEST(TIdURITest, ParsingReplacesEveryField) {
  TIdURI uri("http://u:p@h:81/d/f?q#z");
  uri.ParseText("x/y");
  EXPECT_EQ(uri.Scheme, "");
  EXPECT_EQ(uri.UserPart, "");
  EXPECT_EQ(uri.HostPart, "");
  EXPECT_EQ(uri.PortPart, "");
  EXPECT_EQ(uri.QueryPart, "");
  EXPECT_EQ(uri.FragmentPart, "");
  EXPECT_EQ(uri.SourceText, "x/y");
}

TEST(TIdURITest, ComposesWithAndWithoutUserInfoAndFragment) {
  TIdURI uri("http://u:p@h:81/d/f?q#z");
  EXPECT_EQ(uri.ComposeText(/*withUserInfo=*/true, /*withFragment=*/true), "http://u:p@h:81/d/f?q#z");
  EXPECT_EQ(uri.ComposeText(/*withUserInfo=*/false, /*withFragment=*/false), "http://h:81/d/f?q");
  EXPECT_EQ(uri.ComposeForProxy(), "http://h:81/d/f?q");
  EXPECT_EQ(uri.SourceText, "http://u:p@h:81/d/f?q#z");

  uri.PasswordPart.clear();
  EXPECT_EQ(uri.ComposeText(/*withUserInfo=*/true, /*withFragment=*/false), "http://u@h:81/d/f?q");
}

TEST(TIdURITest, ComposeNamesTheMissingField) {
  TIdURI noScheme("/d/f");
  EXPECT_EQ(RaisedMessage<EIdURIException>([&] { noScheme.ComposeText(/*withUserInfo=*/true, /*withFragment=*/true); }),
            "Protocol field is empty");
  TIdURI noHost;
  noHost.Scheme = "http";
  EXPECT_EQ(RaisedMessage<EIdURIException>([&] { noHost.ComposeText(/*withUserInfo=*/false, /*withFragment=*/false); }),
            "Host field is empty");
}

TEST(TIdURITest, LeavesAGbkTrailByteOfBackslashAlone) {
  platform::LeadBytesOverride gbk(platform::GbkLeadBytes());
  // 0x81 0x5C is one GBK character whose second byte is "\".
  const TIdURI uri("http:\\\\h\\dir\\\x81\x5C.zip");
  EXPECT_EQ(uri.DirPart, "/dir/");
  EXPECT_EQ(uri.DocPart, "\x81\x5C.zip");
  EXPECT_EQ(NormalizeSlashes("a\\\x81\x5C\\b\xB0\xA1\\"), "a/\x81\x5C/b\xB0\xA1/");
}

TEST(TIdURITest, SingleByteSystemReplacesEveryBackslash) {
  const platform::LeadByteTable none{};
  platform::LeadBytesOverride singleByte(none);
  EXPECT_EQ(NormalizeSlashes("a\\\x81\x5C"), "a/\x81/");
}

TEST(MergePathTest, ResolvesAgainstTheCurrentDirectory) {
  struct Case {
    const char* base;
    const char* path;
    const char* merged;
  };
  const Case cases[] = {
      {"/a/b/", "../c/", "/a/c/"}, {"/a/b/", "", "/a/b/"},   {"/x/", "/y/", "/y/"},
      {"/a/", "b", "/a/b"},        {"/a", "b/", "/a/b/"},    {"/a//b/", "c//d/", "/a/b/c/d/"},
      {"/", "../x", "/x"},         {"/a/b/", "./c", "/a/b/./c"}, {"", "x/", "x/"},
      {"/a/b/c/", "../../", "/a/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MergePath(c.base, c.path), c.merged) << c.base << " + " << c.path;
  }
}

TEST(TextSearchTest, FindTextSkipsMatchesOnTrailBytes) {
  const std::string text = "\xB0\x41" "A";
  EXPECT_EQ(FindText("A", text), 2);  // a plain byte search on a single-byte system
  platform::LeadBytesOverride gbk(platform::GbkLeadBytes());
  EXPECT_EQ(FindText("A", text), 3);
  EXPECT_EQ(FindText("\\", "\x81\x5C"), 0);
  EXPECT_EQ(FindText("", "abc"), 0);
  EXPECT_EQ(FindText("abcd", "abc"), 0);
}

TEST(TextSearchTest, FindLastIgnoresCaseAndClampsTheStart) {
  EXPECT_EQ(FindLast("/", "a/b/c", -1), 4);
  EXPECT_EQ(FindLast("/", "a/b/c", 3), 2);
  EXPECT_EQ(FindLast("/", "a/b/c", 4), 4);
  EXPECT_EQ(FindLast("B", "abcabc", 99), 5);
  EXPECT_EQ(FindLast("x", "abc", -1), 0);
  EXPECT_EQ(FindLast("/", "a/b", 1), 0);
}

TEST(TextSearchTest, SplitAtConsumesUpToTheDelimiter) {
  std::string input = "key=value=more";
  EXPECT_EQ(SplitAt(input, "="), "key");
  EXPECT_EQ(input, "value=more");

  input = "no delimiter";
  EXPECT_EQ(SplitAt(input, ";"), "no delimiter");
  EXPECT_EQ(input, "");

  input = "a;b";
  EXPECT_EQ(SplitAt(input, ";", /*removeFromInput=*/false), "a");
  EXPECT_EQ(input, "a;b");

  input = "headXtail";
  EXPECT_EQ(SplitAt(input, "x"), "headXtail");
  input = "headXtail";
  EXPECT_EQ(SplitAt(input, "x", /*removeFromInput=*/true, /*caseSensitive=*/false), "head");
  EXPECT_EQ(input, "tail");
}
