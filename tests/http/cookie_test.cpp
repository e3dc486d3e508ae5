#include "http/cookie_manager.h"

#include <gtest/gtest.h>

#include "http/http_date.h"
#include "rtl/exception.h"
#include "support/raised.h"

using testsupport::RaisedMessage;

namespace {

std::string HeaderFor(TIdCookieManager& manager, const std::string& url, bool secure = false) {
  return manager.CookieHeaderFor(TIdURI(url), secure);
}

}  // namespace

TEST(TIdCookieManagerTest, StoresADomainCookieAndSendsItForEveryPath) {
  TIdCookieManager manager;
  manager.AddSetCookie("SID=abc; path=/; domain=.b.c", "a.b.c");
  EXPECT_NE(manager.CookieCollection().Find(".b.c/", "sid"), nullptr);
  EXPECT_EQ(HeaderFor(manager, "http://a.b.c/"), "SID=abc");
  EXPECT_EQ(HeaderFor(manager, "http://a.b.c/x/y/file.zip"), "SID=abc");
  EXPECT_EQ(HeaderFor(manager, "http://other.b.c/x/"), "SID=abc");
  EXPECT_EQ(HeaderFor(manager, "http://a.x.c/"), "");
}

TEST(TIdCookieManagerTest, KeepsACookieWithoutPathButNeverSendsIt) {
  TIdCookieManager manager;
  manager.AddSetCookie("A=1", "h");
  const TIdNetscapeCookie* cookie = manager.CookieCollection().Find("h", "A");
  ASSERT_NE(cookie, nullptr);
  EXPECT_EQ(cookie->CookieDomain, "h");
  EXPECT_EQ(cookie->CookiePath, "");
  EXPECT_EQ(HeaderFor(manager, "http://h/"), "");
}

TEST(TIdCookieManagerTest, ReplacesTheValueOfASameNamedCookie) {
  TIdCookieManager manager;
  manager.AddSetCookie("A=1; path=/", "h");
  manager.AddSetCookie("a=2; path=/", "h");
  EXPECT_EQ(manager.CookieCollection().Count(), 1);
  EXPECT_EQ(HeaderFor(manager, "http://h/"), "a=2");
  manager.AddSetCookie("A=3; path=/d/", "h");  // another path is another cookie
  EXPECT_EQ(manager.CookieCollection().Count(), 2);
}

TEST(TIdCookieManagerTest, AReplacementWithAnExpiryLeavesTheStoredCookieWithoutOne) {
  TIdCookieManager manager;
  manager.AddSetCookie("A=1; path=/; max-age=3600", "h");
  ASSERT_NE(manager.CookieCollection().Find("h/", "A")->CookieExpires(), "");
  manager.AddSetCookie("A=2; path=/; expires=Fri, 01 Jan 2100 00:00:00 GMT", "h");
  const TIdNetscapeCookie* stored = manager.CookieCollection().Find("h/", "A");
  EXPECT_EQ(stored->CookieValueText, "2");
  EXPECT_EQ(stored->CookieExpires(), "");
  EXPECT_EQ(stored->CookieVersion, 1);
}

TEST(TIdCookieManagerTest, AMaxAgeBeyondTheCalendarExpiresAtItsEnd) {
  for (const char* age : {"9223372036854775807", "99999999999999999"}) {
    TIdCookieManager manager;
    manager.AddSetCookie(std::string("A=1; path=/; max-age=") + age, "h");
    const TIdNetscapeCookie* stored = manager.CookieCollection().Find("h/", "A");
    ASSERT_NE(stored, nullptr) << age;
    EXPECT_NE(stored->CookieExpires().find("Dec 9999 23:59:59"), std::string::npos) << stored->CookieExpires();
    EXPECT_EQ(HeaderFor(manager, "http://h/"), "A=1") << age;
  }
}

TEST(TIdCookieManagerTest, AReplacementWithAnEmptyValueKeepsTheName) {
  TIdCookieManager manager;
  manager.AddSetCookie("A=1; path=/", "h");
  manager.AddSetCookie("A=; path=/", "h");
  const TIdNetscapeCookie* stored = manager.CookieCollection().Find("h/", "A");
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->CookieNameText, "A");
  EXPECT_EQ(stored->CookieValueText, "");
  EXPECT_EQ(stored->CookiePath, "/");
  EXPECT_EQ(HeaderFor(manager, "http://h/"), "");
}

TEST(TIdCookieManagerTest, SendsSecureCookiesOnlyOverSecureConnections) {
  TIdCookieManager manager;
  manager.AddSetCookie("S=1; path=/; secure", "h");
  manager.AddSetCookie("P=2; path=/", "h");
  EXPECT_EQ(HeaderFor(manager, "http://h/"), "P=2");
  EXPECT_EQ(HeaderFor(manager, "https://h/", /*secure=*/true), "S=1; P=2");  // equal paths in order of arrival
}

