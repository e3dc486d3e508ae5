#pragma once
// The typed header records: one field per known header, with ReadFromLines (raw block -> fields, used for
// responses) and WriteToLines (fields -> raw block, used for requests), and the proxy settings.
// Dates are days since 1899-12-30 in local time (0 = none); numbers -1 or 0 mean "absent" as noted.
#include <cstdint>
#include <memory>
#include <string>

#include "http/authentication.h"
#include "http/header_list.h"

class TIdEntityHeaderInfo {
 public:
  TIdEntityHeaderInfo();
  virtual ~TIdEntityHeaderInfo() = default;

  // Empties HeaderLines and the per-message fields; CustomHeaders, CacheControl and Pragma are kept.
  virtual void ClearFields();
  // Fields from HeaderLines. Raises EConvertError where a header is converted strictly (Content-Range).
  virtual void ReadFromLines();
  // HeaderLines from the fields; every header is set with SetValue, so one already present (for example
  // from CustomHeaders) is replaced where it stands.
  virtual void WriteToLines();

  bool ContentLengthGiven() const { return ContentLength >= 0; }

  TIdHeaderList HeaderLines{1024};
  TIdHeaderList CustomHeaders;  // appended as written by WriteToLines
  std::string Connection;
  std::string ContentVersion;
  std::string ContentEncoding;
  std::string ContentLanguage;
  std::string ContentType;
  // -1: none. 64 bits, so that a body beyond 4 GiB keeps its length; read leniently (a text that is not a
  // number gives -1, a negative number stays as it is).
  int64_t ContentLength = -1;
  // 64 bits, like the length: a part of a body beyond 2 GiB names its offsets.
  int64_t ContentRangeStart = 0;
  int64_t ContentRangeEnd = 0;
  std::string CacheControl;  // written only
  double Date = 0;
  double Expires = 0;
  double LastModified = 0;
  std::string Pragma;

 protected:
  void ReadEntityFields();
  void WriteEntityFields();
};

class TIdRequestHeaderInfo : public TIdEntityHeaderInfo {
 public:
  static constexpr const char* kDefaultAccept = "text/html, */*";
  static constexpr const char* kDefaultUserAgent = "Mozilla/3.0 (compatible; HTTP Client Library)";

  TIdRequestHeaderInfo();
  // Copies every field value and header list. The AuthHandler is not copied: the target's is discarded,
  // because it holds the credentials of the request it was made for (WriteToLines makes a new one when
  // BasicAuthentication is set).
  TIdRequestHeaderInfo& operator=(const TIdRequestHeaderInfo& other);

  // Accept and UserAgent back to their defaults, AcceptCharSet empty, BasicAuthentication off, then the
  // entity fields. The AuthHandler is kept.
  void ClearFields() override;
  // Reads the request fields back; "Range" numbers convert leniently (0 when bad).
  void ReadFromLines() override;
  // Writes the entity headers, CustomHeaders, the request headers, "If-Modified-Since", "Range" and
  // "Authorization" (creating a Basic AuthHandler from Username and Password when BasicAuthentication is set
  // and there is none). Raises EIdFailedToRetreiveTimeZoneInfo when a date needs the zone and it is unknown.
  void WriteToLines() override;

  std::string Accept;
  std::string AcceptCharSet;
  std::string AcceptEncoding;
  std::string AcceptLanguage;
  std::string Host;
  std::string From;
  std::string Referer;
  std::string UserAgent;
  std::string ProxyConnection;
  std::string Username;
  std::string Password;
  bool BasicAuthentication = false;
  std::unique_ptr<TIdAuthentication> AuthHandler;  // owned; none at first
};

class TIdResponseHeaderInfo : public TIdEntityHeaderInfo {
 public:
  TIdResponseHeaderInfo();

  // The entity fields, then ContentType "text/html", Location and Server empty, both challenge lists empty.
  void ClearFields() override;
  // Location, Server, Proxy-Connection, Content-Range (strict: raises EConvertError "'%s' is not a valid
  // integer value" for a malformed number), the challenge lists, then the entity fields.
  void ReadFromLines() override;

  std::string Location;
  std::string Server;
  std::string ProxyConnection;
  TIdHeaderList WWWAuthenticate;    // every "WWW-Authenticate" value
  TIdHeaderList ProxyAuthenticate;  // every "Proxy-Authenticate" value
};

class TIdProxyConnectionInfo {
 public:
  // No proxy, port 0, no credentials, no handler.
  void Clear();
  // Adds "Proxy-Authorization" to headers from the AuthHandler, creating a Basic one from ProxyUsername and
  // ProxyPassword when BasicAuthentication is set and there is none. An empty credentials text adds nothing.
  void SetHeaders(TIdHeaderList& headers);

  const std::string& ProxyServer() const { return m_proxyServer; }
  // A different server (compared without case) discards the AuthHandler.
  void SetProxyServer(const std::string& server);
  int ProxyPort() const { return m_proxyPort; }
  // A different port discards the AuthHandler.
  void SetProxyPort(int port);

  std::string ProxyUsername;
  std::string ProxyPassword;
  bool BasicAuthentication = false;
  std::unique_ptr<TIdAuthentication> AuthHandler;  // owned

 private:
  std::string m_proxyServer;
  int m_proxyPort = 0;
};
