#pragma once
// What the update starts once it has landed. The calling application names the program relative to the
// extract directory, possibly with arguments; the extract directory's own text is never split, so a directory
// with blanks cannot start a program in front of it, and nothing outside the directory is ever started.
#include <optional>
#include <string>

struct TProgramCommand {
  std::string Program;    // an existing file inside the extract directory
  std::string Arguments;  // as RunProgram wrote them; may be empty
};

// The whole of runProgram is the program when extractPath + runProgram names an existing file, blanks and
// all. Otherwise runProgram's first item (up to its first blank, or between quotes) is the program and the
// rest are its arguments. None when the program so named is no existing file inside extractPath.
std::optional<TProgramCommand> ProgramToStart(const std::string& extractPath, const std::string& runProgram);
