#pragma once
// Run-time binding of the Windows Sockets library "WS2_32.DLL". Nothing is imported when the program loads:
// the start-up wrapper loads the library, and every other function is reached through a table of 112
// entries that starts with stubs. A stub looks its name up on first call and stores the result, so later
// calls go to the library directly. A function used before start-up, a library that cannot be loaded and a
// name the library does not export go to the socket-library failure handler (platform/sockets.h).
// At process end WSACleanup is called once (when a start-up succeeded) and the library is unbound.
#include <winsock2.h>

#include <cstdint>

namespace platform::winsock {

inline constexpr int kEntryCount = 112;

// Table positions of the functions this program calls.
enum Index : int {
  kWSACleanup = 0,
  kAccept = 1,
  kBind = 2,
  kCloseSocket = 3,
  kConnect = 4,
  kIoctlSocket = 5,
  kGetPeerName = 6,
  kGetSockName = 7,
  kGetSockOpt = 8,
  kListen = 13,
  kRecv = 16,
  kRecvFrom = 17,
  kSelect = 18,
  kSend = 19,
  kSendTo = 20,
  kSetSockOpt = 21,
  kShutdown = 22,
  kSocket = 23,
  kGetHostByAddr = 24,
  kGetHostByName = 25,
  kGetHostName = 26,
  kGetServByPort = 27,
  kGetServByName = 28,
  kWSASetLastError = 31,
  kWSAGetLastError = 32,
};

// The name looked up for an entry.
const char* EntryName(int index);
// The entry's current target: the library's function once bound, none while it is still the stub.
void* CurrentEntry(int index);
// The stub's lookup: binds the entry and returns the function. Goes to the failure handler (which raises)
// when the library is not loaded or does not export the name.
void* BindEntry(int index);

// The function of an entry, bound on first use.
template <typename Function>
Function Entry(int index) {
  void* current = CurrentEntry(index);
  if (current == nullptr) current = BindEntry(index);
  return reinterpret_cast<Function>(current);
}

// WSAStartup: 0 without calling the library when it is already loaded; otherwise loads it (failure handler
// with "Error on loading Winsock2 library (WS2_32.DLL)" when that fails) and returns WSAStartup's result.
int Startup(uint16_t version);
bool LibraryLoaded();

}  // namespace platform::winsock
