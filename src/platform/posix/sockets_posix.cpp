#include "platform/sockets.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

// The Windows Sockets code of this thread's last failure, set by every failing call of this file.
thread_local int t_lastError = 0;

int Fail(int code) {
  t_lastError = code;
  return kSocketFailed;
}

int FailFromErrno() { return Fail(SocketErrorFromSystemError(errno)); }

int ResolverError(int code) {
  switch (code) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
      return kWsaHostNotFound;
    case EAI_AGAIN:
      return 11002;  // WSATRY_AGAIN
    case EAI_SYSTEM:
      return SocketErrorFromSystemError(errno);
    default:
      return 11003;  // WSANO_RECOVERY
  }
}

sockaddr_in ToSockaddr(const Ipv4Endpoint& endpoint) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(endpoint.port);
  std::memcpy(&address.sin_addr, endpoint.address.data(), 4);
  return address;
}

Ipv4Endpoint FromSockaddr(const sockaddr_in& address) {
  Ipv4Endpoint endpoint;
  std::memcpy(endpoint.address.data(), &address.sin_addr, 4);
  endpoint.port = ntohs(address.sin_port);
  return endpoint;
}

// Windows option values onto the BSD ones; false when the option has no counterpart here.
bool MapOption(int level, int name, int& bsdLevel, int& bsdName) {
  if (level == kLevelSocket) {
    bsdLevel = SOL_SOCKET;
    switch (name) {
      case kOptionReuseAddress: bsdName = SO_REUSEADDR; return true;
      case 0x0008: bsdName = SO_KEEPALIVE; return true;
      case 0x0080: bsdName = SO_LINGER; return true;
      case 0x1001: bsdName = SO_SNDBUF; return true;
      case 0x1002: bsdName = SO_RCVBUF; return true;
      case 0x1007: bsdName = SO_ERROR; return true;
      default: return false;
    }
  }
  if (level == kLevelTcp && name == kOptionNoDelay) {
    bsdLevel = IPPROTO_TCP;
    bsdName = TCP_NODELAY;
    return true;
  }
  return false;
}

// Appends the list's sockets to the poll entries; returns how many were added.
size_t PollList(pollfd* fds, size_t used, const std::vector<SocketHandle>* list, short events) {
  if (list == nullptr) return 0;
  for (size_t i = 0; i < list->size(); ++i) fds[used + i] = pollfd{static_cast<int>((*list)[i]), events, 0};
  return list->size();
}

// Keeps, in place, the sockets whose poll entries report the wanted events; returns how many were kept.
int KeepReady(const pollfd* fds, std::vector<SocketHandle>* list, short wanted) {
  if (list == nullptr) return 0;
  size_t kept = 0;
  for (size_t i = 0; i < list->size(); ++i) {
    if ((fds[i].revents & wanted) != 0) (*list)[kept++] = (*list)[i];
  }
  list->resize(kept);
  return static_cast<int>(kept);
}

}  // namespace

void SetSocketLibraryFailureHandler(SocketLibraryFailureHandler) {
  // The system library is always there on Linux: no failure to report.
}

int SocketStartup(uint16_t) { return 0; }

int SocketLastError() { return t_lastError; }

int SocketErrorFromSystemError(int systemError) {
  switch (systemError) {
    case 0: return 0;
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: case ENFILE: return 10024;
    case EWOULDBLOCK: return 10035;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN: return 10035;
#endif
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return 10054;
    case ENOBUFS: case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    // Writing after this side shut down sending, or after the peer reset the connection.
    case EPIPE: case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    default: return 10000 + systemError;
  }
}

SocketHandle SocketCreate(int family, int type, int protocol) {
  if (family != kAddressFamilyInet) return Fail(10047);
  const int bsdType = type == kSocketTypeStream ? SOCK_STREAM : type == kSocketTypeDatagram ? SOCK_DGRAM : -1;
  if (bsdType < 0) return Fail(10044);
  const int fd = ::socket(AF_INET, bsdType | SOCK_CLOEXEC, protocol);
  if (fd < 0) return FailFromErrno();
  return fd;
}

