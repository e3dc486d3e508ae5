#pragma once
// IPv4 stream sockets with Windows Sockets semantics on both targets: a failing call returns -1 (or kNoSocket)
// and SocketLastError() gives the Windows Sockets code of the calling thread's last failure. Windows binds
// "WS2_32.DLL" at run time; Linux calls BSD sockets and maps errno and resolver failures onto the same codes,
// so that messages and the codes callers test agree on both targets.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;
inline constexpr int kSocketFailed = -1;

// Windows Sockets error codes that callers test.
inline constexpr int kWsaInterrupted = 10004;
inline constexpr int kWsaBadFile = 10009;
inline constexpr int kWsaInvalidArgument = 10022;
inline constexpr int kWsaWouldBlock = 10035;
inline constexpr int kWsaNotSocket = 10038;
inline constexpr int kWsaAddressInUse = 10048;
inline constexpr int kWsaNetworkUnreachable = 10051;
inline constexpr int kWsaConnectionAborted = 10053;
inline constexpr int kWsaConnectionReset = 10054;
inline constexpr int kWsaShutdown = 10058;
inline constexpr int kWsaTimedOut = 10060;
inline constexpr int kWsaConnectionRefused = 10061;
inline constexpr int kWsaHostUnreachable = 10065;
inline constexpr int kWsaNotInitialised = 10093;
inline constexpr int kWsaHostNotFound = 11001;

// Socket option levels and names, in their Windows values (mapped on Linux).
inline constexpr int kLevelSocket = 0xFFFF;
inline constexpr int kLevelTcp = 6;
inline constexpr int kOptionReuseAddress = 0x0004;
inline constexpr int kOptionNoDelay = 0x0001;  // at kLevelTcp

inline constexpr int kAddressFamilyInet = 2;
inline constexpr int kSocketTypeStream = 1;
inline constexpr int kSocketTypeDatagram = 2;
inline constexpr int kProtocolTcp = 6;
inline constexpr int kProtocolUdp = 17;

// shutdown() directions.
inline constexpr int kShutdownReceive = 0;
inline constexpr int kShutdownSend = 1;
inline constexpr int kShutdownBoth = 2;

using Ipv4Address = std::array<uint8_t, 4>;  // network order: {127, 0, 0, 1}

struct Ipv4Endpoint {
  Ipv4Address address{};
  uint16_t port = 0;  // host order
};

// Why the socket library could not be used at all (Windows: "WS2_32.DLL" missing, or a function called
// before start-up or not exported). Passed to the failure handler, which raises the caller's exception.
struct SocketLibraryFailure {
  std::string title;          // "Error on loading Winsock2 library (WS2_32.DLL)" or "... function <name>"
  uint32_t systemCode = 0;    // the system's error number, 0 when none
  std::string systemMessage;  // the system's text for systemCode (empty when none)
};
// Must not return (it raises). Without a handler, or when it returns, std::runtime_error is raised.
using SocketLibraryFailureHandler = void (*)(const SocketLibraryFailure& failure);
void SetSocketLibraryFailureHandler(SocketLibraryFailureHandler handler);

// Starts the socket library with the requested version (0x0202). Returns 0, or a Windows Sockets code.
// Once the library is loaded later calls return 0 at once. A library that cannot be loaded goes to the
// failure handler. The library is cleaned up once and unbound at process end.
int SocketStartup(uint16_t version);

// The Windows Sockets code of this thread's last failed socket call.
int SocketLastError();

// Maps a system error number (errno on Linux) onto its Windows Sockets code; the identity on Windows.
int SocketErrorFromSystemError(int systemError);

SocketHandle SocketCreate(int family, int type, int protocol);
int SocketBind(SocketHandle socket, const Ipv4Endpoint& local);
int SocketConnect(SocketHandle socket, const Ipv4Endpoint& peer);
int SocketListen(SocketHandle socket, int backlog);
SocketHandle SocketAccept(SocketHandle socket, Ipv4Endpoint& peer);
// Count moved, 0 when the peer closed (receive), -1 on an error. Sending never raises a signal.
int SocketReceive(SocketHandle socket, void* buffer, int length, int flags);
int SocketSend(SocketHandle socket, const void* buffer, int length, int flags);
// Datagram forms: the sender's address comes with the data; the receiver's address goes with it.
int SocketReceiveFrom(SocketHandle socket, void* buffer, int length, int flags, Ipv4Endpoint& from);
int SocketSendTo(SocketHandle socket, const void* buffer, int length, int flags, const Ipv4Endpoint& to);
int SocketShutdown(SocketHandle socket, int how);
int SocketClose(SocketHandle socket);
int SocketSetOption(SocketHandle socket, int level, int name, const void* value, int length);
int SocketGetOption(SocketHandle socket, int level, int name, void* value, int& length);
int SocketSetNonBlocking(SocketHandle socket, bool nonBlocking);
int SocketPeerName(SocketHandle socket, Ipv4Endpoint& peer);
int SocketLocalName(SocketHandle socket, Ipv4Endpoint& local);

// Waits until a socket of the lists is ready, at most timeoutMilliseconds (negative: no limit). Each given
// list is replaced by its ready sockets. Returns the number of ready sockets, 0 on timeout, -1 on an error.
// The caller keeps each list at 64 sockets or fewer (the Windows set size).
int SocketSelect(std::vector<SocketHandle>* read, std::vector<SocketHandle>* write,
                 std::vector<SocketHandle>* error, int timeoutMilliseconds);

// The IPv4 addresses of a host name, in the resolver's order; -1 (with the last error, e.g. 11001) when the
// name has none.
int ResolveHostAddresses(const std::string& name, std::vector<Ipv4Address>& addresses);
// The name of the host with the address; -1 (with the last error) when it has none.
int ResolveHostName(const Ipv4Address& address, std::string& name);
// The TCP port (host order) of a name in the services database; -1 when the name is not there.
int ServicePortByName(const std::string& name);
// The name of the TCP service on the port; empty when the database has none.
std::string ServiceNameByPort(int port);
// This machine's host name; -1 on an error.
int LocalHostName(std::string& name);

}  // namespace platform
