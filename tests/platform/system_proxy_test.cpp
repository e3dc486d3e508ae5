// The system's proxy settings as the platform reads them: the environment, and on Windows first the user's
// Internet settings in the registry (the test's own Wine prefix under Wine). Each row sets them and reads.
#include "platform/system_proxy.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::string Read() {
  const platform::SystemProxy proxy = platform::ReadSystemProxy();
  return proxy.ForHttp + "|" + proxy.ForHttps + "|" + proxy.Bypass;
}

constexpr const char* kNames[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                  "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};

using Variables = std::vector<std::pair<const char*, const char*>>;

// Clears the proxy variables for the test and puts the process's own back when it ends.
class ProxyEnvironment {
 public:
  explicit ProxyEnvironment(const Variables& values = {}) {
    for (const char* name : kNames) {
      if (const char* value = std::getenv(name)) m_saved.emplace_back(name, value);
    }
    Set(values);
  }
  ~ProxyEnvironment() {
    Set({});
    for (const auto& [name, value] : m_saved) Put(name.c_str(), value.c_str());
  }
  void Set(const Variables& values) const {
    for (const char* name : kNames) Put(name, nullptr);
    for (const auto& [name, value] : values) Put(name, value);
  }

 private:
  // nullptr removes the variable.
  static void Put(const char* name, const char* value) {
#ifdef _WIN32
    // The C runtime's copy, which getenv reads; the empty text removes a variable there.
    _putenv_s(name, value != nullptr ? value : "");
#else
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
#endif
  }

  std::vector<std::pair<std::string, std::string>> m_saved;
};

TEST(SystemProxyTest, TheVariablesCurlReadsGiveTheProxies) {
  const struct {
    Variables variables;
    const char* read;
  } rows[] = {
      {{}, "||"},
      {{{"http_proxy", "http://a:1"}}, "http://a:1||"},
      {{{"HTTPS_PROXY", "http://c:3"}}, "|http://c:3|"},
      {{{"ALL_PROXY", "socks4://e:5"}, {"http_proxy", "http://a:1"}}, "http://a:1|socks4://e:5|"},
      {{{"NO_PROXY", "y.example,localhost"}}, "||y.example,localhost"},
#ifndef _WIN32
      // Windows has one variable for both cases.
      {{{"HTTP_PROXY", "http://a:1"}}, "||"},  // may come from a request header in a CGI program
      {{{"https_proxy", "http://b:2"}, {"HTTPS_PROXY", "http://c:3"}}, "|http://b:2|"},
      {{{"https_proxy", ""}, {"HTTPS_PROXY", "http://c:3"}}, "|http://c:3|"},
      {{{"all_proxy", "socks5://d:4"}, {"ALL_PROXY", "socks4://e:5"}}, "socks5://d:4|socks5://d:4|"},
      {{{"no_proxy", "x.example"}, {"NO_PROXY", "y.example"}}, "||x.example"},
#endif
  };
  const ProxyEnvironment environment;
  for (const auto& row : rows) {
    environment.Set(row.variables);
    EXPECT_EQ(Read(), row.read) << row.read;
  }
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

TEST(SystemProxyTest, TheUsersInternetSettingsGiveTheProxiesWhenSwitchedOn) {
  const struct {
    DWORD enable;
    const wchar_t* server;
    const wchar_t* bypass;
    const char* read;
  } rows[] = {
      // Switched off (or never set): the variables as on Linux.
      {0, L"", L"", "|http://from.environment:1|"},
      {0, L"proxy:3128", L"<local>", "|http://from.environment:1|"},
      {1, L"proxy:3128", L"<local>;*.corp.example", "http://proxy:3128|http://proxy:3128|<local>;*.corp.example"},
      {1, L"http=a:1;https=b:2;ftp=c:3", L"", "http://a:1|http://b:2|"},
      {1, L"https=b:2", L"", "|http://b:2|"},
      {1, L"socks=s:1080", L"", "socks4://s:1080|socks4://s:1080|"},
      {1, L"https=b:2;socks=s:1080", L"", "socks4://s:1080|http://b:2|"},
      {1, L"http=a:1; https=b:2", L"", "http://a:1|http://b:2|"},
      {1, L" HTTP = a:1 ;Https=socks5://b:2", L"", "http://a:1|socks5://b:2|"},
      {1, L"http://proxy:3128", L"", "http://proxy:3128|http://proxy:3128|"},
      {1, L"", L"", "||"},
  };
  const ProxyEnvironment environment(Variables{{"https_proxy", "http://from.environment:1"}});
  InternetSettings settings;
  for (const auto& row : rows) {
    settings.Set(row.enable, row.server, row.bypass);
    EXPECT_EQ(Read(), row.read) << row.enable;
  }
}

#endif

}  // namespace
