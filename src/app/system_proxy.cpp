#include "app/system_proxy.h"

#include <cctype>

#include "http/uri.h"
#include "rtl/sysutils.h"

namespace {

// A SOCKS server's port, and curl's for a proxy URL that names none.
constexpr int kDefaultProxyPort = 1080;

std::string PercentDecoded(const std::string& text) {
  std::string decoded;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      decoded += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

// "*" matches any run of characters, everything else itself (case already folded).
bool GlobMatches(const std::string& pattern, const std::string& text) {
  size_t p = 0, t = 0, star = std::string::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star != std::string::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool EntryMatches(const std::string& entry, const std::string& host) {
  if (entry == "<local>") return host.find('.') == std::string::npos;
  if (entry.find('*') != std::string::npos) {
    // "*.example.com" covers the domain itself too, as ".example.com" does.
    if (entry.compare(0, 2, "*.") == 0 && host == entry.substr(2)) return true;
    return GlobMatches(entry, host);
  }
  const std::string domain = entry[0] == '.' ? entry.substr(1) : entry;
  return host == domain ||
         (host.size() > domain.size() && host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
          host[host.size() - domain.size() - 1] == '.');
}

}  // namespace

TProxyRoute ParseProxyUrl(const std::string& text) {
  const std::string trimmed = Trim(text);
  const TIdURI uri(trimmed.find("://") == std::string::npos ? "http://" + trimmed : trimmed);
  const std::string scheme = LowerCase(uri.Scheme);
  TProxyRoute route;
  if (scheme == "http") {
    route.SocksVersion = svNoSocks;
  } else if (scheme == "socks4") {
    route.SocksVersion = svSocks4;
  } else if (scheme == "socks4a") {
    route.SocksVersion = svSocks4A;
  } else if (scheme == "socks5" || scheme == "socks5h") {
    route.SocksVersion = svSocks5;
  } else {
    throw EIdException(
        Format("Proxy \"%s\": the scheme %s is not supported", RedactedUrl(trimmed).c_str(), uri.Scheme.c_str()));
  }
  if (uri.HostPart.empty()) throw EIdException(Format("Proxy \"%s\" names no host", RedactedUrl(trimmed).c_str()));
  route.Direct = false;
  route.Host = uri.HostPart;
  route.Port = uri.PortPart.empty() ? kDefaultProxyPort : StrToInt(uri.PortPart);
  route.Username = PercentDecoded(uri.UserPart);
  route.Password = PercentDecoded(uri.PasswordPart);
  return route;
}

bool BypassesProxy(const std::string& bypass, const std::string& host) {
  const std::string name = LowerCase(host);
  size_t start = 0;
  while (start < bypass.size()) {
    size_t end = bypass.find_first_of(",; \t", start);
    if (end == std::string::npos) end = bypass.size();
    const std::string entry = LowerCase(bypass.substr(start, end - start));
    if (entry == "*" || (!entry.empty() && EntryMatches(entry, name))) return true;
    start = end + 1;
  }
  return false;
}

TProxyRoute ProxyRouteFor(const platform::SystemProxy& settings, const std::string& url) {
  const TIdURI uri(url);
  const std::string& proxy = SameText(uri.Scheme, "https") ? settings.ForHttps : settings.ForHttp;
  if (Trim(proxy).empty() || BypassesProxy(settings.Bypass, uri.HostPart)) return {};
  return ParseProxyUrl(proxy);
}

void ApplyProxyRoute(const TProxyRoute& route, TIdHTTP& http, TIdIOHandlerSocket& handler, int replyTimeout) {
  TIdProxyConnectionInfo& proxy = http.ProxyParams;
  TIdSocksInfo& socks = handler.SocksInfo();
  proxy.Clear();
  socks = TIdSocksInfo();
  if (route.Direct) return;
  if (route.SocksVersion == svNoSocks) {
    proxy.SetProxyServer(route.Host);
    proxy.SetProxyPort(route.Port);
    proxy.ProxyUsername = route.Username;
    proxy.ProxyPassword = route.Password;
    // Credentials the user gave for the proxy go with the first request, as curl sends them.
    proxy.BasicAuthentication = !route.Username.empty();
    return;
  }
  socks.Version = route.SocksVersion;
  socks.Host = route.Host;
  socks.Port = route.Port;
  socks.Username = route.Username;
  socks.Password = route.Password;
  socks.ReplyTimeout = replyTimeout;
}

TProxyRoute UseSystemProxy(TIdHTTP& http, TIdIOHandlerSocket& handler, const std::string& url, int replyTimeout) {
  const TProxyRoute route = ProxyRouteFor(platform::ReadSystemProxy(), url);
  ApplyProxyRoute(route, http, handler, replyTimeout);
  return route;
}
