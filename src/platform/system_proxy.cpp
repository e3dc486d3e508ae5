#include "platform/system_proxy.h"

#include <cstdlib>
#include <initializer_list>

namespace platform {
namespace {

// The first of the variables that is set and not empty.
std::string FirstSet(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return {};
}

}  // namespace

SystemProxy ProxyFromEnvironment() {
  const std::string all = FirstSet({"all_proxy", "ALL_PROXY"});
  SystemProxy proxy;
  proxy.ForHttp = FirstSet({"http_proxy"});
  if (proxy.ForHttp.empty()) proxy.ForHttp = all;
  proxy.ForHttps = FirstSet({"https_proxy", "HTTPS_PROXY"});
  if (proxy.ForHttps.empty()) proxy.ForHttps = all;
  proxy.Bypass = FirstSet({"no_proxy", "NO_PROXY"});
  return proxy;
}

}  // namespace platform
