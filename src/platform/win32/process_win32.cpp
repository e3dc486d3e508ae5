#include "platform/process.h"

#include <windows.h>

namespace platform {

std::optional<std::string> RawCommandLine() { return std::string(GetCommandLineA()); }

// WinExec reads its text as a command line: unquoted, "C:\Program Files\App\app.exe" would start
// "C:\Program.exe" when such a file exists. Quoted, the whole path is the one program.
void StartProgramFile(const std::string& path) { WinExec(("\"" + path + "\"").c_str(), SW_SHOWNORMAL); }

void StartCommandLine(const std::string& commandLine) { WinExec(commandLine.c_str(), SW_SHOWNORMAL); }

}  // namespace platform
