#pragma once
// The process-wide socket stack: every socket call of the connection layer goes through it, errors are
// turned into EIdSocketError with the Windows Sockets code and its text, and addresses are parsed and
// formatted here. One instance lives while any TIdComponent exists (see component.h); GStack points at it.
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/sockets.h"

using TIdStackSocketHandle = platform::SocketHandle;
inline constexpr TIdStackSocketHandle Id_INVALID_SOCKET = platform::kNoSocket;
inline constexpr int Id_SOCKET_ERROR = platform::kSocketFailed;
inline constexpr int Id_PF_INET = platform::kAddressFamilyInet;
inline constexpr int Id_SOCK_STREAM = platform::kSocketTypeStream;
inline constexpr int Id_SOCK_DGRAM = platform::kSocketTypeDatagram;
inline constexpr int Id_IPPROTO_TCP = platform::kProtocolTcp;
inline constexpr int Id_IPPROTO_UDP = platform::kProtocolUdp;
// WaitSockets timeout meaning "no limit".
inline constexpr int IdTimeoutInfinite = -2;
// A read's timeout meaning "the connection's ReadTimeout".
inline constexpr int IdTimeoutDefault = -1;
// Largest socket list WaitSockets takes (the Windows set size).
inline constexpr size_t IdMaxSocketSetSize = 64;

class TIdStack {
 public:
  TIdStack() = default;
  virtual ~TIdStack() = default;
  TIdStack(const TIdStack&) = delete;
  TIdStack& operator=(const TIdStack&) = delete;

  // The local host's addresses in dotted form, filled on first use. Fails with EIdSocketError.
  virtual void FillLocalAddresses();
  std::string FirstLocalAddress();
  const std::vector<std::string>& LocalAddresses();

  virtual TIdStackSocketHandle AcceptConnection(TIdStackSocketHandle socket, std::string& peerIP,
                                                int& peerPort) = 0;
  // An empty address binds to any; a non-empty one must be an IPv4 literal (EIdInvalidIPAddress).
  virtual int BindSocket(TIdStackSocketHandle socket, int family, const std::string& address, int port) = 0;
  virtual int CloseSocketHandle(TIdStackSocketHandle socket) = 0;
  virtual int ConnectSocket(TIdStackSocketHandle socket, int family, const std::string& address, int port) = 0;
  // First address of the name, dotted. Fails with EIdSocketError (e.g. 11001) when there is none.
  virtual std::string HostAddressByName(const std::string& name) = 0;
  virtual std::string LocalHostName() = 0;
  virtual std::string LookupName(const std::string& address) = 0;
  // The TCP port of a service name; EIdInvalidServiceName "<name> is not a valid service." when unknown.
  virtual int ServicePort(const std::string& name) = 0;
  // The service name of a TCP port; empty when unknown.
  virtual std::string ServiceName(int port) = 0;
  virtual uint16_t HostToNet16(uint16_t value) = 0;
  virtual int ListenOnSocket(TIdStackSocketHandle socket, int backlog) = 0;
  virtual uint16_t NetToHost16(uint16_t value) = 0;
  virtual uint32_t HostToNet32(uint32_t value) = 0;
  virtual uint32_t NetToHost32(uint32_t value) = 0;
  virtual int ReceiveOnSocket(TIdStackSocketHandle socket, void* buffer, int length, int flags) = 0;
  // Also gives the sender's dotted address and port. The platform result.
  virtual int ReceiveFromPeer(TIdStackSocketHandle socket, void* buffer, int length, int flags, std::string& ip,
                              int& port) = 0;
  // Waits until a listed socket is ready (timeout in ms, IdTimeoutInfinite for none); each given list is
  // replaced by its ready sockets. Returns the ready count, 0 on timeout, -1 on an error. Fails with
  // EIdStackSetSizeExceeded for a list longer than 64.
  virtual int WaitSockets(std::vector<TIdStackSocketHandle>* readList, std::vector<TIdStackSocketHandle>* writeList,
                          int timeout, std::vector<TIdStackSocketHandle>* errorList) = 0;
  virtual int SendOnSocket(TIdStackSocketHandle socket, const void* buffer, int length, int flags) = 0;
  virtual int SendToPeer(TIdStackSocketHandle socket, const void* buffer, int length, int flags,
                         const std::string& ip, int port) = 0;
  virtual int SetSocketOption(TIdStackSocketHandle socket, int level, int name, const void* value, int length) = 0;
  virtual TIdStackSocketHandle CreateSocket(int family, int type, int protocol) = 0;
  virtual int ShutdownSocket(TIdStackSocketHandle socket, int how) = 0;
  // "Socket Error # <code>" CR LF <the code's text, empty for codes without one>.
  virtual std::string SocketErrorText(int code);
  virtual int LastPlatformError() = 0;
  virtual int PeerName(TIdStackSocketHandle socket, int& family, std::string& ip, int& port) = 0;
  virtual int LocalName(TIdStackSocketHandle socket, int& family, std::string& ip, int& port) = 0;
  virtual int GetSocketOption(TIdStackSocketHandle socket, int level, int name, int& value) = 0;
  static std::string FormatAddress(const platform::Ipv4Address& address);
  // The four address forms (a.b.c.d, a.b.c16, a.b24, a32); fails with EIdInvalidIPAddress.
  static platform::Ipv4Address ParseAddress(const std::string& text);
  static bool TryParseAddress(const std::string& text, platform::Ipv4Address& address);

