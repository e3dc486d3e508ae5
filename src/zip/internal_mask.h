#pragma once
// Wildcard masks that select archive members by name: '*' matches any run of bytes (separators included),
// '?' any one byte, every other byte itself, ASCII letters without regard to case. A mask is compiled into
// a TInternalMask, matched with backtracking, and thrown away; nothing is cached between calls.
//
// Backtracking needs only the newest resume point: once the last star tried cannot place the rest of the
// mask anywhere further on, moving an earlier star on cannot either (it only leaves less of the name for
// the same rest). So the resume stack is kept at its top element alone. A mask may therefore have any
// number of star items (there is no 30-point limit to overflow), and matching takes at most name length
// times mask length steps instead of growing exponentially with the stars.
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
