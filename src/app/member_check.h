#pragma once
// Which members of an archive on disk are sound: their data decode and pass their CRC. The extractor itself
// checks them, in its check-only mode, so that the check costs one decoding and writes nothing: nothing
// appears in the download directory, whoever else can write there.
#include <functional>
#include <set>
#include <string>

// The stored names (as the archive holds them) among names whose members are sound. whileChecking runs at
// each progress step of the decoding (the window's messages), since the check of a large archive takes
// seconds.
std::set<std::string> SoundMembers(const std::string& archivePath, const std::set<std::string>& names,
                                   const std::function<void()>& whileChecking);
