#pragma once
// The SOCKS settings of a socket handler and the negotiation that follows its connect: with a version set,
// the handler connects to the SOCKS server instead of the target, and this asks the server for a connection
// to the target over the same socket. SOCKS 4 carries an IPv4 address (a name is resolved here), SOCKS 4a
// and 5 carry the name for the server to resolve; SOCKS 5 offers user name and password (RFC 1929) when a
// user name is set.
#include <cstdint>
#include <string>

#include "net/exceptions.h"

class TIdSocketHandle;

enum TSocksVersion { svNoSocks, svSocks4, svSocks4A, svSocks5 };

// The SOCKS server refused the request or answered something that is not SOCKS; the message says which.
class EIdSocksError : public EIdException {
 public:
  using EIdException::EIdException;
};

class TIdSocksInfo {
 public:
  TSocksVersion Version = svNoSocks;
  std::string Host;
  int Port = 1080;
  // SOCKS 5: sent when the server asks for them; SOCKS 4 and 4a: the user name is the request's user id.
  std::string Username;
  std::string Password;
  // The longest wait for each answer of the server, in ms (0: no limit). A server that accepts the connect
  // and then says nothing fails with EIdReadTimeout.
  int ReplyTimeout = 0;

  // Over the binding, connected to the SOCKS server: a connection to host:port (nothing for svNoSocks).
  // Failures: EIdSocksError (a refusal, an unusable answer, credentials the server rejects or needs but
  // were not given, a name or credentials too long for the protocol), EIdReadTimeout, EIdSocketError for
  // the socket and the local resolving of SOCKS 4, EIdConnClosedGracefully when the socket was closed
  // during a wait (the cancel button).
  void Negotiate(TIdSocketHandle& binding, const std::string& host, int port) const;

 private:
  void NegotiateVersion4(TIdSocketHandle& binding, const std::string& host, int port) const;
  void NegotiateVersion5(TIdSocketHandle& binding, const std::string& host, int port) const;
  void Authenticate5(TIdSocketHandle& binding) const;
};
