#include "platform/system_proxy.h"

namespace platform {

SystemProxy ReadSystemProxy() { return ProxyFromEnvironment(); }

}  // namespace platform
