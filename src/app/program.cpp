#include "app/program.h"

#include "app/main_form.h"
#include "app/user_texts.h"
#include "platform/codepage.h"

int RunUpdater(platform::Ui& ui, const std::vector<std::string>& arguments, const std::string& publicKey) {
  ui.SetApplicationTitle(platform::GbkToUtf8(texts::kAppTitle));
  TfMain fMain(ui, arguments, publicKey);
  ui.RunMessageLoop();
  return 0;
}
