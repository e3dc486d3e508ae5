// Routing: where the request goes (the server itself, a proxy, or a CONNECT tunnel through the proxy), the
// switch of a TLS handler between encrypting and passing through, and the answer to a proxy's challenge.
#include "http/http_client.h"

#include "rtl/sysutils.h"

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

bool TIdCustomHTTP::RouteAndConnect() {
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
  if (IsConnected()) return true;
  m_tunnel.clear();
  if (tunnel.empty()) {
    OpenConnection(ConnectTimeout);
  } else {
    OpenTunnel(tunnel);
  }
  return false;
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
    if (code / 100 == 2) break;
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
