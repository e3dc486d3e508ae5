// HTTPS downloads against the servers of tools/tls_test_server.py (a test CA made at start; one server per
// certificate case). The file named by UPDATER_TLS_TEST_CONFIG tells the CA and the ports; without it (the
// executable started outside its CTest entry) every test is skipped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "http/http_client.h"
#include "net/anti_freeze.h"
#include "net/ssl_io_handler.h"
#include "platform/headless/headless_ui.h"
#include "platform/tls.h"
#include "rtl/streams.h"
#include "support/http_peer.h"
#include "support/loopback_server.h"

namespace {

std::map<std::string, std::string> LoadConfig() {
  std::map<std::string, std::string> values;
  const char* name = std::getenv("UPDATER_TLS_TEST_CONFIG");
  if (name == nullptr) return values;
  std::ifstream file(name);
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return values;
}

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7) % 251);
  return bytes;
}

class TlsDownloadTest : public testing::Test {
 protected:
  void SetUp() override {
    m_config = LoadConfig();
    if (m_config.empty()) GTEST_SKIP() << "run through tools/tls_test_server.py";
    platform::SetTlsTrustAnchors(m_config["ca"]);
    m_http.SetIOHandler(&m_ssl);
    // A wait that never ends (decrypted bytes left unseen inside the handler) fails instead of hanging.
    m_http.SetReadTimeout(10000);
  }
  void TearDown() override { platform::SetTlsTrustAnchors(""); }

  std::string Url(const std::string& scheme, const std::string& host, const std::string& server,
                  const std::string& path) {
    return scheme + "://" + host + ":" + m_config[server] + path;
  }

  std::string Get(const std::string& url) {
    TMemoryStream body;
    m_http.Get(url, body);
    return std::string(reinterpret_cast<const char*>(body.Memory()), static_cast<size_t>(body.Size()));
  }

  std::map<std::string, std::string> m_config;
  TIdSSLIOHandlerSocket m_ssl;
  TIdHTTP m_http;
};

TEST_F(TlsDownloadTest, TrustedServerDeliversTheWholeBodyWithWorkEvents) {
  const size_t size = std::stoul(m_config["size"]);
  int64_t begun = -1;
  int64_t last = 0;
  m_http.OnWorkBegin = [&](TIdComponent*, TWorkMode mode, int32_t max) {
    if (mode == wmRead) begun = max;
  };
  m_http.OnWork = [&](TIdComponent*, TWorkMode mode, int32_t count) {
    if (mode == wmRead) last = count;
  };
  // The receive size is below one TLS record, so decrypted bytes are always left over after a receive.
  m_http.SetRecvBufferSize(10240);
  EXPECT_EQ(Get(Url("https", "localhost", "good", "/file")), Pattern(size));
  EXPECT_TRUE(m_ssl.Encrypting());
  EXPECT_EQ(begun, static_cast<int64_t>(size));
  EXPECT_EQ(last, static_cast<int64_t>(size));
  // The address form is checked against the certificate's address entry.
  EXPECT_EQ(Get(Url("https", "127.0.0.1", "good", "/file")), Pattern(size));
}

TEST_F(TlsDownloadTest, KeptAliveConnectionIsReused) {
  int connects = 0;
  m_http.OnConnected = [&](TIdComponent*) { ++connects; };
  Get(Url("https", "localhost", "good", "/file"));
  Get(Url("https", "localhost", "good", "/file"));
  EXPECT_EQ(connects, 1);
}

TEST_F(TlsDownloadTest, CertificateAndProtocolFailuresNameTheirCause) {
  struct Case {
    const char* server;
    const char* host;
    const char* cause;
  };
  const Case cases[] = {
      {"expired", "localhost", "expired"},
      {"wronghost", "localhost", "does not match the host name \"localhost\""},
      {"wronghost", "127.0.0.1", "does not match the host name \"127.0.0.1\""},
      {"untrusted", "localhost", "not trusted"},
      {"plain", "localhost", "TLS"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.server);
    const std::string url = Url("https", c.host, c.server, "/file");
    try {
      Get(url);
      ADD_FAILURE() << "no failure";
    } catch (const EIdSSLProtocolReplyError& error) {
      EXPECT_NE(std::string(error.what()).find(c.cause), std::string::npos) << error.what();
    }
    EXPECT_FALSE(m_http.IsConnected());
    EXPECT_FALSE(m_ssl.Encrypting());
  }
}

TEST_F(TlsDownloadTest, SystemTrustStoreDoesNotKnowTheTestCa) {
  platform::SetTlsTrustAnchors("");
  EXPECT_THROW(Get(Url("https", "localhost", "good", "/file")), EIdSSLProtocolReplyError);
}

TEST_F(TlsDownloadTest, HttpUrlPassesThroughTheSameHandler) {
  const std::string body = Get(Url("http", "localhost", "plain", "/file"));
  EXPECT_EQ(body.size(), std::stoul(m_config["size"]));
  EXPECT_FALSE(m_ssl.Encrypting());
  EXPECT_TRUE(m_ssl.PassThrough());
}

