#pragma once
// The program's command line and starting other programs.
#include <optional>
#include <string>

namespace platform {

// The command line as the system hands it over unsplit (GetCommandLineA on Windows); none where the system
// passes items already split (Linux), in which case the argv items are the items.
std::optional<std::string> RawCommandLine();

// Starts one existing program file, with no arguments, in its normal window state. A path with blanks stays
// one program: it cannot start a different program named by its first words. The result is not reported.
void StartProgramFile(const std::string& path);

// Starts a command line as written (program and arguments split at blanks, no shell), detached from this
// process, in the normal window state. The result is not reported.
void StartCommandLine(const std::string& commandLine);

}  // namespace platform
