#pragma once
// The user interface the program runs with on this system, chosen in one place: the Win32 window on Windows;
// on Linux a GTK window when a display can be opened, otherwise the console front end.
#include <memory>

#include "platform/ui.h"

namespace platform {

std::unique_ptr<Ui> CreateDefaultUi();

}  // namespace platform
