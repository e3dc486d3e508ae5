#include "platform/process.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/files.h"
#include "platform/threads.h"

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

std::string OwnExecutablePath() {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

bool ProcessIsElevated() {
  if (detail::WritesDeniedSomewhere()) return false;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool known = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != 0;
  CloseHandle(token);
  return known && elevation.TokenIsElevated != 0;
}

ElevatedRun RunElevated(const std::string& program, const std::vector<std::string>& items,
                        const std::function<void()>& whileWaiting) {
  ElevatedRun run;
  if (program.empty()) return run;
  // Each item in quotes: the program splits its command line by the rules of command_line.h, where a quoted
  // stretch keeps its blanks. Paths hold no quote on Windows.
  std::string parameters;
  for (const std::string& item : items) parameters += (parameters.empty() ? "\"" : " \"") + item + "\"";
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  info.lpVerb = "runas";
  info.lpFile = program.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_HIDE;
  // A declined consent prompt fails with ERROR_CANCELLED, as does every other way of not starting it.
  if (!ShellExecuteExA(&info) || info.hProcess == nullptr) return run;
  while (WaitForSingleObject(info.hProcess, 50) == WAIT_TIMEOUT) {
    if (whileWaiting) whileWaiting();
  }
  DWORD code = 0;
  const bool ended = GetExitCodeProcess(info.hProcess, &code) != 0;
  CloseHandle(info.hProcess);
  if (!ended) return run;
  run.Granted = true;
  run.ExitCode = static_cast<int>(code);
  return run;
}

}  // namespace platform
