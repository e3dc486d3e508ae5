#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

// The started programs are copies of this test program. A copy started with the marker variable set writes
// its own file name and its command line into the marker file and ends before any test runs.
const char kMarkerVariable[] = "UPDATER_PLATFORM_TEST_STARTED_MARKER";

std::string OwnProgramPath() {
#ifdef _WIN32
  char buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  return std::string(buffer, length);
#else
  return std::filesystem::read_symlink("/proc/self/exe").string();
#endif
}

std::string OwnCommandLine() {
#ifdef _WIN32
  return GetCommandLineA();
#else
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string items((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (char& c : items) c = c == '\0' ? '|' : c;
  return items;
#endif
}

std::string MarkerPath() {
#ifdef _WIN32
  char buffer[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA(kMarkerVariable, buffer, sizeof buffer);
  return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
#else
  const char* value = getenv(kMarkerVariable);
  return value != nullptr ? value : "";
#endif
}

void SetMarkerPath(const std::string& path) {
#ifdef _WIN32
  SetEnvironmentVariableA(kMarkerVariable, path.empty() ? nullptr : path.c_str());
#else
  if (path.empty()) {
    unsetenv(kMarkerVariable);
  } else {
    setenv(kMarkerVariable, path.c_str(), 1);
  }
#endif
}

const bool g_startedAsChild = [] {
  const std::string marker = MarkerPath();
  if (marker.empty()) return false;
  {
    std::ofstream out(marker + ".part", std::ios::binary);
    out << OwnProgramPath() << '\n' << OwnCommandLine() << '\n';
  }
  // Renamed when complete, so that the waiting test never reads half a file.
  std::rename((marker + ".part").c_str(), marker.c_str());
  // Ends with the exit code the test asks for, when it asks for one.
  const char* code = std::getenv("UPDATER_PLATFORM_TEST_EXIT_CODE");
  std::_Exit(code != nullptr ? std::atoi(code) : 0);
}();

class ProcessTest : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    m_root = std::filesystem::temp_directory_path() / ("platform_process_" + std::to_string(random()));
    std::filesystem::create_directories(m_root);
    m_marker = (m_root / "started.txt").string();
    SetMarkerPath(m_marker);
  }
  void TearDown() override {
    SetMarkerPath("");
    std::error_code ignored;
    std::filesystem::remove_all(m_root, ignored);
  }

  std::string CopyOfThisProgram(const std::filesystem::path& relative) {
    const std::filesystem::path target = m_root / relative;
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(OwnProgramPath(), target);
    std::filesystem::permissions(target, std::filesystem::perms::owner_all, std::filesystem::perm_options::add);
    return target.string();
  }

  // The marker's two lines (program, command line); empty when no copy wrote it in time.
  std::string WaitForMarker() const {
    for (int i = 0; i < 600; ++i) {
      // Read until it reads whole: under Wine, on a busy machine, a marker just renamed into place has been
      // seen to read empty once.
      if (std::filesystem::exists(m_marker)) {
        std::ifstream in(m_marker, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        if (!content.str().empty()) return content.str();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::string();
  }

  std::filesystem::path m_root;
  std::string m_marker;
};

TEST_F(ProcessTest, ProgramFileWithBlanksStartsThatOneProgram) {
#ifdef _WIN32
  const char* decoy = "dir.exe";
  const char* program = "dir with blanks\\child program.exe";
#else
  const char* decoy = "dir";
  const char* program = "dir with blanks/child program";
#endif
  // Read as a command line, the path would name the decoy first.
  CopyOfThisProgram(decoy);
  const std::string path = CopyOfThisProgram(program);
  platform::StartProgram(path);
  const std::string marker = WaitForMarker();
  ASSERT_FALSE(marker.empty()) << "nothing started";
  EXPECT_EQ(marker.substr(0, marker.find('\n')), path);
}

TEST_F(ProcessTest, ProgramGetsItsArguments) {
#ifdef _WIN32
  const char* program = "with blanks\\child.exe";
#else
  const char* program = "with blanks/child";
#endif
  const std::string path = CopyOfThisProgram(program);
  platform::StartProgram(path, "first second");
  const std::string marker = WaitForMarker();
  ASSERT_FALSE(marker.empty()) << "nothing started";
  const std::string commandLine = marker.substr(marker.find('\n') + 1);
  EXPECT_NE(commandLine.find("first"), std::string::npos) << commandLine;
  EXPECT_NE(commandLine.find("second"), std::string::npos) << commandLine;
}

#ifdef _WIN32
// Wine shows no consent prompt: the runas verb starts the program at once, as an administrator's consent would.
// On Linux the end-to-end tests run the hand-over through a stand-in pkexec.
TEST_F(ProcessTest, ElevatedProgramGetsItsItemsAndIsWaitedForWithItsExitCode) {
  const std::string path = CopyOfThisProgram("with blanks\\child.exe");
  SetEnvironmentVariableA("UPDATER_PLATFORM_TEST_EXIT_CODE", "7");
  int turns = 0;
  const platform::ElevatedRun run =
      platform::RunElevated(path, {"C:\\an item\\with blanks", "second"}, [&turns] { ++turns; });
  SetEnvironmentVariableA("UPDATER_PLATFORM_TEST_EXIT_CODE", nullptr);
  EXPECT_TRUE(run.Granted);
  EXPECT_EQ(run.ExitCode, 7);
  EXPECT_GT(turns, 0);
  const std::string marker = WaitForMarker();
  ASSERT_FALSE(marker.empty()) << "nothing started";
  EXPECT_NE(marker.find("\"C:\\an item\\with blanks\" \"second\""), std::string::npos) << marker;
  EXPECT_EQ(platform::OwnExecutablePath(), OwnProgramPath());
}

TEST_F(ProcessTest, ElevatedProgramThatCannotStartIsNotGranted) {
  EXPECT_FALSE(platform::RunElevated((m_root / "missing.exe").string(), {}, {}).Granted);
}
#endif

TEST(RawCommandLineTest, IsTheUnsplitLineOnlyWhereTheSystemHasOne) {
#ifdef _WIN32
  const std::optional<std::string> line = platform::RawCommandLine();
  ASSERT_TRUE(line.has_value());
  EXPECT_NE(line->find("platform_tests"), std::string::npos) << *line;
#else
  EXPECT_FALSE(platform::RawCommandLine().has_value());
#endif
}

}  // namespace
