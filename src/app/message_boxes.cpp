#include "app/message_boxes.h"

#include "app/user_texts.h"
#include "platform/codepage.h"

void ShowInfo(platform::Ui& ui, platform::WindowHandle owner, const std::string& text) {
  ui.ShowMessage(owner, platform::GbkToUtf8(text), platform::GbkToUtf8(texts::kMessageCaption),
                 platform::MessageIcon::Information);
}

void ShowError(platform::Ui& ui, platform::WindowHandle owner, const std::string& text) {
  ui.ShowMessage(owner, platform::GbkToUtf8(text), platform::GbkToUtf8(texts::kMessageCaption),
                 platform::MessageIcon::Error);
}
