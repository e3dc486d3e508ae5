#pragma once
// The program's two message boxes: modal, owned by the given window (also while it is hidden), with the
// caption "信息提示" and an OK button. Texts are GBK bytes, as all the program's own texts are.
#include <string>

#include "platform/ui.h"

void ShowInfo(platform::Ui& ui, platform::WindowHandle owner, const std::string& text);
void ShowError(platform::Ui& ui, platform::WindowHandle owner, const std::string& text);