int SocketBind(SocketHandle socket, const Ipv4Endpoint& local) {
  const sockaddr_in address = ToSockaddr(local);
  if (::bind(static_cast<int>(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return FailFromErrno();
  }
  return 0;
}

int SocketConnect(SocketHandle socket, const Ipv4Endpoint& peer) {
  const sockaddr_in address = ToSockaddr(peer);
  if (::connect(static_cast<int>(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return FailFromErrno();
  }
  return 0;
}

int SocketListen(SocketHandle socket, int backlog) {
  if (::listen(static_cast<int>(socket), backlog) != 0) return FailFromErrno();
  return 0;
}

SocketHandle SocketAccept(SocketHandle socket, Ipv4Endpoint& peer) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  const int fd = ::accept4(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
  if (fd < 0) return FailFromErrno();
  peer = FromSockaddr(address);
  return fd;
}

int SocketReceive(SocketHandle socket, void* buffer, int length, int flags) {
  ssize_t n;
  do {
    n = ::recv(static_cast<int>(socket), buffer, static_cast<size_t>(length), flags);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return FailFromErrno();
  return static_cast<int>(n);
}

int SocketSend(SocketHandle socket, const void* buffer, int length, int flags) {
  ssize_t n;
  do {
    // No SIGPIPE for a peer that went away: the caller gets 10058 like on Windows.
    n = ::send(static_cast<int>(socket), buffer, static_cast<size_t>(length), flags | MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return FailFromErrno();
  return static_cast<int>(n);
}

int SocketReceiveFrom(SocketHandle socket, void* buffer, int length, int flags, Ipv4Endpoint& from) {
  sockaddr_in address{};
  socklen_t addressLength = sizeof address;
  ssize_t n;
  do {
    n = ::recvfrom(static_cast<int>(socket), buffer, static_cast<size_t>(length), flags,
                   reinterpret_cast<sockaddr*>(&address), &addressLength);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return FailFromErrno();
  from = FromSockaddr(address);
  return static_cast<int>(n);
}

int SocketSendTo(SocketHandle socket, const void* buffer, int length, int flags, const Ipv4Endpoint& to) {
  const sockaddr_in address = ToSockaddr(to);
  ssize_t n;
  do {
    n = ::sendto(static_cast<int>(socket), buffer, static_cast<size_t>(length), flags | MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return FailFromErrno();
  return static_cast<int>(n);
}

int SocketShutdown(SocketHandle socket, int how) {
  const int bsdHow = how == kShutdownReceive ? SHUT_RD : how == kShutdownSend ? SHUT_WR : SHUT_RDWR;
  if (::shutdown(static_cast<int>(socket), bsdHow) != 0) return FailFromErrno();
  return 0;
}

int SocketClose(SocketHandle socket) {
  if (::close(static_cast<int>(socket)) != 0) return FailFromErrno();
  return 0;
}

int SocketSetOption(SocketHandle socket, int level, int name, const void* value, int length) {
  int bsdLevel = 0;
  int bsdName = 0;
  if (!MapOption(level, name, bsdLevel, bsdName)) return Fail(10042);
  if (::setsockopt(static_cast<int>(socket), bsdLevel, bsdName, value, static_cast<socklen_t>(length)) != 0) {
    return FailFromErrno();
  }
  return 0;
}

int SocketGetOption(SocketHandle socket, int level, int name, void* value, int& length) {
  int bsdLevel = 0;
  int bsdName = 0;
  if (!MapOption(level, name, bsdLevel, bsdName)) return Fail(10042);
  socklen_t bsdLength = static_cast<socklen_t>(length);
  if (::getsockopt(static_cast<int>(socket), bsdLevel, bsdName, value, &bsdLength) != 0) return FailFromErrno();
  length = static_cast<int>(bsdLength);
  if (bsdName == SO_ERROR && length == sizeof(int)) {
    int* code = static_cast<int*>(value);
    *code = SocketErrorFromSystemError(*code);
  }
  return 0;
}

int SocketSetNonBlocking(SocketHandle socket, bool nonBlocking) {
  const int fd = static_cast<int>(socket);
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return FailFromErrno();
  if (::fcntl(fd, F_SETFL, nonBlocking ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) != 0) return FailFromErrno();
  return 0;
}

int SocketPeerName(SocketHandle socket, Ipv4Endpoint& peer) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getpeername(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return FailFromErrno();
  }
  peer = FromSockaddr(address);
  return 0;
}

int SocketLocalName(SocketHandle socket, Ipv4Endpoint& local) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return FailFromErrno();
  }
  local = FromSockaddr(address);
  return 0;
}

int SocketSelect(std::vector<SocketHandle>* read, std::vector<SocketHandle>* write,
                 std::vector<SocketHandle>* error, int timeoutMilliseconds) {
  // poll() instead of select(): descriptors above FD_SETSIZE would overflow an fd_set. The entries live on
  // the stack, so a wait allocates nothing.
  constexpr size_t kSetSize = 64;
  for (const auto* list : {read, write, error}) {
    if (list != nullptr && list->size() > kSetSize) return Fail(10022);
  }
  pollfd fds[3 * kSetSize];
  const size_t readFirst = 0;
  const size_t writeFirst = readFirst + PollList(fds, readFirst, read, POLLIN);
  const size_t errorFirst = writeFirst + PollList(fds, writeFirst, write, POLLOUT);
  const size_t count = errorFirst + PollList(fds, errorFirst, error, POLLPRI);
  int result;
  do {
    result = ::poll(fds, count, timeoutMilliseconds < 0 ? -1 : timeoutMilliseconds);
  } while (result < 0 && errno == EINTR);
  if (result < 0) return FailFromErrno();
  // select() reports a descriptor that is not open as an error; poll() marks it POLLNVAL and returns at
  // once. Checked after the wait rather than before it, so that a wait costs one system call.
  for (size_t i = 0; i < count; ++i) {
    if ((fds[i].revents & POLLNVAL) != 0) return Fail(10038);
  }
  // A closed or failed connection is readable (the receive reports it), as with select().
  int ready = KeepReady(fds + readFirst, read, POLLIN | POLLHUP | POLLERR);
  ready += KeepReady(fds + writeFirst, write, POLLOUT | POLLHUP | POLLERR);
  ready += KeepReady(fds + errorFirst, error, POLLPRI);
  return ready;
}

int ResolveHostAddresses(const std::string& name, std::vector<Ipv4Address>& addresses) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int status = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (status != 0) return Fail(ResolverError(status));
  addresses.clear();
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET) continue;
    Ipv4Address address;
    std::memcpy(address.data(), &reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr, 4);
    addresses.push_back(address);
  }
  ::freeaddrinfo(found);
  if (addresses.empty()) return Fail(kWsaHostNotFound);
  return 0;
}

int ResolveHostName(const Ipv4Address& address, std::string& name) {
  const sockaddr_in socketAddress = ToSockaddr(Ipv4Endpoint{address, 0});
  char host[NI_MAXHOST];
  const int status = ::getnameinfo(reinterpret_cast<const sockaddr*>(&socketAddress), sizeof socketAddress, host,
                                   sizeof host, nullptr, 0, NI_NAMEREQD);
  if (status != 0) return Fail(ResolverError(status));
  name = host;
  return 0;
}

int ServicePortByName(const std::string& name) {
  servent entry{};
  servent* found = nullptr;
  char buffer[1024];
  if (::getservbyname_r(name.c_str(), "tcp", &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr) {
    return -1;
  }
  return ntohs(static_cast<uint16_t>(found->s_port));
}

std::string ServiceNameByPort(int port) {
  servent entry{};
  servent* found = nullptr;
  char buffer[1024];
  if (::getservbyport_r(htons(static_cast<uint16_t>(port)), "tcp", &entry, buffer, sizeof buffer, &found) != 0 ||
      found == nullptr) {
    return std::string();
  }
  return found->s_name;
}

int LocalHostName(std::string& name) {
  char buffer[250] = {};
  if (::gethostname(buffer, sizeof buffer - 1) != 0) return FailFromErrno();
  name = buffer;
  return 0;
}

}  // namespace platform
