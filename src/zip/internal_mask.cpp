#include "zip/internal_mask.h"

namespace {

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

TInternalMask::TInternalMask(std::string_view mask) {
  m_endsWithDot = !mask.empty() && mask.back() == '.';
  bool starPending = false;
  for (const char c : mask) {
    if (c == '*') {
      starPending = true;
    } else if (c == '?') {
      // After a star a '?' adds nothing the star's skip does not already cover: "*?" compiles like "*".
      if (!starPending) m_items.push_back({/*StarBefore=*/false, ItemKind::AnyOne, 0});
    } else {
      m_items.push_back({starPending, ItemKind::Literal, UpperAscii(c)});
      starPending = false;
    }
  }
  m_items.push_back({starPending, ItemKind::Literal, 0});
}

bool TInternalMask::Matches(std::string_view nameIn) const {
  std::string name(nameIn);
  if (m_endsWithDot && name.find('.') == std::string::npos) name += '.';
  // The terminating item compares with this 0, so it demands the end of the name; nothing reads beyond it.
  // A 0 byte inside a name therefore also ends it, as it would in a C string.
  const auto at = [&name](size_t position) -> char { return position < name.size() ? name[position] : '\0'; };

  // The newest resume point (see the header: older ones can never lead to a match the newest misses).
  bool haveResume = false;
  size_t resumePosition = 0;
  size_t resumeItem = 0;
  size_t position = 0;
  size_t item = 0;
  for (;;) {
    bool failed = false;
    while (item < m_items.size()) {
      const TMaskItem& current = m_items[item];
      if (current.StarBefore) {
        while (at(position) != '\0' && UpperAscii(at(position)) != current.Ch) ++position;
        if (at(position) != '\0') {
          haveResume = true;
          resumePosition = position + 1;
          resumeItem = item;
        }
      }
      const char c = at(position);
      const bool accepted = current.Kind == ItemKind::AnyOne ? c != '\0' : UpperAscii(c) == current.Ch;
      if (!accepted) {
        failed = true;
        break;
      }
      ++position;
      ++item;
    }
    if (!failed) return true;
    if (!haveResume) return false;
    haveResume = false;
    position = resumePosition;
    item = resumeItem;
  }
}

bool MaskMatches(std::string_view name, std::string_view mask) { return TInternalMask(mask).Matches(name); }
