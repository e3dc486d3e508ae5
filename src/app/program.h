#pragma once
// The program entry: title, window, message loop. The process always exits with code 0.
#include <string>
#include <vector>

#include "platform/ui.h"

int RunUpdater(platform::Ui& ui, const std::vector<std::string>& arguments);
