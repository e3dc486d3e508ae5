#include "app/command_line.h"
#include "app/program.h"
#include "platform/default_ui.h"
#include "platform/process.h"
#include "platform/threads.h"

// The build's signing key (CMake option UPDATER_PUBLIC_KEY); without one, archives are not signature-checked.
#ifndef UPDATER_PUBLIC_KEY
#define UPDATER_PUBLIC_KEY ""
#endif

// The window timer's interval in the end-to-end tests' builds; the shipped program keeps the window's own.
#ifndef UPDATER_TICK_MILLISECONDS
#define UPDATER_TICK_MILLISECONDS 0
#endif

int main(int argc, char** argv) {
  platform::RegisterMainThread();
  platform::FailWritesPastFileSizeLimit();
  const auto ui = platform::CreateDefaultUi();
  return RunUpdater(*ui, ProgramArguments(argc, argv), UPDATER_PUBLIC_KEY, UPDATER_TICK_MILLISECONDS);
}
