#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

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

}  // namespace

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
