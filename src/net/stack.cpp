#include "net/stack.h"

#include <cstring>

#include "net/exceptions.h"
#include "rtl/sysutils.h"

TIdStack* GStack = nullptr;

namespace {

const char* ErrorDescription(int code) {
  switch (code) {
    case 10004: return "Interrupted system call.";
    case 10009: return "Bad file number.";
    case 10013: return "Access denied.";
    case 10014: return "Bad address.";
    case 10022: return "Invalid argument.";
    case 10024: return "Too many open files.";
    case 10035: return "Operation would block. ";
    case 10036: return "Operation now in progress.";
    case 10037: return "Operation already in progress.";
    case 10038: return "Socket operation on non-socket.";
    case 10039: return "Destination address required.";
    case 10040: return "Message too long.";
    case 10041: return "Protocol wrong type for socket.";
    case 10042: return "Bad protocol option.";
    case 10043: return "Protocol not supported.";
    case 10044: return "Socket type not supported.";
    case 10045: return "Operation not supported on socket.";
    case 10046: return "Protocol family not supported.";
    case 10047: return "Address family not supported by protocol family.";
    case 10048: return "Address already in use.";
    case 10049: return "Cannot assign requested address.";
    case 10050: return "Network is down.";
    case 10051: return "Network is unreachable.";
    case 10052: return "Net dropped connection or reset.";
    case 10053: return "Software caused connection abort.";
    case 10054: return "Connection reset by peer.";
    case 10055: return "No buffer space available.";
    case 10056: return "Socket is already connected.";
    case 10057: return "Socket is not connected.";
    case 10058: return "Cannot send or receive after socket is closed.";
    case 10059: return "Too many references, cannot splice.";
    case 10060: return "Connection timed out.";
    case 10061: return "Connection refused.";
    case 10062: return "Too many levels of symbolic links.";
    case 10063: return "File name too long.";
    case 10064: return "Host is down.";
    case 10065: return "No route to host.";
    case 10066: return "Directory not empty";
    default: return "";
  }
}

std::string FormatSocketError(int code, const char* text) { return Format("Socket Error # %d\r\n%s", code, text); }

// A part of an address: decimal digits only, at most max.
bool ParsePart(const std::string& text, size_t begin, size_t end, uint64_t max, uint64_t& value) {
  if (begin == end) return false;
  value = 0;
  for (size_t i = begin; i < end; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > max) return false;
  }
  return true;
}

[[noreturn]] void RaiseStubError(const platform::SocketLibraryFailure& failure) {
  throw EIdWS2StubError(failure.title, failure.systemCode, failure.systemMessage);
}

platform::Ipv4Endpoint Endpoint(const std::string& address, int port) {
  platform::Ipv4Endpoint endpoint;
  if (!address.empty()) endpoint.address = TIdStack::ParseAddress(address);
  endpoint.port = static_cast<uint16_t>(port);
  return endpoint;
}

}  // namespace

void TIdStack::FillLocalAddresses() {
  std::vector<platform::Ipv4Address> addresses;
  const std::string name = LocalHostName();
  if (platform::ResolveHostAddresses(name, addresses) != 0) FailWithSocketError(LastPlatformError());
  m_localAddresses->clear();
  for (const auto& address : addresses) m_localAddresses->push_back(FormatAddress(address));
}

std::string TIdStack::FirstLocalAddress() {
  const auto& addresses = LocalAddresses();
  return addresses.empty() ? std::string() : addresses.front();
}

const std::vector<std::string>& TIdStack::LocalAddresses() {
  if (!m_localAddresses) {
    m_localAddresses = std::make_unique<std::vector<std::string>>();
    FillLocalAddresses();
  }
  return *m_localAddresses;
}

std::string TIdStack::SocketErrorText(int code) { return FormatSocketError(code, ErrorDescription(code)); }

