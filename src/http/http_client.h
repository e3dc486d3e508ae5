#pragma once
// The HTTP/1.x client: one request at a time over the client's TCP connection, on the caller's thread.
// PerformRequest turns a URL into a target and a connection, writes the request, reads the status line and
// the headers, reads the body under its framing (length, chunks or the connection's end) and decides between
// success, redirect, authentication retry and failure. A status it does not accept fails with
// EIdHTTPProtocolException carrying the status line, the code and the error page. Work events come from the
// connection: one begin/end pair per body read (per chunk for chunked bodies).
//
// One declaration, three files by concern: http_client.cpp (the request loop, its target, redirects, cookies
// and authorization offers), http_body.cpp (the header block's limits and the body framing), http_route.cpp
// (direct, proxy or CONNECT tunnel, the TLS switch, the proxy's challenge).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "http/cookie_manager.h"
#include "http/header_info.h"
#include "http/uri.h"
#include "net/exceptions.h"
#include "net/ssl_io_handler.h"
#include "net/tcp_client.h"
#include "rtl/streams.h"

enum TIdHTTPMethod { hmHead, hmGet, hmPost, hmOptions, hmTrace, hmPut, hmDelete, hmConnect };
enum TIdHTTPProtocolVersion { pv1_0, pv1_1 };
enum TIdHTTPRouteKind { RouteDirect, RouteDirectTls, RouteProxy, RouteTlsProxy };
enum TIdHTTPWhatsNext { NextUnknown, NextGoTo, NextDone, NextReadAndGo, NextAuthenticate };

// Request options; only hoInProcessAuth changes behaviour.
enum TIdHTTPOption : unsigned { hoInProcessAuth = 1, hoKeepOrigProtocol = 2, hoForceEncodeParams = 4 };
using TIdHTTPOptions = unsigned;

inline constexpr const char* ProtocolVersionText[] = {"1.0", "1.1"};

// A status the client does not accept: the message is the status line.
class EIdHTTPProtocolException : public EIdProtocolReplyError {
 public:
  EIdHTTPProtocolException(int replyCode, const std::string& statusLine, std::string errorBody)
      : EIdProtocolReplyError(replyCode, statusLine), m_errorBody(std::move(errorBody)) {}
  int ReplyCode() const { return ReplyErrorCode(); }
  const std::string& ErrorBody() const { return m_errorBody; }

 private:
  std::string m_errorBody;
};

// A URL whose scheme has no known port; the message is empty.
class EIdUnknownProtocol : public EIdException {
 public:
  EIdUnknownProtocol() : EIdException("") {}
};

class TIdHTTPRequest : public TIdRequestHeaderInfo {
 public:
  std::string Target;  // sent in the request line
  TIdHTTPMethod RequestMethod = hmGet;
  TStream* SourceBody = nullptr;  // not owned
  TIdHTTPRouteKind RouteKind = RouteDirect;
};

class TIdHTTPResponse : public TIdResponseHeaderInfo {
 public:
  std::string StatusLine;
  // From the status line: the word after the first space, converted leniently (-1 when not a number).
  int StatusCode() const;
  TIdHTTPProtocolVersion ServerVersion = pv1_1;
  TStream* BodyTarget = nullptr;  // not owned
};

class TIdCustomHTTP;

// One exchange's request and response and the steps that read the response.
class TIdHTTPProtocol {
 public:
  explicit TIdHTTPProtocol(TIdCustomHTTP& client) : m_client(client) {}

  TIdHTTPRequest Request;
  TIdHTTPResponse Response;

