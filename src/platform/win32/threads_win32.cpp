#include "platform/threads.h"

#include <windows.h>

namespace platform {
namespace {
// Static initialisation runs on the thread that enters main, so the main thread is known even before
// RegisterMainThread is called.
DWORD g_mainThread = GetCurrentThreadId();
}  // namespace

void RegisterMainThread() { g_mainThread = GetCurrentThreadId(); }

bool IsMainThread() { return GetCurrentThreadId() == g_mainThread; }

void SleepMilliseconds(int milliseconds) {
  if (milliseconds > 0) Sleep(static_cast<DWORD>(milliseconds));
}

}  // namespace platform
