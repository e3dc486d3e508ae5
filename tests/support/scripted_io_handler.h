#pragma once
// An in-memory peer behind the socket handler seam: each connection the client opens serves what the script
// gives it, hands out at most a chosen number of bytes per receive (1 splits every line, CR LF and chunk
// size), and records what the client sent. No socket, no thread, no wait: a test or a fuzz entry states the
// peer's bytes and reads back the client's.
#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "net/io_handler.h"

namespace testsupport {

// What the peer sends on one connection. After the last byte it closes the connection, or, when it stays
// open, falls silent: a wait for more data then ends at once without any (the read times out).
struct ScriptedConnection {
  std::string served;
  bool closeAfter = true;
};

class ScriptedIOHandler : public TIdIOHandler {
 public:
  static constexpr int kWhole = INT_MAX;  // a receive takes all it asks for
  // Called after each send with the index of the connection and all the client has sent on it so far; it
  // answers through Serve.
  using Responder = std::function<void(ScriptedIOHandler& peer, size_t connection, const std::string& sent)>;

  // The index-th connection serves script[index]; past the end of the script the peer closes at once.
  explicit ScriptedIOHandler(std::vector<ScriptedConnection> script, int piece = kWhole);
  // Every connection starts open and silent, and serves what the responder gives it.
  ScriptedIOHandler(Responder responder, int piece);

  // Adds bytes to what the current connection serves, and closes it after them when asked. A connection that
  // closes serves nothing more.
  void Serve(const std::string& bytes, bool closeAfter);

  void ConnectToPeer(const std::string& host, int port, int timeout, int boundPortMax, int boundPortMin,
                     int boundPort, const std::string& boundIP) override;
  bool WaitReadable(int timeout) override;
  int ReceiveSome(void* buffer, int length) override;
  int SendSome(const void* buffer, int length) override;

  // Connections opened so far.
  size_t Opened() const { return m_connections.size(); }
  // What the client sent on the index-th connection it opened (empty when it opened fewer).
  std::string Sent(size_t index = 0) const;
  // The host and port of the last connect.
  const std::string& Host() const { return m_host; }
  int Port() const { return m_port; }

 private:
  struct Connection {
    ScriptedConnection peer;
    size_t position = 0;  // in peer.served
    std::string sent;
  };

  std::vector<ScriptedConnection> m_script;
  Responder m_responder;
  int m_piece;
  std::vector<Connection> m_connections;
  std::string m_host;
  int m_port = 0;
};

}  // namespace testsupport
