#include "platform/system_proxy.h"

#include <windows.h>

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

// The "scheme=host:port" entry of a per-protocol server list; empty when it has none.
std::string Entry(const std::string& servers, const std::string& scheme) {
  size_t start = 0;
  while (start < servers.size()) {
    size_t end = servers.find(';', start);
    if (end == std::string::npos) end = servers.size();
    const std::string item = servers.substr(start, end - start);
    if (item.compare(0, scheme.size() + 1, scheme + "=") == 0) return item.substr(scheme.size() + 1);
    start = end + 1;
  }
  return {};
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
    const std::string servers = StringValue(key, L"ProxyServer");
    if (servers.find('=') == std::string::npos) {
      // One server for every protocol.
      if (!servers.empty()) proxy.ForHttp = proxy.ForHttps = "http://" + servers;
    } else {
      // The settings dialog's SOCKS entry is a SOCKS 4 server; it serves what has no proxy of its own.
      const std::string socks = Entry(servers, "socks");
      const std::string http = Entry(servers, "http");
      const std::string https = Entry(servers, "https");
      proxy.ForHttp = !http.empty() ? "http://" + http : !socks.empty() ? "socks4://" + socks : "";
      proxy.ForHttps = !https.empty() ? "http://" + https : !socks.empty() ? "socks4://" + socks : "";
    }
    proxy.Bypass = StringValue(key, L"ProxyOverride");
  }
  RegCloseKey(key);
  return enabled ? proxy : ProxyFromEnvironment();
}

}  // namespace platform
