#pragma once
// The stored layout of the updater's window, in one place: every backend draws from these values, and the
// window is not scaled to the screen's pixel density.
#include "platform/ui.h"

namespace layout {
inline constexpr int kClientWidth = 291;
inline constexpr int kClientHeight = 78;
inline constexpr unsigned kBackgroundColor = 14215660;  // red 236, green 233, blue 216
inline constexpr int kFontCharsetGb2312 = 134;
inline constexpr int kFontHeight = -12;
inline constexpr unsigned kButtonTextColor = 0xFF0000;  // blue, as 0x00BBGGRR
inline constexpr platform::ControlRect kBevel{0, 0, 291, 78};
inline constexpr platform::ControlRect kButton{208, 48, 73, 22};
inline constexpr platform::ControlRect kLabel{8, 8, 108, 12};
inline constexpr platform::ControlRect kProgressBar{8, 24, 273, 16};
inline constexpr int kProgressMin = 0;
inline constexpr int kProgressMax = 100;
inline constexpr int kProgressPosition = 0;
inline constexpr int kIdleTimeOut = 100;
inline constexpr int kRecvBufferSize = 10240;
}  // namespace layout

// The window's layout with its texts converted for display.
platform::WindowLayout MainFormLayout();
