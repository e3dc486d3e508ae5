#include "platform/threads.h"

#include <chrono>
#include <thread>

namespace platform {
namespace {
std::thread::id g_mainThread = std::this_thread::get_id();
}

void RegisterMainThread() { g_mainThread = std::this_thread::get_id(); }

bool IsMainThread() { return std::this_thread::get_id() == g_mainThread; }

void SleepMilliseconds(int milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace platform
