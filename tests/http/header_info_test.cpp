#include "http/header_info.h"

#include <gtest/gtest.h>

#include "http/http_date.h"
#include "platform/clock.h"
#include "rtl/exception.h"
#include "support/raised.h"

using testsupport::RaisedMessage;

namespace {

std::vector<std::string> LinesOf(const TIdHeaderList& list) { return list.Lines(); }

}  // namespace

TEST(TIdRequestHeaderInfoTest, WritesTheUpdatersGetInOrder) {
  TIdRequestHeaderInfo request;
  request.ContentType = "text/html";  // as the updater's window sets it
  request.Host = "h";
  request.WriteToLines();
  EXPECT_EQ(LinesOf(request.HeaderLines),
            (std::vector<std::string>{"Content-Type: text/html", "Host: h", "Accept: text/html, */*",
                                      "User-Agent: Mozilla/3.0 (compatible; HTTP Client Library)"}));
}

TEST(TIdRequestHeaderInfoTest, WritesEveryHeaderInItsPlace) {
  TIdRequestHeaderInfo request;
  request.Connection = "keep-alive";
  request.ContentVersion = "1";
  request.ContentEncoding = "gzip";
  request.ContentLanguage = "zh";
  request.ContentType = "text/plain";
  request.ContentLength = 0;
  request.CacheControl = "no-cache";
  request.Pragma = "no-cache";
  request.CustomHeaders.Add("X-Custom: 1");
  request.ProxyConnection = "keep-alive";
  request.Host = "h:8080";
  request.AcceptCharSet = "gbk";
  request.AcceptEncoding = "identity";
  request.AcceptLanguage = "zh-cn";
  request.From = "me@h";
  request.Referer = "http://r/";
  request.WriteToLines();
  EXPECT_EQ(LinesOf(request.HeaderLines),
            (std::vector<std::string>{
                "Connection: keep-alive", "Content-Version: 1", "Content-Encoding: gzip", "Content-Language: zh",
                "Content-Type: text/plain", "Content-Length: 0", "Cache-control: no-cache", "Pragma: no-cache",
                "X-Custom: 1", "Proxy-Connection: keep-alive", "Host: h:8080", "Accept: text/html, */*",
                "Accept-Charset: gbk", "Accept-Encoding: identity", "Accept-Language: zh-cn", "From: me@h",
                "Referer: http://r/", "User-Agent: Mozilla/3.0 (compatible; HTTP Client Library)"}));
}

TEST(TIdRequestHeaderInfoTest, ReplacesACustomHeaderWhereItStands) {
  TIdRequestHeaderInfo request;
  request.CustomHeaders.Add("Accept: x/y");
  request.CustomHeaders.Add("X-Z: 1");
  request.Host = "h";
  request.WriteToLines();
  EXPECT_EQ(LinesOf(request.HeaderLines),
            (std::vector<std::string>{"Accept: text/html, */*", "X-Z: 1", "Host: h",
                                      "User-Agent: Mozilla/3.0 (compatible; HTTP Client Library)"}));
  request.WriteToLines();  // writing again starts from a clear block
  EXPECT_EQ(request.HeaderLines.Count(), 4);
}

TEST(TIdRequestHeaderInfoTest, WritesTheRangeForms) {
  struct Case {
    int64_t start;
    int64_t end;
    const char* range;
  };
  const Case cases[] = {{100, 0, "bytes=100-"},         {100, 199, "bytes=100-199"}, {0, 499, "bytes=0-499"},
                        {0, 0, ""},                     {3000000000, 0, "bytes=3000000000-"}};
  for (const Case& c : cases) {
    TIdRequestHeaderInfo request;
    request.ContentRangeStart = c.start;
    request.ContentRangeEnd = c.end;
    request.WriteToLines();
    EXPECT_EQ(request.HeaderLines.ValueOf("Range"), c.range);
  }
}

TEST(TIdRequestHeaderInfoTest, SendsBasicCredentialsOnlyWhenAsked) {
  TIdRequestHeaderInfo request;
  request.Username = "a";
  request.Password = "b";
  request.WriteToLines();
  EXPECT_EQ(request.HeaderLines.ValueOf("Authorization"), "");
  EXPECT_EQ(request.AuthHandler, nullptr);

  request.BasicAuthentication = true;
  request.WriteToLines();
  EXPECT_EQ(request.HeaderLines.ValueOf("Authorization"), "Basic YTpi");
  ASSERT_NE(request.AuthHandler, nullptr);
}

