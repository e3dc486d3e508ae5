#include "net/socks_info.h"

#include <algorithm>

#include "net/socket_handle.h"
#include "net/stack.h"
#include "rtl/sysutils.h"

namespace {

// SOCKS 4 reply codes (the second byte of the eight-byte reply).
constexpr uint8_t kSocks4Granted = 90;
// SOCKS 5 methods and address types.
constexpr uint8_t kNoAuthentication = 0x00;
constexpr uint8_t kUsernamePassword = 0x02;
constexpr uint8_t kNoAcceptableMethod = 0xFF;
constexpr uint8_t kAddressIpv4 = 0x01;
constexpr uint8_t kAddressName = 0x03;
constexpr uint8_t kAddressIpv6 = 0x04;

const char* Socks4Refusal(uint8_t code) {
  switch (code) {
    case 91: return "request rejected or failed";
    case 92: return "the server cannot reach the client's identd";
    case 93: return "identd reports a different user id";
    default: return "unknown reply code";
  }
}

const char* Socks5Refusal(uint8_t code) {
  switch (code) {
    case 1: return "general SOCKS server failure";
    case 2: return "connection not allowed by ruleset";
    case 3: return "network unreachable";
    case 4: return "host unreachable";
    case 5: return "connection refused";
    case 6: return "TTL expired";
    case 7: return "command not supported";
    case 8: return "address type not supported";
    default: return "unknown reply code";
  }
}

// The socket's bytes as the negotiation needs them: whole messages out, exact counts in, each answer
// waited for at most the reply limit.
class SocksChannel {
 public:
  SocksChannel(TIdSocketHandle& binding, int timeout)
      : m_binding(binding), m_timeout(timeout > 0 ? timeout : IdTimeoutInfinite) {}

  void Send(const std::string& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
      if (!m_binding.HandleAllocated()) throw EIdConnClosedGracefully();
      const int n = m_binding.SendData(bytes.data() + sent, static_cast<int>(bytes.size() - sent));
      if (n <= 0) GStack->FailWithSocketError(GStack->LastPlatformError());
      sent += static_cast<size_t>(n);
    }
  }

  std::string Receive(size_t count) {
    std::string bytes;
    while (bytes.size() < count) {
      if (!m_binding.Readable(m_timeout)) throw EIdReadTimeout();
      // The UI may have closed the socket during the wait.
      if (!m_binding.HandleAllocated()) throw EIdConnClosedGracefully();
      char piece[256];
      const int wanted = static_cast<int>(std::min(count - bytes.size(), sizeof piece));
      const int n = m_binding.ReceiveData(piece, wanted);
      if (n < 0) GStack->FailWithSocketError(GStack->LastPlatformError());
      if (n == 0) throw EIdSocksError("SOCKS server closed the connection during the negotiation");
      bytes.append(piece, static_cast<size_t>(n));
    }
    return bytes;
  }

 private:
  TIdSocketHandle& m_binding;
  int m_timeout;
};

std::string PortBytes(int port) {
  return {static_cast<char>((port >> 8) & 0xFF), static_cast<char>(port & 0xFF)};
}

// A length-prefixed field of SOCKS 5; the protocol counts its lengths in one byte.
std::string Counted(const std::string& text, const char* what) {
  if (text.size() > 255) throw EIdSocksError(Format("SOCKS 5 %s longer than 255 bytes", what));
  return static_cast<char>(text.size()) + text;
}

uint8_t Byte(const std::string& bytes, size_t index) { return static_cast<uint8_t>(bytes[index]); }

}  // namespace

void TIdSocksInfo::Negotiate(TIdSocketHandle& binding, const std::string& host, int port) const {
  switch (Version) {
    case svNoSocks:
      return;
    case svSocks4:
    case svSocks4A:
      NegotiateVersion4(binding, host, port);
      return;
    case svSocks5:
      NegotiateVersion5(binding, host, port);
      return;
  }
}

