#pragma once
// What a directory tree holds, for comparing one state of an installation with another: every directory by
// name, every file with its bytes, permission bits and last-write time, every link by what it names.
#include <filesystem>
#include <map>
#include <string>

namespace testsupport {

std::map<std::string, std::string> TreeSnapshot(const std::filesystem::path& root);

}  // namespace testsupport
