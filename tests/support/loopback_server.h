#pragma once
// An in-process TCP server on 127.0.0.1 with an ephemeral port for tests. Each accepted connection runs the
// test's script on the server thread (read bytes, lines or up to a marker, send, sleep, close); everything
// the server reads is recorded per connection. Built on platform/sockets.h, so it runs in the Windows test
// build too. Never listens or connects outside 127.0.0.0/8.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sockets.h"

namespace testsupport {

// One accepted connection, as the script sees it. Reads wait at most the server's read limit and return
// what arrived before the peer closed; they never raise.
class LoopbackConnection {
 public:
  LoopbackConnection(platform::SocketHandle socket, int readLimitMilliseconds, size_t index);
  ~LoopbackConnection();
  LoopbackConnection(const LoopbackConnection&) = delete;
  LoopbackConnection& operator=(const LoopbackConnection&) = delete;

  // Exactly count bytes, or fewer when the peer closes first.
  std::string ReadBytes(size_t count);
  // Through the next LF (included).
  std::string ReadLine();
  // Through the marker (included), e.g. "\r\n\r\n" for a request head.
  std::string ReadUntil(const std::string& marker);
  std::string ReadUntilClose();
  void Send(const std::string& bytes);
  void Sleep(int milliseconds);
  // Shuts sending down: the peer reads the end of the stream, the connection can still read.
  void ShutdownSend();
  void Close();
  bool PeerClosed() const { return m_peerClosed; }
  // 0 for the server's first accepted connection, 1 for the next, ... (a script may answer each differently).
  size_t Index() const { return m_index; }
  // Every byte read so far, including bytes read ahead of what the script asked for.
  const std::string& Received() const { return m_received; }

 private:
  // Reads more bytes into the pending input; false at the peer's close, an error or the read limit.
  bool Fill();
  std::string Take(size_t count);

  platform::SocketHandle m_socket;
  int m_readLimit;
  size_t m_index;
  std::string m_pending;  // read from the socket, not yet handed to the script
  std::string m_received;
  bool m_peerClosed = false;
};

class LoopbackServer {
 public:
  using Script = std::function<void(LoopbackConnection& connection)>;

  // Starts listening at once; the script runs for every accepted connection, one at a time (a client that
  // opens a second connection while the first script still runs waits in the accept queue).
  explicit LoopbackServer(Script script, int readLimitMilliseconds = 10000);
  // Stops accepting and waits for a running script.
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int Port() const { return m_port; }
  static constexpr const char* kHost = "127.0.0.1";
  // Waits (at most the read limit) until the index-th connection's script has ended; its received bytes.
  std::string Received(size_t index = 0);
  // Connections whose scripts have ended.
  size_t FinishedConnections();

 private:
  void Run();

  Script m_script;
  int m_readLimit;
  platform::SocketHandle m_listener = platform::kNoSocket;
  int m_port = 0;
  std::mutex m_lock;
  std::condition_variable m_finished;
  std::vector<std::string> m_received;
  bool m_stop = false;
  std::thread m_thread;
};

// A listener that never answers a connect: its accept queue is filled first, so the system drops further
// handshakes and a connect to Port() blocks until the caller gives up.
class UnansweringListener {
 public:
  UnansweringListener();
  ~UnansweringListener();
  UnansweringListener(const UnansweringListener&) = delete;
  UnansweringListener& operator=(const UnansweringListener&) = delete;

  int Port() const { return m_port; }

 private:
  platform::SocketHandle m_listener = platform::kNoSocket;
  int m_port = 0;
  std::vector<platform::SocketHandle> m_fillers;
};

}  // namespace testsupport
