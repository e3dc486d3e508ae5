#pragma once
// The program entry: title, window, message loop. The process always exits with code 0.
#include <string>
#include <vector>

#include "platform/ui.h"

// publicKey: the base64 Ed25519 key update archives must be signed with; empty: signatures are not used.
// tickMilliseconds: the window timer's interval, whose second tick begins the download; 0 keeps the window's
// own second. Only the end-to-end tests' builds of the program shorten it, so that their many runs do not
// each wait two seconds before anything happens.
int RunUpdater(platform::Ui& ui, const std::vector<std::string>& arguments, const std::string& publicKey = {},
               int tickMilliseconds = 0);
