// The system's proxy settings as the platform reads them: the environment on Linux, the user's Internet
// settings in the registry on Windows (the test's own Wine prefix under Wine). Each row sets them and reads.
#include "platform/system_proxy.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#endif

namespace {

std::string Read() {
  const platform::SystemProxy proxy = platform::ReadSystemProxy();
  return proxy.ForHttp + "|" + proxy.ForHttps + "|" + proxy.Bypass;
}

#ifdef _WIN32

constexpr const wchar_t* kInternetSettings = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// Sets the three values (an empty server or override deletes it); deletes them all when the test ends.
class InternetSettings {
 public:
  InternetSettings() {
    RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key, nullptr);
  }
  ~InternetSettings() {
    for (const wchar_t* name : {L"ProxyEnable", L"ProxyServer", L"ProxyOverride"}) RegDeleteValueW(m_key, name);
    RegCloseKey(m_key);
  }
  void Set(DWORD enable, const std::wstring& server, const std::wstring& bypass) {
    RegSetValueExW(m_key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof enable);
    SetText(L"ProxyServer", server);
    SetText(L"ProxyOverride", bypass);
  }

 private:
  void SetText(const wchar_t* name, const std::wstring& text) {
    if (text.empty()) {
      RegDeleteValueW(m_key, name);
      return;
    }
    RegSetValueExW(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  HKEY m_key = nullptr;
};

TEST(SystemProxyTest, TheUsersInternetSettingsGiveTheProxies) {
  const struct {
    DWORD enable;
    const wchar_t* server;
    const wchar_t* bypass;
    const char* read;
  } rows[] = {
      {0, L"", L"", "||"},
      {0, L"proxy:3128", L"<local>", "||"},
      {1, L"proxy:3128", L"<local>;*.corp.example", "http://proxy:3128|http://proxy:3128|<local>;*.corp.example"},
      {1, L"http=a:1;https=b:2;ftp=c:3", L"", "http://a:1|http://b:2|"},
      {1, L"https=b:2", L"", "|http://b:2|"},
      {1, L"socks=s:1080", L"", "socks4://s:1080|socks4://s:1080|"},
      {1, L"https=b:2;socks=s:1080", L"", "socks4://s:1080|http://b:2|"},
      {1, L"", L"", "||"},
  };
  InternetSettings settings;
  for (const auto& row : rows) {
    settings.Set(row.enable, row.server, row.bypass);
    EXPECT_EQ(Read(), row.read) << row.enable;
  }
}

#else

constexpr const char* kNames[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                  "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};

// Clears the proxy variables for the test and puts the process's own back when it ends.
class ProxyEnvironment {
 public:
  ProxyEnvironment() {
    for (const char* name : kNames) {
      if (const char* value = std::getenv(name)) m_saved.emplace_back(name, value);
    }
  }
  ~ProxyEnvironment() {
    Set({});
    for (const auto& [name, value] : m_saved) setenv(name.c_str(), value.c_str(), 1);
  }
  void Set(const std::vector<std::pair<const char*, const char*>>& values) {
    for (const char* name : kNames) unsetenv(name);
    for (const auto& [name, value] : values) setenv(name, value, 1);
  }

 private:
  std::vector<std::pair<std::string, std::string>> m_saved;
};

TEST(SystemProxyTest, TheVariablesCurlReadsGiveTheProxies) {
  const struct {
    std::vector<std::pair<const char*, const char*>> variables;
    const char* read;
  } rows[] = {
      {{}, "||"},
      {{{"http_proxy", "http://a:1"}}, "http://a:1||"},
      {{{"HTTP_PROXY", "http://a:1"}}, "||"},  // may come from a request header in a CGI program
      {{{"https_proxy", "http://b:2"}, {"HTTPS_PROXY", "http://c:3"}}, "|http://b:2|"},
      {{{"HTTPS_PROXY", "http://c:3"}}, "|http://c:3|"},
      {{{"https_proxy", ""}, {"HTTPS_PROXY", "http://c:3"}}, "|http://c:3|"},
      {{{"all_proxy", "socks5://d:4"}, {"ALL_PROXY", "socks4://e:5"}}, "socks5://d:4|socks5://d:4|"},
      {{{"ALL_PROXY", "socks4://e:5"}, {"http_proxy", "http://a:1"}}, "http://a:1|socks4://e:5|"},
      {{{"no_proxy", "x.example"}, {"NO_PROXY", "y.example"}}, "||x.example"},
      {{{"NO_PROXY", "y.example,localhost"}}, "||y.example,localhost"},
  };
  ProxyEnvironment environment;
  for (const auto& row : rows) {
    environment.Set(row.variables);
    EXPECT_EQ(Read(), row.read) << row.read;
  }
}

#endif

}  // namespace