TEST(TIdRequestHeaderInfoTest, AssignmentCopiesTheValuesButNotTheOldCredentialsHandler) {
  TIdRequestHeaderInfo target;
  target.Username = "old";
  target.BasicAuthentication = true;
  target.WriteToLines();
  ASSERT_NE(target.AuthHandler, nullptr);

  TIdRequestHeaderInfo values;
  values.Username = "a";
  values.Password = "b";
  values.BasicAuthentication = true;
  values.UserAgent = "U";
  values.CustomHeaders.Add("X-A: 1");
  target = values;
  EXPECT_EQ(target.AuthHandler, nullptr);
  target.WriteToLines();
  EXPECT_EQ(target.HeaderLines.ValueOf("Authorization"), "Basic YTpi");
  EXPECT_EQ(target.HeaderLines.ValueOf("User-Agent"), "U");
  EXPECT_EQ(target.HeaderLines.ValueOf("X-A"), "1");
}

TEST(TIdRequestHeaderInfoTest, ClearFieldsRestoresDefaultsAndKeepsTheRest) {
  TIdRequestHeaderInfo request;
  request.Accept = "x";
  request.UserAgent = "y";
  request.AcceptCharSet = "gbk";
  request.BasicAuthentication = true;
  request.ContentLength = 5;
  request.Host = "h";
  request.Pragma = "no-cache";
  request.CustomHeaders.Add("X: 1");
  request.HeaderLines.Add("Old: line");
  request.ClearFields();
  EXPECT_EQ(request.Accept, "text/html, */*");
  EXPECT_EQ(request.UserAgent, "Mozilla/3.0 (compatible; HTTP Client Library)");
  EXPECT_EQ(request.AcceptCharSet, "");
  EXPECT_FALSE(request.BasicAuthentication);
  EXPECT_EQ(request.ContentLength, -1);
  EXPECT_FALSE(request.ContentLengthGiven());
  EXPECT_EQ(request.HeaderLines.Count(), 0);
  EXPECT_EQ(request.Host, "h");
  EXPECT_EQ(request.Pragma, "no-cache");
  EXPECT_EQ(request.CustomHeaders.Count(), 1);
}

TEST(TIdRequestHeaderInfoTest, ReadsTheRangeBackLeniently) {
  TIdRequestHeaderInfo request;
  request.HeaderLines.SetText("Range: bytes=5-x\r\nHost: h\r\n");
  request.ReadFromLines();
  EXPECT_EQ(request.ContentRangeStart, 5);
  EXPECT_EQ(request.ContentRangeEnd, 0);
  EXPECT_EQ(request.Host, "h");
  EXPECT_EQ(request.Accept, "");
}

TEST(TIdResponseHeaderInfoTest, ReadsContentLengthLeniently) {
  struct Case {
    const char* block;
    int64_t length;
  };
  const Case cases[] = {{"Server: s\r\n", -1},
                        {"Content-Length: abc\r\n", -1},
                        {"Content-Length:  10 \r\n", 10},
                        {"Content-Length: 0\r\n", 0},
                        {"Content-Length: 99999999999\r\n", 99999999999},
                        {"Content-Length: 99999999999999999999\r\n", -1}};
  for (const Case& c : cases) {
    TIdResponseHeaderInfo response;
    response.HeaderLines.SetText(c.block);
    response.ReadFromLines();
    EXPECT_EQ(response.ContentLength, c.length) << c.block;
    EXPECT_EQ(response.ContentLengthGiven(), c.length >= 0) << c.block;
  }
}

