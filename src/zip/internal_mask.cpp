#include "zip/internal_mask.h"

#include <cstdint>

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
      if (!starPending) m_items.push_back({false, ItemKind::AnyOne, 0});
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

  struct ResumePoint {
    size_t Position;
    size_t Item;
  };
  // Resume points are pushed in item order, so the newest belongs to the last star tried. Only the last
  // star ever needs to move on: every word that a later star could still place after an earlier star moves
  // on is also reachable by moving the later star alone. Dropping the oldest point when the stack is full
  // therefore changes no answer, and bounds the work for masks with many stars.
  ResumePoint stack[kStackCapacity];
  size_t depth = 0;
  size_t position = 0;
  size_t item = 0;
  for (;;) {
    bool failed = false;
    while (item < m_items.size()) {
      const TMaskItem& current = m_items[item];
      if (current.StarBefore) {
        while (at(position) != '\0' && UpperAscii(at(position)) != current.Ch) ++position;
        if (at(position) != '\0') {
          if (depth == kStackCapacity) {
            for (size_t i = 1; i < depth; ++i) stack[i - 1] = stack[i];
            --depth;
          }
          stack[depth++] = {position + 1, item};
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
    if (depth == 0) return false;
    --depth;
    position = stack[depth].Position;
    item = stack[depth].Item;
  }
}

bool MaskMatches(std::string_view name, std::string_view mask) { return TInternalMask(mask).Matches(name); }
