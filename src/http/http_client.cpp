#include "http/http_client.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "http/text_search.h"
#include "rtl/sysutils.h"

namespace {

constexpr const char* kMethodWords[] = {"HEAD ", "GET ", "POST ", "OPTIONS ", "TRACE ", "PUT ", "DELETE ", "CONNECT "};

// Waits, in ms, while the body of a response that is not used is read.
constexpr int kDrainTimeout = 4000;
constexpr int kErrorBodyTimeout = 2000;

// A counted body is received in slices, each at most as large as what arrived before it (and at least this
// large), so that the stream, which every read pre-sizes, never grows far beyond the bytes actually received:
// an announced length of 2 GB from a server that sends ten bytes reserves one slice, not 2 GB.
constexpr int32_t kFirstBodySlice = 1024 * 1024;

// A stream that forgets what is written to it.
class TDiscardStream : public TStream {
 public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void*, int64_t count) override { return count; }
  int64_t Seek(int64_t, SeekOrigin) override { return 0; }
  void SetSize(int64_t) override {}
};

// Restores the read timeout and the body target when a body read ends, however it ends.
class BodyReadScope {
 public:
  // The timeout bounds a wait that has no limit, and shortens a longer one; it never lengthens the
  // caller's own limit, which would let a page nobody uses hold the call longer than the body itself.
  BodyReadScope(TIdTCPConnection& connection, TIdHTTPResponse& response, TStream& target, int timeout)
      : m_connection(connection),
        m_response(response),
        m_savedTarget(response.BodyTarget),
        m_savedTimeout(connection.ReadTimeout()) {
    m_response.BodyTarget = &target;
    m_connection.SetReadTimeout(m_savedTimeout > 0 ? std::min(m_savedTimeout, timeout) : timeout);
  }
  ~BodyReadScope() {
    m_response.BodyTarget = m_savedTarget;
    m_connection.SetReadTimeout(m_savedTimeout);
  }
  BodyReadScope(const BodyReadScope&) = delete;
  BodyReadScope& operator=(const BodyReadScope&) = delete;

 private:
  TIdTCPConnection& m_connection;
  TIdHTTPResponse& m_response;
  TStream* m_savedTarget;
  int m_savedTimeout;
};

bool IsSuccess(int code) { return code / 100 == 2; }

// A length text that the lenient conversion reads as a number, or would if it fitted 64 bits: optional
// blanks and sign, then decimal digits only. Such a text is a length the server meant, however unusable.
bool IsNumberText(const std::string& text) {
  int64_t value = 0;
  if (TryStrToInt64(text, value)) return true;
  size_t i = text.find_first_not_of(' ');
  if (i != std::string::npos && (text[i] == '+' || text[i] == '-')) ++i;
  return i < text.size() && text.find_first_not_of("0123456789", i) == std::string::npos;
}

}  // namespace

int TIdHTTPResponse::StatusCode() const {
  std::string rest = StatusLine;
  SplitAt(rest, " ");
  rest = Trim(rest);
  return StrToIntDef(SplitAt(rest, " "), -1);
}

// --- Reading the response

void TIdHTTPProtocol::CheckHeaderLimits(int lines, size_t bytes) {
  if (lines > kMaxHeaderLines || bytes > kMaxHeaderBytes) {
    throw EIdException(Format("Response header block too large (more than %d lines or %u bytes)", kMaxHeaderLines,
                              static_cast<unsigned>(kMaxHeaderBytes)));
  }
}

void TIdHTTPProtocol::ReadHeaderBlock() {
  Response.HeaderLines.Clear();
  size_t bytes = 0;
  for (;;) {
    std::string line;
    try {
      line = m_client.ReadLine("\n");
    } catch (const EIdConnClosedGracefully&) {
      // A close before any header line is a failed exchange; after some, they stand as the block.
      if (Response.HeaderLines.Count() == 0) throw;
      m_client.CloseConnection();
      break;
    }
    if (line.empty()) break;
    bytes += line.size();
    CheckHeaderLimits(Response.HeaderLines.Count() + 1, bytes);
    Response.HeaderLines.Add(line);
  }
  Response.ReadFromLines();
}