TEST(TIdCookieManagerTest, DropsExpiredCookiesBeforeBuildingTheText) {
  TIdCookieManager manager;
  manager.AddSetCookie("E=1; path=/; expires=Thu, 01-Jan-1998 00:00:00 GMT", "h");
  manager.AddSetCookie("F=1; path=/; expires=Fri, 01 Jan 2100 00:00:00 GMT", "h");
  manager.AddSetCookie("G=1; path=/; expires=not a date", "h");
  EXPECT_EQ(manager.CookieCollection().Count(), 3);
  EXPECT_EQ(HeaderFor(manager, "http://h/"), "F=1");
  EXPECT_EQ(manager.CookieCollection().Count(), 1);
}

TEST(TIdCookieManagerTest, RefusesCookiesForForeignDomains) {
  TIdCookieManager manager;
  manager.AddSetCookie("A=1; path=/; domain=x.c", "a.b.c");
  manager.AddSetCookie("B=1; path=/; domain=.x.c", "a.b.c");
  manager.AddSetCookie("C=1; path=/; domain=1.2.3.4", "1.2.3.5");
  EXPECT_EQ(manager.CookieCollection().Count(), 0);
}

TEST(TIdCookieManagerTest, NeverSendsACookieToAnotherHost) {
  TIdCookieManager manager;
  manager.AddSetCookie("A=1; path=/", "h");
  manager.AddSetCookie("B=2; path=/", "example.com");
  EXPECT_EQ(HeaderFor(manager, "http://x/h/"), "");         // the domain's text inside the path
  EXPECT_EQ(HeaderFor(manager, "http://ah/"), "");          // the domain's text ending another name
  EXPECT_EQ(HeaderFor(manager, "http://badexample.com/"), "");
  EXPECT_EQ(HeaderFor(manager, "http://H/"), "A=1");
  EXPECT_EQ(HeaderFor(manager, "http://www.example.com/"), "B=2");
}

TEST(TIdCookieManagerTest, StoresButNeverSendsAnEmptyValue) {
  TIdCookieManager manager;
  manager.AddSetCookie("A=; path=/", "h");
  EXPECT_EQ(manager.CookieCollection().Count(), 1);
  EXPECT_EQ(HeaderFor(manager, "http://h/"), "");
}

TEST(TIdCookieManagerTest, SendsLongerPathsFirstAndOnlyPathsThatBeginTheRequestPath) {
  TIdCookieManager manager;
  manager.AddSetCookie("A=1; path=/", "h");
  manager.AddSetCookie("C=3; path=/a/b/", "h");
  manager.AddSetCookie("B=2; path=/a/", "h");
  manager.AddSetCookie("D=4; path=/z/", "h");
  manager.AddSetCookie("E=5; path=/A/", "h");
  EXPECT_EQ(HeaderFor(manager, "http://h/a/b/file.zip"), "C=3; B=2; A=1");
  EXPECT_EQ(HeaderFor(manager, "http://h/a/x"), "B=2; A=1");
}

TEST(TIdCookieManagerTest, LetsOnNewCookieRefuseAndRaisesTheLifetimeEvents) {
  std::vector<std::string> events;
  {
    TIdCookieManager manager([&events](TIdCookieManager&, TIdCookies&) { events.push_back("create"); });
    manager.OnDestroy = [&events](TIdCookieManager&, TIdCookies& cookies) {
      events.push_back("destroy with " + std::to_string(cookies.Count()));
    };
    manager.OnNewCookie = [&events](TIdCookieManager&, TIdNetscapeCookie& cookie, bool& accept) {
      events.push_back("new " + cookie.CookieNameText);
      accept = cookie.CookieNameText != "Refused";
    };
    manager.AddSetCookie("Refused=1; path=/", "h");
    manager.AddSetCookie("Kept=1; path=/", "h");
    manager.AddSetCookie("Foreign=1; path=/; domain=other", "h");
    manager.AddSetCookie("Gone=1; path=/; expires=Thu, 01 Jan 1998 00:00:00 GMT", "h");
  }
  EXPECT_EQ(events, (std::vector<std::string>{"create", "new Refused", "new Kept", "new Gone", "destroy with 1"}));
}

