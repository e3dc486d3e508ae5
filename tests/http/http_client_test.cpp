#include "http/http_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <typeinfo>
#include <vector>

#include "net/anti_freeze.h"
#include "net/exceptions.h"
#include "net/ssl_io_handler.h"
#include "platform/clock.h"
#include "platform/headless/headless_ui.h"
#include "rtl/sysutils.h"
#include "support/http_peer.h"
#include "support/loopback_server.h"
#include "support/receive_pieces.h"
#include "support/scripted_io_handler.h"

namespace {

using testsupport::AnswerHttpReplies;
using testsupport::HttpReply;
using testsupport::LoopbackConnection;
using testsupport::LoopbackServer;
using testsupport::RequestHeads;
using testsupport::ScriptedIOHandler;
using testsupport::ServeHttpReplies;

std::string Url(const LoopbackServer& server, const std::string& path) {
  return "http://127.0.0.1:" + IntToStr(server.Port()) + path;
}

// The server the scripted peer plays.
const std::string kScriptedServer = "http://127.0.0.1:8080";

// The client as the updater's form sets it up, with a read limit so that a stalled exchange fails quickly.
void ConfigureAsUpdater(TIdHTTP& http) {
  http.SetRecvBufferSize(10240);
  http.SetMaxLineAction(maException);
  http.AllowCookies = true;
  http.Request().ContentType = "text/html";
  http.SetReadTimeout(5000);
}

// The updater's client talking to the scripted peer, which answers each request with the next reply.
class ScriptedClient {
 public:
  ScriptedClient(std::vector<HttpReply> replies, int piece) : peer(AnswerHttpReplies(std::move(replies)), piece) {
    ConfigureAsUpdater(http);
    http.SetIOHandler(&peer);
  }
  // What the client sent, as request heads, on the index-th connection it opened.
  std::vector<std::string> Heads(size_t index = 0) const { return RequestHeads(peer.Sent(index)); }

  ScriptedIOHandler peer;
  TIdHTTP http;
};

// The exchanges that are not about sockets run on the scripted peer, with whole receives and with receives
// of one byte; each suite below is this fixture under its own name.
class ScriptedExchangeTest : public ::testing::TestWithParam<int> {};

// Read work as text: "begin N", the last running total of each run of OnWork, "end", joined by "|".
class WorkLog {
 public:
  explicit WorkLog(TIdHTTP& http) {
    http.OnWorkBegin = [this](TIdComponent*, TWorkMode mode, int32_t max) {
      if (mode == wmRead) Add("begin " + IntToStr(max));
    };
    http.OnWork = [this](TIdComponent*, TWorkMode mode, int32_t total) {
      if (mode != wmRead) return;
      largestStep = std::max(largestStep, total - lastTotal);
      lastTotal = total;
      ++works;
      if (!m_inRun) m_events.emplace_back();
      m_events.back() = IntToStr(total);
      m_inRun = true;
    };
    http.OnWorkEnd = [this](TIdComponent*, TWorkMode mode) {
      if (mode == wmRead) Add("end");
    };
  }
  std::string Text() const {
    std::string text;
    for (const std::string& event : m_events) text += (text.empty() ? "" : "|") + event;
    return text;
  }
  int works = 0;
  int32_t lastTotal = 0;
  int32_t largestStep = 0;

