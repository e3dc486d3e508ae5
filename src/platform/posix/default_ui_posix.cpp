#include "platform/default_ui.h"

#include "platform/console/console_ui.h"
#ifdef UPDATER_HAVE_GTK
#include "platform/gtk/gtk_ui.h"
#endif

namespace platform {

// The window when a display can be opened, the console front end otherwise.
std::unique_ptr<Ui> CreateDefaultUi() {
#ifdef UPDATER_HAVE_GTK
  if (auto window = GtkUi::TryCreate()) return window;
#endif
  return std::make_unique<ConsoleUi>();
}

}  // namespace platform