void TIdSocksInfo::NegotiateVersion4(TIdSocketHandle& binding, const std::string& host, int port) const {
  // SOCKS 4 knows only IPv4 addresses; 4a marks a name with the address 0.0.0.1 and sends it after the
  // user id, for the server to resolve.
  const bool sendName = Version == svSocks4A && !TIdStack::IsIPAddress(host);
  const platform::Ipv4Address address =
      sendName ? platform::Ipv4Address{0, 0, 0, 1} : TIdStack::ParseAddress(GStack->LookupHostAddress(host));
  std::string request = {4, 1};
  request += PortBytes(port);
  request.append(reinterpret_cast<const char*>(address.data()), address.size());
  request += Username + '\0';
  if (sendName) request += host + '\0';
  SocksChannel channel(binding, ReplyTimeout);
  channel.Send(request);
  const std::string reply = channel.Receive(8);
  if (Byte(reply, 0) != 0) {
    throw EIdSocksError(Format("SOCKS 4 server answered with version %u, not a SOCKS 4 reply", Byte(reply, 0)));
  }
  if (Byte(reply, 1) != kSocks4Granted) {
    throw EIdSocksError(
        Format("SOCKS 4 server refused the connection: %s (%u)", Socks4Refusal(Byte(reply, 1)), Byte(reply, 1)));
  }
}

void TIdSocksInfo::NegotiateVersion5(TIdSocketHandle& binding, const std::string& host, int port) const {
  SocksChannel channel(binding, ReplyTimeout);
  // Credentials are offered only when there are some: a server that demands them then says so by choosing
  // no method, which fails clearly instead of sending empty ones.
  if (Username.empty()) {
    channel.Send({5, 1, static_cast<char>(kNoAuthentication)});
  } else {
    channel.Send({5, 2, static_cast<char>(kNoAuthentication), static_cast<char>(kUsernamePassword)});
  }
  const std::string choice = channel.Receive(2);
  if (Byte(choice, 0) != 5) {
    throw EIdSocksError(Format("SOCKS 5 server answered with version %u, not a SOCKS 5 reply", Byte(choice, 0)));
  }
  const uint8_t method = Byte(choice, 1);
  if (method == kUsernamePassword && !Username.empty()) {
    Authenticate5(binding);
  } else if (method == kNoAcceptableMethod) {
    throw EIdSocksError(Username.empty() ? "SOCKS 5 server requires credentials, and none were given"
                                         : "SOCKS 5 server accepts none of the offered authentication methods");
  } else if (method != kNoAuthentication) {
    throw EIdSocksError(Format("SOCKS 5 server chose the method %u, which was not offered", method));
  }

  std::string request = {5, 1, 0};
  if (TIdStack::IsIPAddress(host)) {
    const platform::Ipv4Address address = TIdStack::ParseAddress(host);
    request += static_cast<char>(kAddressIpv4);
    request.append(reinterpret_cast<const char*>(address.data()), address.size());
  } else {
    request += static_cast<char>(kAddressName) + Counted(host, "host name");
  }
  request += PortBytes(port);
  channel.Send(request);

  const std::string reply = channel.Receive(4);
  if (Byte(reply, 0) != 5 || Byte(reply, 2) != 0) {
    throw EIdSocksError("SOCKS 5 server answered the request with something that is not a SOCKS 5 reply");
  }
  if (Byte(reply, 1) != 0) {
    throw EIdSocksError(
        Format("SOCKS 5 server refused the connection: %s (%u)", Socks5Refusal(Byte(reply, 1)), Byte(reply, 1)));
  }
  // The bound address that follows is of no use to a client, but it must be read: the target's bytes
  // come after it.
  switch (Byte(reply, 3)) {
    case kAddressIpv4:
      channel.Receive(4 + 2);
      break;
    case kAddressIpv6:
      channel.Receive(16 + 2);
      break;
    case kAddressName:
      channel.Receive(Byte(channel.Receive(1), 0) + 2u);
      break;
    default:
      throw EIdSocksError(Format("SOCKS 5 server answered with the unknown address type %u", Byte(reply, 3)));
  }
}

void TIdSocksInfo::Authenticate5(TIdSocketHandle& binding) const {
  SocksChannel channel(binding, ReplyTimeout);
  channel.Send('\x01' + Counted(Username, "user name") + Counted(Password, "password"));
  const std::string status = channel.Receive(2);
  if (Byte(status, 0) != 1) {
    throw EIdSocksError("SOCKS 5 server answered the credentials with something that is not a reply to them");
  }
  if (Byte(status, 1) != 0) throw EIdSocksError("SOCKS 5 server rejected the user name or password");
}
