#pragma once
// Two-level lookup tables for the canonical prefix codes of Deflate, Deflate64 and Implode, built from a list
// of code lengths. Codes arrive least significant bit first, so a table is indexed by the next LookupBits()
// bits of the input; an entry either decodes a symbol or links to a sub-table indexed by the bits after them.
//
// Operation numbering, relative to the operation base B (32 for inflate, 16 for explode):
//   99        invalid code (no symbol has this bit pattern, or the symbol is not allowed)
//   B         literal; Value is the byte
//   B - 1     end of block (symbol 256 when it is among the plain symbols and B is 32)
//   > B       link: Value is the index of a sub-table indexed by the next (operation - B) bits
//   0 .. 16   length or distance: Value is the base, the operation the number of extra bits
// Bits is the number of bits the entry consumes (at its own level). Deflate64's 16 extra bits are why inflate
// needs base 32; implode's codes carry at most 8 extra bits, so base 16 is unambiguous there.
//
// A decoder walks it as: entry = table[bits & mask(LookupBits)]; while operation > B and not 99: drop
// entry.Bits, entry = table[entry.Value + (bits & mask(operation - B))]; 99 is an invalid code, anything
// else a symbol whose entry.Bits are then dropped.
#include <cstdint>
#include <vector>

struct THuffmanEntry {
  uint8_t Operation = 99;
  uint8_t Bits = 0;
  uint32_t Value = 0;
};

namespace huffman_result {
inline constexpr int kComplete = 0;
inline constexpr int kIncomplete = 1;      // fewer codes than the lengths allow (also: no codes at all)
inline constexpr int kOversubscribed = 2;  // more codes than the lengths allow, or a length above 16
inline constexpr int kNoMemory = 3;        // a sub-table could not be allocated
}  // namespace huffman_result

inline constexpr uint8_t kInvalidOperation = 99;
inline constexpr int kMaxCodeLength = 16;

class THuffmanTable {
 public:
  // Builds the table for count symbols with the given code lengths (0 = unused symbol). Symbols below
  // plainCount are literals (symbol 256 is end of block when operationBase is 32); symbol s at or above
  // plainCount takes base[s - plainCount] and extra[s - plainCount] (an extra value of 99 marks a symbol
  // that is invalid in this mode; symbols past extraCount are invalid too). Returns a huffman_result value;
  // an incomplete table is still usable (its unassigned bit patterns decode as invalid), a table with a
  // worse result is empty.
  int Build(const uint8_t* lengths, int count, int plainCount, const uint16_t* base, const uint8_t* extra,
            int extraCount, int lookupBits, int operationBase);

  int LookupBits() const { return m_lookupBits; }
  int OperationBase() const { return m_operationBase; }
  bool Empty() const { return m_entries.empty(); }
  const THuffmanEntry& operator[](uint32_t index) const { return m_entries[index]; }

 private:
  THuffmanEntry SymbolEntry(int symbol, int bits, int plainCount, const uint16_t* base, const uint8_t* extra,
                            int extraCount) const;

  std::vector<THuffmanEntry> m_entries;  // the root table, then every sub-table
  int m_lookupBits = 0;
  int m_operationBase = 32;
};
