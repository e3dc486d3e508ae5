// The Restart Manager names the processes that hold a file. rstrtmgr.dll is loaded when first needed, never
// imported: the shipped program imports only DLLs that every Windows it runs on has, and a system without
// the Restart Manager (or with one that cannot tell) simply gets no name in the cause.
#include <windows.h>
#include <restartmanager.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

using StartSession = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using RegisterResources = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
using GetList = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);
using EndSession = DWORD(WINAPI*)(DWORD);

}  // namespace

std::string ProcessesUsingFile(const std::string& path) {
  const HMODULE library = LoadLibraryA("rstrtmgr.dll");
  if (library == nullptr) return {};
  const auto start = reinterpret_cast<StartSession>(GetProcAddress(library, "RmStartSession"));
  const auto registerResources = reinterpret_cast<RegisterResources>(GetProcAddress(library, "RmRegisterResources"));
  const auto getList = reinterpret_cast<GetList>(GetProcAddress(library, "RmGetList"));
  const auto end = reinterpret_cast<EndSession>(GetProcAddress(library, "RmEndSession"));
  std::string names;
  DWORD session = 0;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  if (start != nullptr && registerResources != nullptr && getList != nullptr && end != nullptr &&
      start(&session, 0, key) == ERROR_SUCCESS) {
    const std::wstring wide = ToWide(CP_ACP, path);
    LPCWSTR files[] = {wide.c_str()};
    std::vector<RM_PROCESS_INFO> processes;
    UINT needed = 0;
    UINT count = 0;
    DWORD reasons = 0;
    if (registerResources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
      // The list may grow between the call that sizes it and the one that fills it: asked again, a few times.
      for (int attempt = 0; attempt < 3; ++attempt) {
        processes.resize(needed);
        count = needed;
        const DWORD result = getList(session, &needed, &count, processes.data(), &reasons);
        if (result == ERROR_SUCCESS) {
          processes.resize(count);
          break;
        }
        processes.clear();
        if (result != ERROR_MORE_DATA) break;
      }
    }
    end(session);
    for (const RM_PROCESS_INFO& process : processes) {
      // The name the Restart Manager gives the application: its program file's, or its own display name.
      if (!names.empty()) names += ", ";
      names += WideToUtf8(process.strAppName) + " (pid " + std::to_string(process.Process.dwProcessId) + ")";
    }
  }
  FreeLibrary(library);
  return names;
}

}  // namespace platform
