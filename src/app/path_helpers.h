#pragma once
// Path forming for the update: affixes, joining with exactly one separator, and creating a directory chain.
// Everything works on bytes, so a double-byte character whose second byte equals the separator counts as
// one, exactly as the calling applications have always seen it.
#include <string>

// The text with the affix added at the end (atEnd) or the start when it is not already there.
std::string AddAffix(const std::string& text, const std::string& affix, bool atEnd);
// The text with one copy of the affix removed from the end (atEnd) or the start when it is there.
std::string StripAffix(const std::string& text, const std::string& affix, bool atEnd);
// The two parts, trimmed, joined with exactly one separator between them: '/' with the slash flag, else the
// system's own separator. An empty part gives the other part alone.
std::string JoinPath(const std::string& first, const std::string& second, bool slash);
// The path, trimmed, made absolute against the working directory; empty stays empty.
std::string AbsolutePath(const std::string& path);
// Creates every missing level of the directory path, one level at a time; true when the directory exists
// afterwards, false as soon as creating a level fails (the levels made before it stay). Levels are split at
// separator characters by the system code page's lead bytes, so a double-byte name stays whole.
bool CreateDirChain(const std::string& path);
