#include "app/timer.h"

void TTimer::SetEnabled(bool enabled) {
  if (enabled == m_enabled) return;
  m_enabled = enabled;
  Apply();
}

void TTimer::SetInterval(int milliseconds) {
  if (milliseconds == m_interval) return;
  m_interval = milliseconds;
  if (m_enabled) Apply();
}

void TTimer::Apply() { m_ui.SetTimer(m_enabled ? m_interval : 0); }