TEST(TIdResponseHeaderInfoTest, ReadsContentRangeStrictly) {
  TIdResponseHeaderInfo response;
  response.HeaderLines.SetText("Content-Range: bytes 0-99/1000\r\n");
  response.ReadFromLines();
  EXPECT_EQ(response.ContentRangeStart, 0);
  EXPECT_EQ(response.ContentRangeEnd, 99);

  response.HeaderLines.SetText("Content-Range: bytes 3000000000-3999999999/4000000000\r\n");
  response.ReadFromLines();
  EXPECT_EQ(response.ContentRangeStart, 3000000000);
  EXPECT_EQ(response.ContentRangeEnd, 3999999999);

  response.HeaderLines.SetText("Content-Range: bytes x-99/1000\r\n");
  EXPECT_EQ(RaisedMessage<EConvertError>([&] { response.ReadFromLines(); }),
            "'x' is not a valid integer value");

  response.HeaderLines.SetText("Server: s\r\n");
  response.ReadFromLines();
  EXPECT_EQ(response.ContentRangeStart, 0);
  EXPECT_EQ(response.ContentRangeEnd, 0);
}

TEST(TIdResponseHeaderInfoTest, ReadsTheOtherFields) {
  TIdResponseHeaderInfo response;
  EXPECT_EQ(response.ContentType, "text/html");
  response.HeaderLines.SetText(
      "Location: http://h/x\r\nServer: s\r\nProxy-Connection: close\r\nConnection: keep-alive\r\n"
      "WWW-Authenticate: Basic realm=\"a\"\r\nProxy-Authenticate: Basic realm=\"p\"\r\n"
      "www-authenticate: Other x\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\nPragma: no-cache\r\n");
  response.ReadFromLines();
  EXPECT_EQ(response.Location, "http://h/x");
  EXPECT_EQ(response.Server, "s");
  EXPECT_EQ(response.ProxyConnection, "close");
  EXPECT_EQ(response.Connection, "keep-alive");
  EXPECT_EQ(response.ContentType, "");  // the default does not survive a response without one
  EXPECT_EQ(LinesOf(response.WWWAuthenticate), (std::vector<std::string>{"Basic realm=\"a\"", "Other x"}));
  EXPECT_EQ(LinesOf(response.ProxyAuthenticate), (std::vector<std::string>{"Basic realm=\"p\""}));
  EXPECT_DOUBLE_EQ(response.Date, ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"));
  EXPECT_EQ(response.LastModified, 0);
  EXPECT_EQ(response.Pragma, "no-cache");

  response.ClearFields();
  EXPECT_EQ(response.ContentType, "text/html");
  EXPECT_EQ(response.Location, "");
  EXPECT_EQ(response.WWWAuthenticate.Count(), 0);
}

TEST(TIdResponseHeaderInfoTest, ReadsNumericExpiresAsSecondsFromNow) {
  constexpr double kTolerance = 5.0 / kSecondsPerDay;
  TIdResponseHeaderInfo response;
  response.HeaderLines.SetText("Expires: 0\r\n");
  response.ReadFromLines();
  EXPECT_NEAR(response.Expires, platform::NowLocal(), kTolerance);

  response.HeaderLines.SetText("Expires: 90000\r\n");
  response.ReadFromLines();
  EXPECT_NEAR(response.Expires, platform::NowLocal() + 25.0 / 24, kTolerance);

  // -1 is no date: it ends as the local offset.
  response.HeaderLines.SetText("Expires: -1\r\n");
  response.ReadFromLines();
  EXPECT_NEAR(response.Expires, -CurrentTimeZoneBias() / 1440.0, kTolerance);
}

TEST(TIdProxyConnectionInfoTest, AddsProxyCredentialsAndForgetsThemWithTheServer) {
  TIdProxyConnectionInfo proxy;
  proxy.SetProxyServer("proxy");
  proxy.SetProxyPort(3128);
  TIdHeaderList headers;
  proxy.SetHeaders(headers);
  EXPECT_EQ(headers.Count(), 0);

  proxy.BasicAuthentication = true;
  proxy.ProxyUsername = "u";
  proxy.ProxyPassword = "p";
  proxy.SetHeaders(headers);
  EXPECT_EQ(headers.ValueOf("Proxy-Authorization"), "Basic dTpw");

  proxy.SetProxyServer("PROXY");
  EXPECT_NE(proxy.AuthHandler, nullptr);
  proxy.SetProxyPort(3128);
  EXPECT_NE(proxy.AuthHandler, nullptr);
  proxy.SetProxyPort(8080);
  EXPECT_EQ(proxy.AuthHandler, nullptr);
  proxy.SetHeaders(headers);
  proxy.SetProxyServer("other");
  EXPECT_EQ(proxy.AuthHandler, nullptr);
}
