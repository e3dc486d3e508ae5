#include "net/socks_info.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "net/anti_freeze.h"
#include "net/io_handler.h"
#include "net/tcp_client.h"
#include "platform/headless/headless_ui.h"
#include "rtl/sysutils.h"
#include "support/loopback_server.h"

namespace {

using testsupport::LoopbackConnection;
using testsupport::LoopbackServer;

using Bytes = std::string;
Bytes B(std::initializer_list<int> values) {
  Bytes bytes;
  for (const int value : values) bytes += static_cast<char>(value);
  return bytes;
}

// One step of a scripted SOCKS server: the bytes it expects from the client, then the bytes it answers.
struct Step {
  Bytes expect;
  Bytes answer;
};

struct Row {
  const char* name;
  TSocksVersion version;
  const char* host;
  const char* user;
  const char* password;
  std::vector<Step> steps;
  const char* outcome;  // "ok": the target's line arrives through the negotiated connection
};

constexpr int kTargetPort = 443;  // {0x01, 0xBB} on the wire
const Bytes kPort = B({0x01, 0xBB});
const Bytes kGranted4 = B({0, 90, 0, 0, 0, 0, 0, 0});
const Bytes kGreeting5 = B({5, 1, 0});
const Bytes kGreeting5WithCredentials = B({5, 2, 0, 2});
const Bytes kRequest5ByName = B({5, 1, 0, 3, 15}) + "updates.example" + kPort;
const Bytes kSucceeded5 = B({5, 0, 0, 1, 127, 0, 0, 1, 0x30, 0x39});
const Bytes kHttpAnswer = "HTTP/1.1 400 Bad Request\r\n\r\n";

const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      {"4 with an address", svSocks4, "127.0.0.1", "", "",
       {{B({4, 1}) + kPort + B({127, 0, 0, 1, 0}), kGranted4}}, "ok"},
      {"4 resolves a name itself and sends the user id", svSocks4, "localhost", "me", "",
       {{B({4, 1}) + kPort + B({127, 0, 0, 1}) + "me" + B({0}), kGranted4}}, "ok"},
      {"4a leaves the name to the server", svSocks4A, "updates.example", "", "",
       {{B({4, 1}) + kPort + B({0, 0, 0, 1, 0}) + "updates.example" + B({0}), kGranted4}}, "ok"},
      {"4a with an address sends the address", svSocks4A, "127.0.0.1", "", "",
       {{B({4, 1}) + kPort + B({127, 0, 0, 1, 0}), kGranted4}}, "ok"},
      {"4 refused", svSocks4, "127.0.0.1", "", "",
       {{B({4, 1}) + kPort + B({127, 0, 0, 1, 0}), B({0, 91, 0, 0, 0, 0, 0, 0})}},
       "EIdSocksError: SOCKS 4 server refused the connection: request rejected or failed (91)"},
      {"4 answered by an HTTP server", svSocks4, "127.0.0.1", "", "",
       {{B({4, 1}) + kPort + B({127, 0, 0, 1, 0}), kHttpAnswer}},
       "EIdSocksError: SOCKS 4 server answered with version 72, not a SOCKS 4 reply"},
      {"4 closed after half a reply", svSocks4, "127.0.0.1", "", "",
       {{B({4, 1}) + kPort + B({127, 0, 0, 1, 0}), B({0, 90, 0})}},
       "EIdSocksError: SOCKS server closed the connection during the negotiation"},
      {"5 without credentials, by name", svSocks5, "updates.example", "", "",
       {{kGreeting5, B({5, 0})}, {kRequest5ByName, kSucceeded5}}, "ok"},
      {"5 with an address, bound address given as a name", svSocks5, "127.0.0.1", "", "",
       {{kGreeting5, B({5, 0})}, {B({5, 1, 0, 1, 127, 0, 0, 1}) + kPort, B({5, 0, 0, 3, 4}) + "here" + kPort}},
       "ok"},
      {"5 with user name and password", svSocks5, "updates.example", "user", "secret",
       {{kGreeting5WithCredentials, B({5, 2})},
        {B({1, 4}) + "user" + B({6}) + "secret", B({1, 0})},
        {kRequest5ByName, kSucceeded5}},
       "ok"},
      {"5 with credentials the server does not ask for", svSocks5, "updates.example", "user", "secret",
       {{kGreeting5WithCredentials, B({5, 0})}, {kRequest5ByName, kSucceeded5}}, "ok"},
      {"5 credentials rejected", svSocks5, "updates.example", "user", "wrong",
       {{kGreeting5WithCredentials, B({5, 2})}, {B({1, 4}) + "user" + B({5}) + "wrong", B({1, 1})}},
       "EIdSocksError: SOCKS 5 server rejected the user name or password"},
      {"5 demands credentials that were not given", svSocks5, "updates.example", "", "",
       {{kGreeting5, B({5, 0xFF})}},
       "EIdSocksError: SOCKS 5 server requires credentials, and none were given"},
      {"5 accepts none of the offered methods", svSocks5, "updates.example", "user", "secret",
       {{kGreeting5WithCredentials, B({5, 0xFF})}},
       "EIdSocksError: SOCKS 5 server accepts none of the offered authentication methods"},
      {"5 chooses a method that was not offered", svSocks5, "updates.example", "", "",
       {{kGreeting5, B({5, 2})}},
       "EIdSocksError: SOCKS 5 server chose the method 2, which was not offered"},
      {"5 refused", svSocks5, "updates.example", "", "",
       {{kGreeting5, B({5, 0})}, {kRequest5ByName, B({5, 5, 0, 1, 0, 0, 0, 0, 0, 0})}},
       "EIdSocksError: SOCKS 5 server refused the connection: connection refused (5)"},
      {"5 answered by an HTTP server", svSocks5, "updates.example", "", "", {{kGreeting5, kHttpAnswer}},
       "EIdSocksError: SOCKS 5 server answered with version 72, not a SOCKS 5 reply"},
      {"5 request answered with garbage", svSocks5, "updates.example", "", "",
       {{kGreeting5, B({5, 0})}, {kRequest5ByName, "SOCKS"}},
       "EIdSocksError: SOCKS 5 server answered the request with something that is not a SOCKS 5 reply"},
      {"5 bound address of an unknown type", svSocks5, "updates.example", "", "",
       {{kGreeting5, B({5, 0})}, {kRequest5ByName, B({5, 0, 0, 9, 0, 0})}},
       "EIdSocksError: SOCKS 5 server answered with the unknown address type 9"},
      {"5 credentials answered with garbage", svSocks5, "updates.example", "user", "secret",
       {{kGreeting5WithCredentials, B({5, 2})}, {B({1, 4}) + "user" + B({6}) + "secret", B({5, 0})}},
       "EIdSocksError: SOCKS 5 server answered the credentials with something that is not a reply to them"},
      {"5 silent after the greeting", svSocks5, "updates.example", "", "", {{kGreeting5, ""}},
       "EIdReadTimeout: Read Timeout"},
      {"5 name longer than the protocol allows", svSocks5, nullptr, "", "", {{kGreeting5, B({5, 0})}},
       "EIdSocksError: SOCKS 5 host name longer than 255 bytes"},
  };
  return rows;
}