int32_t TIdHTTPProtocol::ReadChunkSize() {
  const std::string line = m_client.ReadLine("\n");
  // The size ends at an extension (";name=value") or a blank. It must be hexadecimal digits that fit the
  // stream reads: a size that cannot be read would end the body early and pass a cut body off as complete.
  const std::string text = Trim(line.substr(0, line.find_first_of("; \t")));
  int64_t size = 0;
  bool valid = !text.empty();
  for (const char c : text) {
    const int digit = (c >= '0' && c <= '9')   ? c - '0'
                      : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                      : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                               : -1;
    if (digit < 0 || (size = size * 16 + digit) > std::numeric_limits<int32_t>::max()) {
      valid = false;
      break;
    }
  }
  if (!valid) throw EIdException(Format("Invalid chunk size line \"%s\"", line.substr(0, 64).c_str()));
  return static_cast<int32_t>(size);
}

void TIdHTTPProtocol::ReadCounted(TStream& target, int64_t count) {
  // One begin/end pair for the whole count: the reads of the slices nest inside it.
  TIdWorkScope work(m_client, wmRead, ClampWorkCount(count));
  for (int64_t done = 0; done < count;) {
    // Each slice is one stream read, whose count is 32 bits.
    const int32_t slice = static_cast<int32_t>(std::min<int64_t>(
        {count - done, std::max<int64_t>(kFirstBodySlice, done), std::numeric_limits<int32_t>::max()}));
    m_client.ReadToStream(target, slice, /*readUntilClose=*/false);
    // A connection closed under the read (from a UI handler) ends it without an error; growing the stream
    // for slices that cannot arrive would only reserve memory.
    if (!m_client.IsConnected()) break;
    done += slice;
  }
}

void TIdHTTPProtocol::ReadChunked(TStream& target) {
  m_client.ReportStatus(hsStatusText, "Chunk Started");
  for (int32_t size = ReadChunkSize(); size > 0; size = ReadChunkSize()) {
    ReadCounted(target, size);
    // The data ends with its line end; anything else means the size did not describe the data.
    if (!m_client.ReadLine("\n").empty()) throw EIdException(Format("Chunk longer than its size %d", size));
  }
  // Trailer lines are not used, but read up to the empty line so that a kept connection starts at the next
  // response.
  size_t bytes = 0;
  for (int lines = 1;; ++lines) {
    const std::string line = m_client.ReadLine("\n");
    if (line.empty()) break;
    bytes += line.size();
    CheckHeaderLimits(lines, bytes);
  }
}

void TIdHTTPProtocol::ReadBody() {
  TStream* target = Response.BodyTarget;
  if (target == nullptr) return;
  const TIdHeaderList& headers = Response.HeaderLines;
  const bool lengthGiven = headers.IndexOfHeader("Content-Length") >= 0;
  if (headers.ValueOf("Transfer-Encoding").find("chunked") != std::string::npos) {
    ReadChunked(*target);
    // A length beside chunked framing is a message that two readers cut differently: the chunks decide,
    // and the connection is not trusted with another exchange.
    if (lengthGiven) m_client.CloseConnection();
    return;
  }
  // A length that is no number at all is taken the way header numbers are read here, leniently: as if it
  // were not there, so the body runs to the close.
  if (!lengthGiven || (Response.ContentLength < 0 && !IsNumberText(Trim(headers.ValueOf("Content-Length"))))) {
    m_client.ReadToStream(*target, -1, /*readUntilClose=*/true);
    return;
  }
  std::vector<std::string> lengths;
  headers.CollectValues("Content-Length", lengths);
  for (const std::string& length : lengths) {
    // Two different lengths leave the body's end unknown; taking either could pass a cut body off as whole.
    if (Trim(length) != Trim(lengths.front())) {
      throw EIdException(Format("Conflicting Content-Length headers \"%s\" and \"%s\"",
                                Trim(lengths.front()).substr(0, 32).c_str(), Trim(length).substr(0, 32).c_str()));
    }
  }
  if (Response.ContentLength > 0) {
    try {
      ReadCounted(*target, Response.ContentLength);
    } catch (const EIdConnClosedGracefully&) {
      // A peer that closes early leaves a short body; callers that need the whole body compare the sizes.
    }
  } else if (Response.ContentLength < 0) {
    // A negative length, or one beyond 64 bits, is a number no body can have: the framing is broken, and
    // reading to the close instead could pass a cut body off as whole.
    throw EIdException(Format("Invalid Content-Length \"%s\"",
                              Trim(headers.ValueOf("Content-Length")).substr(0, 32).c_str()));
  }
}

