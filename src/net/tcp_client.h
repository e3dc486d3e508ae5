#pragma once
// The TCP client: a connection that opens itself to Host:Port, creating its own socket handler when none is
// set (released again by CloseConnection).
#include <string>

#include "net/tcp_connection.h"

class TIdTCPClient : public TIdTCPConnection {
 public:
  const std::string& Host() const { return m_host; }
  virtual void SetHost(const std::string& value) { m_host = value; }
  int Port() const { return m_port; }
  virtual void SetPort(int value) { m_port = value; }
  // Local address and port to bind to (empty / 0: any), and a local port range tried from the top.
  const std::string& BoundIP() const { return m_boundIP; }
  void SetBoundIP(const std::string& value) { m_boundIP = value; }
  int BoundPort() const { return m_boundPort; }
  void SetBoundPort(int value) { m_boundPort = value; }
  int BoundPortMin() const { return m_boundPortMin; }
  void SetBoundPortMin(int value) { m_boundPortMin = value; }
  int BoundPortMax() const { return m_boundPortMax; }
  void SetBoundPortMax(int value) { m_boundPortMax = value; }
  TNotifyEvent OnConnected;

  virtual void NotifyConnected();
  // Connects (timeout in ms; -1 or 0: no own limit, but 120000 ms on the UI thread with idle processing).
  // Reports hsResolving (for a name), hsConnecting, hsConnected, then OnConnected. Fails with
  // EIdAlreadyConnected "Already connected." when open; any failure closes the socket again and passes on
  // (EIdSocketError, EIdConnectTimeout, EIdConnectException, EIdInvalidSocket, ...).
  virtual void OpenConnection(int timeout = -1);
  // Connects, reads everything until the peer closes, and closes (also when the read fails).
  virtual std::string OpenReadAllClose(int timeout = -1);

 private:
  std::string m_host;
  int m_port = 0;
  std::string m_boundIP;
  int m_boundPort = 0;
  int m_boundPortMin = 0;
  int m_boundPortMax = 0;
};
