#include <atomic>
#include <cstdlib>
#include <thread>

#include "platform/files.h"

namespace platform {
namespace {

// Operations still to go before the chosen one; 0 when the seam is off.
std::atomic<int> g_remaining{0};
std::atomic<FileFault> g_fault{FileFault::Fail};
std::atomic<bool> g_callerOnly{false};
std::atomic<std::thread::id> g_caller{};
std::atomic<bool> g_fired{false};

}  // namespace

void FailNthFileOperation(int n, FileFault fault, FaultThreads threads) {
  g_fault = fault;
  g_callerOnly = threads == FaultThreads::Caller;
  g_caller = std::this_thread::get_id();
  g_fired = false;
  g_remaining = n;
}

bool FileOperationFaultFired() { return g_fired; }

namespace detail {

bool FileOperationFails() {
  if (g_remaining.load() <= 0) return false;
  if (g_callerOnly && std::this_thread::get_id() != g_caller.load()) return false;
  if (--g_remaining != 0) return false;
  g_fired = true;
  switch (g_fault.load()) {
    case FileFault::Fail: break;
    case FileFault::Raise: throw FileOperationAborted{};
    // No destructor, no buffer flushed: what the process leaves is what a kill would leave.
    case FileFault::Exit: std::_Exit(kFileFaultExitCode);
  }
  SetLastErrorCode(kErrorAccessDenied);
  return true;
}

}  // namespace detail
}  // namespace platform