  // The header lines up to the empty line into Response.HeaderLines, then the fields.
  void ReadHeaderBlock();
  // What follows the response just read: success (body read), a redirect, an authentication retry (only with
  // hoInProcessAuth), or EIdHTTPProtocolException with the status line for everything else.
  TIdHTTPWhatsNext DecideNext();
  // The body into Response.BodyTarget under its framing: chunked when "Transfer-Encoding" names it (a
  // "Content-Length" beside it is ignored and the connection closed afterwards), else Content-Length bytes
  // (a 64-bit count; a peer that closes early leaves a short body and no error), else everything until the
  // peer closes when there is no "Content-Length" or its text is not a number at all ("abc", "12abc").
  // Failures: EIdException for a negative length or one beyond 64 bits, two different lengths, an invalid
  // chunk size line, a chunk longer than its size, or too many trailer lines; a close inside a chunk
  // (EIdConnClosedGracefully) and the connection's own failures (EIdReadTimeout when nothing arrives for
  // ReadTimeout ms) pass on. The stream keeps every byte of the body received before a failure.
  void ReadBody();
  // Reads the body as text and raises EIdHTTPProtocolException for the current status (2000 ms silence
  // limit for the page, or the connection's ReadTimeout when that is shorter).
  [[noreturn]] void FailWithStatus();
  // Reads the body and throws it away (4000 ms silence limit, or a shorter ReadTimeout; errors ignored).
  void DrainBody();

  // Generous limits on a response header block, beside the per-line limit, so that a server cannot
  // exhaust memory with endless headers.
  static constexpr int kMaxHeaderLines = 1000;
  static constexpr size_t kMaxHeaderBytes = 1024 * 1024;
  // Interim 1xx responses (all but 101) skipped before one request fails: a server that keeps sending them
  // would otherwise hold the call for ever, each one resetting the silence limit.
  static constexpr int kMaxInterimResponses = 20;

 private:
  // The hexadecimal size before an extension; EIdException when it is not one that fits 31 bits.
  int32_t ReadChunkSize();
  void ReadChunked(TStream& target);
  // count bytes inside one begin/end pair of read work, the stream grown only as they arrive.
  void ReadCounted(TStream& target, int64_t count);
  void ReadBodyInto(TStream& target, int timeout);
  // EIdException when a header block (or a trailer) exceeds the limits.
  static void CheckHeaderLimits(int lines, size_t bytes);

  TIdCustomHTTP& m_client;
};

class TIdCustomHTTP : public TIdTCPClient {
 public:
  TIdCustomHTTP();
  ~TIdCustomHTTP() override;

  // Fetches the URL into the stream; returns when the body has been written, raises on any failure.
  // Every wait for the response (status line, headers, body under any framing) fails with EIdReadTimeout
  // "Read Timeout" once no byte has arrived for ReadTimeout ms (SetReadTimeout; 0, the default, waits
  // without limit); a body that keeps arriving, however slowly, is not cut.
  void Get(const std::string& url, TStream& stream);
  // The request loop; the other request methods are thin calls of it. A relative url (a redirect's
  // "file2.zip") keeps the current scheme and port. An https url through a proxy goes through a CONNECT
  // tunnel to the origin, then TLS inside it (the certificate must name the origin); the proxy's Basic
  // credentials go with the CONNECT (up front with ProxyParams.BasicAuthentication, or after a 407 with
  // hoInProcessAuth), never to the origin. A CONNECT answered with anything but 2xx fails with
  // EIdHTTPProtocolException carrying the proxy's status line.
  // Failures: EIdHTTPProtocolException for a refused status, EIdIOHandlerPropInvalid "IOHandler value is not
  // valid" for https without a TLS handler, EIdUnknownProtocol, EIdException "Undefined situation" for a
  // success whose connection was lost in its headers, EIdException for a header block over the limits, more
  // than kMaxInterimResponses interim responses ("Too many interim responses (more than 20)"), a broken
  // framing (ReadBody) or bytes from the proxy after it accepted a tunnel, and the connection's own failures
  // (those of TLS and SOCKS included). After a refused status the connection stays open when KeepConnection
  // holds; after any other failure it is closed, since the rest of a response must not be read as the next
  // one. The stream keeps what was written before a failure.
  void PerformRequest(TIdHTTPMethod method, const std::string& url, TStream* source, TStream* target);

  TIdHTTPRequest& Request() { return m_protocol.Request; }
  TIdHTTPResponse& Response() { return m_protocol.Response; }
  TIdURI& URL() { return m_url; }
  TIdProxyConnectionInfo ProxyParams;

