#include "platform/files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "support/file_holder.h"
#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>

// <windows.h> maps this name onto its own "A"/"W" functions; here it is the platform layer's.
#undef ReplaceFile
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
using testsupport::FileHolder;
using testsupport::OwnProgramPath;

TEST(ReplaceFileTest, TargetHeldOpenBrieflyIsReplacedOnceReleased) {
  TempDir dir;
  const std::string to = dir.Write("data.txt", "old");
  const std::string from = dir.Write("new.tmp", "new");
  FileHolder holder(OwnProgramPath(), to, 2000, dir.Text() + "ready");
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
  constexpr int kWait = 1000;
  const platform::ScopedReplaceFileWait shortWait(kWait);
  {
    FileHolder holder(OwnProgramPath(), to, 4 * kWait, dir.Text() + "ready");
    ASSERT_TRUE(holder.WaitUntilHolding());
    const Clock::time_point start = Clock::now();
    platform::SetLastErrorCode(0);
    EXPECT_FALSE(platform::ReplaceFile(from, to));
    const int64_t waited = MillisecondsSince(start);
    EXPECT_EQ(platform::LastErrorCode(), platform::kErrorSharingViolation);
    EXPECT_GE(waited, kWait - 100);
    EXPECT_LT(waited, 2 * kWait);
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
  FileHolder running(program, "-", 2000, dir.Text() + "ready");
  ASSERT_TRUE(running.WaitUntilHolding());
  const Clock::time_point start = Clock::now();
  EXPECT_TRUE(platform::ReplaceFile(from, program)) << platform::LastErrorCode();
  EXPECT_GE(MillisecondsSince(start), 500) << "replaced while still running";
  EXPECT_TRUE(ReadFile(program) == "new program") << "the old program is still there";
  EXPECT_EQ(running.WaitForExit(), 0);
}
#endif

}  // namespace
