#include "app/path_helpers.h"

#include "platform/files.h"
#include "rtl/sysutils.h"

namespace {

std::string AffixEnd(const std::string& text, size_t n, bool atEnd) {
  if (text.size() <= n) return text;
  return atEnd ? text.substr(text.size() - n) : text.substr(0, n);
}

}  // namespace

std::string AddAffix(const std::string& text, const std::string& affix, bool atEnd) {
  if (AffixEnd(text, affix.size(), atEnd) == affix) return text;
  return atEnd ? text + affix : affix + text;
}

std::string StripAffix(const std::string& text, const std::string& affix, bool atEnd) {
  if (affix.empty() || AffixEnd(text, affix.size(), atEnd) != affix) return text;
  return atEnd ? text.substr(0, text.size() - affix.size()) : text.substr(affix.size());
}

std::string JoinPath(const std::string& first, const std::string& second, bool slash) {
  const std::string separator(1, slash ? '/' : platform::kPathSeparator);
  const std::string a = Trim(first);
  const std::string b = Trim(second);
  if (a.empty() || b.empty()) return a + b;
  return AddAffix(a, separator, true) + StripAffix(b, separator, false);
}

std::string AbsolutePath(const std::string& path) {
  const std::string trimmed = Trim(path);
  return trimmed.empty() ? trimmed : platform::FullPathName(trimmed);
}

bool CreateDirChain(const std::string& path) {
  std::string p = Trim(path);
  if (p.empty() || platform::DirectoryExists(p)) return true;
  if (p.back() != platform::kPathSeparator) p += platform::kPathSeparator;
  bool result = true;
  std::string prefix;
  for (const char c : p) {
    if (c == platform::kPathSeparator && !prefix.empty() && !platform::DirectoryExists(prefix)) {
      result = platform::CreateDirectoryLevel(prefix);
      if (!result) return false;
    }
    prefix += c;
  }
  return result;
}
