#include "platform/sockets.h"

#include <winsock2.h>

#include <cstring>

#include "platform/win32/winsock_binding.h"

namespace platform {
namespace {

using winsock::Entry;

int LastWsaError() { return Entry<int(WSAAPI*)()>(winsock::kWSAGetLastError)(); }

int Fail(int code) {
  Entry<void(WSAAPI*)(int)>(winsock::kWSASetLastError)(code);
  return kSocketFailed;
}

SOCKET Native(SocketHandle socket) { return static_cast<SOCKET>(socket); }

sockaddr_in ToSockaddr(const Ipv4Endpoint& endpoint) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  // Network order by hand: htons is a library function here too, and this needs none.
  address.sin_port = static_cast<u_short>((endpoint.port >> 8) | ((endpoint.port & 0xFF) << 8));
  std::memcpy(&address.sin_addr, endpoint.address.data(), 4);
  return address;
}

Ipv4Endpoint FromSockaddr(const sockaddr_in& address) {
  Ipv4Endpoint endpoint;
  std::memcpy(endpoint.address.data(), &address.sin_addr, 4);
  const u_short port = address.sin_port;
  endpoint.port = static_cast<uint16_t>((port >> 8) | ((port & 0xFF) << 8));
  return endpoint;
}

// Fills a set; false when the list does not fit.
bool FillSet(fd_set& set, const std::vector<SocketHandle>* list) {
  set.fd_count = 0;
  if (list == nullptr) return true;
  if (list->size() > FD_SETSIZE) return false;
  for (const SocketHandle socket : *list) set.fd_array[set.fd_count++] = Native(socket);
  return true;
}

// After select a set holds exactly the ready sockets.
void KeepReady(const fd_set& set, std::vector<SocketHandle>* list) {
  if (list == nullptr) return;
  list->clear();
  for (u_int i = 0; i < set.fd_count; ++i) list->push_back(static_cast<SocketHandle>(set.fd_array[i]));
}

}  // namespace

int SocketStartup(uint16_t version) { return winsock::Startup(version); }

int SocketLastError() { return LastWsaError(); }

int SocketErrorFromSystemError(int systemError) { return systemError; }

SocketHandle SocketCreate(int family, int type, int protocol) {
  const SOCKET socket = Entry<SOCKET(WSAAPI*)(int, int, int)>(winsock::kSocket)(family, type, protocol);
  return socket == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(socket);
}

