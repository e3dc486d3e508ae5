#pragma once
// The window's timer: ticks come from the message loop while it is enabled.
#include <functional>

#include "platform/ui.h"

class TTimer {
 public:
  explicit TTimer(platform::Ui& ui) : m_ui(ui) {}

  bool Enabled() const { return m_enabled; }
  void SetEnabled(bool enabled);
  int Interval() const { return m_interval; }
  void SetInterval(int milliseconds);

  // A counter for the handler's own use, 0 at creation.
  int Tag = 0;
  std::function<void()> OnTimer;

 private:
  void Apply();

  platform::Ui& m_ui;
  bool m_enabled = false;
  int m_interval = 1000;
};
