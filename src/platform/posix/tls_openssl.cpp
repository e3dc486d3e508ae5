#include "platform/tls.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <mutex>

namespace platform {

namespace {

std::mutex g_trustLock;
std::string g_trustFile;  // empty: the system's store (OpenSSL's default paths, which honour SSL_CERT_FILE)

// The oldest error queued by OpenSSL, or the fallback; the queue is emptied so it cannot leak into a later
// session's diagnosis.
std::string LibraryError(const char* fallback) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return fallback;
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

struct ContextDeleter {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslDeleter {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

class OpenSslSession : public TlsClientSession {
 public:
  explicit OpenSslSession(const std::string& hostName) : m_hostName(hostName) {
    ERR_clear_error();
    m_context.reset(SSL_CTX_new(TLS_client_method()));
    if (!m_context) throw TlsError(TlsFailure::Protocol, "TLS: " + LibraryError("cannot create a context"));
    SSL_CTX_set_min_proto_version(m_context.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(m_context.get(), SSL_VERIFY_PEER, nullptr);
    std::string trustFile;
    {
      std::lock_guard<std::mutex> lock(g_trustLock);
      trustFile = g_trustFile;
    }
    const int loaded = trustFile.empty() ? SSL_CTX_set_default_verify_paths(m_context.get())
                                         : SSL_CTX_load_verify_locations(m_context.get(), trustFile.c_str(), nullptr);
    if (loaded != 1) throw TlsError(TlsFailure::Untrusted, "TLS: cannot load the trust store: " + LibraryError("?"));

    m_ssl.reset(SSL_new(m_context.get()));
    if (!m_ssl) throw TlsError(TlsFailure::Protocol, "TLS: " + LibraryError("cannot create a session"));
    // A dotted address is checked against the certificate's address entries and is never sent as the
    // server name (which must be a host name).
    const bool isAddress = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl.get()), hostName.c_str()) == 1;
    if (!isAddress) {
      if (SSL_set1_host(m_ssl.get(), hostName.c_str()) != 1 ||
          SSL_set_tlsext_host_name(m_ssl.get(), hostName.c_str()) != 1) {
        throw TlsError(TlsFailure::Protocol, "TLS: invalid host name \"" + hostName + "\"");
      }
    }
    ERR_clear_error();
    // The session owns both memory pipes once they are attached.
    m_in = BIO_new(BIO_s_mem());
    m_out = BIO_new(BIO_s_mem());
    if (m_in == nullptr || m_out == nullptr) {
      BIO_free(m_in);
      BIO_free(m_out);
      throw TlsError(TlsFailure::Protocol, "TLS: out of memory");
    }
    BIO_set_mem_eof_return(m_in, -1);  // an empty pipe means "more to come", not the end
    SSL_set_bio(m_ssl.get(), m_in, m_out);
    SSL_set_connect_state(m_ssl.get());
  }

  void PutIncoming(const uint8_t* data, size_t count) override {
    if (count > 0) BIO_write(m_in, data, static_cast<int>(count));
  }

  bool Handshake() override {
    const int result = SSL_do_handshake(m_ssl.get());
    if (result == 1) return true;
    const int error = SSL_get_error(m_ssl.get(), result);
    if (error == SSL_ERROR_WANT_READ) return false;
    FailHandshake();
  }

  bool Decrypt(std::vector<uint8_t>& plaintext) override {
    if (m_closed) return false;
    uint8_t piece[16384];
    for (;;) {
      const int n = SSL_read(m_ssl.get(), piece, sizeof piece);
      if (n > 0) {
        plaintext.insert(plaintext.end(), piece, piece + n);
        continue;
      }
      const int error = SSL_get_error(m_ssl.get(), n);
      if (error == SSL_ERROR_WANT_READ) return true;
      if (error == SSL_ERROR_ZERO_RETURN) {
        m_closed = true;
        return false;
      }
      throw TlsError(TlsFailure::Protocol, "TLS: " + LibraryError("damaged record"));
    }
  }

  void Encrypt(const uint8_t* data, size_t count) override {
    size_t done = 0;
    while (done < count) {
      // Writes into a memory pipe never wait; a failure is a broken session.
      const int n = SSL_write(m_ssl.get(), data + done, static_cast<int>(count - done));
      if (n <= 0) throw TlsError(TlsFailure::Protocol, "TLS: " + LibraryError("cannot encrypt"));
      done += static_cast<size_t>(n);
    }
  }

  void Close() override {
    if (SSL_is_init_finished(m_ssl.get())) SSL_shutdown(m_ssl.get());
    ERR_clear_error();
  }

  std::vector<uint8_t> TakeOutgoing() override {
    std::vector<uint8_t> bytes(static_cast<size_t>(BIO_ctrl_pending(m_out)));
    if (!bytes.empty()) BIO_read(m_out, bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
  }

  std::string Description() const override {
    std::string text = SSL_get_version(m_ssl.get());
    X509* certificate = SSL_get1_peer_certificate(m_ssl.get());
    if (certificate == nullptr) return text;
    BIO* subject = BIO_new(BIO_s_mem());
    if (subject != nullptr) {
      X509_NAME_print_ex(subject, X509_get_subject_name(certificate), 0, XN_FLAG_RFC2253);
      char* data = nullptr;
      const long size = BIO_get_mem_data(subject, &data);
      text += ", " + std::string(data, static_cast<size_t>(size));
      BIO_free(subject);
    }
    X509_free(certificate);
    return text;
  }

 private:
  [[noreturn]] void FailHandshake() {
    const long verify = SSL_get_verify_result(m_ssl.get());
    if (verify != X509_V_OK) {
      ERR_clear_error();
      const std::string reason = X509_verify_cert_error_string(verify);
      switch (verify) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
          throw TlsError(TlsFailure::Expired, "TLS: the server's certificate has expired or is not yet valid (" +
                                                  reason + ")");
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
          throw TlsError(TlsFailure::NameMismatch,
                         "TLS: the server's certificate does not match the host name \"" + m_hostName + "\"");
        default:
          throw TlsError(TlsFailure::Untrusted, "TLS: the server's certificate is not trusted (" + reason + ")");
      }
    }
    throw TlsError(TlsFailure::Protocol, "TLS handshake failed: " + LibraryError("the server ended the handshake"));
  }

  std::string m_hostName;
  std::unique_ptr<SSL_CTX, ContextDeleter> m_context;
  std::unique_ptr<SSL, SslDeleter> m_ssl;
  BIO* m_in = nullptr;   // owned by m_ssl
  BIO* m_out = nullptr;  // owned by m_ssl
  bool m_closed = false;
};

}  // namespace

std::unique_ptr<TlsClientSession> CreateTlsClientSession(const std::string& hostName) {
  return std::make_unique<OpenSslSession>(hostName);
}

void SetTlsTrustAnchors(const std::string& pemFile) {
  std::lock_guard<std::mutex> lock(g_trustLock);
  g_trustFile = pemFile;
}

}  // namespace platform
