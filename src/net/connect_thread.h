#pragma once
// The worker that runs one blocking connect while the calling (UI) thread waits in short slices. It touches
// only its binding and its own kept failure; the handler reads the failure after the thread has ended.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "net/socket_handle.h"

class TIdConnectThread {
 public:
  // Created suspended; the binding must outlive the thread.
  explicit TIdConnectThread(TIdSocketHandle& binding) : m_binding(binding) {}
  // Waits for the thread when it was started and not waited for.
  ~TIdConnectThread();
  TIdConnectThread(const TIdConnectThread&) = delete;
  TIdConnectThread& operator=(const TIdConnectThread&) = delete;

  void Start();
  // Set when the connect has ended, however it ended.
  bool Terminated() const { return m_terminated; }
  // Asks the thread to end; the connect itself ends only when its socket is closed.
  void Terminate() { m_terminateRequested = true; }
  void WaitFor();
  // Waits up to the given milliseconds, returning as soon as the connect has ended; true when it has.
  bool WaitForEnd(int milliseconds);

  // The failure of the connect: its message (empty when none) and, for a socket error, its code.
  const std::string& FailureMessage() const { return m_failureMessage; }
  int32_t FailureCode() const { return m_failureCode; }

 private:
  void Execute();

  TIdSocketHandle& m_binding;
  std::thread m_thread;
  std::atomic<bool> m_terminated{false};
  std::atomic<bool> m_terminateRequested{false};
  std::mutex m_endMutex;
  std::condition_variable m_ended;
  std::string m_failureMessage;
  int32_t m_failureCode = 0;
};