void TIdHTTPProtocol::ReadBodyInto(TStream& target, int timeout) {
  BodyReadScope scope(m_client, Response, target, timeout);
  ReadBody();
}

void TIdHTTPProtocol::FailWithStatus() {
  TStringStream text;
  ReadBodyInto(text, kErrorBodyTimeout);
  throw EIdHTTPProtocolException(Response.StatusCode(), Response.StatusLine, text.DataString());
}

void TIdHTTPProtocol::DrainBody() {
  TDiscardStream discard;
  try {
    ReadBodyInto(discard, kDrainTimeout);
  } catch (const std::exception&) {
    // The body of a response that is not used may fail to arrive; the rest of it must not be taken for the
    // next response.
    m_client.CloseConnection();
  }
}

TIdHTTPWhatsNext TIdHTTPProtocol::DecideNext() {
  TIdHTTPWhatsNext next = NextUnknown;
  const int code = Response.StatusCode();

  if ((code / 100 == 3 && code != 304) || !Response.Location.empty()) {
    std::string location = Response.Location;
    TIdHTTPMethod method = Request.RequestMethod;
    bool handled = m_client.HandleRedirects;
    if (m_client.HandleRedirects && m_client.RedirectCount < m_client.RedirectMaximum) {
      if (m_client.OnRedirect) m_client.OnRedirect(&m_client, location, m_client.RedirectCount, handled, method);
      if (!handled) FailWithStatus();
      next = NextGoTo;
      Request.Target = location;
      Request.RequestMethod = method;
    } else {
      if (m_client.OnRedirect) m_client.OnRedirect(&m_client, location, m_client.RedirectCount, handled, method);
      if (!handled) FailWithStatus();
      next = NextDone;
      Response.Location = location;
    }
    if (m_client.IsConnected()) DrainBody();
    return next;
  }

  const bool retry = !IsSuccess(code);
  if (retry) {
    if (code == 401) {
      if ((Request.AuthHandler != nullptr && Request.AuthHandler->CurrentAttempt() >= m_client.AuthRetries) ||
          !m_client.OfferAuthorization()) {
        Request.AuthHandler.reset();
        FailWithStatus();
      }
    } else if (code == 407) {
      if (!m_client.AcceptProxyChallenge()) FailWithStatus();
    } else {
      FailWithStatus();
    }
    // Credentials were found, but only hoInProcessAuth retries with them here; otherwise the challenge is the
    // answer, and it is a failure, not a body to hand over as the result.
    if ((m_client.HTTPOptions & hoInProcessAuth) == 0) FailWithStatus();
    next = NextGoTo;
  }
  if (m_client.IsConnected()) {
    if (retry) {
      DrainBody();
      next = NextAuthenticate;
    } else {
      if (code != 204) ReadBody();
      next = NextDone;
    }
  }
  return next;
}

// --- The client

TIdCustomHTTP::TIdCustomHTTP() : m_protocol(*this) {
  ProxyParams.Clear();
  SetPort(80);
}

TIdCustomHTTP::~TIdCustomHTTP() = default;

void TIdCustomHTTP::SetHost(const std::string& value) {
  TIdTCPClient::SetHost(value);
  m_url.HostPart = value;
}

void TIdCustomHTTP::SetPort(int value) {
  TIdTCPClient::SetPort(value);
  m_url.PortPart = IntToStr(value);
}

