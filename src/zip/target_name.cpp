#include "zip/target_name.h"

#include <vector>

#include "platform/files.h"
#include "rtl/sysutils.h"

namespace {

constexpr char kSeparator = platform::kPathSeparator;

bool EndsWithSeparator(const std::string& text) { return !text.empty() && text.back() == kSeparator; }

// Splits at the separators of the rules and resolves "." and ".."; false when ".." climbs above the start.
bool ResolveComponents(const std::string& path, const TTargetRules& rules, std::vector<std::string>& components) {
  std::string current;
  const auto finish = [&]() -> bool {
    if (rules.WindowsNames && current != "." && current != "..") {
      // Windows drops trailing blanks and dots ("..  " opens ".."); a name of nothing else is refused.
      const size_t kept = current.find_last_not_of(". ");
      if (!current.empty() && kept == std::string::npos) return false;
      current.erase(kept == std::string::npos ? 0 : kept + 1);
    }
    if (current.empty() || current == ".") {
      // nothing: empty components come from doubled separators
    } else if (current == "..") {
      if (components.empty()) return false;
      components.pop_back();
    } else {
      components.push_back(current);
    }
    current.clear();
    return true;
  };
  for (const char c : path) {
    if ((c == '\\' && rules.BackslashSeparates) || (c == '/' && rules.SlashSeparates)) {
      if (!finish()) return false;
    } else {
      current += c;
    }
  }
  return finish();
}

bool IsDeviceName(const std::string& component) {
  // The device is named by the text before the first '.', blanks and dots at its end ignored ("CON .txt").
  std::string stem = component.substr(0, component.find('.'));
  while (!stem.empty() && (stem.back() == ' ' || stem.back() == '.')) stem.pop_back();
  const std::string upper = UpperCase(stem);
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") return true;
  return upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
         upper[3] >= '1' && upper[3] <= '9';
}

}  // namespace

TTargetRules TTargetRules::Native() {
  TTargetRules rules;
#ifdef _WIN32
  rules.BackslashSeparates = true;
  rules.SlashSeparates = true;
  rules.WindowsNames = true;
#endif
  return rules;
}

std::string BuildTargetName(const std::string& storedName, const std::string& extractDir, bool useStoredDirs) {
  if (storedName.empty()) return std::string();
  std::string name = storedName;
  std::string directory;
  if (useStoredDirs) {
    if (name.find(':') == std::string::npos) {
      if (name[0] == kSeparator) name.erase(0, 1);
    } else {
      name.erase(0, name.find(kSeparator) == 2 ? 3 : 2);
    }
    directory = extractDir;
    if (!EndsWithSeparator(directory)) directory += kSeparator;
    const size_t last = name.rfind(kSeparator);
    if (last != std::string::npos) directory += name.substr(0, last + 1);
  } else {
    directory = extractDir;
  }
  if (directory.find(':') == std::string::npos && (directory.empty() || directory[0] != kSeparator)) {
    directory.insert(directory.begin(), kSeparator);
  }
  if (!EndsWithSeparator(directory)) directory += kSeparator;
  const size_t last = name.rfind(kSeparator);
  return directory + (last == std::string::npos ? name : name.substr(last + 1));
}

bool TargetStaysInside(const std::string& extractDir, const std::string& target, const TTargetRules& rules) {
  std::vector<std::string> base;
  std::vector<std::string> resolved;
  if (!ResolveComponents(extractDir, rules, base) || !ResolveComponents(target, rules, resolved)) return false;
  if (resolved.size() < base.size()) return false;
  for (size_t i = 0; i < base.size(); ++i) {
    const bool same = rules.WindowsNames ? SameText(base[i], resolved[i]) : base[i] == resolved[i];
    if (!same) return false;
  }
  if (rules.WindowsNames) {
    for (size_t i = base.size(); i < resolved.size(); ++i) {
      if (resolved[i].find(':') != std::string::npos || IsDeviceName(resolved[i])) return false;
    }
  }
  return true;
}
