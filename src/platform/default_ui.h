#pragma once
// The user interface the program runs with on this system.
#include <memory>

#include "platform/ui.h"

namespace platform {

std::unique_ptr<Ui> CreateDefaultUi();

}  // namespace platform