int SocketBind(SocketHandle socket, const Ipv4Endpoint& local) {
  const sockaddr_in address = ToSockaddr(local);
  return Entry<int(WSAAPI*)(SOCKET, const sockaddr*, int)>(winsock::kBind)(
      Native(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

int SocketConnect(SocketHandle socket, const Ipv4Endpoint& peer) {
  const sockaddr_in address = ToSockaddr(peer);
  return Entry<int(WSAAPI*)(SOCKET, const sockaddr*, int)>(winsock::kConnect)(
      Native(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

int SocketListen(SocketHandle socket, int backlog) {
  return Entry<int(WSAAPI*)(SOCKET, int)>(winsock::kListen)(Native(socket), backlog);
}

SocketHandle SocketAccept(SocketHandle socket, Ipv4Endpoint& peer) {
  sockaddr_in address{};
  int length = sizeof address;
  const SOCKET accepted = Entry<SOCKET(WSAAPI*)(SOCKET, sockaddr*, int*)>(winsock::kAccept)(
      Native(socket), reinterpret_cast<sockaddr*>(&address), &length);
  if (accepted == INVALID_SOCKET) return kNoSocket;
  peer = FromSockaddr(address);
  return static_cast<SocketHandle>(accepted);
}

int SocketReceive(SocketHandle socket, void* buffer, int length, int flags) {
  return Entry<int(WSAAPI*)(SOCKET, char*, int, int)>(winsock::kRecv)(Native(socket), static_cast<char*>(buffer),
                                                                       length, flags);
}

int SocketSend(SocketHandle socket, const void* buffer, int length, int flags) {
  return Entry<int(WSAAPI*)(SOCKET, const char*, int, int)>(winsock::kSend)(
      Native(socket), static_cast<const char*>(buffer), length, flags);
}

int SocketReceiveFrom(SocketHandle socket, void* buffer, int length, int flags, Ipv4Endpoint& from) {
  sockaddr_in address{};
  int addressLength = sizeof address;
  const int n = Entry<int(WSAAPI*)(SOCKET, char*, int, int, sockaddr*, int*)>(winsock::kRecvFrom)(
      Native(socket), static_cast<char*>(buffer), length, flags, reinterpret_cast<sockaddr*>(&address),
      &addressLength);
  if (n != SOCKET_ERROR) from = FromSockaddr(address);
  return n;
}

int SocketSendTo(SocketHandle socket, const void* buffer, int length, int flags, const Ipv4Endpoint& to) {
  const sockaddr_in address = ToSockaddr(to);
  return Entry<int(WSAAPI*)(SOCKET, const char*, int, int, const sockaddr*, int)>(winsock::kSendTo)(
      Native(socket), static_cast<const char*>(buffer), length, flags, reinterpret_cast<const sockaddr*>(&address),
      sizeof address);
}

int SocketShutdown(SocketHandle socket, int how) {
  return Entry<int(WSAAPI*)(SOCKET, int)>(winsock::kShutdown)(Native(socket), how);
}

int SocketClose(SocketHandle socket) { return Entry<int(WSAAPI*)(SOCKET)>(winsock::kCloseSocket)(Native(socket)); }

int SocketSetOption(SocketHandle socket, int level, int name, const void* value, int length) {
  return Entry<int(WSAAPI*)(SOCKET, int, int, const char*, int)>(winsock::kSetSockOpt)(
      Native(socket), level, name, static_cast<const char*>(value), length);
}

int SocketGetOption(SocketHandle socket, int level, int name, void* value, int& length) {
  return Entry<int(WSAAPI*)(SOCKET, int, int, char*, int*)>(winsock::kGetSockOpt)(
      Native(socket), level, name, static_cast<char*>(value), &length);
}

int SocketSetNonBlocking(SocketHandle socket, bool nonBlocking) {
  u_long mode = nonBlocking ? 1 : 0;
  return Entry<int(WSAAPI*)(SOCKET, long, u_long*)>(winsock::kIoctlSocket)(Native(socket), FIONBIO, &mode);
}

int SocketPeerName(SocketHandle socket, Ipv4Endpoint& peer) {
  sockaddr_in address{};
  int length = sizeof address;
  const int result = Entry<int(WSAAPI*)(SOCKET, sockaddr*, int*)>(winsock::kGetPeerName)(
      Native(socket), reinterpret_cast<sockaddr*>(&address), &length);
  if (result == 0) peer = FromSockaddr(address);
  return result;
}

int SocketLocalName(SocketHandle socket, Ipv4Endpoint& local) {
  sockaddr_in address{};
  int length = sizeof address;
  const int result = Entry<int(WSAAPI*)(SOCKET, sockaddr*, int*)>(winsock::kGetSockName)(
      Native(socket), reinterpret_cast<sockaddr*>(&address), &length);
  if (result == 0) local = FromSockaddr(address);
  return result;
}

int SocketSelect(std::vector<SocketHandle>* read, std::vector<SocketHandle>* write,
                 std::vector<SocketHandle>* error, int timeoutMilliseconds) {
  fd_set readSet;
  fd_set writeSet;
  fd_set errorSet;
  if (!FillSet(readSet, read) || !FillSet(writeSet, write) || !FillSet(errorSet, error)) {
    return Fail(WSAEINVAL);
  }
  timeval timeout{timeoutMilliseconds / 1000, (timeoutMilliseconds % 1000) * 1000};
  const int result = Entry<int(WSAAPI*)(int, fd_set*, fd_set*, fd_set*, const timeval*)>(winsock::kSelect)(
      0, read != nullptr ? &readSet : nullptr, write != nullptr ? &writeSet : nullptr,
      error != nullptr ? &errorSet : nullptr, timeoutMilliseconds < 0 ? nullptr : &timeout);
  if (result == SOCKET_ERROR) return kSocketFailed;
  KeepReady(readSet, read);
  KeepReady(writeSet, write);
  KeepReady(errorSet, error);
  return result;
}

int ResolveHostAddresses(const std::string& name, std::vector<Ipv4Address>& addresses) {
  const hostent* host = Entry<hostent*(WSAAPI*)(const char*)>(winsock::kGetHostByName)(name.c_str());
  if (host == nullptr) return kSocketFailed;
  addresses.clear();
  if (host->h_addrtype == AF_INET && host->h_length == 4) {
    for (char** entry = host->h_addr_list; *entry != nullptr; ++entry) {
      Ipv4Address address;
      std::memcpy(address.data(), *entry, 4);
      addresses.push_back(address);
    }
  }
  if (addresses.empty()) return Fail(WSAHOST_NOT_FOUND);
  return 0;
}

int ResolveHostName(const Ipv4Address& address, std::string& name) {
  const hostent* host = Entry<hostent*(WSAAPI*)(const char*, int, int)>(winsock::kGetHostByAddr)(
      reinterpret_cast<const char*>(address.data()), 4, AF_INET);
  if (host == nullptr) return kSocketFailed;
  name = host->h_name;
  return 0;
}

int ServicePortByName(const std::string& name) {
  const servent* found = Entry<servent*(WSAAPI*)(const char*, const char*)>(winsock::kGetServByName)(name.c_str(), "tcp");
  if (found == nullptr) return -1;
  const u_short port = static_cast<u_short>(found->s_port);
  return (port >> 8) | ((port & 0xFF) << 8);
}

std::string ServiceNameByPort(int port) {
  const u_short networkPort = static_cast<u_short>(((port & 0xFF) << 8) | ((port >> 8) & 0xFF));
  const servent* found = Entry<servent*(WSAAPI*)(int, const char*)>(winsock::kGetServByPort)(networkPort, "tcp");
  return found != nullptr ? std::string(found->s_name) : std::string();
}

int LocalHostName(std::string& name) {
  char buffer[250] = {};
  if (Entry<int(WSAAPI*)(char*, int)>(winsock::kGetHostName)(buffer, sizeof buffer - 1) != 0) return kSocketFailed;
  name = buffer;
  return 0;
}

}  // namespace platform
