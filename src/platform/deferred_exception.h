#pragma once
// Carries an exception thrown by a listener inside a system callback (a window procedure, a GLib source
// callback) across the system's C frames, which must never be unwound, to the pump call that dispatched the
// callback (the message loop, ProcessMessages, HandleOneMessage), which raises it again.
#include <exception>

namespace platform {

class DeferredException {
 public:
  // Runs the call; an exception it throws is kept (the first one, when several come before a raise).
  template <typename Call>
  void Run(Call call) noexcept {
    try {
      call();
    } catch (...) {
      if (!m_pending) m_pending = std::current_exception();
    }
  }

  // Raises the kept exception, if any, and forgets it.
  void RaisePending() {
    if (!m_pending) return;
    std::exception_ptr pending = m_pending;
    m_pending = nullptr;
    std::rethrow_exception(pending);
  }

 private:
  std::exception_ptr m_pending;
};

}  // namespace platform
