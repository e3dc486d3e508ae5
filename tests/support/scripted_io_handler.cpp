#include "support/scripted_io_handler.h"

#include <algorithm>
#include <cstring>

namespace testsupport {

ScriptedIOHandler::ScriptedIOHandler(std::vector<ScriptedConnection> script, int piece)
    : m_script(std::move(script)), m_piece(std::max(piece, 1)) {}

ScriptedIOHandler::ScriptedIOHandler(Responder responder, int piece)
    : m_responder(std::move(responder)), m_piece(std::max(piece, 1)) {}

void ScriptedIOHandler::Serve(const std::string& bytes, bool closeAfter) {
  if (m_connections.empty() || m_connections.back().peer.closeAfter) return;
  m_connections.back().peer.served += bytes;
  m_connections.back().peer.closeAfter = closeAfter;
}

void ScriptedIOHandler::ConnectToPeer(const std::string& host, int port, int, int, int, int, const std::string&) {
  m_host = host;
  m_port = port;
  const size_t index = m_connections.size();
  Connection connection;
  if (m_responder) {
    connection.peer.closeAfter = false;
  } else if (index < m_script.size()) {
    connection.peer = m_script[index];
  }
  m_connections.push_back(std::move(connection));
}

bool ScriptedIOHandler::WaitReadable(int) {
  if (m_connections.empty()) return true;
  const Connection& connection = m_connections.back();
  return connection.peer.closeAfter || connection.position < connection.peer.served.size();
}

int ScriptedIOHandler::ReceiveSome(void* buffer, int length) {
  if (m_connections.empty()) return 0;
  Connection& connection = m_connections.back();
  const size_t n = std::min({static_cast<size_t>(std::max(length, 0)),
                             connection.peer.served.size() - connection.position, static_cast<size_t>(m_piece)});
  std::memcpy(buffer, connection.peer.served.data() + connection.position, n);
  connection.position += n;
  return static_cast<int>(n);
}

int ScriptedIOHandler::SendSome(const void* buffer, int length) {
  if (m_connections.empty()) return length;
  Connection& connection = m_connections.back();
  connection.sent.append(static_cast<const char*>(buffer), static_cast<size_t>(std::max(length, 0)));
  if (m_responder) m_responder(*this, m_connections.size() - 1, connection.sent);
  return length;
}

std::string ScriptedIOHandler::Sent(size_t index) const {
  return index < m_connections.size() ? m_connections[index].sent : "";
}

}  // namespace testsupport
