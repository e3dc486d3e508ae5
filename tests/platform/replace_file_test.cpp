#include "platform/files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>

// <windows.h> maps this name onto its own "A"/"W" functions; here it is the platform layer's.
#undef ReplaceFile

#include <cstdlib>
#include <thread>
#endif

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using Clock = std::chrono::steady_clock;

int64_t MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The extractor relies on this: with its settings a read-only file must survive an update, whichever system
// (Linux's rename() and Wine's MoveFileEx would both replace it on their own).
TEST(ReplaceFileTest, ReadOnlyTargetIsNotReplaced) {
  TempDir dir;
  const std::string to = dir.Write("kept.txt", "old");
  const std::string from = dir.Write("new.tmp", "new");
  ASSERT_TRUE(platform::SetAttributes(to, platform::kAttrReadOnly));
  platform::SetLastErrorCode(0);
  EXPECT_FALSE(platform::ReplaceFile(from, to));
  EXPECT_EQ(platform::LastErrorCode(), platform::kErrorAccessDenied);
  EXPECT_EQ(ReadFile(to), "old");
  EXPECT_EQ(ReadFile(from), "new") << "the source stays for the caller to remove";
  uint32_t attributes = 0;
  ASSERT_TRUE(platform::GetAttributes(to, attributes));
  EXPECT_NE(attributes & platform::kAttrReadOnly, 0u);
}

// Failures that no waiting can cure end at once, with the system's reason.
TEST(ReplaceFileTest, LastingFailuresDoNotWait) {
  TempDir dir;
  const std::string from = dir.Write("new.tmp", "new");
  ASSERT_TRUE(platform::CreateDirectoryLevel(dir.Text() + "folder"));
  struct Case {
    const char* what;
    std::string from;
    std::string to;
    int error;
  };
  const Case cases[] = {
      {"missing source", dir.Text() + "missing.tmp", dir.Text() + "target.txt", platform::kErrorFileNotFound},
      {"directory target", from, dir.Text() + "folder", platform::kErrorAccessDenied},
  };
  for (const Case& c : cases) {
    const Clock::time_point start = Clock::now();
    platform::SetLastErrorCode(0);
    EXPECT_FALSE(platform::ReplaceFile(c.from, c.to)) << c.what;
    EXPECT_EQ(platform::LastErrorCode(), c.error) << c.what;
    EXPECT_LT(MillisecondsSince(start), platform::kReplaceFileWaitMilliseconds / 2) << c.what << " waited";
  }
}

#ifdef _WIN32
// Another process that holds a file: a copy of this test program started with kHolderArgument. It opens the
// file named by its next argument without sharing it ("-" opens nothing: its own program file is what it
// holds then), writes the ready marker named by the third, and lets go after the given milliseconds or as
// soon as a file named like the marker plus ".release" appears. It ends before any test runs.
const char kHolderArgument[] = "--updater-test-hold-file";

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

// A running holder, ended (released, then waited for) when the test ends.
class Holder {
 public:
  Holder(const std::string& program, const std::string& path, int milliseconds, const std::string& readyMarker)
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
  ~Holder() {
    if (m_process == nullptr) return;
    platform::File::Create(m_readyMarker + ".release");
    WaitForSingleObject(m_process, 30000);
    CloseHandle(m_process);
  }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;

  // True once the holder holds its file (a Wine process takes a second or more to start).
  bool WaitUntilHolding() const {
    const Clock::time_point start = Clock::now();
    while (m_process != nullptr && MillisecondsSince(start) < 30000) {
      if (platform::FileExists(m_readyMarker)) return true;
      if (WaitForSingleObject(m_process, 20) == WAIT_OBJECT_0) return false;
    }
    return false;
  }
  // The holder's exit code once it has ended, or -1.
  int WaitForExit() const {
    DWORD code = 0;
    if (m_process == nullptr || WaitForSingleObject(m_process, 30000) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(m_process, &code)) {
      return -1;
    }
    return static_cast<int>(code);
  }

 private:
  std::string m_readyMarker;
  HANDLE m_process = nullptr;
};

TEST(ReplaceFileTest, TargetHeldOpenBrieflyIsReplacedOnceReleased) {
  TempDir dir;
  const std::string to = dir.Write("data.txt", "old");
  const std::string from = dir.Write("new.tmp", "new");
  Holder holder(OwnProgramPath(), to, 2000, dir.Text() + "ready");
  ASSERT_TRUE(holder.WaitUntilHolding());
  const Clock::time_point start = Clock::now();
  EXPECT_TRUE(platform::ReplaceFile(from, to)) << platform::LastErrorCode();
  EXPECT_GE(MillisecondsSince(start), 500) << "replaced while still held";
  EXPECT_EQ(ReadFile(to), "new");
  EXPECT_FALSE(platform::FileExists(from));
  EXPECT_EQ(holder.WaitForExit(), 0);
}

TEST(ReplaceFileTest, TargetHeldBeyondTheWaitFailsWithSharingViolation) {
  TempDir dir;
  const std::string to = dir.Write("data.txt", "old");
  const std::string from = dir.Write("new.tmp", "new");
  {
    Holder holder(OwnProgramPath(), to, 4 * platform::kReplaceFileWaitMilliseconds, dir.Text() + "ready");
    ASSERT_TRUE(holder.WaitUntilHolding());
    const Clock::time_point start = Clock::now();
    platform::SetLastErrorCode(0);
    EXPECT_FALSE(platform::ReplaceFile(from, to));
    const int64_t waited = MillisecondsSince(start);
    EXPECT_EQ(platform::LastErrorCode(), platform::kErrorSharingViolation);
    EXPECT_GE(waited, platform::kReplaceFileWaitMilliseconds - 100);
    EXPECT_LT(waited, 2 * platform::kReplaceFileWaitMilliseconds);
  }
  EXPECT_EQ(ReadFile(to), "old");
  ASSERT_TRUE(platform::FileExists(from)) << "the source stays for the caller to remove";
  EXPECT_TRUE(platform::ReplaceFile(from, to)) << "released: " << platform::LastErrorCode();
  EXPECT_EQ(ReadFile(to), "new");
}

// The application being updated, still running from the file that replaces it: Windows lets nobody replace
// a running program's file, and says "access denied" as for a file it never lets anyone replace.
TEST(ReplaceFileTest, RunningProgramFileIsReplacedOnceTheProgramEnds) {
  TempDir dir;
  const std::string program = dir.Text() + "application.exe";
  const std::string from = dir.Write("new.tmp", "new program");
  ASSERT_TRUE(CopyFileA(OwnProgramPath().c_str(), program.c_str(), TRUE));
  Holder running(program, "-", 2000, dir.Text() + "ready");
  ASSERT_TRUE(running.WaitUntilHolding());
  const Clock::time_point start = Clock::now();
  EXPECT_TRUE(platform::ReplaceFile(from, program)) << platform::LastErrorCode();
  EXPECT_GE(MillisecondsSince(start), 500) << "replaced while still running";
  EXPECT_TRUE(ReadFile(program) == "new program") << "the old program is still there";
  EXPECT_EQ(running.WaitForExit(), 0);
}
#endif

}  // namespace
