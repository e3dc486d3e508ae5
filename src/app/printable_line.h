#pragma once
// Text for one line of the run log or the console: what servers and archives send (status lines, header
// values, chunk-size lines, redirect targets, member names) may hold terminal escapes or bytes that are no
// UTF-8, and must reach neither a terminal nor a log documented as UTF-8 as they are.
#include <string>

// The text as one line of valid UTF-8: CR, LF and CR LF become one blank; every other control character
// (C0, DEL, and C1 as U+0080..U+009F) is written as \xNN of its code; each byte that does not start a valid
// UTF-8 sequence becomes U+FFFD. Applying it twice changes nothing more.
std::string PrintableLine(const std::string& text);