TEST_F(TlsDownloadTest, SecureCookiesGoOutOnlyOverTls) {
  Get(Url("https", "localhost", "good", "/cookie"));
  const std::string overTls = Get(Url("https", "localhost", "good", "/echo-cookie"));
  EXPECT_NE(overTls.find("s=1"), std::string::npos) << overTls;
  EXPECT_NE(overTls.find("p=2"), std::string::npos) << overTls;
  const std::string plain = Get(Url("http", "localhost", "plain", "/echo-cookie"));
  EXPECT_EQ(plain.find("s=1"), std::string::npos) << plain;
  EXPECT_NE(plain.find("p=2"), std::string::npos) << plain;
}

TEST_F(TlsDownloadTest, CancelDuringTheBodyEndsTheDownloadAtOnce) {
  platform::HeadlessUi ui;
  TIdAntiFreeze antiFreeze(ui);
  antiFreeze.SetIdleTimeOut(50);
  // Without a read limit every wait is served in slices of the idle time-out.
  m_http.SetReadTimeout(0);
  // The slow body takes seconds; the idle processing closes the connection once some of it has arrived.
  bool cancelled = false;
  ui.AtTurn(10, [&] {
    cancelled = true;
    m_http.CloseConnection();
  });
  const std::string body = Get(Url("https", "localhost", "good", "/slow"));
  EXPECT_TRUE(cancelled);
  EXPECT_LT(body.size(), std::stoul(m_config["size"]));
  EXPECT_GT(body.size(), 0u);
  EXPECT_FALSE(m_http.IsConnected());
}

TEST_F(TlsDownloadTest, CancelDuringTheHandshakeFailsTheConnect) {
  // A server that accepts and never answers: the handshake waits until the cancel.
  testsupport::LoopbackServer silent([](testsupport::LoopbackConnection& connection) { connection.ReadUntilClose(); });
  platform::HeadlessUi ui;
  TIdAntiFreeze antiFreeze(ui);
  antiFreeze.SetIdleTimeOut(50);
  ui.AtTurn(ui.Turns() + 3, [&] { m_http.CloseConnection(); });
  const std::string url = "https://localhost:" + std::to_string(silent.Port()) + "/file";
  EXPECT_THROW(Get(url), EIdConnClosedGracefully);
  EXPECT_FALSE(m_http.IsConnected());
}

}  // namespace

