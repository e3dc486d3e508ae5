#include "net/socket_handle.h"

#include <algorithm>

#include "net/anti_freeze.h"
#include "net/exceptions.h"
#include "platform/clock.h"

TIdSocketHandle::~TIdSocketHandle() { ReleaseSocket(); }

void TIdSocketHandle::OpenSocket(int type, int protocol) {
  ReleaseSocket();
  if (m_handle != Id_INVALID_SOCKET) Reset(/*resetLocal=*/false);
  m_handle = GStack->CreateCheckedSocket(type, protocol);
  m_allocated = true;
}

void TIdSocketHandle::ReleaseSocket() {
  // exchange: a second caller (the timeout path and the cancel button) must not close the handle twice.
  if (!m_allocated.exchange(false)) return;
  GStack->ShutdownSocket(m_handle, platform::kShutdownSend);
  GStack->CloseSocketHandle(m_handle);
}

void TIdSocketHandle::Reset(bool resetLocal) {
  m_allocated = false;
  m_handle = Id_INVALID_SOCKET;
  m_peerIP.clear();
  m_peerPort = 0;
  if (resetLocal) {
    m_ip.clear();
    m_port = 0;
  }
}

bool TIdSocketHandle::TryBind(int port) {
  const int result = GStack->BindSocket(m_handle, Id_PF_INET, m_ip, port);
  if (result == Id_SOCKET_ERROR) {
    const int code = GStack->LastPlatformError();
    if (code == platform::kWsaAddressInUse) return false;
    GStack->FailWithSocketError(code);
  }
  UpdateBindingLocal();
  return true;
}

void TIdSocketHandle::BindLocal() {
  if (m_port != 0 || m_clientPortMin == 0 || m_clientPortMax == 0) {
    if (!TryBind(m_port)) throw EIdCouldNotBindSocket();
    return;
  }
  if (m_clientPortMax < m_clientPortMin) throw EIdInvalidPortRange(m_clientPortMin, m_clientPortMax);
  for (int port = m_clientPortMax; port >= m_clientPortMin; --port) {
    if (TryBind(port)) return;
  }
  throw EIdCanNotBindPortInRange(m_clientPortMin, m_clientPortMax);
}

void TIdSocketHandle::UpdateBindingLocal() {
  int family = 0;
  GStack->LocalName(m_handle, family, m_ip, m_port);
}

int TIdSocketHandle::ConnectPeer() {
  const int result = GStack->ConnectSocket(m_handle, Id_PF_INET, m_peerIP, m_peerPort);
  if (result != Id_SOCKET_ERROR) {
    int family = 0;
    GStack->LocalName(m_handle, family, m_ip, m_port);
    GStack->PeerName(m_handle, family, m_peerIP, m_peerPort);
  }
  return result;
}

int TIdSocketHandle::ReceiveData(void* buffer, int length) {
  return GStack->ReceiveOnSocket(m_handle, buffer, length, 0);
}

int TIdSocketHandle::ReceiveDatagram(void* buffer, int length, std::string& ip, int& port) {
  return GStack->ReceiveFromPeer(m_handle, buffer, length, 0, ip, port);
}

int TIdSocketHandle::SendData(const void* buffer, int length) {
  return GStack->SendOnSocket(m_handle, buffer, length, 0);
}

void TIdSocketHandle::ApplyOption(int level, int name, int value) {
  GStack->CheckSocketResult(GStack->SetSocketOption(m_handle, level, name, &value, sizeof value));
}

void TIdSocketHandle::AssignPeer(const std::string& address, int port) {
  m_peerIP = address;
  m_peerPort = port;
}

bool TIdSocketHandle::ReadableSlice(int timeout) {
  if (!m_allocated) throw EIdConnClosedGracefully();
  // The list is kept between waits so that a wait allocates nothing.
  m_waitList.assign(1, m_handle);
  // A platform error of the wait counts as "not readable"; the next slice or receive reports the state.
  const bool readable = GStack->WaitSockets(&m_waitList, nullptr, timeout, nullptr) == 1;
  TIdAntiFreezeBase::RunIdle(!readable);
  return readable;
}

bool TIdSocketHandle::Readable(int timeout) {
  if (!TIdAntiFreezeBase::ShouldUseIdle()) return ReadableSlice(timeout);
  const int idleTimeOut = TIdAntiFreezeBase::Instance()->IdleTimeOut();
  if (timeout == IdTimeoutInfinite) {
    while (!ReadableSlice(idleTimeOut)) {
    }
    return true;
  }
  // A limited wait is sliced like an unlimited one: a silence limit of 30 s must not freeze the window,
  // nor keep the cancel button waiting, for 30 s. The clock, not a count of slices, ends it, since a slice
  // may end early (a platform error of the wait) or late (a long UI handler).
  const int64_t deadline = platform::MonotonicMilliseconds() + timeout;
  int64_t remaining = timeout;
  do {
    if (ReadableSlice(static_cast<int>(std::min<int64_t>(remaining, idleTimeOut)))) return true;
    remaining = deadline - platform::MonotonicMilliseconds();
  } while (remaining > 0);
  // A cancel in the last slice is a cancel, not a silence.
  if (!m_allocated) throw EIdConnClosedGracefully();
  return false;
}
