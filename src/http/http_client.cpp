// The exchange: the request loop with its target, redirects and retries after a challenge, the request head, the
// cookies, the authorization offers and whether the connection is kept. Body framing is in http_body.cpp,
// routing in http_route.cpp.
#include "http/http_client.h"

#include <algorithm>
#include <vector>

#include "http/text_search.h"
#include "rtl/sysutils.h"

namespace {

constexpr const char* kMethodWords[] = {"HEAD ", "GET ", "POST ", "OPTIONS ", "TRACE ", "PUT ", "DELETE ", "CONNECT "};

bool IsSuccess(int code) { return code / 100 == 2; }

}  // namespace

int TIdHTTPResponse::StatusCode() const {
  std::string rest = StatusLine;
  SplitAt(rest, " ");
  rest = Trim(rest);
  return StrToIntDef(SplitAt(rest, " "), -1);
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
      ExchangeHead();
      if (OnResponseHead) OnResponseHead(this);

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


void TIdCustomHTTP::ExchangeHead() {
  TIdHTTPRequest& request = m_protocol.Request;
  TIdHTTPResponse& response = m_protocol.Response;
  for (;;) {
    const bool kept = RouteAndConnect();
    response.StatusLine.clear();
    try {
      SendRequest();
      ReadResponseHead(/*fromOrigin=*/true);
      return;
    } catch (...) {
      // A server may close a kept connection just as the next request goes out (its idle limit, or a close
      // after its last answer that crossed the request): that is no answer at all, and a GET or HEAD goes
      // once more, on a connection of its own. On a new connection the same failure is the server's answer.
      const bool repeatable = request.RequestMethod == hmGet || request.RequestMethod == hmHead;
      if (!kept || !repeatable || !response.StatusLine.empty() || !IsPeerClose(std::current_exception())) throw;
    }
    CloseConnection();
  }
}

void TIdCustomHTTP::SendRequest() {
  TIdHTTPRequest& request = m_protocol.Request;
  request.WriteToLines();
  // Proxy credentials are for the proxy alone: through a tunnel the request goes to the origin.
  if (request.RouteKind != RouteTlsProxy) ProxyParams.SetHeaders(request.HeaderLines);
  AttachCookies();
  WriteRequestHead(request);
  if ((request.RequestMethod == hmPost || request.RequestMethod == hmPut) && request.SourceBody != nullptr) {
    WriteFromStream(*request.SourceBody, /*fromStart=*/true, 0, /*withLengthPrefix=*/false);
  }
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
