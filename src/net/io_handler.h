#pragma once
// Socket handlers: what the connection asks of its transport (prepare, connect, wait for data, receive and
// send once, close). TIdIOHandlerSocket is the one over a socket binding; its connect resolves the host,
// reports the status, and on the main thread with idle processing runs the platform connect on a worker
// thread (limit 120000 ms when the caller gave none) so that the UI keeps being served. With a SOCKS version
// set, it connects to the SOCKS server and then negotiates the connection to the host and port asked for.
#include <memory>
#include <string>

#include "net/component.h"
#include "net/socket_handle.h"
#include "net/socks_info.h"

class TIdIOHandler : public TIdComponent {
 public:
  virtual void HandleAccepted() {}
  virtual void CloseHandler() { m_active = false; }
  // (host, port, timeout, boundPortMax, boundPortMin, boundPort, boundIP)
  virtual void ConnectToPeer(const std::string&, int, int, int, int, int, const std::string&) {}
  virtual bool IsOpen() { return m_active; }
  virtual void PrepareHandler() { m_active = true; }
  // Data (or a close) can be read within timeout ms (-2: no limit).
  virtual bool WaitReadable(int timeout) = 0;
  // The platform result: count moved, 0 for a close, -1 for an error.
  virtual int ReceiveSome(void* buffer, int length) = 0;
  virtual int SendSome(const void* buffer, int length) = 0;

 private:
  bool m_active = false;
};

class TIdIOHandlerSocket : public TIdIOHandler {
 public:
  static constexpr int kIdleConnectLimit = 120000;  // ms, a connect on the UI thread without a limit
  static constexpr int kConnectStep = 125;          // ms, longest slice of the connect wait

  TIdIOHandlerSocket() = default;
  ~TIdIOHandlerSocket() override;

  // Closes the binding's socket: shutdown of sending, then close.
  void CloseHandler() override;
  // Allocates and binds a stream socket, resolves the host (hsResolving for a name), reports hsConnecting
  // and connects. A timeout other than -1 and 0 runs the connect on a worker thread with that limit
  // (-2: none); so does a connect on the main thread with idle processing in use (limit 120000 ms).
  // With SocksInfo's version set, the SOCKS server is the one connected to and resolved, and its negotiation
  // for host and port follows the connect.
  // Failures: EIdInvalidSocket, EIdSocketError, EIdConnectTimeout "Connect timed out.", EIdConnectException,
  // and those of TIdSocksInfo::Negotiate.
  void ConnectToPeer(const std::string& host, int port, int timeout, int boundPortMax, int boundPortMin,
                     int boundPort, const std::string& boundIP) override;
  // The binding exists and its socket is allocated.
  bool IsOpen() override;
  void PrepareHandler() override;
  // Fails with EIdConnClosedGracefully when the socket was closed meanwhile (for example by the UI).
  bool WaitReadable(int timeout) override;
  // Fail with EIdClosedSocket "Disconnected." when not open.
  int ReceiveSome(void* buffer, int length) override;
  int SendSome(const void* buffer, int length) override;

  // TCP_NODELAY is 0 with Nagle's algorithm, 1 without; a change applies at once when open.
  bool UseNagle() const { return m_useNagle; }
  void SetUseNagle(bool value);

  // Created on first use; with svNoSocks (its initial version) it plays no part.
  TIdSocksInfo& SocksInfo();

  // None before the first PrepareHandler.
  TIdSocketHandle* Binding() { return m_binding.get(); }

 private:
  void ApplyNagle();
  void ConnectWithLimit(int limit);

  std::unique_ptr<TIdSocketHandle> m_binding;
  std::unique_ptr<TIdSocksInfo> m_socksInfo;
  bool m_useNagle = true;
};
