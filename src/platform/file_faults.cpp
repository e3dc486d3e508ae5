#include <atomic>

#include "platform/files.h"

namespace platform {
namespace {

// Operations still to go before the chosen one; 0 when the seam is off.
std::atomic<int> g_remaining{0};
std::atomic<bool> g_abort{false};
std::atomic<bool> g_fired{false};

}  // namespace

void FailNthFileOperation(int n, bool abort) {
  g_abort = abort;
  g_fired = false;
  g_remaining = n;
}

bool FileOperationFaultFired() { return g_fired; }

namespace detail {

bool FileOperationFails() {
  if (g_remaining.load() <= 0 || --g_remaining != 0) return false;
  g_fired = true;
  if (g_abort) throw FileOperationAborted{};
  SetLastErrorCode(kErrorAccessDenied);
  return true;
}

}  // namespace detail
}  // namespace platform