std::string TIdStack::FormatAddress(const platform::Ipv4Address& address) {
  return Format("%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
}

bool TIdStack::TryParseAddress(const std::string& text, platform::Ipv4Address& address) {
  std::vector<uint64_t> parts;
  size_t begin = 0;
  while (true) {
    const size_t dot = text.find('.', begin);
    const size_t end = dot == std::string::npos ? text.size() : dot;
    if (parts.size() == 4) return false;
    uint64_t value = 0;
    if (!ParsePart(text, begin, end, 0xFFFFFFFFu, value)) return false;
    parts.push_back(value);
    if (dot == std::string::npos) break;
    begin = dot + 1;
  }
  // The parts before the last are one byte each; the last one fills the bytes they leave.
  static constexpr uint64_t kLastPartMax[] = {0, 0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu, 0xFFu};
  const size_t count = parts.size();
  for (size_t i = 0; i + 1 < count; ++i) {
    if (parts[i] > 0xFF) return false;
  }
  if (parts.back() > kLastPartMax[count]) return false;
  uint32_t value = 0;
  for (size_t i = 0; i + 1 < count; ++i) value |= static_cast<uint32_t>(parts[i]) << (24 - 8 * i);
  value |= static_cast<uint32_t>(parts.back());
  address = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
             static_cast<uint8_t>(value)};
  return true;
}

platform::Ipv4Address TIdStack::ParseAddress(const std::string& text) {
  platform::Ipv4Address address;
  if (!TryParseAddress(text, address)) throw EIdInvalidIPAddress(text);
  return address;
}

bool TIdStack::IsIPAddress(const std::string& text) {
  platform::Ipv4Address address;
  return TryParseAddress(text, address);
}

TIdStackSocketHandle TIdStack::CreateCheckedSocket(int type, int protocol) {
  const TIdStackSocketHandle socket = CreateSocket(Id_PF_INET, type, protocol);
  if (socket == Id_INVALID_SOCKET) throw EIdInvalidSocket();
  return socket;
}

std::string TIdStack::LookupHostAddress(const std::string& name) {
  if (SameText(name, "LOCALHOST")) return "127.0.0.1";
  if (IsIPAddress(name)) return name;
  return HostAddressByName(name);
}

bool TIdStack::CheckSocketResult(int result, std::initializer_list<int> ignored) {
  if (result != Id_SOCKET_ERROR) return false;
  const int code = LastPlatformError();
  m_lastError = code;
  for (const int candidate : ignored) {
    if (candidate == code) return true;
  }
  FailWithSocketError(code);
}

void TIdStack::FailWithSocketError(int code) { throw EIdSocketError(code, SocketErrorText(code)); }

TIdStackWindows::TIdStackWindows() {
  platform::SetSocketLibraryFailureHandler(&RaiseStubError);
  if (platform::SocketStartup(0x0202) != 0) throw EIdStackInitializationFailed();
}

TIdStackSocketHandle TIdStackWindows::AcceptConnection(TIdStackSocketHandle socket, std::string& peerIP,
                                                       int& peerPort) {
  platform::Ipv4Endpoint peer;
  const TIdStackSocketHandle accepted = platform::SocketAccept(socket, peer);
  if (accepted != Id_INVALID_SOCKET) {
    peerIP = FormatAddress(peer.address);
    peerPort = peer.port;
  }
  return accepted;
}

int TIdStackWindows::BindSocket(TIdStackSocketHandle socket, int, const std::string& address, int port) {
  return platform::SocketBind(socket, Endpoint(address, port));
}

int TIdStackWindows::CloseSocketHandle(TIdStackSocketHandle socket) { return platform::SocketClose(socket); }

int TIdStackWindows::ConnectSocket(TIdStackSocketHandle socket, int, const std::string& address, int port) {
  return platform::SocketConnect(socket, Endpoint(address, port));
}

std::string TIdStackWindows::HostAddressByName(const std::string& name) {
  std::vector<platform::Ipv4Address> addresses;
  if (platform::ResolveHostAddresses(name, addresses) != 0) FailWithSocketError(LastPlatformError());
  return FormatAddress(addresses.front());
}

std::string TIdStackWindows::LocalHostName() {
  std::string name;
  if (platform::LocalHostName(name) != 0) return std::string();
  return name;
}

std::string TIdStackWindows::LookupName(const std::string& address) {
  std::string name;
  if (platform::ResolveHostName(ParseAddress(address), name) != 0) FailWithSocketError(LastPlatformError());
  return name;
}

int TIdStackWindows::ServicePort(const std::string& name) {
  const int port = platform::ServicePortByName(name);
  if (port < 0) throw EIdInvalidServiceName(name);
  return port;
}

