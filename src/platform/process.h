#pragma once
// The program's command line and starting other programs.
#include <optional>
#include <string>

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

}  // namespace platform
