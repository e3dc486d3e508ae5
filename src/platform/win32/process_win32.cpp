#include "platform/process.h"

#include <windows.h>

namespace platform {

std::optional<std::string> RawCommandLine() { return std::string(GetCommandLineA()); }

void FailWritesPastFileSizeLimit() {}

// WinExec reads its text as a command line: unquoted, "C:\Program Files\App\app.exe" would start
// "C:\Program.exe" when such a file exists. Quoted, the whole path is the one program.
void StartProgram(const std::string& program, const std::string& arguments) {
  std::string commandLine = "\"" + program + "\"";
  if (!arguments.empty()) commandLine += " " + arguments;
  WinExec(commandLine.c_str(), SW_SHOWNORMAL);
}

}  // namespace platform