void TIdCustomHTTP::SetCookieManager(TIdCookieManager* manager) {
  if (manager == m_cookieManager) return;  // releasing it first would leave the client pointing at freed memory
  if (m_cookieManager != nullptr) m_cookieManager->RemoveFreeNotification(this);
  m_ownCookieManager.reset();
  m_cookieManager = manager;
  if (manager != nullptr) manager->FreeNotification(this);
}

void TIdCustomHTTP::Notification(TIdComponent* component) {
  TIdTCPClient::Notification(component);
  if (component == m_cookieManager) m_cookieManager = nullptr;
}

void TIdCustomHTTP::Get(const std::string& url, TStream& stream) { PerformRequest(hmGet, url, nullptr, &stream); }

void TIdCustomHTTP::ResetStream(TStream* target, int64_t position) {
  if (target == nullptr) return;
  target->SetPosition(position);
  target->SetSize(position);
}

void TIdCustomHTTP::PerformRequest(TIdHTTPMethod method, const std::string& url, TStream* source,
                                   TStream* target) {
  const int64_t start = target != nullptr ? target->Position() : 0;
  TIdHTTPRequest& request = m_protocol.Request;
  TIdHTTPResponse& response = m_protocol.Response;
  request.Target = url;
  request.RequestMethod = method;
  request.SourceBody = source;
  response.BodyTarget = target;
  try {
    for (bool done = false; !done;) {
      ++RedirectCount;
      PrepareTarget();
      RouteAndConnect();
      ReadResponseHead(/*fromOrigin=*/true);

      switch (m_protocol.DecideNext()) {
        case NextGoTo:
          ResetStream(target, start);
          break;
        case NextDone:
          done = true;
          break;
        case NextUnknown:
          throw EIdException("Undefined situation");
        case NextReadAndGo:
          m_protocol.ReadBody();
          ResetStream(target, start);
          break;
        case NextAuthenticate:
          --RedirectCount;
          request.Target = url;
          break;
      }
    }
  } catch (const EIdHTTPProtocolException&) {
    // The refused response was read in full: the connection may serve the next request.
    if (!KeepConnection()) CloseConnection();
    throw;
  } catch (...) {
    // Any other failure may have stopped inside a response, and the rest of it must not be read as the
    // next one.
    CloseConnection();
    throw;
  }
  if (!KeepConnection()) CloseConnection();
  RedirectCount = 0;
}

void TIdCustomHTTP::ReadResponseHead(bool fromOrigin) {
  TIdHTTPResponse& response = m_protocol.Response;
  // Interim responses ("100 Continue", "102 Processing", "103 Early Hints") are skipped, up to a limit; a
  // "101 Switching Protocols" ends the exchange as HTTP, and is answered as a status that is no success.
  for (int interim = 0;; ++interim) {
    response.StatusLine = ReadLine("\n");
    m_protocol.ReadHeaderBlock();
    if (fromOrigin) AbsorbCookies();
    const int code = response.StatusCode();
    if (code / 100 != 1 || code == 101) break;
    if (interim == TIdHTTPProtocol::kMaxInterimResponses) {
      throw EIdException(
          Format("Too many interim responses (more than %d)", TIdHTTPProtocol::kMaxInterimResponses));
    }
  }
}

