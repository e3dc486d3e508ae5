#pragma once
// The proxy the update goes through: the system's settings (platform/system_proxy.h) turned into the
// client's settings for one URL. An HTTP proxy becomes the client's ProxyParams (https then goes through
// a CONNECT tunnel), a SOCKS server the socket handler's SocksInfo; user and password in the proxy URL
// become Basic proxy credentials, sent up front, or SOCKS 5 credentials. Without a proxy for the URL the
// client connects directly, as it always did.
#include <string>

#include "http/http_client.h"
#include "net/io_handler.h"
#include "net/socks_info.h"
#include "platform/system_proxy.h"

struct TProxyRoute {
  bool Direct = true;
  TSocksVersion SocksVersion = svNoSocks;  // svNoSocks: an HTTP proxy (unless Direct)
  std::string Host;
  int Port = 0;
  std::string Username;  // percent-decoded
  std::string Password;
};

// The proxy URL as curl reads it: "http://" (also when no scheme is given), "socks4://", "socks4a://",
// "socks5://" and "socks5h://" (both let the SOCKS server resolve the name); the port defaults to 1080.
// EIdException for any other scheme or a URL without a host, EConvertError for a port that is not a
// number: a proxy the user set must not be bypassed.
TProxyRoute ParseProxyUrl(const std::string& text);

// The host matches an entry of the bypass list (see platform::SystemProxy::Bypass), ignoring case: an
// entry without "*" matches the host itself and every name under it ("example.com" and ".example.com"
// both match "www.example.com"); "*" matches any run of characters.
bool BypassesProxy(const std::string& bypass, const std::string& host);

// The route for the URL under the settings: its scheme's proxy unless the host is bypassed.
TProxyRoute ProxyRouteFor(const platform::SystemProxy& settings, const std::string& url);

// Sets the client and its socket handler for the route; replyTimeout bounds each answer of a SOCKS server.
void ApplyProxyRoute(const TProxyRoute& route, TIdHTTP& http, TIdIOHandlerSocket& handler, int replyTimeout);

// The system's proxy for the URL applied to the client; returns the route taken. Fails as ParseProxyUrl.
TProxyRoute UseSystemProxy(TIdHTTP& http, TIdIOHandlerSocket& handler, const std::string& url, int replyTimeout);