std::string Outcome(TIdTCPClient& client) {
  try {
    client.OpenConnection();
    return client.ReadLine() == "through" ? "ok" : "wrong bytes after the negotiation";
  } catch (const EIdSocksError& error) {
    return "EIdSocksError: " + error.Message();
  } catch (const EIdReadTimeout& error) {
    return "EIdReadTimeout: " + error.Message();
  } catch (const std::exception& error) {
    return std::string("unexpected: ") + error.what();
  }
}

TEST(TIdSocksInfoTest, EachNegotiationSendsItsBytesAndGivesItsOutcome) {
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.name);
    LoopbackServer server([&row](LoopbackConnection& connection) {
      for (const Step& step : row.steps) {
        if (connection.ReadBytes(step.expect.size()) != step.expect) return;
        connection.Send(step.answer);
      }
      const std::string outcome = row.outcome;
      // The negotiated connection carries the target's bytes from here on; a failed one ends, unless the
      // row is about a server that falls silent.
      if (outcome == "ok") connection.Send("through\r\n");
      if (outcome == "ok" || outcome.find("Read Timeout") != std::string::npos) connection.ReadUntilClose();
    });
    TIdIOHandlerSocket handler;
    TIdSocksInfo& socks = handler.SocksInfo();
    socks.Version = row.version;
    socks.Host = LoopbackServer::kHost;
    socks.Port = server.Port();
    socks.Username = row.user;
    socks.Password = row.password;
    socks.ReplyTimeout = 300;
    TIdTCPClient client;
    client.SetIOHandler(&handler);
    client.SetHost(row.host != nullptr ? row.host : std::string(256, 'h'));
    client.SetPort(kTargetPort);
    EXPECT_EQ(Outcome(client), row.outcome);
    client.CloseConnection();
    Bytes expected;
    for (const Step& step : row.steps) expected += step.expect;
    EXPECT_EQ(server.Received(0), expected);
  }
}

TEST(TIdSocksInfoTest, ACancelWhileTheServerSaysNothingEndsTheConnect) {
  // The server takes the greeting and never answers; the wait serves the UI, where the cancel closes.
  LoopbackServer server([](LoopbackConnection& connection) { connection.ReadUntilClose(); });
  platform::HeadlessUi ui;
  TIdAntiFreeze antiFreeze(ui);
  antiFreeze.SetIdleTimeOut(50);
  TIdIOHandlerSocket handler;
  handler.SocksInfo().Version = svSocks5;
  handler.SocksInfo().Host = LoopbackServer::kHost;
  handler.SocksInfo().Port = server.Port();
  TIdTCPClient client;
  client.SetIOHandler(&handler);
  client.SetHost("updates.example");
  client.SetPort(kTargetPort);
  ui.AtTurn(ui.Turns() + 3, [&] { client.CloseConnection(); });
  EXPECT_THROW(client.OpenConnection(), EIdConnClosedGracefully);
  EXPECT_FALSE(client.IsConnected());
  EXPECT_EQ(server.Received(0), kGreeting5);
}

TEST(TIdSocksInfoTest, WithoutAVersionTheHandlerConnectsToTheTargetItself) {
  LoopbackServer server([](LoopbackConnection& connection) {
    connection.Send("through\r\n");
    connection.ReadUntilClose();
  });
  TIdIOHandlerSocket handler;
  handler.SocksInfo().Host = "socks.invalid";
  TIdTCPClient client;
  client.SetIOHandler(&handler);
  client.SetHost(LoopbackServer::kHost);
  client.SetPort(server.Port());
  EXPECT_EQ(Outcome(client), "ok");
  client.CloseConnection();
  EXPECT_EQ(server.Received(0), "");
}

}  // namespace
