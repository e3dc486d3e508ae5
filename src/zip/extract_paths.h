#pragma once
// Paths as the extraction driver sees them: the extract directory's form, and the directory levels a target
// still needs.
#include <string>
#include <vector>

// Whether a file or a directory holds the name.
bool PathExists(const std::string& path);

// The extract directory as it is kept: absolute and resolved, with a trailing separator, so that targets
// built on it are absolute too and the inside-the-directory check compares like with like. (A relative
// directory would be read from the root by the target-name rule, "inst" as "/inst".) Empty stays empty.
std::string AbsoluteDirectory(const std::string& directory);

// The levels of path, outermost first, that do not exist yet.
std::vector<std::string> MissingDirectoryLevels(const std::string& path);
