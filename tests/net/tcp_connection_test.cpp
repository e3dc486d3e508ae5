#include "net/tcp_connection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "net/exceptions.h"
#include "net/stack.h"
#include "net/tcp_client.h"
#include "platform/clock.h"
#include "support/loopback_server.h"
#include "support/raised.h"
#include "support/receive_pieces.h"
#include "support/scripted_io_handler.h"

namespace {

using testsupport::LoopbackConnection;
using testsupport::LoopbackServer;
using testsupport::Raised;
using testsupport::RaisedMessage;
using testsupport::ScriptedConnection;
using testsupport::ScriptedIOHandler;

// A client connected to a server running the script; the script keeps its connection until the client
// closes unless it closes itself.
class Connected {
 public:
  explicit Connected(LoopbackServer::Script script) : server(std::move(script)) {
    client.SetHost(LoopbackServer::kHost);
    client.SetPort(server.Port());
    client.OpenConnection();
  }
  LoopbackServer server;
  TIdTCPClient client;
};

void HoldOpen(LoopbackConnection& connection) { connection.ReadUntilClose(); }

// A client connected to the scripted peer, which sends its bytes and then closes or falls silent.
class ScriptedConnected {
 public:
  ScriptedConnected(ScriptedConnection served, int piece) : peer({std::move(served)}, piece) {
    client.SetIOHandler(&peer);
    client.OpenConnection();
  }
  ScriptedIOHandler peer;
  TIdTCPClient client;
};

// The reads that are not about sockets run on the scripted peer, with whole receives and with receives of
// one byte; each suite below is this fixture under its own name.
class ScriptedReadTest : public ::testing::TestWithParam<int> {};
using ReadLineTest = ScriptedReadTest;
using ReadToStreamTest = ScriptedReadTest;
using ConnectionExchangeTest = ScriptedReadTest;
INSTANTIATE_TEST_SUITE_P(Pieces, ReadLineTest, testsupport::kReceivePieces, testsupport::ReceivePieceName);
INSTANTIATE_TEST_SUITE_P(Pieces, ReadToStreamTest, testsupport::kReceivePieces, testsupport::ReceivePieceName);
INSTANTIATE_TEST_SUITE_P(Pieces, ConnectionExchangeTest, testsupport::kReceivePieces,
                         testsupport::ReceivePieceName);

std::string StreamText(TMemoryStream& stream) { return stream.DataString(); }

TEST_P(ReadLineTest, TerminatorsAndCarriageReturns) {
  ScriptedConnected c({"abc\r\nabc\ndef\rghi\n\r\nx\r|y\n", false}, GetParam());
  EXPECT_EQ(c.client.ReadLine(), "abc");
  EXPECT_EQ(c.client.ReadLine(), "abc");
  EXPECT_EQ(c.client.ReadLine(), "def\rghi") << "a lone CR stays in the line";
  EXPECT_EQ(c.client.ReadLine(), "") << "an empty CR LF line";
  EXPECT_EQ(c.client.ReadLine("|"), "x\r") << "with another terminator the CR stays";
  EXPECT_EQ(c.client.ReadLine(""), "y") << "an empty terminator means LF";
}

TEST(SocketReadTest, FindsAMultiByteTerminatorSplitAcrossReceives) {
  Connected c([](LoopbackConnection& connection) {
    connection.Send("head\r\n\r");
    connection.Sleep(100);
    connection.Send("\nbody\r\n\r\n");
    HoldOpen(connection);
  });
  EXPECT_EQ(c.client.ReadLine("\r\n\r\n"), "head");
  EXPECT_EQ(c.client.ReadLine("\r\n\r\n"), "body");
}

TEST_P(ReadLineTest, MaxLineLengthBoundaries) {
  const struct {
    size_t length;
    bool accepted;
  } rows[] = {{16383, true}, {16384, false}};
  for (const auto& row : rows) {
    const std::string line(row.length, 'a');
    ScriptedConnected c({line + "\r\n", false}, GetParam());
    c.client.SetReadTimeout(5000);
    if (row.accepted) {
      EXPECT_EQ(c.client.ReadLine(), line);
    } else {
      EXPECT_EQ(RaisedMessage<EIdReadLnMaxLineLengthExceeded>([&] { c.client.ReadLine(); }),
                "Max line length exceeded.") << row.length;
      // Let every byte arrive: none was consumed by the failed read.
      while (c.client.InputBuffer().DataSize() < static_cast<int64_t>(row.length + 2)) c.client.ReceiveIntoBuffer();
      EXPECT_EQ(c.client.InputBuffer().DataSize(), static_cast<int64_t>(row.length + 2));
    }
  }
}

TEST_P(ReadLineTest, OverlongUnterminatedDataFailsWithoutWaitingForMore) {
  ScriptedConnected c({std::string(16385, 'a'), false}, GetParam());
  // A read waiting for more would end in "Read Timeout" instead.
  c.client.SetReadTimeout(3000);
  EXPECT_THROW(c.client.ReadLine(), EIdReadLnMaxLineLengthExceeded);
}

TEST_P(ReadLineTest, SplitModeYieldsTheLimitThenTheRest) {
  ScriptedConnected c({"abcdefgh\r\n" + std::string(40000, 'z') + "\n", false}, GetParam());
  c.client.SetMaxLineAction(maSplit);
  c.client.SetMaxLineLength(5);
  EXPECT_EQ(c.client.ReadLine(), "abcde");
  EXPECT_TRUE(c.client.ReadLnSplit());
  EXPECT_EQ(c.client.ReadLine(), "fgh");
  EXPECT_FALSE(c.client.ReadLnSplit());
  c.client.SetMaxLineLength(0);
  EXPECT_EQ(c.client.ReadLine(), std::string(40000, 'z')) << "0 accepts any length";
}

TEST_P(ReadLineTest, PeerSendsPartialLineAndCloses) {
  ScriptedConnected c({"abc"}, GetParam());
  EXPECT_EQ(RaisedMessage<EIdConnClosedGracefully>([&] { c.client.ReadLine(); }), "Connection Closed Gracefully.");
  EXPECT_EQ(c.client.InputBuffer().DataSize(), 3);
  EXPECT_EQ(c.client.TakeAvailable(), "abc");
  EXPECT_FALSE(c.client.IsConnected());
}

TEST(SocketReadTest, ReadTimeouts) {
  Connected c(HoldOpen);
  c.client.SetReadTimeout(300);
  const int64_t start = platform::MonotonicMilliseconds();
  EXPECT_EQ(RaisedMessage<EIdReadTimeout>([&] { c.client.ReadLine(); }), "Read Timeout");
  EXPECT_GE(platform::MonotonicMilliseconds() - start, 250);
  // An explicit timeout does not raise: an empty line and the timed-out flag.
  EXPECT_EQ(c.client.ReadLine("\n", 100), "");
  EXPECT_TRUE(c.client.ReadLnTimedOut());
}

TEST_P(ReadToStreamTest, KnownCountWithEarlyClose) {
  ScriptedConnected c({"123456"}, GetParam());
  std::vector<std::string> events;
  c.client.OnWorkBegin = [&](TIdComponent*, TWorkMode, int32_t max) { events.push_back("begin " + std::to_string(max)); };
  c.client.OnWorkEnd = [&](TIdComponent*, TWorkMode) { events.push_back("end"); };
  TMemoryStream stream;
  EXPECT_THROW(c.client.ReadToStream(stream, 10), EIdConnClosedGracefully);
  EXPECT_EQ(StreamText(stream), "123456");
  EXPECT_EQ(stream.Size(), 6);
  EXPECT_EQ(events, (std::vector<std::string>{"begin 10", "end"}));
}

// A fuzzer found a "Content-Length: 2000000000" before a few bytes claiming 2 GB at once.
TEST_P(ReadToStreamTest, HugeCountFromThePeerIsNotSetAsideAhead) {
  class TSizeRecordingStream : public TMemoryStream {
   public:
    int64_t Largest = 0;
    void SetSize(int64_t size) override {
      Largest = std::max(Largest, size);
      TMemoryStream::SetSize(size);
    }
  };
  ScriptedConnected c({"123456"}, GetParam());
  TSizeRecordingStream stream;
  EXPECT_THROW(c.client.ReadToStream(stream, 2000000000), EIdConnClosedGracefully);
  EXPECT_EQ(StreamText(stream), "123456");
  EXPECT_LE(stream.Largest, kReadToStreamPresizeLimit);
}

TEST_P(ReadToStreamTest, CountZeroMovesNothing) {
  ScriptedConnected c({"line\nrest", false}, GetParam());
  EXPECT_EQ(c.client.ReadLine(), "line");
  const int64_t buffered = c.client.InputBuffer().DataSize();
  std::vector<std::string> events;
  c.client.OnWorkBegin = [&](TIdComponent*, TWorkMode, int32_t max) { events.push_back("begin " + std::to_string(max)); };
  c.client.OnWork = [&](TIdComponent*, TWorkMode, int32_t count) { events.push_back("work " + std::to_string(count)); };
  c.client.OnWorkEnd = [&](TIdComponent*, TWorkMode) { events.push_back("end"); };
  TStringStream stream("12345");
  stream.SetPosition(2);
  c.client.ReadToStream(stream, 0);
  EXPECT_EQ(StreamText(stream), "12") << "cut at its position";
  EXPECT_EQ(c.client.InputBuffer().DataSize(), buffered);
  EXPECT_EQ(events, (std::vector<std::string>{"begin 0", "end"}));
}

TEST_P(ReadToStreamTest, UntilCloseKeepsEveryByte) {
  std::string body;
  for (int i = 0; i < 5000; ++i) body += std::to_string(i) + ",";
  ScriptedConnected c({body}, GetParam());
  c.client.SetRecvBufferSize(1000);
  int32_t beginMax = -1;
  c.client.OnWorkBegin = [&](TIdComponent*, TWorkMode, int32_t max) { beginMax = max; };
  TMemoryStream stream;
  c.client.ReadToStream(stream, -1, /*readUntilClose=*/true);
  EXPECT_EQ(StreamText(stream), body);
  EXPECT_EQ(beginMax, 0);
}

TEST_P(ReadToStreamTest, WorkReportsWithRecvBufferSize10240) {
  const std::string body(30000, 'b');
  ScriptedConnected c({"HEAD\r\n" + body, false}, GetParam());
  c.client.SetRecvBufferSize(10240);
  EXPECT_EQ(c.client.ReadLine(), "HEAD");
  const int32_t buffered = static_cast<int32_t>(c.client.InputBuffer().DataSize());
  if (GetParam() == testsupport::ScriptedIOHandler::kWhole) {
    EXPECT_EQ(buffered, 30000) << "one receive takes what has arrived";
  }
  std::vector<int32_t> reports;
  c.client.OnWork = [&](TIdComponent*, TWorkMode mode, int32_t count) {
    EXPECT_EQ(mode, wmRead);
    reports.push_back(count);
  };
  TMemoryStream stream;
  c.client.ReadToStream(stream, 30000);
  EXPECT_EQ(stream.Size(), 30000);
  // The bytes buffered behind the line go out in pieces first, then the ones received for the read.
  std::vector<int32_t> expected;
  int32_t total = 0;
  for (const int32_t end : {buffered, 30000}) {
    while (total < end) expected.push_back(total = std::min(total + 10240, end));
  }
  EXPECT_EQ(reports, expected) << buffered << " bytes buffered behind the line";
}

// Past 2 GiB a body's running total stays at the largest 32-bit count instead of turning negative.
TEST(WorkEventsTest, RunningTotalStopsAtTheLargest32BitCount) {
  TIdTCPClient client;
  std::vector<int32_t> totals;
  client.OnWork = [&](TIdComponent*, TWorkMode, int32_t total) { totals.push_back(total); };
  client.StartWork(wmRead, ClampWorkCount(int64_t{5} << 30));
  for (int i = 0; i < 3; ++i) client.AddWork(wmRead, 1 << 30);
  client.FinishWork(wmRead);
  EXPECT_EQ(totals, (std::vector<int32_t>{1 << 30, INT32_MAX, INT32_MAX}));
}

// A work handler that closes the connection (the updater's progress handler runs the cancel button) ends a
// counted read after the current piece, without an exception, leaving the bytes read so far.
TEST(TIdTCPClientTest, CloseFromAWorkHandlerEndsTheRead) {
  Connected c([](LoopbackConnection& connection) {
    connection.Send(std::string(5000, 'a'));
    HoldOpen(connection);
  });
  c.client.SetRecvBufferSize(1000);
  c.client.OnWork = [&](TIdComponent*, TWorkMode, int32_t count) {
    if (count >= 2000) c.client.CloseConnection();
  };
  TMemoryStream stream;
  c.client.ReadToStream(stream, 10000);
  EXPECT_GE(stream.Size(), 2000);
  EXPECT_LT(stream.Size(), 10000) << "cut to the bytes read";
  EXPECT_EQ(c.client.IOHandler(), nullptr);
}

TEST(TIdTCPClientTest, CloseFromAWriteWorkHandlerStopsTheWrite) {
  Connected c(HoldOpen);
  c.client.SetSendBufferSize(1000);
  c.client.OnWork = [&](TIdComponent*, TWorkMode mode, int32_t) {
    if (mode == wmWrite) c.client.CloseConnection();
  };
  TStringStream stream(std::string(5000, 'w'));
  EXPECT_THROW(c.client.WriteFromStream(stream), EIdNotConnected);
  EXPECT_EQ(c.client.IOHandler(), nullptr);
}

TEST(TIdTCPClientTest, LengthPrefixedRoundTrip) {
  Connected c([](LoopbackConnection& connection) {
    const std::string length = connection.ReadBytes(4);
    const std::string payload = connection.ReadBytes(static_cast<size_t>(length[3]));
    connection.Send(length + payload);
    HoldOpen(connection);
  });
  TStringStream out("payload");
  c.client.WriteFromStream(out, /*fromStart=*/true, 0, /*withLengthPrefix=*/true);
  TMemoryStream in;
  c.client.ReadToStream(in);
  EXPECT_EQ(StreamText(in), "payload");
  c.client.WriteInt32(0x01020304);
  c.client.CloseConnection();
  EXPECT_EQ(c.server.Received(), std::string("\0\0\0\7payload\1\2\3\4", 15));
}

TEST(TIdTCPClientTest, OpenAndCloseReportStatusInOrder) {
  LoopbackServer server(HoldOpen);
  for (const std::string host : {"127.0.0.1", "LOCALHOST"}) {
    TIdTCPClient client;
    std::vector<std::string> events;
    client.OnStatus = [&](TIdComponent*, TIdStatus, const std::string& text) { events.push_back(text); };
    client.OnConnected = [&](TIdComponent*) { events.push_back("OnConnected"); };
    client.OnDisconnected = [&](TIdComponent*) { events.push_back("OnDisconnected"); };
    client.SetHost(host);
    client.SetPort(server.Port());
    client.OpenConnection();
    EXPECT_TRUE(client.IsConnected());
    EXPECT_EQ(RaisedMessage<EIdAlreadyConnected>([&] { client.OpenConnection(); }), "Already connected.");
    client.CloseConnection();
    EXPECT_EQ(client.IOHandler(), nullptr) << "the self-created handler is released";
    client.CloseConnection();  // closed already: nothing reported
    std::vector<std::string> expected;
    if (host != "127.0.0.1") expected.push_back("Resolving hostname LOCALHOST.");
    for (const char* text : {"Connecting to 127.0.0.1.", "Connected.", "OnConnected", "Disconnecting.",
                             "OnDisconnected", "Disconnected."}) {
      expected.push_back(text);
    }
    EXPECT_EQ(events, expected) << host;
  }
}

TEST(TIdTCPClientTest, FailedOpenLeavesTheClientClosed) {
  int port = 0;
  {
    LoopbackServer server(HoldOpen);
    port = server.Port();
  }
  TIdTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(port);
  const auto error = Raised<EIdSocketError>([&] { client.OpenConnection(); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->LastError(), 10061);
  EXPECT_EQ(error->Message(), "Socket Error # 10061\r\nConnection refused.");
  EXPECT_FALSE(client.IsConnected());
  // The self-created handler stays installed, closed, until the next CloseConnection.
  EXPECT_NE(client.IOHandler(), nullptr);
  EXPECT_THROW(client.ReadLine(), EIdConnClosedGracefully);
  client.CloseConnection();
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_THROW(client.ReadLine(), EIdNotConnected);
}

TEST_P(ConnectionExchangeTest, PeerCloseIsNoticedOnceAndBufferedBytesStayReadable) {
  ScriptedConnected c({"hello\n"}, GetParam());
  int disconnects = 0;
  c.client.OnDisconnected = [&](TIdComponent*) { ++disconnects; };
  // Wait until the close has arrived behind the data.
  while (c.client.IsConnected()) c.client.PollPeerClose(/*raise=*/false);
  EXPECT_EQ(disconnects, 1);
  EXPECT_EQ(c.client.ReadLine(), "hello");
  EXPECT_THROW(c.client.ReadLine(), EIdConnClosedGracefully);
  EXPECT_THROW(c.client.WriteLine("x"), EIdConnClosedGracefully);
  c.client.CloseConnection();
  EXPECT_EQ(disconnects, 1);
}

TEST_P(ConnectionExchangeTest, WriteBufferingCollectsUntilTheEnd) {
  ScriptedConnected c({"", false}, GetParam());
  std::vector<int32_t> writes;
  c.client.OnWork = [&](TIdComponent*, TWorkMode mode, int32_t count) {
    if (mode == wmWrite) writes.push_back(count);
  };
  c.client.BeginWriteBuffering(8);
  c.client.WriteText("12345");
  EXPECT_TRUE(c.client.WriteBuffering());
  c.client.WriteText("67890");  // reaches the threshold: 8 bytes go out
  c.client.WriteLine("ab");
  c.client.EndWriteBuffering();
  EXPECT_FALSE(c.client.WriteBuffering());
  c.client.BeginWriteBuffering();
  c.client.WriteText("discarded");
  c.client.DiscardWriteBuffering();
  c.client.EndWriteBuffering();
  TStringStream stream(std::string(70000, 's'));
  c.client.SetSendBufferSize(32768);
  c.client.WriteFromStream(stream);
  EXPECT_EQ(c.peer.Sent(), "1234567890ab\r\n" + std::string(70000, 's'));
  EXPECT_EQ(writes, (std::vector<int32_t>{32768, 65536, 70000}));
}

TEST_P(ConnectionExchangeTest, NumberedRepliesReadContinuationLines) {
  // A client that reads each reply after its command cannot tell these from replies sent one by one.
  ScriptedConnected c({"220 ready\r\n250-first\r\n250-second\r\n250 last\r\n550 no\r\n", false}, GetParam());
  EXPECT_EQ(c.client.ReadReply({220}), 220);
  EXPECT_EQ(c.client.SendCommand("HELO"), 250);
  EXPECT_EQ(c.client.LastCmdResult().Text(), (std::vector<std::string>{"first", "second", "last"}));
  const auto error = Raised<EIdProtocolReplyError>([&] { c.client.SendCommand("QUIT", {221}); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->ReplyErrorCode(), 550);
  EXPECT_EQ(error->Message(), "no");
}

// Swaps letter case both ways: proves the hooks see (and may rewrite) every receive and every write.
class CaseSwapIntercept : public TIdConnectionIntercept {
 public:
  void Receive(TStream& data) override { Swap(data); }
  void Send(TStream& data) override { Swap(data); }
  void Connect(TIdTCPConnection&) override { ++connects; }
  void Disconnect() override { ++disconnects; }
  int connects = 0;
  int disconnects = 0;

 private:
  static void Swap(TStream& data) {
    auto& buffer = static_cast<TIdSimpleBuffer&>(data);
    for (int64_t i = 0; i < buffer.DataSize(); ++i) buffer.Memory()[i] ^= 0x20;
  }
};

TEST(TIdTCPClientTest, InterceptAndAsciiFilterSeeTheData) {
  LoopbackServer server([](LoopbackConnection& connection) {
    connection.Send(connection.ReadLine());
    connection.ReadLine();
    connection.Send("\xC1\xE2\n");
    HoldOpen(connection);
  });
  TIdTCPClient client;
  CaseSwapIntercept intercept;
  client.SetIntercept(&intercept);
  client.SetHost(LoopbackServer::kHost);
  client.SetPort(server.Port());
  client.OpenConnection();
  EXPECT_EQ(intercept.connects, 1);
  client.WriteText("hello");
  client.WriteBytes("*", 1);  // '*' ^ 0x20 is LF
  EXPECT_EQ(client.ReadLine("*"), "hello");
  client.SetIntercept(nullptr);
  client.WriteLine("next");
  client.SetASCIIFilter(true);
  EXPECT_EQ(client.ReadLine(), "Ab");
  client.SetIntercept(&intercept);
  client.CloseConnection();
  EXPECT_EQ(intercept.disconnects, 1);
}

TEST(TIdTCPClientTest, AnInterceptDestroyedElsewhereIsDropped) {
  LoopbackServer server([](LoopbackConnection& connection) {
    connection.Send(connection.ReadLine() + "\n");
    HoldOpen(connection);
  });
  TIdTCPClient client;
  auto intercept = std::make_unique<CaseSwapIntercept>();
  client.SetIntercept(intercept.get());
  client.SetHost(LoopbackServer::kHost);
  client.SetPort(server.Port());
  client.OpenConnection();
  intercept.reset();
  EXPECT_EQ(client.Intercept(), nullptr);
  client.WriteLine("plain");
  EXPECT_EQ(client.ReadLine(), "plain");
  client.CloseConnection();
}

TEST(TIdTCPClientTest, NonEmptyLinesAndReadingEverything) {
  LoopbackServer server([](LoopbackConnection& connection) {
    connection.Send(connection.Index() == 0 ? "  \r\n\t\r\n  x y \r\nrest of it" : "second");
    connection.Close();
  });
  TIdTCPClient client;
  client.SetHost("localhost");
  client.SetPort(server.Port());
  client.OpenConnection();
  EXPECT_EQ(client.ReadNonEmptyLine(), "x y");
  EXPECT_EQ(client.ReadAllText(), "rest of it");
  EXPECT_EQ(client.OpenReadAllClose(), "second");
  EXPECT_EQ(client.IOHandler(), nullptr);
}

TEST(TIdTCPClientTest, UseNagleSetsNoDelayAtOnce) {
  Connected c(HoldOpen);
  TIdIOHandlerSocket* handler = c.client.Socket();
  ASSERT_NE(handler, nullptr);
  EXPECT_EQ(handler, c.client.IOHandler());
  const auto noDelay = [&] {
    // Windows may write the option as a single byte.
    int value = 0;
    EXPECT_EQ(GStack->GetSocketOption(handler->Binding()->Handle(), platform::kLevelTcp, platform::kOptionNoDelay,
                                      value),
              0);
    return (value & 0xFF) != 0;
  };
  EXPECT_FALSE(noDelay());
  handler->SetUseNagle(false);
  EXPECT_TRUE(noDelay());
}

TEST(TIdTCPClientTest, SendFileContentsFailsForAMissingFile) {
  Connected c(HoldOpen);
  EXPECT_EQ(RaisedMessage<EIdFileNotFound>([&] { c.client.SendFileContents("no-such-file.bin"); }),
            "File \"no-such-file.bin\" not found");
}

}  // namespace
