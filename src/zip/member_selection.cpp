#include "zip/member_selection.h"

#include "rtl/sysutils.h"
#include "platform/files.h"
#include "zip/internal_mask.h"

namespace {

bool IsNameSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

size_t LastSeparator(const std::string& name) {
  for (size_t i = name.size(); i > 0; --i) {
    if (IsNameSeparator(name[i - 1])) return i - 1;
  }
  return std::string::npos;
}

}  // namespace

std::string NameDirectoryPart(const std::string& name) {
  std::string directory;
  if (name.size() == 3 && name.find(':') != std::string::npos) {
    directory = name;
  } else {
    const size_t last = LastSeparator(name);
    if (last == std::string::npos) return std::string();
    const bool afterDrive = last == 2 && name[1] == ':' && name[2] != ':';
    directory = name.substr(0, afterDrive ? last + 1 : last);
  }
  if (!directory.empty() && directory.back() != '\\' && directory.back() != '/') {
    directory += platform::kPathSeparator;
  }
  return directory;
}

std::string NameLastComponent(const std::string& name) {
  const size_t last = LastSeparator(name);
  return last == std::string::npos ? name : name.substr(last + 1);
}

bool MatchesFileSpec(const std::string& name, std::vector<std::string>& fileSpec, bool recurseDirs,
                     const std::vector<std::string>& excludeSpec,
                     const std::function<void(const std::string&)>& onExclude) {
  if (name.empty()) return false;
  const std::string nameDirectory = NameDirectoryPart(name);
  for (std::string& line : fileSpec) {
    if (line.empty()) continue;
    for (const std::string& exclude : excludeSpec) {
      if (MaskMatches(name, exclude)) {
        if (onExclude) onExclude(name);
        return false;
      }
    }
    if (SameText(line, name)) return true;
    const std::string lineDirectory = NameDirectoryPart(line);
    std::string subject = name;
    if (recurseDirs) {
      if (lineDirectory.empty()) subject = NameLastComponent(name);
    } else if (!SameText(nameDirectory, lineDirectory)) {
      continue;
    }
    if (MaskMatches(subject, line)) return true;
    // "*.*" is meant to select everything, but as a mask it demands a '.': names without one get it.
    if (subject.find('.') == std::string::npos) subject += '.';
    if (line.find('.') == std::string::npos) line += '.';
    if (MaskMatches(subject, line)) return true;
  }
  return false;
}