std::string TIdStackWindows::ServiceName(int port) { return platform::ServiceNameByPort(port); }

// Network order is big-endian; these are the same on either byte order of the host.
uint16_t TIdStackWindows::HostToNet16(uint16_t value) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  uint16_t result;
  std::memcpy(&result, bytes, 2);
  return result;
}

uint16_t TIdStackWindows::NetToHost16(uint16_t value) {
  uint8_t bytes[2];
  std::memcpy(bytes, &value, 2);
  return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

uint32_t TIdStackWindows::HostToNet32(uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                            static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  uint32_t result;
  std::memcpy(&result, bytes, 4);
  return result;
}

uint32_t TIdStackWindows::NetToHost32(uint32_t value) {
  uint8_t bytes[4];
  std::memcpy(bytes, &value, 4);
  return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
         static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

int TIdStackWindows::ListenOnSocket(TIdStackSocketHandle socket, int backlog) {
  return platform::SocketListen(socket, backlog);
}

int TIdStackWindows::ReceiveOnSocket(TIdStackSocketHandle socket, void* buffer, int length, int flags) {
  return platform::SocketReceive(socket, buffer, length, flags);
}

int TIdStackWindows::ReceiveFromPeer(TIdStackSocketHandle socket, void* buffer, int length, int flags,
                                     std::string& ip, int& port) {
  platform::Ipv4Endpoint from;
  const int result = platform::SocketReceiveFrom(socket, buffer, length, flags, from);
  if (result != Id_SOCKET_ERROR) {
    ip = FormatAddress(from.address);
    port = from.port;
  }
  return result;
}

int TIdStackWindows::WaitSockets(std::vector<TIdStackSocketHandle>* readList,
                                 std::vector<TIdStackSocketHandle>* writeList, int timeout,
                                 std::vector<TIdStackSocketHandle>* errorList) {
  for (const auto* list : {readList, writeList, errorList}) {
    if (list != nullptr && list->size() > IdMaxSocketSetSize) throw EIdStackSetSizeExceeded();
  }
  return platform::SocketSelect(readList, writeList, errorList, timeout == IdTimeoutInfinite ? -1 : timeout);
}

int TIdStackWindows::SendOnSocket(TIdStackSocketHandle socket, const void* buffer, int length, int flags) {
  return platform::SocketSend(socket, buffer, length, flags);
}

int TIdStackWindows::SendToPeer(TIdStackSocketHandle socket, const void* buffer, int length, int flags,
                                const std::string& ip, int port) {
  return platform::SocketSendTo(socket, buffer, length, flags, Endpoint(ip, port));
}

int TIdStackWindows::SetSocketOption(TIdStackSocketHandle socket, int level, int name, const void* value,
                                     int length) {
  return platform::SocketSetOption(socket, level, name, value, length);
}

TIdStackSocketHandle TIdStackWindows::CreateSocket(int family, int type, int protocol) {
  return platform::SocketCreate(family, type, protocol);
}

int TIdStackWindows::ShutdownSocket(TIdStackSocketHandle socket, int how) {
  return platform::SocketShutdown(socket, how);
}

std::string TIdStackWindows::SocketErrorText(int code) {
  if (code == platform::kWsaHostNotFound) return FormatSocketError(code, "Host not found.");
  return TIdStack::SocketErrorText(code);
}

int TIdStackWindows::LastPlatformError() { return platform::SocketLastError(); }

int TIdStackWindows::PeerName(TIdStackSocketHandle socket, int& family, std::string& ip, int& port) {
  platform::Ipv4Endpoint peer;
  const int result = platform::SocketPeerName(socket, peer);
  if (result == 0) {
    family = Id_PF_INET;
    ip = FormatAddress(peer.address);
    port = peer.port;
  }
  return result;
}

int TIdStackWindows::LocalName(TIdStackSocketHandle socket, int& family, std::string& ip, int& port) {
  platform::Ipv4Endpoint local;
  const int result = platform::SocketLocalName(socket, local);
  if (result == 0) {
    family = Id_PF_INET;
    ip = FormatAddress(local.address);
    port = local.port;
  }
  return result;
}

int TIdStackWindows::GetSocketOption(TIdStackSocketHandle socket, int level, int name, int& value) {
  int length = sizeof value;
  return platform::SocketGetOption(socket, level, name, &value, length);
}
