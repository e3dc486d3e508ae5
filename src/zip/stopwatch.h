#pragma once
// Elapsed run time without the time spent in the user's event handlers (OnElapsedTime).
#include <cstdint>

#include "platform/clock.h"

// Paused while a handler runs.
class TStopwatch {
 public:
  TStopwatch() : m_start(platform::MonotonicMilliseconds()) {}
  void Pause() {
    if (m_pausedAt < 0) m_pausedAt = platform::MonotonicMilliseconds();
  }
  void Resume() {
    if (m_pausedAt >= 0) m_paused += platform::MonotonicMilliseconds() - m_pausedAt;
    m_pausedAt = -1;
  }
  float Seconds() {
    Resume();
    return static_cast<float>(platform::MonotonicMilliseconds() - m_start - m_paused) / 1000.0f;
  }

 private:
  int64_t m_start;
  int64_t m_paused = 0;
  int64_t m_pausedAt = -1;
};
