#include "net/io_handler.h"

#include <algorithm>

#include "net/anti_freeze.h"
#include "net/connect_thread.h"
#include "net/exceptions.h"

TIdIOHandlerSocket::~TIdIOHandlerSocket() = default;

void TIdIOHandlerSocket::CloseHandler() {
  TIdIOHandler::CloseHandler();
  if (m_binding) m_binding->ReleaseSocket();
}

bool TIdIOHandlerSocket::IsOpen() { return m_binding && m_binding->HandleAllocated(); }

void TIdIOHandlerSocket::PrepareHandler() {
  TIdIOHandler::PrepareHandler();
  if (!m_binding) {
    m_binding = std::make_unique<TIdSocketHandle>();
  } else {
    m_binding->ReleaseSocket();
    m_binding->Reset();
  }
}

bool TIdIOHandlerSocket::WaitReadable(int timeout) {
  if (!m_binding) throw EIdClosedSocket();
  return m_binding->Readable(timeout);
}

int TIdIOHandlerSocket::ReceiveSome(void* buffer, int length) {
  if (!IsOpen()) throw EIdClosedSocket();
  return m_binding->ReceiveData(buffer, length);
}

int TIdIOHandlerSocket::SendSome(const void* buffer, int length) {
  if (!IsOpen()) throw EIdClosedSocket();
  return m_binding->SendData(buffer, length);
}

void TIdIOHandlerSocket::SetUseNagle(bool value) {
  if (value == m_useNagle) return;
  m_useNagle = value;
  if (IsOpen()) ApplyNagle();
}

void TIdIOHandlerSocket::ApplyNagle() {
  m_binding->ApplyOption(platform::kLevelTcp, platform::kOptionNoDelay, m_useNagle ? 0 : 1);
}

TIdSocksInfo& TIdIOHandlerSocket::SocksInfo() {
  if (!m_socksInfo) m_socksInfo = std::make_unique<TIdSocksInfo>();
  return *m_socksInfo;
}

void TIdIOHandlerSocket::ConnectToPeer(const std::string& host, int port, int timeout, int boundPortMax,
                                       int boundPortMin, int boundPort, const std::string& boundIP) {
  const bool socks = m_socksInfo && m_socksInfo->Version != svNoSocks;
  const std::string& target = socks ? m_socksInfo->Host : host;
  const int targetPort = socks ? m_socksInfo->Port : port;
  if (!m_binding) m_binding = std::make_unique<TIdSocketHandle>();
  m_binding->OpenSocket();
  m_binding->SetIP(boundIP);
  m_binding->SetPort(boundPort);
  m_binding->SetClientPortMin(boundPortMin);
  m_binding->SetClientPortMax(boundPortMax);
  m_binding->BindLocal();
  if (!TIdStack::IsIPAddress(target)) ReportStatus(hsResolving, target);
  m_binding->AssignPeer(GStack->LookupHostAddress(target), targetPort);
  ApplyNagle();
  ReportStatus(hsConnecting, m_binding->PeerIP());
  if (timeout != -1 && timeout != 0) {
    ConnectWithLimit(timeout);
  } else if (TIdAntiFreezeBase::ShouldUseIdle()) {
    ConnectWithLimit(kIdleConnectLimit);
  } else {
    GStack->CheckSocketResult(m_binding->ConnectPeer());
  }
  if (socks) m_socksInfo->Negotiate(*m_binding, host, port);
}

void TIdIOHandlerSocket::ConnectWithLimit(int limit) {
  // The binding must outlive the thread; this handler (and so the binding) is kept alive by the connection
  // until this operation has returned, even when the UI closes the connection meanwhile.
  TIdSocketHandle& binding = *m_binding;
  TIdConnectThread thread(binding);
  thread.Start();
  try {
    const int step = TIdAntiFreezeBase::ShouldUseIdle()
                         ? std::min(TIdAntiFreezeBase::Instance()->IdleTimeOut(), kConnectStep)
                         : kConnectStep;
    const bool unlimited = limit == IdTimeoutInfinite;
    int remaining = unlimited ? step + 1 : limit;
    while (step < remaining) {
      // A slice ends early when the connect does: a fast connect costs no whole slice.
      thread.WaitForEnd(step);
      remaining = unlimited ? step + 1 : remaining - step;
      TIdAntiFreezeBase::RunIdle(/*idle=*/true);
      if (thread.Terminated()) {
        remaining = 0;
        break;
      }
    }
    thread.WaitForEnd(remaining);
  } catch (...) {
    // A UI handler failed inside the wait: the connect is abandoned; closing its socket ends it.
    binding.ReleaseSocket();
    thread.WaitFor();
    throw;
  }
  if (!thread.Terminated()) {
    thread.Terminate();
    CloseHandler();
    thread.WaitFor();
    throw EIdConnectTimeout();
  }
  thread.WaitFor();
  if (!thread.FailureMessage().empty()) {
    if (thread.FailureCode() != 0) throw EIdSocketError(thread.FailureCode(), thread.FailureMessage());
    throw EIdConnectException(thread.FailureMessage());
  }
}
