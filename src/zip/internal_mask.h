#pragma once
// Wildcard masks that select archive members by name: '*' matches any run of bytes (separators included),
// '?' any one byte, every other byte itself, ASCII letters without regard to case. A mask is compiled into
// a TInternalMask, matched with backtracking, and thrown away; nothing is cached between calls.
#include <string>
#include <string_view>
#include <vector>

class TInternalMask {
 public:
  // Compiles the mask. Never fails: an empty mask matches only the empty name.
  explicit TInternalMask(std::string_view mask);

  // True when the whole name matches. A mask ending in '.' also matches a name that has no '.' at all
  // (the name is matched with a '.' appended). An any-one-byte item never matches the end of the name, and
  // the name is never read past its end.
  bool Matches(std::string_view name) const;

  // At most this many resume points are kept; see Matches in internal_mask.cpp for why dropping the oldest
  // one when a mask has more star items loses no match.
  static constexpr size_t kStackCapacity = 30;

 private:
  enum class ItemKind : unsigned char { Literal = 0, AnyOne = 1 };
  struct TMaskItem {
    bool StarBefore = false;
    ItemKind Kind = ItemKind::Literal;
    char Ch = 0;  // upper case; 0 for the terminating item
  };

  std::vector<TMaskItem> m_items;
  bool m_endsWithDot = false;
};

// Compiles the mask, matches the name against it, and frees it.
bool MaskMatches(std::string_view name, std::string_view mask);
