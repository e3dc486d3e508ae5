#include "app/program.h"

#include "app/main_form.h"
#include "app/user_texts.h"
#include "platform/codepage.h"

int RunUpdater(platform::Ui& ui, const std::vector<std::string>& arguments, const std::string& publicKey,
               int tickMilliseconds) {
  // The process always exits with code 0. The stages catch their own failures; anything else that leaves a
  // handler, and so the message loop, ends the program here instead of escaping main, which would end it with
  // the runtime's abort code.
  try {
    ui.SetApplicationTitle(platform::GbkToUtf8(texts::kAppTitle));
    TfMain fMain(ui, arguments, publicKey);
    if (tickMilliseconds > 0) fMain.Timer1().SetInterval(tickMilliseconds);
    ui.RunMessageLoop();
  } catch (...) {
  }
  return 0;
}
