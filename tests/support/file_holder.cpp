#include "support/file_holder.h"

#ifdef _WIN32
#include <windows.h>

#include <chrono>
#include <cstdlib>

#include "platform/files.h"

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

const char kHolderArgument[] = "--updater-test-hold-file";

int64_t MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The holder's whole life: it ends before any test runs.
[[noreturn]] void RunHolder(const std::string& path, int milliseconds, const std::string& readyMarker) {
  platform::File held;
  if (path != "-") {
    held = platform::File::Open(path, platform::FileAccess::Read, platform::FileShare::None);
    if (!held.IsOpen()) std::_Exit(2);
  }
  platform::File::Create(readyMarker).Write("held", 4);
  const Clock::time_point start = Clock::now();
  while (MillisecondsSince(start) < milliseconds && !platform::FileExists(readyMarker + ".release")) {
    Sleep(20);
  }
  held.Close();
  std::_Exit(0);
}

}  // namespace

// Runs at start-up in every test program that uses a holder, before its tests.
const bool g_startedAsHolder = [] {
  if (__argc == 5 && std::string(__argv[1]) == kHolderArgument) {
    RunHolder(__argv[2], std::atoi(__argv[3]), __argv[4]);
  }
  return false;
}();

std::string OwnProgramPath() {
  char buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  return std::string(buffer, length);
}

FileHolder::FileHolder(const std::string& program, const std::string& path, int milliseconds,
                       const std::string& readyMarker)
    : m_readyMarker(readyMarker) {
  std::string commandLine = "\"" + program + "\" " + kHolderArgument + " \"" + path + "\" " +
                            std::to_string(milliseconds) + " \"" + readyMarker + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &process)) {
    CloseHandle(process.hThread);
    m_process = process.hProcess;
  }
}

FileHolder::~FileHolder() {
  if (m_process == nullptr) return;
  platform::File::Create(m_readyMarker + ".release");
  WaitForSingleObject(m_process, 30000);
  CloseHandle(m_process);
}

bool FileHolder::WaitUntilHolding() const {
  const Clock::time_point start = Clock::now();
  while (m_process != nullptr && MillisecondsSince(start) < 30000) {
    if (platform::FileExists(m_readyMarker)) return true;
    if (WaitForSingleObject(m_process, 20) == WAIT_OBJECT_0) return false;
  }
  return false;
}

int FileHolder::WaitForExit() const {
  DWORD code = 0;
  if (m_process == nullptr || WaitForSingleObject(m_process, 30000) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(m_process, &code)) {
    return -1;
  }
  return static_cast<int>(code);
}

}  // namespace testsupport
#endif
