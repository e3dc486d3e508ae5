#include "net/anti_freeze.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "net/exceptions.h"
#include "net/tcp_client.h"
#include "platform/clock.h"
#include "platform/headless/headless_ui.h"
#include "support/loopback_server.h"
#include "support/raised.h"

namespace {

using testsupport::LoopbackConnection;
using testsupport::LoopbackServer;
using testsupport::RaisedMessage;
using testsupport::UnansweringListener;

void HoldOpen(LoopbackConnection& connection) { connection.ReadUntilClose(); }

class IdleTest : public testing::Test {
 protected:
  IdleTest() : m_antiFreeze(m_ui) { m_antiFreeze.SetIdleTimeOut(50); }

  void Connect(TIdTCPClient& client, int port) {
    client.SetHost(LoopbackServer::kHost);
    client.SetPort(port);
    client.OpenConnection();
  }

  int64_t LongestGapBetweenTurns() const {
    const auto& times = m_ui.TurnTimes();
    return times.empty() ? 0 : m_ui.LongestStretchWithoutTurn(times.front(), times.back());
  }

  platform::HeadlessUi m_ui;
  TIdAntiFreeze m_antiFreeze;
};

TEST_F(IdleTest, UiIsServedEverySliceWhileAReceiveWaits) {
  LoopbackServer server([](LoopbackConnection& connection) {
    connection.Sleep(600);
    connection.Send("late\n");
    HoldOpen(connection);
  });
  TIdTCPClient client;
  Connect(client, server.Port());
  const int turnsBefore = m_ui.Turns();
  EXPECT_EQ(client.ReadLine(), "late");
  EXPECT_GE(m_ui.Turns() - turnsBefore, 6);
  // Slices of 50 ms; generous slack for a loaded machine, far below the 600 ms the wait lasted.
  EXPECT_LT(LongestGapBetweenTurns(), 300);
}

// A read limit (the updater's silence limit) is cut into slices like an unlimited wait: the window keeps
// being served, a cancel ends the wait at once, and a cancel in the very last slice is still a cancel.
TEST(IdleLimitTest, ALimitedWaitServesTheUiEverySliceAndEndsAtACancel) {
  const struct {
    const char* name;
    int readTimeout;
    int closeAtTurn;  // turns after the read starts; 0: no cancel
    const char* raised;
    int minimumTurns;
    int64_t minimumMs, maximumMs;
  } rows[] = {
      {"silence", 300, 0, "EIdReadTimeout", 5, 250, 2000},
      {"cancel in a long limit", 5000, 3, "EIdConnClosedGracefully", 3, 0, 2000},
      {"cancel in the only slice", 50, 1, "EIdConnClosedGracefully", 1, 0, 2000},
  };
  for (const auto& row : rows) {
    // A window of its own per row: a cancel that a row never reached must not fire in the next one.
    platform::HeadlessUi ui;
    TIdAntiFreeze antiFreeze(ui);
    antiFreeze.SetIdleTimeOut(50);
    LoopbackServer server(HoldOpen);
    TIdTCPClient client;
    client.SetHost(LoopbackServer::kHost);
    client.SetPort(server.Port());
    client.OpenConnection();
    client.SetReadTimeout(row.readTimeout);
    const int turnsBefore = ui.Turns();
    if (row.closeAtTurn > 0) ui.AtTurn(turnsBefore + row.closeAtTurn, [&] { client.CloseConnection(); });
    const int64_t start = platform::MonotonicMilliseconds();
    std::string raised = "nothing";
    try {
      client.ReadLine();
    } catch (const EIdReadTimeout&) {
      raised = "EIdReadTimeout";
    } catch (const EIdConnClosedGracefully&) {
      raised = "EIdConnClosedGracefully";
    }
    const int64_t elapsed = platform::MonotonicMilliseconds() - start;
    EXPECT_EQ(raised, row.raised) << row.name;
    EXPECT_GE(ui.Turns() - turnsBefore, row.minimumTurns) << row.name;
    EXPECT_GE(elapsed, row.minimumMs) << row.name;
    EXPECT_LT(elapsed, row.maximumMs) << row.name;
  }
}

TEST_F(IdleTest, InactiveOrAbsentIdleProcessingServesNothing) {
  LoopbackServer server([](LoopbackConnection& connection) {
    connection.Sleep(200);
    connection.Send("x\n");
    HoldOpen(connection);
  });
  m_antiFreeze.SetActive(false);
  EXPECT_FALSE(TIdAntiFreezeBase::ShouldUseIdle());
  TIdTCPClient client;
  Connect(client, server.Port());
  EXPECT_EQ(client.ReadLine(), "x");
  EXPECT_EQ(m_ui.Turns(), 0);
}

TEST_F(IdleTest, OnlyWhenIdleFalseServesAfterDataAndSends) {
  LoopbackServer server([](LoopbackConnection& connection) {
    connection.ReadLine();
    connection.Send("ready\n");
    HoldOpen(connection);
  });
  m_antiFreeze.SetOnlyWhenIdle(false);
  TIdTCPClient client;
  Connect(client, server.Port());
  const int afterConnect = m_ui.Turns();
  client.WriteLine("go");
  EXPECT_EQ(m_ui.Turns(), afterConnect + 1) << "one turn after the send";
  m_antiFreeze.SetOnlyWhenIdle(true);
  client.WriteLine("again");
  EXPECT_EQ(m_ui.Turns(), afterConnect + 1) << "OnlyWhenIdle: sends serve nothing";
}

TEST_F(IdleTest, WithoutPriorityAtMostOneMessagePerTurn) {
  m_antiFreeze.SetApplicationHasPriority(false);
  m_ui.PostClick();
  m_ui.PostClick();
  TIdAntiFreezeBase::RunIdle(/*idle=*/true);
  EXPECT_EQ(m_ui.LinesStartingWith("click").size(), 1u);
  m_antiFreeze.SetApplicationHasPriority(true);
  TIdAntiFreezeBase::RunIdle(/*idle=*/true);
  EXPECT_EQ(m_ui.LinesStartingWith("click").size(), 2u);
}

TEST_F(IdleTest, IdleProcessingIsForTheMainThreadOnly) {
  EXPECT_TRUE(TIdAntiFreezeBase::ShouldUseIdle());
  bool otherThread = true;
  std::thread([&] { otherThread = TIdAntiFreezeBase::ShouldUseIdle(); }).join();
  EXPECT_FALSE(otherThread);
}

TEST(TIdAntiFreezeTest, LatestInstanceRegistersAndAnyDestructionClears) {
  platform::HeadlessUi ui;
  auto first = std::make_unique<TIdAntiFreeze>(ui);
  EXPECT_EQ(TIdAntiFreezeBase::Instance(), first.get());
  auto second = std::make_unique<TIdAntiFreeze>(ui);
  EXPECT_EQ(TIdAntiFreezeBase::Instance(), second.get());
  first.reset();
  EXPECT_EQ(TIdAntiFreezeBase::Instance(), nullptr);
  EXPECT_FALSE(TIdAntiFreezeBase::ShouldUseIdle());
}

TEST_F(IdleTest, ConnectTimeoutServesTheUiAndCloses) {
  UnansweringListener listener;
  TIdTCPClient client;
  client.SetHost(LoopbackServer::kHost);
  client.SetPort(listener.Port());
  const int64_t start = platform::MonotonicMilliseconds();
  EXPECT_EQ(RaisedMessage<EIdConnectTimeout>([&] { client.OpenConnection(400); }), "Connect timed out.");
  const int64_t elapsed = platform::MonotonicMilliseconds() - start;
  EXPECT_GE(elapsed, 350);
  EXPECT_LT(elapsed, 5000);
  // Steps of min(50, 125) ms with idle processing after each.
  EXPECT_GE(m_ui.Turns(), 5);
  EXPECT_FALSE(client.IsConnected());
}

TEST(ConnectTimeoutTest, WithoutIdleProcessingStillLimited) {
  UnansweringListener listener;
  TIdTCPClient client;
  client.SetHost(LoopbackServer::kHost);
  client.SetPort(listener.Port());
  EXPECT_THROW(client.OpenConnection(300), EIdConnectTimeout);
  EXPECT_FALSE(client.IsConnected());
}

// The cancel button closes the connection from inside an idle slice of a waiting read: the read fails with
// "Connection Closed Gracefully." and nothing touches the released handler (AddressSanitizer checks this).
TEST_F(IdleTest, CloseFromInsideIdleEndsAWaitingRead) {
  LoopbackServer server(HoldOpen);
  TIdTCPClient client;
  Connect(client, server.Port());
  std::vector<std::string> events;
  client.OnDisconnected = [&](TIdComponent*) { events.push_back("OnDisconnected"); };
  m_ui.AtTurn(m_ui.Turns() + 3, [&] {
    client.CloseConnection();
    events.push_back("closed");
  });
  EXPECT_EQ(RaisedMessage<EIdConnClosedGracefully>([&] { client.ReadLine(); }), "Connection Closed Gracefully.");
  EXPECT_EQ(events, (std::vector<std::string>{"OnDisconnected", "closed"}));
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_FALSE(client.IsConnected());
  // The client can be opened again afterwards.
  client.OpenConnection();
  EXPECT_TRUE(client.IsConnected());
}

TEST_F(IdleTest, CloseFromInsideIdleEndsAWaitingReadToStream) {
  LoopbackServer server([](LoopbackConnection& connection) {
    connection.Send("12345");
    HoldOpen(connection);
  });
  TIdTCPClient client;
  Connect(client, server.Port());
  m_ui.AtTurn(m_ui.Turns() + 2, [&] { client.CloseConnection(); });
  TMemoryStream stream;
  EXPECT_THROW(client.ReadToStream(stream, 100), EIdConnClosedGracefully);
  EXPECT_EQ(stream.DataString(), "12345");
}

// The cancel arrives while the connect waits on its worker thread: closing the socket ends the connect at
// once instead of after the 120000 ms limit, and the closed state shows at the next read.
TEST_F(IdleTest, CloseFromInsideIdleEndsAWaitingConnect) {
  UnansweringListener listener;
  TIdTCPClient client;
  client.SetHost(LoopbackServer::kHost);
  client.SetPort(listener.Port());
  m_ui.AtTurn(3, [&] { client.CloseConnection(); });
  std::vector<std::string> events;
  client.OnConnected = [&](TIdComponent*) { events.push_back("OnConnected"); };
  const int64_t start = platform::MonotonicMilliseconds();
  // The interrupted connect ends without an error, like one the system reports as 10009 or 10038.
  client.OpenConnection();
  EXPECT_LT(platform::MonotonicMilliseconds() - start, 5000);
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_FALSE(client.IsConnected());
  EXPECT_EQ(events, (std::vector<std::string>{"OnConnected"})) << "the open itself ends normally";
  EXPECT_THROW(client.ReadLine(), EIdNotConnected);
}

}  // namespace
