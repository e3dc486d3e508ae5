#pragma once
// How the updater splits the command line its caller built. The caller quotes by these rules, so they are
// the contract with the calling application, applied to the raw command line where the system passes one.
#include <string>
#include <vector>

#include "platform/codepage.h"

// The items of a raw command line after the program's own name, up to (not including) the first empty item:
// items are separated by runs of bytes 1 to 32; a double quote opens a stretch that runs to the next quote or
// the end of the line, inside which blanks belong to the item; quoted and unquoted stretches that touch form
// one item; a pair of quotes where an item would begin is skipped like a blank; a lone quote at the very end
// yields an empty item (which ends the list). Double-byte characters of the given code page are stepped
// over whole, so a trail byte is never taken for a quote or a blank.
std::vector<std::string> SplitCommandLine(const std::string& raw, const platform::LeadByteTable& leadBytes);

// The program's arguments: the raw command line split as above where the system hands one over (Windows),
// otherwise the argv items after the program name, where an empty item is skipped like a quoted "" pair.
std::vector<std::string> ProgramArguments(int argc, char** argv);