  // Host and port also set the current location's host and port text.
  void SetHost(const std::string& value) override;
  void SetPort(int value) override;

  TIdCookieManager* CookieManager() const { return m_cookieManager; }
  // Releases a manager the client created itself (unless it is the one given); the client does not own a
  // manager it is given, and drops it when it is destroyed elsewhere.
  void SetCookieManager(TIdCookieManager* manager);

  int AuthRetries = 3;
  bool AllowCookies = true;
  TIdHTTPOptions HTTPOptions = hoForceEncodeParams;
  int RedirectMaximum = 15;
  bool HandleRedirects = false;
  TIdHTTPProtocolVersion ProtocolVersion = pv1_1;
  int ConnectTimeout = 0;
  int RedirectCount = 0;

  // Called once for each final response head from the server (interim responses skipped; a proxy's answer to
  // CONNECT is none), when its status line and headers are in Response() and before the response is judged or
  // its body read. What it raises fails the request, and the connection is closed.
  std::function<void(TIdCustomHTTP* Sender)> OnResponseHead;
  std::function<void(TIdCustomHTTP* Sender, std::string& dest, int NumRedirect, bool& Handled,
                     TIdHTTPMethod& VMethod)> OnRedirect;
  std::function<void(TIdCustomHTTP* Sender, const TIdAuthenticationClass*& AuthenticationClass,
                     const TIdHeaderList& AuthInfo)> OnSelectAuthorization;
  std::function<void(TIdCustomHTTP* Sender, const TIdAuthenticationClass*& AuthenticationClass,
                     const TIdHeaderList& AuthInfo)> OnSelectProxyAuthorization;
  std::function<void(TIdCustomHTTP* Sender, TIdAuthentication* Authentication, bool& Handled)> OnAuthorization;
  std::function<void(TIdCustomHTTP* Sender, TIdAuthentication* Authentication, bool& Handled)>
      OnProxyAuthorization;

  // Whether the connection stays open after this response: still connected, and the response does not ask
  // to close (HTTP/1.1) or asks to keep alive (HTTP/1.0). The client's own version decides.
  bool KeepConnection();

 protected:
  void Notification(TIdComponent* component) override;

 private:
  friend class TIdHTTPProtocol;

  // The status line and header block of the next response, interim ones skipped; cookies are taken only
  // from the origin's (fromOrigin), never from a proxy's answer to CONNECT.
  void ReadResponseHead(bool fromOrigin);
  void PrepareTarget();
  // Sends the request and reads the head of its answer, on a connection of the right route.
  void ExchangeHead();
  // Chooses the route and connects for it; true when an open connection was kept for this request.
  bool RouteAndConnect();
  // Connects to the proxy and asks it for a tunnel to authority ("host:port"), answering its challenge
  // when that can be done, then runs TLS with the origin through it.
  void OpenTunnel(const std::string& authority);
  TIdHTTPRouteKind ChooseRoute();
  // Switches a TLS handler to encrypting or to pass-through, closing an open connection of the other mode;
  // EIdIOHandlerPropInvalid when encrypting is asked of any other handler, or of none.
  void SwitchTls(bool encrypt);
  // The request's head, and its body for a POST or PUT.
  void SendRequest();
  void WriteRequestHead(TIdHTTPRequest& request);
  void AbsorbCookies();
  void AttachCookies();
  bool OfferAuthorization();
  bool OfferProxyAuthorization();
  // A 407 that may be answered: the attempts are not used up and the offer goes ahead. Otherwise the
  // proxy's handler and credentials are dropped.
  bool AcceptProxyChallenge();
  void ResetStream(TStream* target, int64_t position);

  TIdURI m_url;
  TIdHTTPProtocol m_protocol;
  std::string m_tunnel;  // "host:port" of the origin the open connection tunnels to; empty: no tunnel
  TIdCookieManager* m_cookieManager = nullptr;
  std::unique_ptr<TIdCookieManager> m_ownCookieManager;
};

// The published form of the client.
class TIdHTTP : public TIdCustomHTTP {};
