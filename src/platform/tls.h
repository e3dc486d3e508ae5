#pragma once
// The client side of TLS over the system's TLS library (OpenSSL on Linux, SChannel on Windows), as an engine
// that never touches a socket: the caller moves ciphertext between the session and the network itself, so
// that every wait stays the caller's own (idle processing, cancel, timeouts). The server's certificate
// chain is always verified against the trust store and its name against the host name; only TLS 1.2 and
// later are offered.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// Why a TLS session failed.
enum class TlsFailure {
  Expired,       // the server's certificate (or one of its chain) is expired or not yet valid
  Untrusted,     // the chain does not lead to a trusted root, or a certificate in it is unusable or revoked
  NameMismatch,  // the certificate does not name the host
  Protocol,      // anything else: handshake refused, not TLS at all, damaged record, unsupported version
};

// Raised by every session operation; the message names the cause.
class TlsError : public std::runtime_error {
 public:
  TlsError(TlsFailure failure, const std::string& message) : std::runtime_error(message), m_failure(failure) {}
  TlsFailure Failure() const { return m_failure; }

 private:
  TlsFailure m_failure;
};

class TlsClientSession {
 public:
  virtual ~TlsClientSession() = default;

  // Ciphertext received from the server, in pieces of any size.
  virtual void PutIncoming(const uint8_t* data, size_t count) = 0;
  // Advances the handshake with everything received so far; true once it is complete. Until then the
  // caller sends TakeOutgoing() and, while this returns false, receives more. TlsError on failure
  // (certificate problems included).
  virtual bool Handshake() = 0;
  // After the handshake: decrypts every complete record received so far and appends its plaintext, so
  // nothing decryptable stays hidden inside the library. False once the server has sent its close
  // notification. TlsError on a damaged record.
  virtual bool Decrypt(std::vector<uint8_t>& plaintext) = 0;
  // After the handshake: encrypts the bytes into the outgoing ciphertext.
  virtual void Encrypt(const uint8_t* data, size_t count) = 0;
  // Queues the close notification (after a completed handshake; otherwise nothing).
  virtual void Close() = 0;
  // The ciphertext produced so far by Handshake, Decrypt, Encrypt and Close, removed from the session.
  virtual std::vector<uint8_t> TakeOutgoing() = 0;
  // After the handshake: the protocol version and the subject of the server's certificate, for the run's
  // log ("TLSv1.3, CN=example.com").
  virtual std::string Description() const = 0;
};

// A client session for the server known as hostName (a name or a dotted address), which the certificate
// must name. TlsError when the library cannot be set up.
std::unique_ptr<TlsClientSession> CreateTlsClientSession(const std::string& hostName);

// The trust store of later sessions: empty for the system's (the default), or the name of a PEM file whose
// certificates are then the only trusted roots. For tests, which must not depend on the system's roots.
void SetTlsTrustAnchors(const std::string& pemFile);

}  // namespace platform
