#pragma once
// The program entry: title, window, message loop. The process always exits with code 0.
#include <string>
#include <vector>

#include "platform/ui.h"

// publicKey: the base64 Ed25519 key update archives must be signed with; empty: signatures are not used.
int RunUpdater(platform::Ui& ui, const std::vector<std::string>& arguments, const std::string& publicKey = {});
