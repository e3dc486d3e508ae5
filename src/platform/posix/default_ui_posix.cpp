#include "platform/default_ui.h"

#include "platform/console/console_ui.h"

namespace platform {

std::unique_ptr<Ui> CreateDefaultUi() { return std::make_unique<ConsoleUi>(); }

}  // namespace platform
