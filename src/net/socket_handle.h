#pragma once
// One socket binding: the socket, its local and peer address and port, a local bind port range, and the
// readability wait that serves the UI between slices (see anti_freeze.h). A socket handler owns one.
#include <atomic>
#include <string>
#include <vector>

#include "net/stack.h"

class TIdSocketHandle {
 public:
  TIdSocketHandle() = default;
  // Closes the socket when it is still allocated.
  virtual ~TIdSocketHandle();
  TIdSocketHandle(const TIdSocketHandle&) = delete;
  TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

  // Closes any open socket, then allocates a new one (EIdInvalidSocket "Cannot allocate socket.").
  void OpenSocket(int type = Id_SOCK_STREAM, int protocol = Id_IPPROTO_TCP);
  // When allocated: clears the allocated flag first, then shuts sending down and closes; results ignored.
  // Safe to call from the UI thread while another thread is blocked in ConnectPeer on this binding.
  virtual void ReleaseSocket();
  // Binds to IP:Port, or tries the range ClientPortMax down to ClientPortMin (see the exceptions in
  // exceptions.h: EIdCouldNotBindSocket, EIdInvalidPortRange, EIdCanNotBindPortInRange, EIdSocketError).
  void BindLocal();
  // Connects to PeerIP:PeerPort; on success reads the local and peer names back. The platform result.
  virtual int ConnectPeer();
  int ReceiveData(void* buffer, int length);
  // One datagram, with the sender's address and port. The platform result.
  virtual int ReceiveDatagram(void* buffer, int length, std::string& ip, int& port);
  int SendData(const void* buffer, int length);
  // Sets an integer option; fails with EIdSocketError.
  void ApplyOption(int level, int name, int value);
  void AssignPeer(const std::string& address, int port);
  // Clears the allocated flag, the socket and the peer (and the local address and port when asked).
  void Reset(bool resetLocal = true);

  // Waits until the socket is readable (timeout in ms, IdTimeoutInfinite for none). On the main thread with
  // idle processing in use the whole wait, limited or not, runs in slices of at most IdleTimeOut with UI
  // processing between them. Fails with EIdConnClosedGracefully when the socket is no longer allocated at
  // the start of a slice, or when the UI closed it in the last slice of a limited wait.
  bool Readable(int timeout);

  TIdStackSocketHandle Handle() const { return m_handle; }
  bool HandleAllocated() const { return m_allocated; }
  const std::string& IP() const { return m_ip; }
  void SetIP(const std::string& value) { m_ip = value; }
  int Port() const { return m_port; }
  void SetPort(int value) { m_port = value; }
  const std::string& PeerIP() const { return m_peerIP; }
  int PeerPort() const { return m_peerPort; }
  int ClientPortMin() const { return m_clientPortMin; }
  void SetClientPortMin(int value) { m_clientPortMin = value; }
  int ClientPortMax() const { return m_clientPortMax; }
  void SetClientPortMax(int value) { m_clientPortMax = value; }

 private:
  bool ReadableSlice(int timeout);
  bool TryBind(int port);
  void UpdateBindingLocal();

  TIdStackSocketHandle m_handle = Id_INVALID_SOCKET;
  // Read by the connect thread while the UI thread may close the socket.
  std::atomic<bool> m_allocated{false};
  std::string m_ip;
  int m_port = 0;
  std::string m_peerIP;
  int m_peerPort = 0;
  int m_clientPortMin = 0;
  int m_clientPortMax = 0;
  std::vector<TIdStackSocketHandle> m_waitList;
};
