#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
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

// The files open for writing while a power cut is armed, each with the size that is on the disk.
std::mutex g_durableMutex;
std::map<intptr_t, int64_t> g_durableSizes;

// Set once at the start, before any other thread runs.
std::string g_deniedDirectory;

std::atomic<int> g_replaceFileWait{kReplaceFileWaitMilliseconds};

}  // namespace

void FailNthFileOperation(int n, FileFault fault, FaultThreads threads) {
  g_fault = fault;
  g_callerOnly = threads == FaultThreads::Caller;
  g_caller = std::this_thread::get_id();
  g_fired = false;
  {
    const std::lock_guard<std::mutex> lock(g_durableMutex);
    g_durableSizes.clear();
  }
  g_remaining = n;
}

bool FileOperationFaultFired() { return g_fired; }

void DenyWritesUnder(const std::string& directory) {
  g_deniedDirectory = directory;
  while (g_deniedDirectory.size() > 1 && g_deniedDirectory.back() == kPathSeparator) g_deniedDirectory.pop_back();
}

ScopedReplaceFileWait::ScopedReplaceFileWait(int milliseconds) : m_previous(g_replaceFileWait.exchange(milliseconds)) {}

ScopedReplaceFileWait::~ScopedReplaceFileWait() { g_replaceFileWait = m_previous; }

namespace detail {

int ReplaceFileWaitMilliseconds() { return g_replaceFileWait; }

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
    case FileFault::PowerCut: {
      // Held to the end, so that no other thread's flush or close changes the list meanwhile.
      g_durableMutex.lock();
      for (const auto& [handle, size] : g_durableSizes) CutOpenFile(handle, size);
      std::_Exit(kFileFaultExitCode);
    }
  }
  SetLastErrorCode(kErrorAccessDenied);
  return true;
}

bool WriteDenied(const std::string& path) {
  if (g_deniedDirectory.empty() || path.compare(0, g_deniedDirectory.size(), g_deniedDirectory) != 0) return false;
  if (path.size() > g_deniedDirectory.size() && path[g_deniedDirectory.size()] != kPathSeparator) return false;
  SetLastErrorCode(kErrorAccessDenied);
  return true;
}

bool WritesDeniedSomewhere() { return !g_deniedDirectory.empty(); }

bool PowerCutArmed() { return g_fault.load() == FileFault::PowerCut && g_remaining.load() > 0; }

void NoteDurableSize(intptr_t handle, int64_t size) {
  const std::lock_guard<std::mutex> lock(g_durableMutex);
  g_durableSizes[handle] = size;
}

void ForgetDurableSize(intptr_t handle) {
  const std::lock_guard<std::mutex> lock(g_durableMutex);
  g_durableSizes.erase(handle);
}

}  // namespace detail
}  // namespace platform