void TIdCustomHTTP::PrepareTarget() {
  TIdHTTPRequest& request = m_protocol.Request;
  const TIdURI uri(request.Target);
  if (!uri.UserPart.empty()) {
    request.Username = uri.UserPart;
    request.Password = uri.PasswordPart;
  }
  m_url.UserPart = request.Username;
  m_url.PasswordPart = request.Password;
  m_url.DirPart = MergePath(m_url.DirPart, uri.DirPart, '/');
  m_url.DocPart = uri.DocPart;
  m_url.QueryPart = uri.QueryPart;
  if (!uri.HostPart.empty()) m_url.HostPart = uri.HostPart;

  // A relative target (a redirect to "file2.zip") stays on the current scheme and port; only a URL that
  // names its own host starts from the scheme's default port.
  const bool relative = uri.HostPart.empty() && !m_url.Scheme.empty();
  if (!relative) m_url.Scheme = uri.Scheme.empty() ? "http" : uri.Scheme;
  if (!uri.PortPart.empty()) {
    m_url.PortPart = uri.PortPart;
  } else if (!relative && SameText(m_url.Scheme, "http")) {
    m_url.PortPart = "80";
  } else if (!relative && SameText(m_url.Scheme, "https")) {
    m_url.PortPart = "443";
  } else if (m_url.PortPart.empty()) {
    throw EIdUnknownProtocol();
  }

  request.Target = m_url.DirPart + m_url.DocPart + m_url.QueryPart;
  if (request.RequestMethod == hmOptions && uri.DocPart == "*") request.Target = "*";

  const TIdHTTPMethod method = request.RequestMethod;
  if (ProtocolVersion == pv1_0 &&
      (method == hmOptions || method == hmTrace || method == hmPut || method == hmDelete)) {
    throw EIdException("This request method is supported in HTTP 1.1");
  }
  request.ContentLength =
      ((method == hmPost || method == hmPut) && request.SourceBody != nullptr) ? request.SourceBody->Size() : -1;
  request.Host = m_url.PortPart == "80" ? m_url.HostPart : m_url.HostPart + ":" + m_url.PortPart;
}

TIdHTTPRouteKind TIdCustomHTTP::ChooseRoute() {
  const bool https = SameText(m_url.Scheme, "https");
  if (ProxyParams.ProxyServer().empty()) {
    if (!SameText(Host(), m_url.HostPart) || Port() != StrToInt(m_url.PortPart)) {
      CloseConnection();
      TIdTCPClient::SetHost(m_url.HostPart);
      TIdTCPClient::SetPort(StrToInt(m_url.PortPart));
    }
    SwitchTls(https);
    return https ? RouteDirectTls : RouteDirect;
  }
  if (!SameText(Host(), ProxyParams.ProxyServer()) || Port() != ProxyParams.ProxyPort()) {
    CloseConnection();
    TIdTCPClient::SetHost(ProxyParams.ProxyServer());
    TIdTCPClient::SetPort(ProxyParams.ProxyPort());
  }
  // Through a proxy the tunnel is opened in plain text first.
  SwitchTls(/*encrypt=*/false);
  if (https && dynamic_cast<TIdSSLIOHandlerSocket*>(IOHandler()) == nullptr) {
    throw EIdIOHandlerPropInvalid("IOHandler value is not valid");
  }
  return https ? RouteTlsProxy : RouteProxy;
}

void TIdCustomHTTP::SwitchTls(bool encrypt) {
  auto* handler = dynamic_cast<TIdSSLIOHandlerSocket*>(IOHandler());
  if (handler == nullptr) {
    if (encrypt) throw EIdIOHandlerPropInvalid("IOHandler value is not valid");
    return;
  }
  // An open connection in the other mode cannot be reused: plain bytes must never go to a TLS peer, and
  // a secure URL must never be served over plain text.
  if (handler->PassThrough() == encrypt && IsConnected()) CloseConnection();
  handler->SetPassThrough(!encrypt);
}

void TIdCustomHTTP::RouteAndConnect() {
  TIdHTTPRequest& request = m_protocol.Request;
  request.RouteKind = ChooseRoute();
  if (request.RouteKind == RouteProxy) request.Target = m_url.ComposeForProxy();
  if (ProtocolVersion == pv1_0 && request.Connection.empty()) {
    if (request.RouteKind == RouteDirect) request.Connection = "keep-alive";
    if (request.RouteKind == RouteProxy) request.ProxyConnection = "keep-alive";
  }
  if (!KeepConnection()) CloseConnection();
  PollPeerClose(/*raise=*/false);
  // A kept connection serves only the same kind of route: a tunnel to this very origin, or plain bytes to
  // the proxy or the server. Anything else would send the request to the wrong peer.
  const std::string tunnel = request.RouteKind == RouteTlsProxy ? m_url.HostPart + ":" + m_url.PortPart : "";
  if (IsConnected() && m_tunnel != tunnel) CloseConnection();
  if (!IsConnected()) {
    m_tunnel.clear();
    if (tunnel.empty()) {
      OpenConnection(ConnectTimeout);
    } else {
      OpenTunnel(tunnel);
    }
  }
  SendRequest();
  if ((request.RequestMethod == hmPost || request.RequestMethod == hmPut) && request.SourceBody != nullptr) {
    WriteFromStream(*request.SourceBody, /*fromStart=*/true, 0, /*withLengthPrefix=*/false);
  }
}

