#include "app/command_line.h"
#include "app/program.h"
#include "platform/default_ui.h"
#include "platform/threads.h"

int main(int argc, char** argv) {
  platform::RegisterMainThread();
  const auto ui = platform::CreateDefaultUi();
  return RunUpdater(*ui, ProgramArguments(argc, argv));
}
