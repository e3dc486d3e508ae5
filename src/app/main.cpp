#include "app/command_line.h"
#include "app/elevated_install.h"
#include "app/program.h"
#include <cstdlib>

#include "platform/default_ui.h"
#include "platform/files.h"
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
  const std::vector<std::string> arguments = ProgramArguments(argc, argv);
  // The install-only copy started with administrator rights opens no window of its own.
  if (IsElevatedInstallForm(arguments)) return RunElevatedInstall(arguments, UPDATER_PUBLIC_KEY);
#ifdef UPDATER_FILE_FAULTS
  // The test builds play a user who may not write the named directory (an install for all users), so that
  // the hand-over to an elevated copy runs where the tests hold every right; the copy itself writes.
  if (const char* denied = std::getenv("UPDATER_TEST_DENY_WRITES_UNDER")) platform::DenyWritesUnder(denied);
#endif
  const auto ui = platform::CreateDefaultUi();
  return RunUpdater(*ui, arguments, UPDATER_PUBLIC_KEY, UPDATER_TICK_MILLISECONDS);
}
