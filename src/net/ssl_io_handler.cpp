#include "net/ssl_io_handler.h"

#include <algorithm>
#include <cstring>

#include "net/exceptions.h"
#include "net/stack.h"
#include "platform/clock.h"

namespace {

// One TLS record's ciphertext at most, so one receive usually completes a record.
constexpr int kCiphertextPiece = 16384 + 512;

}  // namespace

TIdSSLIOHandlerSocket::~TIdSSLIOHandlerSocket() = default;

void TIdSSLIOHandlerSocket::CloseHandler() {
  if (m_encrypting && IsOpen()) {
    // The close notification tells the server the end is deliberate; the socket closes whatever happens.
    try {
      m_session->Close();
      FlushOutgoing();
    } catch (const platform::TlsError&) {
    }
  }
  m_encrypting = false;
  TIdIOHandlerSocket::CloseHandler();
}

void TIdSSLIOHandlerSocket::PrepareHandler() {
  TIdIOHandlerSocket::PrepareHandler();
  m_encrypting = false;
  m_session.reset();
  m_plaintext.clear();
  m_plaintextStart = 0;
  m_peerClosed = false;
  m_socketError = 0;
}

void TIdSSLIOHandlerSocket::ConnectToPeer(const std::string& host, int port, int timeout, int boundPortMax,
                                          int boundPortMin, int boundPort, const std::string& boundIP) {
  TIdIOHandlerSocket::ConnectToPeer(host, port, timeout, boundPortMax, boundPortMin, boundPort, boundIP);
  if (!m_passThrough) Handshake(host);
}

void TIdSSLIOHandlerSocket::Handshake(const std::string& host) {
  try {
    m_session = platform::CreateTlsClientSession(host);
    for (;;) {
      const bool done = m_session->Handshake();
      if (!FlushOutgoing()) GStack->FailWithSocketError(GStack->LastPlatformError());
      if (done) break;
      // The wait serves the UI; a cancel there closes the socket and ends the handshake with
      // EIdConnClosedGracefully.
      if (!TIdIOHandlerSocket::WaitReadable(m_handshakeTimeout > 0 ? m_handshakeTimeout : IdTimeoutInfinite)) {
        throw EIdReadTimeout();
      }
      if (!ReceiveCiphertext()) {
        if (m_socketError != 0) GStack->FailWithSocketError(m_socketError);
        throw EIdSSLProtocolReplyError("TLS handshake failed: the server closed the connection");
      }
    }
  } catch (const platform::TlsError& error) {
    m_session.reset();
    throw EIdSSLProtocolReplyError(error.what());
  } catch (...) {
    m_session.reset();
    throw;
  }
  m_encrypting = true;
}

bool TIdSSLIOHandlerSocket::ReceiveCiphertext() {
  // The UI may have closed the socket during the wait that preceded this receive.
  if (!IsOpen()) throw EIdConnClosedGracefully();
  uint8_t piece[kCiphertextPiece];
  const int n = Binding()->ReceiveData(piece, sizeof piece);
  if (n > 0) {
    m_session->PutIncoming(piece, static_cast<size_t>(n));
    return true;
  }
  m_peerClosed = true;
  if (n < 0) m_socketError = GStack->LastPlatformError();
  return false;
}

bool TIdSSLIOHandlerSocket::FlushOutgoing() {
  const std::vector<uint8_t> bytes = m_session->TakeOutgoing();
  size_t sent = 0;
  while (sent < bytes.size()) {
    const int n = Binding()->SendData(bytes.data() + sent, static_cast<int>(bytes.size() - sent));
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool TIdSSLIOHandlerSocket::WaitReadable(int timeout) {
  if (!m_encrypting) return TIdIOHandlerSocket::WaitReadable(timeout);
  const int64_t start = platform::MonotonicMilliseconds();
  for (;;) {
    // Plaintext decrypted earlier (several records may arrive in one receive) is readable now, whatever
    // the socket says.
    if (m_plaintextStart < m_plaintext.size() || m_peerClosed) return true;
    int remaining = timeout;
    if (timeout != IdTimeoutInfinite) {
      remaining = static_cast<int>(std::max<int64_t>(0, timeout - (platform::MonotonicMilliseconds() - start)));
    }
    if (!TIdIOHandlerSocket::WaitReadable(remaining)) return false;
    // A partial record, or a record without application data (a session ticket), is not yet readable.
    if (!ReceiveCiphertext()) return true;
    try {
      if (!m_session->Decrypt(m_plaintext)) m_peerClosed = true;
      // TLS 1.3 may answer a record (a key update) with one of its own.
      FlushOutgoing();
    } catch (const platform::TlsError& error) {
      throw EIdSSLProtocolReplyError(error.what());
    }
  }
}

int TIdSSLIOHandlerSocket::ReceiveSome(void* buffer, int length) {
  if (!m_encrypting) return TIdIOHandlerSocket::ReceiveSome(buffer, length);
  if (!IsOpen()) throw EIdClosedSocket();
  while (m_plaintextStart == m_plaintext.size() && !m_peerClosed) WaitReadable(IdTimeoutInfinite);
  const size_t pending = m_plaintext.size() - m_plaintextStart;
  if (pending == 0) {
    // After a socket error the caller asks for the thread's last error: give it the receive's own.
    if (m_socketError != 0) GStack->FailWithSocketError(m_socketError);
    return 0;
  }
  const size_t count = std::min(pending, static_cast<size_t>(std::max(length, 0)));
  std::memcpy(buffer, m_plaintext.data() + m_plaintextStart, count);
  m_plaintextStart += count;
  if (m_plaintextStart == m_plaintext.size()) {
    m_plaintext.clear();
    m_plaintextStart = 0;
  }
  return static_cast<int>(count);
}

int TIdSSLIOHandlerSocket::SendSome(const void* buffer, int length) {
  if (!m_encrypting) return TIdIOHandlerSocket::SendSome(buffer, length);
  if (!IsOpen()) throw EIdClosedSocket();
  try {
    m_session->Encrypt(static_cast<const uint8_t*>(buffer), static_cast<size_t>(std::max(length, 0)));
  } catch (const platform::TlsError& error) {
    throw EIdSSLProtocolReplyError(error.what());
  }
  return FlushOutgoing() ? length : Id_SOCKET_ERROR;
}
