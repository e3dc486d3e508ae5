#pragma once
// Which members of an archive on disk are sound: their data decode and pass their CRC. The members are
// extracted, by the extractor itself, into a work directory and removed again at once, so that the check
// costs one extraction and leaves nothing behind.
#include <functional>
#include <set>
#include <string>

// The stored names (as the archive holds them) among names whose members are sound. workDirectory is made
// for the check and removed after it; whileChecking runs at each progress step of the decoding (the window's
// messages), since the check of a large archive takes seconds.
std::set<std::string> SoundMembers(const std::string& archivePath, const std::set<std::string>& names,
                                   const std::string& workDirectory, const std::function<void()>& whileChecking);
