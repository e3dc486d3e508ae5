#include "support/loopback_server.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "platform/threads.h"

namespace testsupport {
namespace {

constexpr platform::Ipv4Address kLoopback{127, 0, 0, 1};

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + " failed with " + std::to_string(platform::SocketLastError()));
}

// A socket listening on 127.0.0.1 with a port the system chooses.
platform::SocketHandle Listen(int backlog, int& port) {
  Check(platform::SocketStartup(0x0202) == 0, "socket start-up");
  const platform::SocketHandle listener =
      platform::SocketCreate(platform::kAddressFamilyInet, platform::kSocketTypeStream, platform::kProtocolTcp);
  Check(listener != platform::kNoSocket, "socket");
  Check(platform::SocketBind(listener, platform::Ipv4Endpoint{kLoopback, 0}) == 0, "bind");
  Check(platform::SocketListen(listener, backlog) == 0, "listen");
  platform::Ipv4Endpoint local;
  Check(platform::SocketLocalName(listener, local) == 0, "getsockname");
  port = local.port;
  return listener;
}

bool WaitReadable(platform::SocketHandle socket, int milliseconds) {
  std::vector<platform::SocketHandle> read{socket};
  return platform::SocketSelect(&read, nullptr, nullptr, milliseconds) == 1;
}

}  // namespace

LoopbackConnection::LoopbackConnection(platform::SocketHandle socket, int readLimitMilliseconds, size_t index)
    : m_socket(socket), m_readLimit(readLimitMilliseconds), m_index(index) {}

LoopbackConnection::~LoopbackConnection() { Close(); }

bool LoopbackConnection::Fill() {
  if (m_peerClosed || m_socket == platform::kNoSocket) return false;
  if (!WaitReadable(m_socket, m_readLimit)) return false;
  char buffer[16384];
  const int n = platform::SocketReceive(m_socket, buffer, sizeof buffer, 0);
  if (n <= 0) {
    m_peerClosed = true;
    return false;
  }
  m_pending.append(buffer, static_cast<size_t>(n));
  m_received.append(buffer, static_cast<size_t>(n));
  return true;
}

std::string LoopbackConnection::Take(size_t count) {
  count = std::min(count, m_pending.size());
  std::string bytes = m_pending.substr(0, count);
  m_pending.erase(0, count);
  return bytes;
}

std::string LoopbackConnection::ReadBytes(size_t count) {
  while (m_pending.size() < count && Fill()) {
  }
  return Take(count);
}

std::string LoopbackConnection::ReadLine() { return ReadUntil("\n"); }

std::string LoopbackConnection::ReadUntil(const std::string& marker) {
  size_t found;
  while ((found = m_pending.find(marker)) == std::string::npos && Fill()) {
  }
  return Take(found == std::string::npos ? m_pending.size() : found + marker.size());
}

std::string LoopbackConnection::ReadUntilClose() {
  while (Fill()) {
  }
  return Take(m_pending.size());
}

void LoopbackConnection::Send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size() && m_socket != platform::kNoSocket) {
    const int n = platform::SocketSend(m_socket, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

void LoopbackConnection::Sleep(int milliseconds) { platform::SleepMilliseconds(milliseconds); }

void LoopbackConnection::ShutdownSend() {
  if (m_socket != platform::kNoSocket) platform::SocketShutdown(m_socket, platform::kShutdownSend);
}

void LoopbackConnection::Close() {
  if (m_socket == platform::kNoSocket) return;
  platform::SocketShutdown(m_socket, platform::kShutdownSend);
  platform::SocketClose(m_socket);
  m_socket = platform::kNoSocket;
}

LoopbackServer::LoopbackServer(Script script, int readLimitMilliseconds)
    : m_script(std::move(script)), m_readLimit(readLimitMilliseconds) {
  m_listener = Listen(16, m_port);
  m_thread = std::thread([this] { Run(); });
}

LoopbackServer::~LoopbackServer() {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_stop = true;
  }
  m_thread.join();
  platform::SocketClose(m_listener);
}

void LoopbackServer::Run() {
  for (size_t index = 0;;) {
    {
      std::lock_guard<std::mutex> lock(m_lock);
      if (m_stop) return;
    }
    // Short waits, so that the destructor's stop request is seen without closing the socket under accept.
    if (!WaitReadable(m_listener, 20)) continue;
    platform::Ipv4Endpoint peer;
    const platform::SocketHandle accepted = platform::SocketAccept(m_listener, peer);
    if (accepted == platform::kNoSocket) continue;
    std::string received;
    {
      LoopbackConnection connection(accepted, m_readLimit, index++);
      try {
        m_script(connection);
      } catch (const std::exception&) {
        // A failing script ends its connection; the test sees it in what the client got.
      }
      received = connection.Received();
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_received.push_back(std::move(received));
    m_finished.notify_all();
  }
}

std::string LoopbackServer::Received(size_t index) {
  std::unique_lock<std::mutex> lock(m_lock);
  m_finished.wait_for(lock, std::chrono::milliseconds(m_readLimit), [&] { return m_received.size() > index; });
  return index < m_received.size() ? m_received[index] : std::string();
}

size_t LoopbackServer::FinishedConnections() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_received.size();
}

UnansweringListener::UnansweringListener() {
  m_listener = Listen(0, m_port);
  // Non-blocking connects until one is not completed: from then on the accept queue is full and the system
  // ignores further handshakes to this port.
  for (int attempt = 0; attempt < 16; ++attempt) {
    const platform::SocketHandle filler =
        platform::SocketCreate(platform::kAddressFamilyInet, platform::kSocketTypeStream, platform::kProtocolTcp);
    Check(filler != platform::kNoSocket, "socket");
    m_fillers.push_back(filler);
    platform::SocketSetNonBlocking(filler, true);
    platform::SocketConnect(filler, platform::Ipv4Endpoint{kLoopback, static_cast<uint16_t>(m_port)});
    std::vector<platform::SocketHandle> write{filler};
    if (platform::SocketSelect(nullptr, &write, nullptr, 300) != 1) return;
  }
  throw std::runtime_error("the listener's accept queue did not fill up");
}

UnansweringListener::~UnansweringListener() {
  for (const platform::SocketHandle filler : m_fillers) platform::SocketClose(filler);
  platform::SocketClose(m_listener);
}

}  // namespace testsupport