  // A stream (or other) socket of family AF_INET; fails with EIdInvalidSocket "Cannot allocate socket.".
  TIdStackSocketHandle CreateCheckedSocket(int type, int protocol);
  // "LOCALHOST" in any case gives 127.0.0.1, an address stays as written, any other name is looked up.
  std::string LookupHostAddress(const std::string& name);
  static bool IsIPAddress(const std::string& text);
  // False for a result other than -1; for -1 stores the platform error and returns true when it is among
  // the ignored codes, else fails with EIdSocketError.
  bool CheckSocketResult(int result, std::initializer_list<int> ignored = {});
  [[noreturn]] void FailWithSocketError(int code);
  // The platform error stored by the last CheckSocketResult of any thread.
  int LastError() const { return m_lastError; }

 private:
  std::atomic<int> m_lastError{0};
  std::unique_ptr<std::vector<std::string>> m_localAddresses;
};

// The stack over the platform's socket library (Windows Sockets, or BSD sockets mapped onto its codes).
class TIdStackWindows : public TIdStack {
 public:
  // Starts the socket library once per process; fails with EIdStackInitializationFailed
  // "Winsock Initialization Error." or, when the library cannot be loaded, EIdWS2StubError.
  TIdStackWindows();

  TIdStackSocketHandle AcceptConnection(TIdStackSocketHandle socket, std::string& peerIP, int& peerPort) override;
  int BindSocket(TIdStackSocketHandle socket, int family, const std::string& address, int port) override;
  int CloseSocketHandle(TIdStackSocketHandle socket) override;
  int ConnectSocket(TIdStackSocketHandle socket, int family, const std::string& address, int port) override;
  std::string HostAddressByName(const std::string& name) override;
  std::string LocalHostName() override;
  std::string LookupName(const std::string& address) override;
  int ServicePort(const std::string& name) override;
  std::string ServiceName(int port) override;
  uint16_t HostToNet16(uint16_t value) override;
  int ListenOnSocket(TIdStackSocketHandle socket, int backlog) override;
  uint16_t NetToHost16(uint16_t value) override;
  uint32_t HostToNet32(uint32_t value) override;
  uint32_t NetToHost32(uint32_t value) override;
  int ReceiveOnSocket(TIdStackSocketHandle socket, void* buffer, int length, int flags) override;
  int ReceiveFromPeer(TIdStackSocketHandle socket, void* buffer, int length, int flags, std::string& ip,
                      int& port) override;
  int WaitSockets(std::vector<TIdStackSocketHandle>* readList, std::vector<TIdStackSocketHandle>* writeList,
                  int timeout, std::vector<TIdStackSocketHandle>* errorList) override;
  int SendOnSocket(TIdStackSocketHandle socket, const void* buffer, int length, int flags) override;
  int SendToPeer(TIdStackSocketHandle socket, const void* buffer, int length, int flags, const std::string& ip,
                 int port) override;
  int SetSocketOption(TIdStackSocketHandle socket, int level, int name, const void* value, int length) override;
  TIdStackSocketHandle CreateSocket(int family, int type, int protocol) override;
  int ShutdownSocket(TIdStackSocketHandle socket, int how) override;
  std::string SocketErrorText(int code) override;
  int LastPlatformError() override;
  int PeerName(TIdStackSocketHandle socket, int& family, std::string& ip, int& port) override;
  int LocalName(TIdStackSocketHandle socket, int& family, std::string& ip, int& port) override;
  int GetSocketOption(TIdStackSocketHandle socket, int level, int name, int& value) override;
};

// The process-wide stack; set while any TIdComponent exists.
extern TIdStack* GStack;
