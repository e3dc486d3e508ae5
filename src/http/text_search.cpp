#include "http/text_search.h"

#include "platform/codepage.h"
#include "rtl/sysutils.h"

bool IsLeadByte(char byte) { return platform::SystemLeadBytes()[static_cast<unsigned char>(byte)]; }

int FindText(std::string_view needle, std::string_view haystack) {
  if (needle.empty() || needle.size() > haystack.size()) return 0;
  const size_t last = haystack.size() - needle.size();
  size_t i = 0;
  while (i <= last) {
    if (haystack.compare(i, needle.size(), needle) == 0) return static_cast<int>(i) + 1;
    // Step over whole characters so that a match can never begin on a trail byte.
    i += (IsLeadByte(haystack[i]) && i + 1 < haystack.size()) ? 2 : 1;
  }
  return 0;
}

int FindLast(std::string_view needle, std::string_view haystack, int startPos) {
  if (needle.empty() || needle.size() > haystack.size()) return 0;
  const int lastPossible = static_cast<int>(haystack.size() - needle.size()) + 1;
  const int start = (startPos < 0 || startPos > lastPossible) ? lastPossible : startPos;
  for (int pos = start; pos >= 1; --pos) {
    if (SameText(haystack.substr(static_cast<size_t>(pos - 1), needle.size()), needle)) return pos;
  }
  return 0;
}

std::string SplitAt(std::string& input, std::string_view delimiter, bool removeFromInput, bool caseSensitive) {
  const int pos = caseSensitive ? FindText(delimiter, input) : FindText(UpperCase(delimiter), UpperCase(input));
  if (pos == 0) {
    std::string whole = input;
    if (removeFromInput) input.clear();
    return whole;
  }
  std::string before = input.substr(0, static_cast<size_t>(pos - 1));
  if (removeFromInput) input.erase(0, static_cast<size_t>(pos - 1) + delimiter.size());
  return before;
}