TEST(TIdCookieTest, ParsesAttributesWithoutRegardToCase) {
  TIdCookieRFC2109 cookie;
  cookie.ParseCookieText("N=v=w; Path=\"/p/\"; DOMAIN=h; Secure; Comment=c; Version=1; Max-Age=60");
  EXPECT_EQ(cookie.CookieNameText, "N");
  EXPECT_EQ(cookie.CookieValueText, "v=w");
  EXPECT_EQ(cookie.CookiePath, "/p/");
  EXPECT_EQ(cookie.CookieDomain, "h");
  EXPECT_TRUE(cookie.CookieSecure);
  EXPECT_EQ(cookie.CookieComment, "c");
  EXPECT_EQ(cookie.CookieVersionText, "1");
  EXPECT_EQ(cookie.CookieVersion, 0);  // no expiry text was sent
  EXPECT_NE(cookie.CookieExpires(), "");
  EXPECT_NEAR(static_cast<double>(cookie.CookieMaxAge), 60, 2);
  EXPECT_EQ(cookie.CookieSourceText(), "N=v=w; Path=\"/p/\"; DOMAIN=h; Secure; Comment=c; Version=1; Max-Age=60");
}

TEST(TIdCookieTest, WritesTheServerAndClientTexts) {
  TIdCookieRFC2109 cookie;
  cookie.ParseCookieText("A=1; Path=/; Domain=h; Secure; Comment=c; Version=1; max-age=x");
  EXPECT_EQ(cookie.CookieMaxAge, -1);
  EXPECT_EQ(cookie.ServerCookieText(), "A=1; path=/; domain=h; secure; comment=c; version=1");
  EXPECT_EQ(cookie.ClientCookieText(), "A=1");

  TIdNetscapeCookie netscape;
  netscape.ParseCookieText("B=2; expires=Fri, 01 Jan 2100 00:00:00 GMT; path=/");
  EXPECT_EQ(netscape.ServerCookieText(), "B=2; path=/; expires=Fri, 01 Jan 2100 00:00:00 GMT");
}

TEST(TIdCookieTest, ChecksTheSendingHost) {
  struct Case {
    const char* domain;
    const char* host;
    bool accepted;
  };
  const Case cases[] = {
      {"1.2.3.4", "1.2.3.4", true}, {"2.3.4", "1.2.3.4", false}, {".B.C", ".b.c", true},
      {"b.c", "a.b.c", true},       {"B.C", "a.b.c", false},     {".b.c", "a.b.c", true},
      {".x.c", "a.b.c", false},     {"x.c", "a.b.c", false},     {"h", "h", true},
      {".h", "h", false},           {"a.b.c.d", "b.c.d", false},
  };
  for (const Case& c : cases) {
    TIdNetscapeCookie cookie;
    cookie.CookieDomain = c.domain;
    EXPECT_EQ(cookie.AcceptsHost(c.host), c.accepted) << c.domain << " from " << c.host;
  }
}

TEST(TIdCookieRFC2965Test, ReadsThePortList) {
  struct Case {
    const char* text;
    std::vector<int> ports;
  };
  const Case cases[] = {
      {"A=1", {80}},
      {"A=1; Port=", {80}},
      {"A=1; Port=\"\"", {80}},
      {"A=1; port=\"80, 8080\"", {80, 8080}},
      {"A=1; Port=81", {}},
  };
  for (const Case& c : cases) {
    TIdCookieRFC2965 cookie;
    cookie.ParseCookieText(c.text);
    EXPECT_EQ(cookie.CookiePorts(), c.ports) << c.text;
  }
  TIdCookieRFC2965 cookie;
  cookie.ParseCookieText("A=1; CommentURL=http://c/; Discard");
  EXPECT_EQ(cookie.CookieCommentURL, "http://c/");
  EXPECT_TRUE(cookie.CookieDiscard);
  EXPECT_EQ(cookie.CookieVersion, 0);
  EXPECT_THROW(cookie.SetCookiePort(3, 1), EIdException);
}

// A fuzzer found a Set-cookie with a non-numeric port list raising out of AddSetCookie when it replaced a
// stored RFC 2965 cookie, which re-read the text with its own port rules.
TEST(TIdCookieRFC2965Test, ASetCookieReplacingOneWithPortsNeverRaises) {
  TIdCookieManager manager;
  manager.AddSetCookie2("A=1; path=/; Version=1; Port=\"80\"", "h");
  EXPECT_NO_THROW(manager.AddSetCookie("a=2; path=/; Version=1; Port=\"80,8FRI\"", "h"));
  EXPECT_EQ(manager.CookieCollection().Count(), 1);
  EXPECT_EQ(HeaderFor(manager, "http://h/"), "a=2");
}

TEST(TIdCookieRFC2965Test, ANonNumericQuotedPortRaisesTheConversionError) {
  TIdCookieManager manager;
  EXPECT_EQ(RaisedMessage<EConvertError>([&] { manager.AddSetCookie2("A=1; Port=\"80,x\"", "h"); }),
            "'x' is not a valid integer value");
  manager.AddSetCookie2("B=1; path=/; Version=1", "h");
  EXPECT_EQ(HeaderFor(manager, "http://h/"), "B=1");
}
