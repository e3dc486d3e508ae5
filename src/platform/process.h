#pragma once
// The program's command line and starting other programs.
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The command line as the system hands it over unsplit (GetCommandLineA on Windows); none where the system
// passes items already split (Linux), in which case the argv items are the items.
std::optional<std::string> RawCommandLine();

// Makes a write past the process's file-size limit fail as a full disk does, with its message and its clean-up,
// instead of ending the process (Linux ignores SIGXFSZ). Nothing to do on Windows, which has no such limit.
void FailWritesPastFileSizeLimit();

// Starts one existing program file, detached from this process, in its normal window state, with the
// arguments (split at blanks, no shell). The program's path stays one item: a path with blanks cannot start
// a different program named by its first words. The result is not reported.
void StartProgram(const std::string& program, const std::string& arguments = {});

// The absolute path of this process's own executable file; empty when the system cannot tell.
std::string OwnExecutablePath();

// Whether this process already holds administrator rights (Windows: an elevated token; Linux: root).
bool ProcessIsElevated();

// How a program started with administrator rights ended.
struct ElevatedRun {
  // False when it never ran: no way to ask for the rights here (no pkexec on Linux), the user declined the
  // system's prompt, or the program could not be started.
  bool Granted = false;
  int ExitCode = 0;
};

// Starts program with items (each one argument) with administrator rights, through the system's consent
// prompt (Windows: the "runas" verb; Linux: pkexec found on PATH), and waits for it to end, running
// whileWaiting about every 50 ms meanwhile.
ElevatedRun RunElevated(const std::string& program, const std::vector<std::string>& items,
                        const std::function<void()>& whileWaiting);

}  // namespace platform
