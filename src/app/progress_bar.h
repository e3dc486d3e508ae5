#pragma once
// The window's progress bar: keeps minimum <= maximum and shows a position outside the range clamped to the
// nearest end, as the common control does. The user interface is handed the position as set.
#include "platform/ui.h"

class TProgressBar {
 public:
  TProgressBar(platform::Ui& ui, int minimum, int maximum, int position);

  int Min() const { return m_min; }
  int Max() const { return m_max; }
  // The position as shown: clamped into the range.
  int Position() const;

  // Raise EInvalidOperation "TProgressBar property out of range" when the new value would put the maximum
  // below the minimum.
  void SetMax(int value);
  void SetMin(int value);
  void SetPosition(int value);

 private:
  void Show();

  platform::Ui& m_ui;
  int m_min;
  int m_max;
  int m_position;
};
