#pragma once
// The TLS socket handler: a TIdIOHandlerSocket that either passes bytes through unchanged or, once switched
// to encrypting, runs TLS over its socket (platform/tls.h). The HTTP client switches it per request: on for
// https, off otherwise. All waits go through the binding's readability wait, so idle processing and the
// cancel button work during the handshake and the body as on plain TCP.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/io_handler.h"
#include "platform/tls.h"

class TIdSSLIOHandlerSocket : public TIdIOHandlerSocket {
 public:
  TIdSSLIOHandlerSocket() = default;
  ~TIdSSLIOHandlerSocket() override;

  // True (the initial value): bytes pass unchanged. Takes effect at the next connect.
  bool PassThrough() const { return m_passThrough; }
  void SetPassThrough(bool value) { m_passThrough = value; }
  // The longest the handshake waits for the server's next bytes, in milliseconds (0, the initial value: no
  // limit). A server that accepts and then says nothing fails the connect with EIdReadTimeout.
  int HandshakeTimeout() const { return m_handshakeTimeout; }
  void SetHandshakeTimeout(int value) { m_handshakeTimeout = value; }
  // The current connection runs TLS (its handshake has completed).
  bool Encrypting() const { return m_encrypting; }
  // While encrypting: the protocol version and the server certificate's subject; empty otherwise.
  std::string SessionDescription() const { return m_encrypting && m_session ? m_session->Description() : std::string(); }

  // Sends the close notification when encrypting (best effort), then closes the socket.
  void CloseHandler() override;
  // Connects; when not passing through, runs the handler's TLS handshake with host as the name the server's
  // certificate must carry. A failed handshake (a server that closes during it included) raises
  // EIdSSLProtocolReplyError whose message names the cause; the caller closes the socket. A cancel (the
  // socket closed during a wait) raises EIdConnClosedGracefully.
  void ConnectToPeer(const std::string& host, int port, int timeout, int boundPortMax, int boundPortMin,
                     int boundPort, const std::string& boundIP) override;
  void PrepareHandler() override;
  // Runs the TLS handshake over the connection already open (a tunnel through a proxy), with host as the
  // name the certificate must carry; afterwards the handler encrypts until the connection closes, whatever
  // PassThrough says. Failures as for the handshake of ConnectToPeer.
  void StartTls(const std::string& host) { Handshake(host); }
  // Encrypting: true at once when decrypted bytes are pending (they may have arrived inside an earlier
  // record), else waits for ciphertext until a whole record's plaintext, the close or an error is there.
  // A damaged record raises EIdSSLProtocolReplyError.
  bool WaitReadable(int timeout) override;
  // Encrypting: decrypted bytes, or 0 at the server's close; a failed receive raises EIdSocketError with its
  // own code (idle processing may have run since, so the thread's last error could be another's).
  int ReceiveSome(void* buffer, int length) override;
  // Encrypting: the whole buffer encrypted and sent (its length), or -1 with the thread's socket error.
  int SendSome(const void* buffer, int length) override;

 private:
  void Handshake(const std::string& host);
  // Receives once (after a readability wait) and feeds the session; false when the socket reported a close
  // or an error, which is then recorded.
  bool ReceiveCiphertext();
  // Sends all ciphertext the session has produced; false on a socket error.
  bool FlushOutgoing();

  bool m_passThrough = true;
  int m_handshakeTimeout = 0;
  std::unique_ptr<platform::TlsClientSession> m_session;
  std::vector<uint8_t> m_plaintext;  // decrypted, not yet handed out
  size_t m_plaintextStart = 0;
  bool m_encrypting = false;
  bool m_peerClosed = false;  // the server closed (TLS close notification or end of stream) or the socket failed
  int m_socketError = 0;      // the failed receive's socket error
};
