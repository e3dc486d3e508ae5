#include "platform/tls.h"

#include <windows.h>
#include <wincrypt.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

namespace platform {

namespace {

std::mutex g_trustLock;
std::string g_trustFile;  // empty: the system's trust store

// SECURITY_FLAG_IGNORE_REVOCATION and SECURITY_FLAG_IGNORE_UNKNOWN_CA of wininet.h, which this file does
// not otherwise need.
constexpr DWORD kIgnoreRevocation = 0x00000080;
constexpr DWORD kIgnoreUnknownCa = 0x00000100;
constexpr DWORD kIgnoreCommonName = 0x00001000;  // SECURITY_FLAG_IGNORE_CERT_CN_INVALID

constexpr DWORD kContextRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                  ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;

std::string StatusText(const char* what, SECURITY_STATUS status) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
  return std::string(what) + " (SChannel error " + code + ")";
}

std::wstring Widen(const std::string& text) {
  std::wstring wide(text.size() + 1, L'\0');
  const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
  wide.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
  return wide;
}

// Every certificate of a PEM file in a memory store; an unreadable file or one without certificates is an
// empty store, so nothing is trusted.
HCERTSTORE LoadAnchors(const std::string& pemFile) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  if (store == nullptr) throw TlsError(TlsFailure::Untrusted, "TLS: cannot create a certificate store");
  std::ifstream file(pemFile, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  const std::string text = content.str();
  const std::string begin = "-----BEGIN CERTIFICATE-----";
  const std::string end = "-----END CERTIFICATE-----";
  for (size_t at = text.find(begin); at != std::string::npos; at = text.find(begin, at + 1)) {
    const size_t stop = text.find(end, at);
    if (stop == std::string::npos) break;
    const std::string block = text.substr(at, stop + end.size() - at);
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                              nullptr, &size, nullptr, nullptr)) {
      continue;
    }
    std::string der(size, '\0');
    if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                             reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr)) {
      CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), size,
                                       CERT_STORE_ADD_USE_EXISTING, nullptr);
    }
  }
  return store;
}

// The four bytes of a dotted IPv4 address, or false for anything else (a host name).
bool ParseDottedAddress(const std::string& text, BYTE (&address)[4]) {
  size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at >= text.size() || text[at] != '.') return false;
      ++at;
    }
    int value = 0;
    size_t digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 3) {
      value = value * 10 + (text[at++] - '0');
      ++digits;
    }
    if (digits == 0 || value > 255) return false;
    address[part] = static_cast<BYTE>(value);
  }
  return at == text.size();
}

// Whether the certificate's subject alternative names include the address. The system's policy check
// compares names only (and not everywhere addresses), so an address is checked here.
bool CertificateNamesAddress(PCCERT_CONTEXT certificate, const BYTE (&address)[4]) {
  const CERT_EXTENSION* extension =
      CertFindExtension(szOID_SUBJECT_ALT_NAME2, certificate->pCertInfo->cExtension, certificate->pCertInfo->rgExtension);
  if (extension == nullptr) return false;
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData, extension->Value.cbData,
                           CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size)) {
    return false;
  }
  bool found = false;
  for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
    found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == 4 &&
            std::memcmp(entry.IPAddress.pbData, address, 4) == 0;
  }
  LocalFree(names);
  return found;
}

