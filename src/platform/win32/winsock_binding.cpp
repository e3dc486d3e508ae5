#include "platform/win32/winsock_binding.h"

#include <windows.h>

#include <atomic>
#include <iterator>
#include <stdexcept>
#include <string>

#include "platform/sockets.h"

namespace platform {
namespace {

constexpr const char* kLibraryName = "WS2_32.DLL";

constexpr const char* kNames[] = {
    "WSACleanup", "accept", "bind", "closesocket", "connect", "ioctlsocket", "getpeername", "getsockname",
    "getsockopt", "htonl", "htons", "inet_addr", "inet_ntoa", "listen", "ntohl", "ntohs", "recv", "recvfrom",
    "select", "send", "sendto", "setsockopt", "shutdown", "socket", "gethostbyaddr", "gethostbyname",
    "gethostname", "getservbyport", "getservbyname", "getprotobynumber", "getprotobyname", "WSASetLastError",
    "WSAGetLastError", "WSAIsBlocking", "WSAUnhookBlockingHook", "WSASetBlockingHook", "WSACancelBlockingCall",
    "WSAAsyncGetServByName", "WSAAsyncGetServByPort", "WSAAsyncGetProtoByName", "WSAAsyncGetProtoByNumber",
    "WSAAsyncGetHostByName", "WSAAsyncGetHostByAddr", "WSACancelAsyncRequest", "WSAAsyncSelect",
    "__WSAFDIsSet", "WSAAccept", "WSACloseEvent", "WSAConnect", "WSACreateEvent", "WSADuplicateSocketA",
    "WSADuplicateSocketW", "WSAEnumNetworkEvents", "WSAEnumProtocolsA", "WSAEnumProtocolsW", "WSAEventSelect",
    "WSAGetOverlappedResult", "WSAGetQosByName", "WSAHtonl", "WSAHtons", "WSAIoctl", "WSAJoinLeaf", "WSANtohl",
    "WSANtohs", "WSARecv", "WSARecvDisconnect", "WSARecvFrom", "WSAResetEvent", "WSASend", "WSASendDisconnect",
    "WSASendTo", "WSASetEvent", "WSASocketA", "WSASocketW", "WSAWaitForMultipleEvents", "WSAAddressToStringA",
    "WSAAddressToStringW", "WSAStringToAddressA", "WSAStringToAddressW", "WSALookupServiceBeginA",
    "WSALookupServiceBeginW", "WSALookupServiceNextA", "WSALookupServiceNextW", "WSALookupServiceEnd",
    "WSAInstallServiceClassA", "WSAInstallServiceClassW", "WSARemoveServiceClass", "WSAGetServiceClassInfoA",
    "WSAGetServiceClassInfoW", "WSAEnumNameSpaceProvidersA", "WSAEnumNameSpaceProvidersW",
    "WSAGetServiceClassNameByClassIdA", "WSAGetServiceClassNameByClassIdW", "WSASetServiceA", "WSASetServiceW",
    "WSAProviderConfigChange",
    // The unsuffixed forms of the character-set pairs are served by the "A" functions.
    "WSADuplicateSocketA", "WSAEnumProtocolsA", "WSASocketA", "WSAAddressToStringA", "WSAStringToAddressA",
    "WSALookupServiceBeginA", "WSALookupServiceNextA", "WSAInstallServiceClassA", "WSAGetServiceClassInfoA",
    "WSAEnumNameSpaceProvidersA", "WSAGetServiceClassNameByClassIdA", "WSASetServiceA",
    "TransmitFile", "AcceptEx", "GetAcceptExSockaddrs", "WSARecvEx"};
static_assert(std::size(kNames) == winsock::kEntryCount);

// Entries start as the stub (none) and are reset to it when the library is unbound.
std::atomic<void*> g_entries[winsock::kEntryCount] = {};
std::atomic<HMODULE> g_library{nullptr};
std::atomic<bool> g_started{false};
std::atomic<SocketLibraryFailureHandler> g_failureHandler{nullptr};

std::string SystemMessage(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
      reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length != 0 && text != nullptr ? std::string(text, length) : std::string();
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n' || message.back() == ' ')) {
    message.pop_back();
  }
  return message;
}

[[noreturn]] void Fail(const std::string& title, DWORD code) {
  const SocketLibraryFailure failure{title, code, code != 0 ? SystemMessage(code) : std::string()};
  if (const SocketLibraryFailureHandler handler = g_failureHandler.load()) handler(failure);
  throw std::runtime_error(code != 0 ? failure.systemMessage + ": " + title : title);
}

// Cleans up and unbinds once the program ends, after every other user of the library.
struct LibraryLifetime {
  ~LibraryLifetime() {
    if (g_started.load()) winsock::Entry<int(WSAAPI*)()>(winsock::kWSACleanup)();
    const HMODULE library = g_library.exchange(nullptr);
    if (library == nullptr) return;
    FreeLibrary(library);
    for (auto& entry : g_entries) entry.store(nullptr);
  }
} g_lifetime;

}  // namespace

void SetSocketLibraryFailureHandler(SocketLibraryFailureHandler handler) { g_failureHandler.store(handler); }

namespace winsock {

const char* EntryName(int index) { return kNames[index]; }

void* CurrentEntry(int index) { return g_entries[index].load(std::memory_order_acquire); }

void* BindEntry(int index) {
  const std::string title = std::string("Error on call Winsock2 library function ") + kNames[index];
  const HMODULE library = g_library.load();
  if (library == nullptr) Fail(title, WSANOTINITIALISED);
  // Two threads binding the same entry at once both store the same address.
  void* function = reinterpret_cast<void*>(GetProcAddress(library, kNames[index]));
  if (function == nullptr) Fail(title, GetLastError());
  g_entries[index].store(function, std::memory_order_release);
  return function;
}

bool LibraryLoaded() { return g_library.load() != nullptr; }

int Startup(uint16_t version) {
  if (g_library.load() != nullptr) return 0;
  const HMODULE library = LoadLibraryA(kLibraryName);
  if (library == nullptr) Fail(std::string("Error on loading Winsock2 library (") + kLibraryName + ")", GetLastError());
  g_library.store(library);
  using StartupFunction = int(WSAAPI*)(WORD, WSADATA*);
  const auto startup = reinterpret_cast<StartupFunction>(reinterpret_cast<void*>(GetProcAddress(library, "WSAStartup")));
  if (startup == nullptr) Fail("Error on call Winsock2 library function WSAStartup", GetLastError());
  WSADATA data;
  const int result = startup(version, &data);
  if (result == 0) g_started.store(true);
  return result;
}

}  // namespace winsock
}  // namespace platform
