#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/files.h"
#include "platform/threads.h"

extern char** environ;

namespace platform {
namespace {

// Starts argv detached: the child gets its own session and is reaped by an intermediate process, so the
// updater can exit at once and leaves no zombie behind.
void SpawnDetached(const std::vector<std::string>& items) {
  if (items.empty()) return;
  const pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    setsid();
    std::vector<char*> argv;
    for (const std::string& item : items) argv.push_back(const_cast<char*>(item.c_str()));
    argv.push_back(nullptr);
    pid_t grandchild = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn(&grandchild, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
}

// pkexec's own exit statuses: the user dismissed the prompt or was not authorised (126), or the
// authentication could not be done at all (127). The program it runs never sees the light in either case.
constexpr int kPkexecNotAuthorised = 126;
constexpr int kPkexecFailed = 127;

// The first executable regular file named "pkexec" in a directory on PATH; empty when there is none.
std::string FindPkexec() {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return {};
  const std::string list = path;
  size_t start = 0;
  for (;;) {
    const size_t end = list.find(':', start);
    const std::string directory = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
    // An empty entry would mean the working directory: a program found there is not the system's.
    if (!directory.empty() && directory[0] == '/') {
      const std::string candidate = directory + "/pkexec";
      struct stat info {};
      if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0) {
        return candidate;
      }
    }
    if (end == std::string::npos) return {};
    start = end + 1;
  }
}

}  // namespace

std::string OwnExecutablePath() {
  std::string buffer(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) return {};
  buffer.resize(static_cast<size_t>(length));
  return buffer;
}

bool ProcessIsElevated() { return geteuid() == 0 && !detail::WritesDeniedSomewhere(); }

ElevatedRun RunElevated(const std::string& program, const std::vector<std::string>& items,
                        const std::function<void()>& whileWaiting) {
  ElevatedRun run;
  const std::string pkexec = FindPkexec();
  if (pkexec.empty() || program.empty()) return run;
  std::vector<std::string> all{pkexec, program};
  all.insert(all.end(), items.begin(), items.end());
  std::vector<char*> argv;
  for (const std::string& item : all) argv.push_back(const_cast<char*>(item.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return run;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (done < 0 && errno != EINTR) return run;
    if (whileWaiting) whileWaiting();
    SleepMilliseconds(50);
  }
  if (!WIFEXITED(status)) {
    // It ran and was killed: as a shell reports it.
    run.Granted = true;
    run.ExitCode = 128 + WTERMSIG(status);
    return run;
  }
  run.ExitCode = WEXITSTATUS(status);
  run.Granted = run.ExitCode != kPkexecNotAuthorised && run.ExitCode != kPkexecFailed;
  return run;
}

std::optional<std::string> RawCommandLine() { return std::nullopt; }

void FailWritesPastFileSizeLimit() { signal(SIGXFSZ, SIG_IGN); }

void StartProgram(const std::string& program, const std::string& arguments) {
  std::vector<std::string> items{program};
  std::string current;
  for (const char c : arguments) {
    if (static_cast<unsigned char>(c) <= 32) {
      if (!current.empty()) items.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) items.push_back(current);
  SpawnDetached(items);
}

}  // namespace platform