class SchannelSession : public TlsClientSession {
 public:
  explicit SchannelSession(const std::string& hostName) : m_hostName(hostName) {
    SCHANNEL_CRED credentials{};
    credentials.dwVersion = SCHANNEL_CRED_VERSION;
    // The older credential structure cannot enable TLS 1.3 on the systems that have it; 1.2 is the floor.
    credentials.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    // The chain is checked here, after the handshake, so that the failure can name its cause and tests can
    // bring their own roots.
    credentials.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    char package[] = UNISP_NAME_A;
    const SECURITY_STATUS status = AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr,
                                                             &credentials, nullptr, nullptr, &m_credentials,
                                                             nullptr);
    if (status != SEC_E_OK) throw TlsError(TlsFailure::Protocol, StatusText("TLS: no client credentials", status));
    m_haveCredentials = true;
  }

  ~SchannelSession() override {
    if (m_haveContext) DeleteSecurityContext(&m_context);
    if (m_haveCredentials) FreeCredentialsHandle(&m_credentials);
  }

  void PutIncoming(const uint8_t* data, size_t count) override { m_incoming.insert(m_incoming.end(), data, data + count); }

  bool Handshake() override {
    if (m_established) return true;
    for (;;) {
      if (m_haveContext && m_incoming.empty()) return false;
      SecBuffer input[2] = {};
      input[0].BufferType = SECBUFFER_TOKEN;
      input[0].pvBuffer = m_incoming.data();
      input[0].cbBuffer = static_cast<unsigned long>(m_incoming.size());
      input[1].BufferType = SECBUFFER_EMPTY;
      SecBufferDesc inputDesc{SECBUFFER_VERSION, 2, input};
      SecBuffer output[1] = {};
      output[0].BufferType = SECBUFFER_TOKEN;
      SecBufferDesc outputDesc{SECBUFFER_VERSION, 1, output};
      unsigned long attributes = 0;
      std::string target = m_hostName;
      const SECURITY_STATUS status = InitializeSecurityContextA(
          &m_credentials, m_haveContext ? &m_context : nullptr, target.data(), kContextRequest, 0, 0,
          m_haveContext ? &inputDesc : nullptr, 0, m_haveContext ? nullptr : &m_context, &outputDesc, &attributes,
          nullptr);
      if (!m_haveContext && (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK)) m_haveContext = true;
      TakeToken(output[0]);
      if (status == SEC_E_INCOMPLETE_MESSAGE) return false;
      if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED || status == SEC_I_INCOMPLETE_CREDENTIALS) {
        KeepExtra(input[1], m_haveContext && input[0].cbBuffer > 0);
        if (status == SEC_E_OK) {
          VerifyServer();
          if (QueryContextAttributesA(&m_context, SECPKG_ATTR_STREAM_SIZES, &m_sizes) != SEC_E_OK) {
            throw TlsError(TlsFailure::Protocol, "TLS: cannot read the record sizes");
          }
          m_established = true;
          return true;
        }
        continue;
      }
      throw TlsError(TlsFailure::Protocol, StatusText("TLS handshake failed", status));
    }
  }

  bool Decrypt(std::vector<uint8_t>& plaintext) override {
    while (!m_closed && !m_incoming.empty()) {
      SecBuffer buffers[4] = {};
      buffers[0].BufferType = SECBUFFER_DATA;
      buffers[0].pvBuffer = m_incoming.data();
      buffers[0].cbBuffer = static_cast<unsigned long>(m_incoming.size());
      for (int i = 1; i < 4; ++i) buffers[i].BufferType = SECBUFFER_EMPTY;
      SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
      const SECURITY_STATUS status = DecryptMessage(&m_context, &desc, 0, nullptr);
      if (status == SEC_E_INCOMPLETE_MESSAGE) return true;
      if (status == SEC_I_CONTEXT_EXPIRED) {
        m_closed = true;
        break;
      }
      if (status != SEC_E_OK) throw TlsError(TlsFailure::Protocol, StatusText("TLS: damaged record", status));
      // The record is decrypted in place: copy its data before the extra bytes move to the front.
      std::vector<uint8_t> extra;
      for (const SecBuffer& buffer : buffers) {
        if (buffer.BufferType == SECBUFFER_DATA && buffer.cbBuffer > 0) {
          const auto* data = static_cast<const uint8_t*>(buffer.pvBuffer);
          plaintext.insert(plaintext.end(), data, data + buffer.cbBuffer);
        } else if (buffer.BufferType == SECBUFFER_EXTRA && buffer.cbBuffer > 0) {
          extra.assign(m_incoming.end() - buffer.cbBuffer, m_incoming.end());
        }
      }
      m_incoming = std::move(extra);
    }
    return !m_closed;
  }

  void Encrypt(const uint8_t* data, size_t count) override {
    size_t done = 0;
    while (done < count) {
      const size_t piece = std::min<size_t>(count - done, m_sizes.cbMaximumMessage);
      std::vector<uint8_t> record(m_sizes.cbHeader + piece + m_sizes.cbTrailer);
      std::memcpy(record.data() + m_sizes.cbHeader, data + done, piece);
      SecBuffer buffers[4] = {};
      buffers[0] = {m_sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()};
      buffers[1] = {static_cast<unsigned long>(piece), SECBUFFER_DATA, record.data() + m_sizes.cbHeader};
      buffers[2] = {m_sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + m_sizes.cbHeader + piece};
      buffers[3].BufferType = SECBUFFER_EMPTY;
      SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
      const SECURITY_STATUS status = EncryptMessage(&m_context, 0, &desc, 0);
      if (status != SEC_E_OK) throw TlsError(TlsFailure::Protocol, StatusText("TLS: cannot encrypt", status));
      m_outgoing.insert(m_outgoing.end(), record.begin(),
                        record.begin() + buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
      done += piece;
    }
  }

  void Close() override {
    if (!m_established) return;
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
    if (ApplyControlToken(&m_context, &controlDesc) != SEC_E_OK) return;
    SecBuffer output[1] = {};
    output[0].BufferType = SECBUFFER_TOKEN;
    SecBufferDesc outputDesc{SECBUFFER_VERSION, 1, output};
    unsigned long attributes = 0;
    std::string target = m_hostName;
    InitializeSecurityContextA(&m_credentials, &m_context, target.data(), kContextRequest, 0, 0, nullptr, 0,
                               nullptr, &outputDesc, &attributes, nullptr);
    TakeToken(output[0]);
  }

  std::vector<uint8_t> TakeOutgoing() override { return std::move(m_outgoing); }

  std::string Description() const override {
    std::string text = "TLS";
    SecPkgContext_ConnectionInfo info{};
    CtxtHandle context = m_context;
    if (QueryContextAttributesA(&context, SECPKG_ATTR_CONNECTION_INFO, &info) == SEC_E_OK) {
      if ((info.dwProtocol & SP_PROT_TLS1_2_CLIENT) != 0) text = "TLSv1.2";
      if ((info.dwProtocol & SP_PROT_TLS1_3_CLIENT) != 0) text = "TLSv1.3";
    }
    PCCERT_CONTEXT server = nullptr;
    if (QueryContextAttributesA(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &server) != SEC_E_OK || !server) {
      return text;
    }
    char subject[512] = {};
    DWORD format = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
    CertNameToStrA(X509_ASN_ENCODING, &server->pCertInfo->Subject, format, subject, sizeof subject);
    CertFreeCertificateContext(server);
    return text + ", " + subject;
  }

 private:
  void TakeToken(SecBuffer& token) {
    if (token.pvBuffer == nullptr) return;
    const auto* data = static_cast<const uint8_t*>(token.pvBuffer);
    m_outgoing.insert(m_outgoing.end(), data, data + token.cbBuffer);
    FreeContextBuffer(token.pvBuffer);
    token.pvBuffer = nullptr;
  }

  // Bytes after the handshake message just processed stay for the next step (or the first record).
  void KeepExtra(const SecBuffer& extra, bool consumedInput) {
    if (extra.BufferType == SECBUFFER_EXTRA && extra.cbBuffer > 0) {
      m_incoming.erase(m_incoming.begin(), m_incoming.end() - extra.cbBuffer);
    } else if (consumedInput) {
      m_incoming.clear();
    }
  }

  // The server's chain (with the intermediates it sent) must lead to a trusted root, every certificate in
  // it must be valid now and not revoked (revocation that cannot be checked is accepted, as the system's
  // own clients do), and the leaf must name the host.
  void VerifyServer() {
    PCCERT_CONTEXT server = nullptr;
    if (QueryContextAttributesA(&m_context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &server) != SEC_E_OK || !server) {
      throw TlsError(TlsFailure::Untrusted, "TLS: the server sent no certificate");
    }
    std::string trustFile;
    {
      std::lock_guard<std::mutex> lock(g_trustLock);
      trustFile = g_trustFile;
    }
    HCERTSTORE anchors = trustFile.empty() ? nullptr : LoadAnchors(trustFile);
    HCERTSTORE extra = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
    if (extra != nullptr) {
      CertAddStoreToCollection(extra, server->hCertStore, 0, 0);
      if (anchors != nullptr) CertAddStoreToCollection(extra, anchors, 0, 0);
    }
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    TlsFailure failure = TlsFailure::Untrusted;
    std::string message;
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    if (!CertGetCertificateChain(nullptr, server, nullptr, extra, &chainPara,
                                 CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT, nullptr, &chain)) {
      message = "TLS: the server's certificate chain cannot be built";
    } else {
      const DWORD status = chain->TrustStatus.dwErrorStatus;
      BYTE address[4];
      const bool isAddress = ParseDottedAddress(m_hostName, address);
      bool anchoredRoot = false;
      if (anchors != nullptr && chain->cChain > 0 && chain->rgpChain[0]->cElement > 0) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
        PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
        PCCERT_CONTEXT found =
            CertFindCertificateInStore(anchors, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, root, nullptr);
        if (found != nullptr) {
          CertFreeCertificateContext(found);
          anchoredRoot = (status & CERT_TRUST_IS_PARTIAL_CHAIN) == 0;
        }
      }
      // The chain's own status first: the policy check reports only one error, and revocation that cannot
      // be checked must not hide an expired or untrusted chain.
      if (status & CERT_TRUST_IS_NOT_TIME_VALID) {
        failure = TlsFailure::Expired;
        message = "TLS: the server's certificate has expired or is not yet valid";
      } else if (status & CERT_TRUST_IS_REVOKED) {
        message = "TLS: the server's certificate is not trusted (revoked)";
      } else if (anchors != nullptr ? !anchoredRoot
                                    : (status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) != 0) {
        // With a given store its roots are the only trusted ones, whatever the system trusts.
        message = "TLS: the server's certificate is not trusted (its chain does not lead to a trusted root)";
      } else if (status & (CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_IS_NOT_VALID_FOR_USAGE |
                           CERT_TRUST_IS_CYCLIC | CERT_TRUST_INVALID_EXTENSION | CERT_TRUST_INVALID_BASIC_CONSTRAINTS |
                           CERT_TRUST_INVALID_NAME_CONSTRAINTS)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
        message = std::string("TLS: the server's certificate is not trusted (chain status ") + code + ")";
      } else if (isAddress && !CertificateNamesAddress(server, address)) {
        failure = TlsFailure::NameMismatch;
        message = "TLS: the server's certificate does not match the host name \"" + m_hostName + "\"";
      } else {
        // The host name, and whatever else the system's policy demands. A root of the given store stands in
        // for a system root, and revocation that cannot be checked is accepted (a revoked certificate was
        // refused above).
        std::wstring serverName = Widen(m_hostName);
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA sslPara{};
        sslPara.cbSize = sizeof sslPara;
        sslPara.dwAuthType = AUTHTYPE_SERVER;
        sslPara.fdwChecks =
            kIgnoreRevocation | (anchoredRoot ? kIgnoreUnknownCa : 0) | (isAddress ? kIgnoreCommonName : 0);
        sslPara.pwszServerName = serverName.data();
        CERT_CHAIN_POLICY_PARA policyPara{};
        policyPara.cbSize = sizeof policyPara;
        policyPara.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
        policyPara.pvExtraPolicyPara = &sslPara;
        CERT_CHAIN_POLICY_STATUS policyStatus{};
        policyStatus.cbSize = sizeof policyStatus;
        if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policyPara, &policyStatus)) {
          message = "TLS: the server's certificate cannot be checked";
        } else if (policyStatus.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) {
          failure = TlsFailure::NameMismatch;
          message = "TLS: the server's certificate does not match the host name \"" + m_hostName + "\"";
        } else if (policyStatus.dwError == static_cast<DWORD>(CERT_E_EXPIRED)) {
          failure = TlsFailure::Expired;
          message = "TLS: the server's certificate has expired or is not yet valid";
        } else if (policyStatus.dwError != 0) {
          message = StatusText("TLS: the server's certificate is not trusted",
                               static_cast<SECURITY_STATUS>(policyStatus.dwError));
        }
      }
      CertFreeCertificateChain(chain);
    }
    if (extra != nullptr) CertCloseStore(extra, 0);
    if (anchors != nullptr) CertCloseStore(anchors, 0);
    CertFreeCertificateContext(server);
    if (!message.empty()) throw TlsError(failure, message);
  }

  std::string m_hostName;
  CredHandle m_credentials{};
  CtxtHandle m_context{};
  bool m_haveCredentials = false;
  bool m_haveContext = false;
  bool m_established = false;
  bool m_closed = false;
  SecPkgContext_StreamSizes m_sizes{};
  std::vector<uint8_t> m_incoming;  // ciphertext not yet consumed
  std::vector<uint8_t> m_outgoing;
};

}  // namespace

std::unique_ptr<TlsClientSession> CreateTlsClientSession(const std::string& hostName) {
  return std::make_unique<SchannelSession>(hostName);
}

void SetTlsTrustAnchors(const std::string& pemFile) {
  std::lock_guard<std::mutex> lock(g_trustLock);
  g_trustFile = pemFile;
}

}  // namespace platform
