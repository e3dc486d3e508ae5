#include "app/path_helpers.h"

#include "platform/codepage.h"
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
  return AddAffix(a, separator, /*atEnd=*/true) + StripAffix(b, separator, /*atEnd=*/false);
}

std::string AbsolutePath(const std::string& path) {
  const std::string trimmed = Trim(path);
  return trimmed.empty() ? trimmed : platform::FullPathName(trimmed);
}

bool CreateDirChain(const std::string& path) {
  const std::string p = Trim(path);
  if (p.empty() || platform::DirectoryExists(p)) return true;
  const auto createLevel = [](const std::string& level) {
    return level.empty() || platform::DirectoryExists(level) || platform::CreateDirectoryLevel(level);
  };
  // A level ends at a separator character, never at the trail byte of a double-byte character: in GBK the
  // trail byte of many characters (such as D5 5C) is the byte of the backslash.
  const platform::LeadByteTable& leadBytes = platform::SystemLeadBytes();
  std::string prefix;
  bool separatorLast = false;
  for (size_t i = 0; i < p.size(); ++i) {
    const char c = p[i];
    if (leadBytes[static_cast<unsigned char>(c)] && i + 1 < p.size()) {
      prefix.append(p, i, 2);
      ++i;
      separatorLast = false;
      continue;
    }
    separatorLast = c == platform::kPathSeparator;
    if (separatorLast && !createLevel(prefix)) return false;
    prefix += c;
  }
  return separatorLast || createLevel(prefix);
}
