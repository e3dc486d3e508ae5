#include "net/connect_thread.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include "net/exceptions.h"

TIdConnectThread::~TIdConnectThread() { WaitFor(); }

void TIdConnectThread::Start() { m_thread = std::thread([this] { Execute(); }); }

void TIdConnectThread::WaitFor() {
  if (m_thread.joinable()) m_thread.join();
}

bool TIdConnectThread::WaitForEnd(int milliseconds) {
  std::unique_lock<std::mutex> lock(m_endMutex);
  return m_ended.wait_for(lock, std::chrono::milliseconds(std::max(milliseconds, 0)),
                          [this] { return m_terminated.load(); });
}

void TIdConnectThread::Execute() {
  try {
    // 10009 and 10038: the UI thread closed the socket under the connect (timeout or cancel); the closed
    // state surfaces at the next read or write.
    GStack->CheckSocketResult(m_binding.ConnectPeer(), {platform::kWsaBadFile, platform::kWsaNotSocket});
  } catch (const EIdSocketError& error) {
    // Systems differ in the code of a connect whose socket was closed under it (Linux reports a reset);
    // the binding is marked closed before its socket is, so that case is told by the binding's state.
    if (m_binding.HandleAllocated()) {
      m_failureMessage = error.Message();
      m_failureCode = error.LastError();
    }
  } catch (const std::exception& error) {
    m_failureMessage = error.what();
  }
  {
    std::lock_guard<std::mutex> lock(m_endMutex);
    m_terminated = true;
  }
  m_ended.notify_all();
}