namespace {

using testsupport::LoopbackConnection;
using testsupport::LoopbackServer;

std::string LoopbackUrl(const std::string& scheme, const LoopbackServer& server) {
  return scheme + "://" + LoopbackServer::kHost + ":" + std::to_string(server.Port()) + "/file";
}

TEST(TlsRouteTest, HttpsNeedsTheTlsHandler) {
  LoopbackServer server([](LoopbackConnection& connection) { connection.ReadUntilClose(); });
  TIdHTTP withoutHandler;
  TIdIOHandlerSocket plainHandler;
  TIdHTTP withPlainHandler;
  withPlainHandler.SetIOHandler(&plainHandler);
  for (TIdHTTP* http : {&withoutHandler, &withPlainHandler}) {
    TMemoryStream body;
    try {
      http->Get(LoopbackUrl("https", server), body);
      ADD_FAILURE() << "no failure";
    } catch (const EIdIOHandlerPropInvalid& error) {
      EXPECT_STREQ(error.what(), "IOHandler value is not valid");
    }
  }
  EXPECT_EQ(server.FinishedConnections(), 0u);
}

// A proxy that answers each CONNECT with the next of its answers; after a 2xx it takes the client's first
// TLS record (the hello) whole and closes, so the client's handshake ends cleanly with the close. It closes
// after its last answer, too.
LoopbackServer::Script ScriptedProxy(std::vector<std::string> answers) {
  auto next = std::make_shared<size_t>(0);
  return [answers = std::move(answers), next](LoopbackConnection& connection) {
    while (*next < answers.size()) {
      if (connection.ReadUntil("\r\n\r\n").empty()) return;
      const std::string& answer = answers[(*next)++];
      connection.Send(answer);
      if (answer.compare(0, 12, "HTTP/1.1 200") == 0) {
        const std::string header = connection.ReadBytes(5);
        if (header.size() == 5) {
          connection.ReadBytes((static_cast<uint8_t>(header[3]) << 8) | static_cast<uint8_t>(header[4]));
        }
        return;
      }
      if (answer.find("Connection: close") != std::string::npos) return;
    }
  };
}

std::string TunnelOutcome(TIdHTTP& http, const std::string& url) {
  TMemoryStream body;
  try {
    http.Get(url, body);
    return "ok";
  } catch (const EIdHTTPProtocolException& error) {
    return "EIdHTTPProtocolException: " + error.Message();
  } catch (const EIdSSLProtocolReplyError& error) {
    return "EIdSSLProtocolReplyError: " + error.Message();
  } catch (const EIdConnClosedGracefully& error) {
    return "EIdConnClosedGracefully: " + error.Message();
  } catch (const EIdException& error) {
    return "EIdException: " + error.Message();
  }
}

TEST(TlsTunnelTest, EachProxyAnswerGivesItsOutcomeAndTheConnectRequests) {
  const std::string established = "HTTP/1.1 200 Connection established\r\n\r\n";
  const std::string challenge =
      "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"proxy\"\r\n"
      "Content-Length: 6\r\n\r\ndenied";
  const std::string credentials = "Proxy-Authorization: Basic dXNlcjpwdw==\r\n";
  // The client's hello inside the tunnel, which the scripted proxy cannot answer, shows the tunnel in use.
  const std::string tunnelUsed = "EIdSSLProtocolReplyError: TLS handshake failed: the server closed the connection";
  const struct {
    const char* name;
    std::vector<std::string> answers;
    bool upFront;           // Basic credentials with the first CONNECT
    bool inProcess;         // hoInProcessAuth: a challenge is answered
    const char* user;       // proxy user name ("user", password "pw") or none
    std::string outcome;
    std::vector<bool> authorized;  // per CONNECT sent: with Proxy-Authorization
  } rows[] = {
      {"accepted", {established}, false, false, "", tunnelUsed, {false}},
      {"credentials up front", {established}, true, false, "user", tunnelUsed, {true}},
      {"credentials after a challenge", {challenge, established}, false, true, "user", tunnelUsed, {false, true}},
      {"challenge on a connection the proxy closes", {challenge + "", established}, false, true, "user", tunnelUsed,
       {false, true}},
      {"challenge without credentials", {challenge}, false, true, "",
       "EIdHTTPProtocolException: HTTP/1.1 407 Proxy Authentication Required", {false}},
      {"challenge without in-process authentication", {challenge}, false, false, "user",
       "EIdHTTPProtocolException: HTTP/1.1 407 Proxy Authentication Required", {false}},
      {"credentials refused", {challenge}, true, false, "user",
       "EIdHTTPProtocolException: HTTP/1.1 407 Proxy Authentication Required", {true}},
      {"forbidden", {"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n"}, false, false, "",
       "EIdHTTPProtocolException: HTTP/1.1 403 Forbidden", {false}},
      {"bytes after the acceptance", {established + "junk"}, false, false, "",
       "EIdException: The proxy sent data after accepting the tunnel", {false}},
      {"not HTTP", {"SSH-2.0-OpenSSH_9.2\r\n"}, false, false, "",
       "EIdConnClosedGracefully: Connection Closed Gracefully.", {false}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> answers = row.answers;
    const bool proxyCloses = std::string(row.name).find("closes") != std::string::npos;
    if (proxyCloses) answers[0].insert(answers[0].find("\r\n") + 2, "Connection: close\r\n");
    LoopbackServer proxy(ScriptedProxy(answers));
    TIdSSLIOHandlerSocket ssl;
    TIdHTTP http;
    http.SetIOHandler(&ssl);
    http.SetReadTimeout(5000);
    http.ProxyParams.SetProxyServer(LoopbackServer::kHost);
    http.ProxyParams.SetProxyPort(proxy.Port());
    http.ProxyParams.ProxyUsername = row.user;
    http.ProxyParams.ProxyPassword = "pw";
    http.ProxyParams.BasicAuthentication = row.upFront;
    if (row.inProcess) http.HTTPOptions |= hoInProcessAuth;
    EXPECT_EQ(TunnelOutcome(http, "https://updates.example:8443/u.zip"), row.outcome);
    http.CloseConnection();
    // The second connection's script may still be ending when the client is done: wait for it.
    std::string received = proxy.Received(0);
    if (proxyCloses) received += proxy.Received(1);
    const std::vector<std::string> heads = testsupport::RequestHeads(received);
    ASSERT_EQ(heads.size(), row.authorized.size());
    for (size_t i = 0; i < heads.size(); ++i) {
      EXPECT_EQ(heads[i].substr(0, heads[i].find("\r\n")), "CONNECT updates.example:8443 HTTP/1.1");
      EXPECT_NE(heads[i].find("\r\nHost: updates.example:8443\r\n"), std::string::npos) << heads[i];
      EXPECT_EQ(heads[i].find(credentials) != std::string::npos, row.authorized[i]) << heads[i];
    }
  }
}

TEST(TlsRouteTest, KeptAlivePlainConnectionIsNotReusedForHttps) {
  // The first connection answers one plain request and stays open; the second must start a handshake.
  LoopbackServer server([](LoopbackConnection& connection) {
    if (connection.Index() == 0) {
      connection.ReadUntil("\r\n\r\n");
      connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
      connection.ReadUntilClose();
    } else {
      connection.ReadBytes(1);
      connection.Close();
    }
  });
  TIdSSLIOHandlerSocket ssl;
  TIdHTTP http;
  http.SetIOHandler(&ssl);
  TMemoryStream body;
  http.Get(LoopbackUrl("http", server), body);
  EXPECT_TRUE(http.IsConnected());
  EXPECT_THROW(http.Get(LoopbackUrl("https", server), body), EIdSSLProtocolReplyError);
  EXPECT_EQ(server.Received(1).substr(0, 1), "\x16");  // a TLS handshake record, not a plain request
}

}  // namespace
