#include "platform/system_proxy.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "platform/win32/wide_text.h"

namespace platform {
namespace {

constexpr const wchar_t* kInternetSettings = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// A string value of the key; empty when it is missing or of another type.
std::string StringValue(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) return {};
  std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS) {
    return {};
  }
  return WideToUtf8(text.data());
}

bool Enabled(HKEY key) {
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  return RegQueryValueExW(key, L"ProxyEnable", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
             ERROR_SUCCESS &&
         type == REG_DWORD && value != 0;
}

// The text without the blanks (and other bytes up to 32) at its ends.
std::string Trimmed(const std::string& text) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  size_t first = 0;
  size_t last = text.size();
  while (first < last && blank(text[first])) ++first;
  while (last > first && blank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// The "name=server" entry of a per-protocol server list, as the settings dialog and users write it: blanks
// around the items and the "=", names in any case. Empty when it has none.
std::string Entry(const std::string& servers, const std::string& name) {
  size_t start = 0;
  while (start < servers.size()) {
    size_t end = servers.find(';', start);
    if (end == std::string::npos) end = servers.size();
    const std::string item = servers.substr(start, end - start);
    const size_t equals = item.find('=');
    if (equals != std::string::npos && SameName(Trimmed(item.substr(0, equals)), name)) {
      return Trimmed(item.substr(equals + 1));
    }
    start = end + 1;
  }
  return {};
}

// A server as a proxy URL: one that names its scheme keeps it, a bare "host:port" gets the entry's.
std::string ProxyUrl(const std::string& server, const char* scheme) {
  if (server.empty() || server.find("://") != std::string::npos) return server;
  return std::string(scheme) + "://" + server;
}

}  // namespace

SystemProxy ReadSystemProxy() {
  SystemProxy proxy;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return ProxyFromEnvironment();
  }
  const bool enabled = Enabled(key);
  if (enabled) {
    const std::string servers = Trimmed(StringValue(key, L"ProxyServer"));
    if (servers.find('=') == std::string::npos) {
      // One server for every protocol.
      proxy.ForHttp = proxy.ForHttps = ProxyUrl(servers, "http");
    } else {
      // The settings dialog's SOCKS entry is a SOCKS 4 server; it serves what has no proxy of its own.
      const std::string socks = ProxyUrl(Entry(servers, "socks"), "socks4");
      const std::string http = ProxyUrl(Entry(servers, "http"), "http");
      const std::string https = ProxyUrl(Entry(servers, "https"), "http");
      proxy.ForHttp = !http.empty() ? http : socks;
      proxy.ForHttps = !https.empty() ? https : socks;
    }
    proxy.Bypass = StringValue(key, L"ProxyOverride");
  }
  RegCloseKey(key);
  return enabled ? proxy : ProxyFromEnvironment();
}

}  // namespace platform
