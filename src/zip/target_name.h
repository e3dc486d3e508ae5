#pragma once
// Where a member is written: the target path built from the stored name and the extract directory, and
// the check that keeps every target inside the extract directory.
#include <string>

// The target for a stored name (native separators). extractDir is not empty and ends with a separator.
// With useStoredDirs a leading separator is dropped, and a drive prefix ("C:\" or "C:") is dropped, and
// the name's directory part is kept below extractDir; without it only the last component is kept. A
// directory part without ':' that does not begin with a separator gets one in front. ".." components are
// left in place: TargetStaysInside judges them. An empty stored name gives an empty target. (The extractor
// only passes absolute directories, so a relative one is never read from the root there.)
std::string BuildTargetName(const std::string& storedName, const std::string& extractDir, bool useStoredDirs);

struct TTargetRules {
  // Separators of the target and directory texts.
  bool BackslashSeparates = false;
  bool SlashSeparates = true;
  // Windows rules: names compare without regard to case, a ':' past the extract directory names a drive
  // or an alternate data stream, and device names (CON, PRN, AUX, NUL, COM1..9, LPT1..9, with or
  // without an extension) open a device instead of a file.
  bool WindowsNames = false;

  // The rules of the system this program runs on.
  static TTargetRules Native();
};

// True when the target, after its "." and ".." components are resolved, lies inside extractDir (or is it),
// and, under Windows rules, names no device and no stream. Pure: looks at the texts only.
bool TargetStaysInside(const std::string& extractDir, const std::string& target, const TTargetRules& rules);
