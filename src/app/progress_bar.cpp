#include "app/progress_bar.h"

#include <algorithm>

#include "rtl/exception.h"
#include "rtl/sysutils.h"

namespace {
[[noreturn]] void RaiseOutOfRange() { throw EInvalidOperation(Format("%s property out of range", "TProgressBar")); }
}  // namespace

TProgressBar::TProgressBar(platform::Ui& ui, int minimum, int maximum, int position)
    : m_ui(ui), m_min(minimum), m_max(maximum), m_position(position) {}

int TProgressBar::Position() const { return std::clamp(m_position, m_min, m_max); }

void TProgressBar::SetMax(int value) {
  if (value < m_min) RaiseOutOfRange();
  m_max = value;
  Show();
}

void TProgressBar::SetMin(int value) {
  if (value > m_max) RaiseOutOfRange();
  m_min = value;
  Show();
}

void TProgressBar::SetPosition(int value) {
  m_position = value;
  Show();
}

// The position goes out as set: the bar shows it clamped, and a front end may show the count itself.
void TProgressBar::Show() { m_ui.SetProgress(m_min, m_max, m_position); }