void TIdCustomHTTP::OpenTunnel(const std::string& authority) {
  TIdHTTPResponse& response = m_protocol.Response;
  for (;;) {
    if (!IsConnected()) OpenConnection(ConnectTimeout);
    TIdHTTPRequest connect;
    connect.RequestMethod = hmConnect;
    connect.Target = authority;
    connect.Host = authority;
    connect.Pragma = "no-cache";
    connect.ProxyConnection = "keep-alive";
    connect.UserAgent = m_protocol.Request.UserAgent;
    connect.ContentLength = -1;
    connect.WriteToLines();
    ProxyParams.SetHeaders(connect.HeaderLines);
    WriteRequestHead(connect);
    ReadResponseHead(/*fromOrigin=*/false);
    const int code = response.StatusCode();
    // A tunnel's success has no body: whatever follows the empty line is the origin's.
    if (IsSuccess(code)) break;
    // Only a proxy challenge that can be answered is retried (hoInProcessAuth, as for a server's); every
    // other answer is the failure, with the proxy's status line.
    if (code != 407 || !AcceptProxyChallenge() || (HTTPOptions & hoInProcessAuth) == 0) m_protocol.FailWithStatus();
    m_protocol.DrainBody();
    if (!KeepConnection()) CloseConnection();
  }
  // The origin speaks first only after the client's hello: bytes already here came from the proxy, and
  // the handshake would never see them.
  if (InputBuffer().DataSize() > 0) throw EIdException("The proxy sent data after accepting the tunnel");
  // ChooseRoute refused the route without a TLS handler. The certificate must name the origin, not the proxy.
  static_cast<TIdSSLIOHandlerSocket*>(IOHandler())->StartTls(m_url.HostPart);
  m_tunnel = authority;
}

void TIdCustomHTTP::SendRequest() {
  TIdHTTPRequest& request = m_protocol.Request;
  request.WriteToLines();
  // Proxy credentials are for the proxy alone: through a tunnel the request goes to the origin.
  if (request.RouteKind != RouteTlsProxy) ProxyParams.SetHeaders(request.HeaderLines);
  AttachCookies();
  WriteRequestHead(request);
}

void TIdCustomHTTP::WriteRequestHead(TIdHTTPRequest& request) {
  // The whole header block leaves in one send.
  BeginWriteBuffering(-1);
  try {
    WriteLine(kMethodWords[request.RequestMethod] + request.Target + " HTTP/" +
              ProtocolVersionText[ProtocolVersion]);
    for (const std::string& line : request.HeaderLines.Lines()) {
      if (!line.empty()) WriteLine(line);
    }
    WriteLine("");
  } catch (...) {
    DiscardWriteBuffering();
    EndWriteBuffering();
    throw;
  }
  EndWriteBuffering();
}

bool TIdCustomHTTP::KeepConnection() {
  TIdHTTPResponse& response = m_protocol.Response;
  response.ServerVersion =
      SameText(response.StatusLine.substr(std::min<size_t>(5, response.StatusLine.size()), 3), "1.0") ? pv1_0
                                                                                                        : pv1_1;
  DetectPeerClose(/*raiseIfDisconnected=*/false, /*ignoreBuffered=*/false);
  if (!IsConnected()) return false;
  const std::string connection = Trim(response.Connection);
  const std::string proxyConnection = Trim(response.ProxyConnection);
  if (ProtocolVersion == pv1_1) return !SameText(connection, "CLOSE") && !SameText(proxyConnection, "CLOSE");
  return SameText(connection, "KEEP-ALIVE") || SameText(proxyConnection, "KEEP-ALIVE");
}