 private:
  void Add(const std::string& event) {
    m_events.push_back(event);
    m_inRun = false;
    lastTotal = 0;
  }
  std::vector<std::string> m_events;
  bool m_inRun = false;
};

// An announced length may be a lie: the stream must not be grown far beyond what arrived.
constexpr int64_t kReasonableGrowth = 4 * 1024 * 1024;

// A memory stream that remembers the largest size it was asked to take, and refuses to grow beyond a
// reasonable size so that a client that trusts a hostile length fails the test instead of the machine.
class SizeWatchingStream : public TMemoryStream {
 public:
  void SetSize(int64_t size) override {
    largestSize = std::max(largestSize, size);
    if (size > kReasonableGrowth) throw EStreamError("grown to " + IntToStr(size));
    TMemoryStream::SetSize(size);
  }
  int64_t largestSize = 0;
};

// "ok", or the class and message of what the call raised.
std::string Outcome(const std::function<void()>& call) {
  try {
    call();
    return "ok";
  } catch (const EIdHTTPProtocolException& error) {
    return "EIdHTTPProtocolException: " + error.Message();
  } catch (const EIdConnClosedGracefully& error) {
    return "EIdConnClosedGracefully: " + error.Message();
  } catch (const EIdReadLnMaxLineLengthExceeded& error) {
    return "EIdReadLnMaxLineLengthExceeded: " + error.Message();
  } catch (const EIdReadTimeout& error) {
    return "EIdReadTimeout: " + error.Message();
  } catch (const EIdIOHandlerPropInvalid& error) {
    return "EIdIOHandlerPropInvalid: " + error.Message();
  } catch (const EIdException& error) {
    if (typeid(error) != typeid(EIdException)) return std::string("unexpected ") + typeid(error).name();
    return "EIdException: " + error.Message();
  } catch (const std::exception& error) {
    return std::string("unexpected ") + typeid(error).name() + ": " + error.what();
  }
}

const std::string kUpdaterHeaders =
    "Content-Type: text/html\r\n"
    "Host: 127.0.0.1:8080\r\n"
    "Accept: text/html, */*\r\n"
    "User-Agent: Mozilla/3.0 (compatible; HTTP Client Library)\r\n";

std::string UpdaterHead(const std::string& target, const std::string& extra = "") {
  return "GET " + target + " HTTP/1.1\r\n" + kUpdaterHeaders + extra + "\r\n";
}

// --- The request

using TIdHTTPRequestTest = ScriptedExchangeTest;
INSTANTIATE_TEST_SUITE_P(Pieces, TIdHTTPRequestTest, testsupport::kReceivePieces, testsupport::ReceivePieceName);

TEST_P(TIdHTTPRequestTest, SendsTheUpdatersGetWithoutFragmentOrLength) {
  ScriptedClient c({{"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"}}, GetParam());
  TMemoryStream body;
  c.http.Get(kScriptedServer + "/d/u.zip?v=1#part", body);
  EXPECT_EQ(body.DataString(), "hello");
  EXPECT_EQ(c.peer.Sent(0), UpdaterHead("/d/u.zip?v=1"));
}

TEST_P(TIdHTTPRequestTest, AssigningTheRequestCopiesItsFieldValues) {
  ScriptedClient c({{"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}}, GetParam());
  TIdHTTPRequest values;
  values.ContentType = "application/zip";
  values.Accept = "*/*";
  values.UserAgent = "Updater/2";
  values.Referer = "http://r/";
  c.http.Request() = values;
  TMemoryStream body;
  c.http.Get(kScriptedServer + "/", body);
  EXPECT_EQ(c.peer.Sent(0), "GET / HTTP/1.1\r\nContent-Type: application/zip\r\nHost: 127.0.0.1:8080"
                            "\r\nAccept: */*\r\nReferer: http://r/\r\nUser-Agent: Updater/2\r\n\r\n");
}

TEST_P(TIdHTTPRequestTest, HostCarriesThePortUnlessItIsTheText80) {
  // Through a proxy the client names any host, so the header can be seen for the default port too.
  const struct {
    const char* url;
    const char* requestLine;
    const char* host;
  } rows[] = {
      // The location always carries a port by the time it is composed for the proxy.
      {"http://h/d/u.zip", "GET http://h:80/d/u.zip HTTP/1.1", "Host: h"},
      {"http://h:8080/d/u.zip", "GET http://h:8080/d/u.zip HTTP/1.1", "Host: h:8080"},
      {"http://h:80/d/u.zip", "GET http://h:80/d/u.zip HTTP/1.1", "Host: h"},
      {"http://h:080/d/u.zip", "GET http://h:080/d/u.zip HTTP/1.1", "Host: h:080"},
  };
  for (const auto& row : rows) {
    ScriptedClient c({{"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}}, GetParam());
    c.http.ProxyParams.SetProxyServer("proxy.example");
    c.http.ProxyParams.SetProxyPort(3128);
    TMemoryStream body;
    c.http.Get(row.url, body);
    EXPECT_EQ(c.peer.Host() + ":" + IntToStr(c.peer.Port()), "proxy.example:3128") << row.url;
    const std::string head = c.peer.Sent(0);
    EXPECT_EQ(head.substr(0, head.find("\r\n")), row.requestLine) << row.url;
    EXPECT_NE(head.find(std::string("\r\n") + row.host + "\r\n"), std::string::npos) << row.url << "\n" << head;
  }
}

// --- Over a socket

TEST(TIdHTTPSocketTest, AnHttpsUrlFailsWithoutConnecting) {
  LoopbackServer server(ServeHttpReplies({}));
  TIdHTTP http;
  ConfigureAsUpdater(http);
  TMemoryStream body;
  EXPECT_EQ(Outcome([&] { http.Get("https://127.0.0.1:" + IntToStr(server.Port()) + "/u.zip", body); }),
            "EIdIOHandlerPropInvalid: IOHandler value is not valid");
  EXPECT_FALSE(http.IsConnected());
  EXPECT_EQ(server.FinishedConnections(), 0u);
}

TEST(TIdHTTPSocketTest, ACloseFromAWorkHandlerEndsAnAnnouncedBodyWithWhatArrived) {
  // As the updater's cancel button does: the connection is closed from inside the read.
  LoopbackServer server(ServeHttpReplies({{"HTTP/1.1 200 OK\r\nContent-Length: 2147483647\r\n\r\n0123456789"}}));
  TIdHTTP http;
  ConfigureAsUpdater(http);
  http.OnWork = [&](TIdComponent*, TWorkMode mode, int32_t) {
    if (mode == wmRead) http.CloseConnection();
  };
  SizeWatchingStream body;
  http.Get(Url(server, "/u.zip"), body);
  EXPECT_EQ(body.DataString(), "0123456789");
  EXPECT_LE(body.largestSize, kReasonableGrowth);
  EXPECT_FALSE(http.IsConnected());
}

// --- Framings and work events

using TIdHTTPBodyTest = ScriptedExchangeTest;
INSTANTIATE_TEST_SUITE_P(Pieces, TIdHTTPBodyTest, testsupport::kReceivePieces, testsupport::ReceivePieceName);

TEST_P(TIdHTTPBodyTest, FramingsGiveTheBodyAndOneWorkPairPerRead) {
  const struct {
    const char* framing;
    std::string reply;
    bool closeAfter;
    std::string body;
    std::string work;
    // Where receives of one byte differ: the bytes that the read meeting the close received are kept but not
    // reported as work; with whole receives they came with the header block and were reported from the buffer.
    std::string workInBytes = "";
    // The final response's head as OnResponseHead saw it: its code and the work reported before it.
    std::string heads = "";
  } rows[] = {
      {"Content-Length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", false, "hello", "begin 5|5|end"},
      {"chunked, one chunk of 0x1a",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1a\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n", false,
       "abcdefghijklmnopqrstuvwxyz", "begin 26|26|end"},
      {"chunked, an extension after ';'",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1a;name=value\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n",
       false, "abcdefghijklmnopqrstuvwxyz", "begin 26|26|end"},
      {"chunked, two chunks and a trailer",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5 ; x=y\r\nhello\r\n6\r\n world\r\n0\r\nX-Sum: 1\r\n\r\n",
       false, "hello world", "begin 5|5|end|begin 6|6|end"},
      {"until close", "HTTP/1.1 200 OK\r\n\r\nuntil close", true, "until close", "begin 0|11|end", "begin 0|end"},
      {"a length beyond 32 bits, cut by the close", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\nhello",
       true, "hello", "begin 2147483647|5|end", "begin 2147483647|end"},
      {"Content-Length: 0", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false, "", ""},
      {"204 without a length", "HTTP/1.1 204 No Content\r\n\r\n", false, "", ""},
      {"after 100 Continue",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 100 Continue\r\nX: y\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
       false, "ok", "begin 2|2|end"},
      {"after 102 Processing and 103 Early Hints",
       "HTTP/1.1 102 Processing\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a.css>\r\n\r\nHTTP/1.1 200 OK\r\n"
       "Content-Length: 2\r\n\r\nok",
       false, "ok", "begin 2|2|end"},
      {"one head hook after 100 Continue, before two chunks",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
       "2\r\nok\r\n2\r\nok\r\n0\r\n\r\n",
       false, "okok", "begin 2|2|end|begin 2|2|end", "", "200 before []"},
  };
  for (const auto& row : rows) {
    ScriptedClient c({{row.reply, row.closeAfter}}, GetParam());
    WorkLog work(c.http);
    std::string heads;
    c.http.OnResponseHead = [&](TIdCustomHTTP* sender) {
      heads += IntToStr(sender->Response().StatusCode()) + " before [" + work.Text() + "]";
    };
    TMemoryStream body;
    EXPECT_EQ(Outcome([&] { c.http.Get(kScriptedServer + "/u.zip", body); }), "ok") << row.framing;
    EXPECT_EQ(body.DataString(), row.body) << row.framing;
    const std::string& expected = GetParam() == 1 && !row.workInBytes.empty() ? row.workInBytes : row.work;
    EXPECT_EQ(work.Text(), expected) << row.framing;
    if (!row.heads.empty()) {
      EXPECT_EQ(heads, row.heads) << row.framing;
    }
  }
}

TEST_P(TIdHTTPBodyTest, ALargeBodyArrivesInPiecesOfAtMostTheReceiveBuffer) {
  // Larger than the first slice by which the stream grows, so that several slices make up one read.
  std::string payload(1536 * 1024 + 7, '\0');
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7 + i / 251);
  ScriptedClient c(
      {{"HTTP/1.1 200 OK\r\nContent-Length: " + IntToStr(payload.size()) + "\r\n\r\n" + payload}}, GetParam());
  WorkLog work(c.http);
  TMemoryStream body;
  c.http.Get(kScriptedServer + "/u.zip", body);
  EXPECT_TRUE(body.DataString() == payload);
  EXPECT_EQ(work.Text(), "begin " + IntToStr(payload.size()) + "|" + IntToStr(payload.size()) + "|end");
  EXPECT_LE(work.largestStep, 10240);
  EXPECT_GE(work.works, static_cast<int>(payload.size() / 10240));
}

TEST_P(TIdHTTPBodyTest, AServerClosingInsideALengthLeavesTheShortBodyWithoutError) {
  ScriptedClient c({{"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhello", true}}, GetParam());
  WorkLog work(c.http);
  TMemoryStream body;
  c.http.Get(kScriptedServer + "/u.zip", body);
  EXPECT_EQ(body.DataString(), "hello");
  // The five bytes that the read meeting the close received are not reported as work (see the framings).
  EXPECT_EQ(work.Text(), GetParam() == 1 ? "begin 10|end" : "begin 10|5|end");
  EXPECT_FALSE(c.http.IsConnected());
}

// --- Statuses

using TIdHTTPStatusTest = ScriptedExchangeTest;
INSTANTIATE_TEST_SUITE_P(Pieces, TIdHTTPStatusTest, testsupport::kReceivePieces, testsupport::ReceivePieceName);

TEST_P(TIdHTTPStatusTest, RefusedStatusesFailWithTheStatusLineAndLeaveTheStreamEmpty) {
  const struct {
    std::string reply;
    bool closeAfter;
    std::string message;
    int code;
    std::string errorBody;
  } rows[] = {
      {"HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 5\r\n\r\nmoved", false, "HTTP/1.1 302 Found",
       302, "moved"},
      {"HTTP/1.1 200 OK\r\nLocation: /elsewhere\r\nContent-Length: 2\r\n\r\nok", false, "HTTP/1.1 200 OK", 200, "ok"},
      {"HTTP/1.1 304 Not Modified\r\n\r\n", true, "HTTP/1.1 304 Not Modified", 304, ""},
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone", false, "HTTP/1.1 404 Not Found", 404, "gone"},
      {"HTTP/1.1 101 Switching Protocols\r\nContent-Length: 0\r\n\r\n", false, "HTTP/1.1 101 Switching Protocols",
       101, ""},
      {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\nContent-Length: 6\r\n\r\ndenied", false,
       "HTTP/1.1 401 Unauthorized", 401, "denied"},
      {"\r\n\r\npage", true, "", -1, "page"},
  };
  for (const auto& row : rows) {
    ScriptedClient c({{row.reply, row.closeAfter}, {"HTTP/1.1 200 OK\r\n\r\n", true}}, GetParam());
    TMemoryStream body;
    try {
      c.http.Get(kScriptedServer + "/u.zip", body);
      ADD_FAILURE() << row.message;
    } catch (const EIdHTTPProtocolException& error) {
      EXPECT_EQ(error.Message(), row.message);
      EXPECT_EQ(error.ReplyCode(), row.code) << row.message;
      EXPECT_EQ(error.ErrorBody(), row.errorBody) << row.message;
    }
    EXPECT_EQ(body.Size(), 0) << row.message;
    EXPECT_EQ(c.http.Request().AuthHandler, nullptr) << row.message;
    EXPECT_EQ(c.Heads().size(), 1u) << "nothing followed: " << row.message;
  }
}

TEST_P(TIdHTTPStatusTest, TwentyInterimResponsesAreSkippedAndTheTwentyFirstFails) {
  const struct {
    int interim;
    std::string outcome;
    std::string body;
  } rows[] = {
      {20, "ok", "ok"},
      {21, "EIdException: Too many interim responses (more than 20)", ""},
  };
  for (const auto& row : rows) {
    std::string reply;
    for (int i = 0; i < row.interim; ++i) reply += "HTTP/1.1 100 Continue\r\n\r\n";
    ScriptedClient c({{reply + "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}}, GetParam());
    TMemoryStream body;
    EXPECT_EQ(Outcome([&] { c.http.Get(kScriptedServer + "/u.zip", body); }), row.outcome) << row.interim;
    EXPECT_EQ(body.DataString(), row.body) << row.interim;
    EXPECT_EQ(c.http.IsConnected(), row.outcome == "ok") << row.interim;
  }
}

TEST_P(TIdHTTPStatusTest, HandledRedirectsStopAtTheFifteenthPass) {
  std::vector<HttpReply> replies;
  for (int n = 2; n <= 16; ++n) {
    replies.push_back({"HTTP/1.1 302 Found\r\nLocation: /r" + IntToStr(n) + "\r\nContent-Length: 3\r\n\r\nabc"});
  }
  ScriptedClient c(replies, GetParam());
  c.http.HandleRedirects = true;
  std::vector<std::string> offered;
  c.http.OnRedirect = [&](TIdCustomHTTP*, std::string& dest, int count, bool& handled, TIdHTTPMethod&) {
    offered.push_back(dest + "@" + IntToStr(count) + (handled ? "" : " unhandled"));
  };
  TMemoryStream body;
  c.http.Get(kScriptedServer + "/r1", body);
  EXPECT_EQ(body.Size(), 0);
  EXPECT_EQ(c.http.Response().Location, "/r16");
  EXPECT_EQ(c.http.RedirectCount, 0);
  ASSERT_EQ(offered.size(), 15u);
  EXPECT_EQ(offered.front(), "/r2@1");
  EXPECT_EQ(offered.back(), "/r16@15");
  const std::vector<std::string> heads = c.Heads();
  ASSERT_EQ(heads.size(), 15u) << "all passes on the kept connection";
  EXPECT_EQ(heads.back(), UpdaterHead("/r15")) << "a relative target keeps the port";
}

TEST_P(TIdHTTPStatusTest, AFollowedRedirectReplacesWhatTheCallWrote) {
  ScriptedClient c({
      {"HTTP/1.1 301 Moved\r\nLocation: /b\r\nContent-Length: 3\r\n\r\nabc"},
      {"HTTP/1.1 302 Found\r\nLocation: c?q=1\r\nContent-Length: 0\r\n\r\n"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ndone"},
  }, GetParam());
  c.http.HandleRedirects = true;
  TMemoryStream body;
  body.WriteBuffer("pre", 3);
  c.http.Get(kScriptedServer + "/d/a", body);
  EXPECT_EQ(body.DataString(), "predone");
  const std::vector<std::string> heads = c.Heads();
  ASSERT_EQ(heads.size(), 3u);
  EXPECT_EQ(heads[1], UpdaterHead("/b"));
  EXPECT_EQ(heads[2], UpdaterHead("/c?q=1"));
}

TEST_P(TIdHTTPStatusTest, InProcessAuthRetriesWithTheUrlsCredentials) {
  ScriptedClient c({
      {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\nContent-Length: 6\r\n\r\ndenied"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nin"},
  }, GetParam());
  c.http.HTTPOptions |= hoInProcessAuth;
  TMemoryStream body;
  c.http.Get("http://user:pw@127.0.0.1:8080/u.zip", body);
  EXPECT_EQ(body.DataString(), "in");
  const std::vector<std::string> heads = c.Heads();
  ASSERT_EQ(heads.size(), 2u);
  EXPECT_EQ(heads[0].find("Authorization"), std::string::npos);
  EXPECT_EQ(heads[1], UpdaterHead("/u.zip", "Authorization: Basic dXNlcjpwdw==\r\n"));
  ASSERT_NE(c.http.Request().AuthHandler, nullptr);
  EXPECT_EQ(c.http.Request().AuthHandler->Params().ValueOf("Authorization"), "Basic dXNlcjpwdw==")
      << "the offer gives the handler its own credentials text";
}

TEST_P(TIdHTTPStatusTest, AnAcceptedChallengeWithoutInProcessAuthIsStillAFailure) {
  ScriptedClient c({
      {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\nContent-Length: 6\r\n\r\ndenied"},
  }, GetParam());
  bool asked = false;
  c.http.OnAuthorization = [&](TIdCustomHTTP*, TIdAuthentication*, bool& handled) { asked = handled = true; };
  TMemoryStream body;
  EXPECT_EQ(Outcome([&] { c.http.Get("http://user:pw@127.0.0.1:8080/", body); }),
            "EIdHTTPProtocolException: HTTP/1.1 401 Unauthorized");
  EXPECT_FALSE(asked) << "the URL's user name answered the challenge";
  EXPECT_EQ(body.Size(), 0) << "the challenge page is not the result";
}

// --- The connection across calls

using TIdHTTPConnectionTest = ScriptedExchangeTest;
INSTANTIATE_TEST_SUITE_P(Pieces, TIdHTTPConnectionTest, testsupport::kReceivePieces, testsupport::ReceivePieceName);

TEST_P(TIdHTTPConnectionTest, KeptConnectionsServeTheNextCalls) {
  ScriptedClient c({
      {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\none"},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\ntwo\r\n0\r\nX-Trailer: t\r\n\r\n"},
      {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nthree"},
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nfive"},
  }, GetParam());
  std::string bodies;
  for (int call = 0; call < 5; ++call) {
    TMemoryStream body;
    Outcome([&] { c.http.Get(kScriptedServer + "/" + IntToStr(call), body); });
    bodies += body.DataString() + ",";
    EXPECT_TRUE(c.http.IsConnected()) << call;
  }
  EXPECT_EQ(bodies, "one,two,three,,five,");
  EXPECT_EQ(c.Heads().size(), 5u);
}

TEST_P(TIdHTTPConnectionTest, ConnectionCloseEndsTheConnection) {
  ScriptedClient c({
      {"HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 3\r\n\r\none"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\ntwo"},
  }, GetParam());
  TMemoryStream first;
  c.http.Get(kScriptedServer + "/1", first);
  EXPECT_FALSE(c.http.IsConnected());
  TMemoryStream second;
  c.http.Get(kScriptedServer + "/2", second);
  EXPECT_EQ(first.DataString() + second.DataString(), "onetwo");
  EXPECT_EQ(c.peer.Sent(0), UpdaterHead("/1"));
  EXPECT_EQ(c.peer.Sent(1), UpdaterHead("/2"));
}

TEST_P(TIdHTTPConnectionTest, CookiesAreStoredReplacedExpiredRefusedAndSentBack) {
  ScriptedClient c({
      {"HTTP/1.1 200 OK\r\n"
       "Set-Cookie: A=1; path=/\r\n"
       "Set-Cookie: B=2; path=/\r\n"
       "Set-Cookie: F=9; path=/; domain=example.com\r\n"
       "Set-Cookie: E=0; path=/; expires=Thu, 01-Jan-1970 00:00:10 GMT\r\n"
       "Content-Length: 0\r\n\r\n"},
      {"HTTP/1.1 200 OK\r\nSet-Cookie: A=3; path=/\r\nContent-Length: 0\r\n\r\n"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"},
  }, GetParam());
  EXPECT_EQ(c.http.CookieManager(), nullptr);
  for (int call = 0; call < 3; ++call) {
    TMemoryStream body;
    c.http.Get(kScriptedServer + "/d/u.zip", body);
  }
  ASSERT_NE(c.http.CookieManager(), nullptr);
  EXPECT_EQ(c.http.CookieManager()->CookieCollection().Count(), 2) << "F refused, E purged";
  const std::vector<std::string> heads = c.Heads();
  ASSERT_EQ(heads.size(), 3u);
  EXPECT_EQ(heads[0], UpdaterHead("/d/u.zip"));
  EXPECT_EQ(heads[1], UpdaterHead("/d/u.zip", "Cookie: A=1; B=2\r\n"));
  EXPECT_EQ(heads[2], UpdaterHead("/d/u.zip", "Cookie: A=3; B=2\r\n"));
}

TEST_P(TIdHTTPConnectionTest, AnAssignedCookieManagerDestroyedElsewhereIsDropped) {
  ScriptedClient c({
      {"HTTP/1.1 200 OK\r\nSet-Cookie: A=1; path=/\r\nContent-Length: 0\r\n\r\n"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"},
  }, GetParam());
  auto assigned = std::make_unique<TIdCookieManager>();
  c.http.SetCookieManager(assigned.get());
  assigned.reset();
  EXPECT_EQ(c.http.CookieManager(), nullptr);
  for (int call = 0; call < 2; ++call) {
    TMemoryStream body;
    c.http.Get(kScriptedServer + "/", body);
  }
  ASSERT_NE(c.http.CookieManager(), nullptr) << "the client made one of its own";
  const std::vector<std::string> heads = c.Heads();
  ASSERT_EQ(heads.size(), 2u);
  EXPECT_EQ(heads[1], UpdaterHead("/", "Cookie: A=1\r\n"));
}

// --- Silence

// Idle processing as the updater's window has it (slices of 100 ms), or none.
class OptionalIdle {
 public:
  explicit OptionalIdle(bool idle) {
    if (!idle) return;
    m_antiFreeze.emplace(m_ui);
    m_antiFreeze->SetIdleTimeOut(100);
  }

 private:
  platform::HeadlessUi m_ui;
  std::optional<TIdAntiFreeze> m_antiFreeze;
};

// A server that falls silent anywhere in the response: the call fails once nothing has arrived for
// ReadTimeout ms, whichever wait it is in and whether or not the waits are sliced for the window (idle).
void ExpectEveryWaitOfTheExchangeEndsAtTheLimit(bool idle) {
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  const std::string chunked = ok + "Transfer-Encoding: chunked\r\n\r\n";
  const struct {
    const char* silentIn;
    std::string sent;  // before the silence
    std::string body;  // what the stream holds afterwards
  } rows[] = {
      {"a connection never answered", "", ""},
      {"the status line", "HTTP/1.1 20", ""},
      {"the line after the status line", ok, ""},
      {"the header lines", ok + "Content-Length: 5\r\n", ""},
      {"the response after an interim one", "HTTP/1.1 100 Continue\r\n\r\n", ""},
      {"a counted body", ok + "Content-Length: 10\r\n\r\nabc", "abc"},
      {"a chunk", chunked + "5\r\nhel", "hel"},
      {"the size line after a chunk", chunked + "5\r\nhello\r\n", "hello"},
      {"a body read to the close", ok + "\r\nsome", "some"},
      // The page of a refused status has a wait limit of its own, which must not outlast the caller's.
      {"the page of a refused status", "HTTP/1.1 404 Not Found\r\nContent-Length: 10\r\n\r\ngo", ""},
      // The server takes the connection and the client's hello, and never answers it.
      {"a TLS handshake", "", ""},
  };
  for (const auto& row : rows) {
    const std::string name = std::string(row.silentIn) + (idle ? ", idle slices" : "");
    const bool tls = std::string(row.silentIn) == "a TLS handshake";
    OptionalIdle idleProcessing(idle);
    LoopbackServer server(ServeHttpReplies({{row.sent}}));
    TIdSSLIOHandlerSocket ssl;
    ssl.SetHandshakeTimeout(300);
    TIdHTTP http;
    ConfigureAsUpdater(http);
    http.SetIOHandler(&ssl);
    http.SetReadTimeout(300);
    TMemoryStream body;
    const std::string url = tls ? "https://127.0.0.1:" + std::to_string(server.Port()) + "/u.zip" : Url(server, "/u.zip");
    const int64_t start = platform::MonotonicMilliseconds();
    EXPECT_EQ(Outcome([&] { http.Get(url, body); }), "EIdReadTimeout: Read Timeout") << name;
    const int64_t elapsed = platform::MonotonicMilliseconds() - start;
    EXPECT_GE(elapsed, 250) << name;
    EXPECT_LT(elapsed, 1500) << name;
    EXPECT_EQ(body.DataString(), row.body) << name;
    EXPECT_FALSE(http.IsConnected()) << name;
  }
}

// Two tests, so that the suite's shards wait them out side by side.
TEST(TIdHTTPSilenceTest, EveryWaitOfTheExchangeEndsAtTheLimit) { ExpectEveryWaitOfTheExchangeEndsAtTheLimit(false); }

TEST(TIdHTTPSilenceTest, EveryWaitOfTheExchangeEndsAtTheLimitWithIdleSlices) {
  ExpectEveryWaitOfTheExchangeEndsAtTheLimit(true);
}

// The limit is on silence, not on the whole call: a response that trickles in, a piece well within the
// limit after another, is read whole although it takes several limits.
TEST(TIdHTTPSilenceTest, AResponseThatTricklesInIsReadWhole) {
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  const struct {
    const char* framing;
    std::string reply;
    bool closeAfter;
  } rows[] = {
      {"Content-Length", ok + "Content-Length: 12\r\n\r\nhello world!", false},
      {"chunked", ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n7\r\n world!\r\n0\r\n\r\n", false},
      {"until close", ok + "\r\nhello world!", true},
  };
  constexpr size_t kPieces = 10;
  constexpr int kPause = 100;
  // Well above a pause, so that a busy machine's late piece is not taken for silence; well below the whole.
  constexpr int kLimit = 600;
  static_assert((kPieces - 1) * kPause > kLimit, "the response must take longer than the limit");
  for (const auto& row : rows) {
    OptionalIdle idleProcessing(/*idle=*/true);
    LoopbackServer server([&](LoopbackConnection& connection) {
      connection.ReadUntil("\r\n\r\n");
      for (size_t i = 0; i < kPieces; ++i) {
        const size_t from = i * row.reply.size() / kPieces;
        connection.Sleep(kPause);
        connection.Send(row.reply.substr(from, (i + 1) * row.reply.size() / kPieces - from));
      }
      if (row.closeAfter) return connection.Close();
      connection.ReadUntilClose();
    });
    TIdHTTP http;
    ConfigureAsUpdater(http);
    http.SetReadTimeout(kLimit);
    TMemoryStream body;
    const int64_t start = platform::MonotonicMilliseconds();
    EXPECT_EQ(Outcome([&] { http.Get(Url(server, "/u.zip"), body); }), "ok") << row.framing;
    EXPECT_GE(platform::MonotonicMilliseconds() - start, static_cast<int64_t>(kPieces - 1) * kPause) << row.framing;
    EXPECT_EQ(body.DataString(), "hello world!") << row.framing;
    http.CloseConnection();
  }
}

// A server may close a kept connection just as the next request goes out: that gave no answer, and the GET
// goes once more on a new connection. (A new connection closed without an answer stays a failure: the
// hostile rows.)
TEST(TIdHTTPKeepAliveTest, AGetOnAKeptConnectionThatTheServerClosedGoesOnceMoreOnANewOne) {
  std::atomic<int> connections{0};
  LoopbackServer server([&](LoopbackConnection& connection) {
    ++connections;
    connection.ReadUntil("\r\n\r\n");
    connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
    connection.ReadUntil("\r\n\r\n");
    connection.Close();
  });
  TIdHTTP http;
  ConfigureAsUpdater(http);
  TMemoryStream first;
  TMemoryStream second;
  EXPECT_EQ(Outcome([&] { http.Get(Url(server, "/u.zip"), first); }), "ok");
  EXPECT_EQ(Outcome([&] { http.Get(Url(server, "/u.zip.sig"), second); }), "ok");
  EXPECT_EQ(second.DataString(), "hello");
  EXPECT_EQ(connections, 2);
}

// --- Hostile responses

std::string Lines(int count, const std::string& line) {
  std::string text;
  for (int i = 0; i < count; ++i) text += line + "\r\n";
  return text;
}

using TIdHTTPHostileTest = ScriptedExchangeTest;
INSTANTIATE_TEST_SUITE_P(Pieces, TIdHTTPHostileTest, testsupport::kReceivePieces, testsupport::ReceivePieceName);

TEST_P(TIdHTTPHostileTest, EachFaultGivesItsOutcomeAndOnlyBodyBytes) {
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  const std::string chunked = ok + "Transfer-Encoding: chunked\r\n\r\n";
  const std::string closed = "EIdConnClosedGracefully: Connection Closed Gracefully.";
  const std::string tooLong = "EIdReadLnMaxLineLengthExceeded: Max line length exceeded.";
  const std::string tooLarge = "EIdException: Response header block too large (more than 1000 lines or 1048576 bytes)";
  const struct {
    const char* fault;
    std::string reply;
    bool closeAfter;
    std::string outcome;
    std::string body;      // exactly what the stream must hold
    int connectedAfter;    // 1 kept, 0 closed, -1 either
  } rows[] = {
      {"garbage status line", "garbage\r\nContent-Length: 3\r\n\r\nabc", false,
       "EIdHTTPProtocolException: garbage", "", 1},
      {"status code not a number", "HTTP/1.1 2OO OK\r\nContent-Length: 3\r\n\r\nabc", false,
       "EIdHTTPProtocolException: HTTP/1.1 2OO OK", "", 1},
      {"status line too long", "HTTP/1.1 200 " + std::string(16384, 'K') + "\r\n\r\n", false, tooLong, "", 0},
      {"length beyond what is sent", ok + "Content-Length: 2147483647\r\n\r\n0123456789", true, "ok", "0123456789",
       0},
      {"length beyond 32 bits", ok + "Content-Length: 99999999999\r\n\r\nabc", true, "ok", "abc", 0},
      {"length beyond 64 bits", ok + "Content-Length: 99999999999999999999\r\n\r\nabc", false,
       "EIdException: Invalid Content-Length \"99999999999999999999\"", "", 0},
      {"negative length", ok + "Content-Length: -5\r\n\r\nabcde", false,
       "EIdException: Invalid Content-Length \"-5\"", "", 0},
      {"length not a number", ok + "Content-Length: five\r\n\r\nabcde", true, "ok", "abcde", 0},
      {"length with letters after a number", ok + "Content-Length: 3abc\r\n\r\nabcde", true, "ok", "abcde", 0},
      {"\"+5\" as a length", ok + "Content-Length: +5\r\n\r\nabcdefgh", false, "ok", "abcde", 1},
      {"two different lengths", ok + "Content-Length: 3\r\nContent-Length: 5\r\n\r\nabcde", false,
       "EIdException: Conflicting Content-Length headers \"3\" and \"5\"", "", 0},
      {"the same length twice", ok + "Content-Length: 5\r\ncontent-length:5\r\n\r\nabcdefgh", false, "ok", "abcde",
       1},
      {"length beside chunked", ok + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
       false, "ok", "abc", 0},
      {"1000 header lines", ok + Lines(999, "X-N: 1") + "Content-Length: 2\r\n\r\nok", false, "ok", "ok", 1},
      {"1001 header lines", ok + Lines(1000, "X-N: 1") + "Content-Length: 2\r\n\r\nok", false, tooLarge, "", 0},
      {"header bytes beyond 1 MiB", ok + Lines(66, "X: " + std::string(16000, 'v')) + "\r\n", false, tooLarge, "", 0},
      {"header line of 16383 bytes", ok + "X: " + std::string(16380, 'v') + "\r\nContent-Length: 2\r\n\r\nok",
       false, "ok", "ok", 1},
      {"header line of 16384 bytes", ok + "X: " + std::string(16381, 'v') + "\r\nContent-Length: 2\r\n\r\nok",
       false, tooLong, "", 0},
      {"chunk size beyond 31 bits", chunked + "80000000\r\nabc\r\n0\r\n\r\n", false,
       "EIdException: Invalid chunk size line \"80000000\"", "", 0},
      {"chunk size beyond 32 bits", chunked + "100000000\r\nabc\r\n0\r\n\r\n", false,
       "EIdException: Invalid chunk size line \"100000000\"", "", 0},
      {"chunk size beyond 64 bits", chunked + "3\r\nabc\r\n10000000000000000\r\nabc\r\n0\r\n\r\n", false,
       "EIdException: Invalid chunk size line \"10000000000000000\"", "abc", 0},
      {"negative chunk size", chunked + "-1\r\nabc\r\n0\r\n\r\n", false,
       "EIdException: Invalid chunk size line \"-1\"", "", 0},
      {"chunk size not hexadecimal", chunked + "zz\r\nabc\r\n0\r\n\r\n", false,
       "EIdException: Invalid chunk size line \"zz\"", "", 0},
      {"chunk longer than its size", chunked + "3\r\nabcdef\r\n0\r\n\r\n", false,
       "EIdException: Chunk longer than its size 3", "abc", 0},
      {"chunk size far beyond what is sent", chunked + "7fffffff\r\nhello", true, closed, "hello", 0},
      {"close before the status line", "", true, closed, "", 0},
      {"close inside the status line", "HTTP/1.1 20", true, closed, "", 0},
      {"close inside the first header line", ok + "Content-Len", true, closed, "", 0},
      {"close inside a later header line", ok + "Content-Length: 5\r\nServ", true, "EIdException: Undefined situation",
       "", 0},
      {"close inside a chunk", chunked + "5\r\nhel", true, closed, "hel", 0},
      {"close between chunks", chunked + "5\r\nhello\r\n", true, closed, "hello", 0},
  };
  for (const auto& row : rows) {
    ScriptedClient c({{row.reply, row.closeAfter}}, GetParam());
    SizeWatchingStream body;
    EXPECT_EQ(Outcome([&] { c.http.Get(kScriptedServer + "/u.zip", body); }), row.outcome) << row.fault;
    EXPECT_LE(body.largestSize, kReasonableGrowth) << row.fault;
    EXPECT_TRUE(body.DataString() == row.body) << row.fault << ": " << body.DataString().substr(0, 80);
    if (row.connectedAfter >= 0) {
      EXPECT_EQ(c.http.IsConnected(), row.connectedAfter == 1) << row.fault;
    }
  }
}

}  // namespace