void TIdCustomHTTP::AbsorbCookies() {
  if (m_cookieManager == nullptr && AllowCookies) {
    m_ownCookieManager = std::make_unique<TIdCookieManager>();
    m_cookieManager = m_ownCookieManager.get();
  }
  if (m_cookieManager == nullptr) return;
  const TIdHeaderList& headers = m_protocol.Response.HeaderLines;
  std::vector<std::string> values;
  headers.CollectValues("Set-cookie", values);
  for (const std::string& value : values) m_cookieManager->AddSetCookie(value, m_url.HostPart);
  values.clear();
  headers.CollectValues("Set-cookie2", values);
  for (const std::string& value : values) m_cookieManager->AddSetCookie2(value, m_url.HostPart);
}

void TIdCustomHTTP::AttachCookies() {
  if (m_cookieManager == nullptr) return;
  // Secure cookies go out only over an encrypted connection.
  const auto* handler = dynamic_cast<const TIdSSLIOHandlerSocket*>(IOHandler());
  const bool secure = handler != nullptr && handler->Encrypting();
  const std::string text = m_cookieManager->CookieHeaderFor(m_url, secure);
  if (!text.empty()) m_protocol.Request.HeaderLines.SetValue("Cookie", text);
}

namespace {

// The authorisation offer shared by the server and the proxy challenge.
bool Offer(TIdCustomHTTP& client, std::unique_ptr<TIdAuthentication>& handler, const TIdHeaderList& challenge,
           std::string& username, std::string& password, bool& basicAuthentication,
           const decltype(TIdCustomHTTP::OnSelectAuthorization)& onSelect,
           const decltype(TIdCustomHTTP::OnAuthorization)& onAuthorization) {
  if (handler == nullptr) {
    const TIdAuthenticationClass* found = nullptr;
    for (const std::string& value : challenge.Lines()) {
      std::string rest = value;
      found = FindAuthClass(SplitAt(rest, " "));
      if (found != nullptr) break;
    }
    if (found == nullptr) return false;
    if (onSelect) onSelect(&client, found, challenge);
    if (found == nullptr) return false;
    handler = found->Create();
  }
  if (!onAuthorization && (client.HTTPOptions & hoInProcessAuth) == 0) return false;
  handler->SetUsername(username);
  handler->SetPassword(password);
  handler->SetAuthorization(handler->CredentialsText());
  handler->SetAuthenticationParams(challenge);
  for (;;) {
    switch (handler->NextStep()) {
      case wnDoRequest:
        return true;
      case wnFail:
        return false;
      case wnAskTheProgram: {
        if (!onAuthorization) return false;
        bool handled = false;
        onAuthorization(&client, handler.get(), handled);
        if (!handled) return false;
        basicAuthentication = true;
        username = handler->Username();
        password = handler->Password();
        return true;
      }
    }
  }
}

}  // namespace

bool TIdCustomHTTP::AcceptProxyChallenge() {
  TIdProxyConnectionInfo& proxy = ProxyParams;
  if ((proxy.AuthHandler != nullptr && proxy.AuthHandler->CurrentAttempt() >= AuthRetries) ||
      !OfferProxyAuthorization()) {
    proxy.AuthHandler.reset();
    proxy.ProxyUsername.clear();
    proxy.ProxyPassword.clear();
    return false;
  }
  return true;
}

bool TIdCustomHTTP::OfferAuthorization() {
  TIdHTTPRequest& request = m_protocol.Request;
  return Offer(*this, request.AuthHandler, m_protocol.Response.WWWAuthenticate, request.Username,
               request.Password, request.BasicAuthentication, OnSelectAuthorization, OnAuthorization);
}

bool TIdCustomHTTP::OfferProxyAuthorization() {
  return Offer(*this, ProxyParams.AuthHandler, m_protocol.Response.ProxyAuthenticate, ProxyParams.ProxyUsername,
               ProxyParams.ProxyPassword, ProxyParams.BasicAuthentication, OnSelectProxyAuthorization,
               OnProxyAuthorization);
}
