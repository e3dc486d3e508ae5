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
// Decode walks it: entry = table[bits & mask(LookupBits)]; while operation > B and not 99: drop entry.Bits,
// entry = table[entry.Value + (bits & mask(operation - B))]; 99 is an invalid code, anything else a symbol
// whose entry.Bits are then dropped. Implode stores its codes inverted; such a table is built over the
// complemented codes, so that the same walk over the input's bits serves both.
#include <cstdint>
#include <vector>

#include "zip/decoders/block_bit_input.h"

struct THuffmanEntry {
  uint8_t Operation = 99;
  uint8_t Bits = 0;
  uint32_t Value = 0;
};

enum class THuffmanResult {
  Complete,
  Incomplete,      // fewer codes than the lengths allow (also: no codes at all)
  Oversubscribed,  // more codes than the lengths allow, or a length above 16
  NoMemory,        // a sub-table could not be allocated
};

// How a code's bits stand in the input: as assigned (Deflate) or complemented (Implode).
enum class TCodeBits { Plain, Inverted };

inline constexpr uint8_t kInvalidOperation = 99;
inline constexpr int kMaxCodeLength = 16;

class THuffmanTable {
 public:
  // Builds the table for count symbols with the given code lengths (0 = unused symbol). Symbols below
  // plainCount are literals (symbol 256 is end of block when operationBase is 32); symbol s at or above
  // plainCount takes base[s - plainCount] and extra[s - plainCount] (an extra value of 99 marks a symbol
  // that is invalid in this mode; symbols past extraCount are invalid too). An incomplete table is still
  // usable (its unassigned bit patterns decode as invalid), a table with a worse result is empty.
  THuffmanResult Build(const uint8_t* lengths, int count, int plainCount, const uint16_t* base,
                       const uint8_t* extra, int extraCount, int lookupBits, int operationBase,
                       TCodeBits codeBits = TCodeBits::Plain);

  // Looks up the next code of the input and drops its bits; false for an invalid code (its bits stay).
  // operationBase is the one the table was built with, a constant of the caller's: this runs once per code,
  // inline in the decoders' loops, where a compare with a constant is what keeps inflate at its speed.
  template <int operationBase>
  bool Decode(TBlockBitInput& input, THuffmanEntry& entry) const {
    int width = m_lookupBits;
    input.NeedBits(width);
    entry = m_entries[input.Bits(width)];
    while (entry.Operation > operationBase && entry.Operation != kInvalidOperation) {
      input.DropBits(entry.Bits);
      width = entry.Operation - operationBase;
      input.NeedBits(width);
      entry = m_entries[entry.Value + input.Bits(width)];
    }
    if (entry.Operation == kInvalidOperation) return false;
    input.DropBits(entry.Bits);
    return true;
  }

  int LookupBits() const { return m_lookupBits; }
  bool Empty() const { return m_entries.empty(); }
  const THuffmanEntry& operator[](uint32_t index) const { return m_entries[index]; }

 private:
  THuffmanEntry SymbolEntry(int symbol, int bits, int plainCount, const uint16_t* base, const uint8_t* extra,
                            int extraCount) const;
  // The steps of Build: a root table with a link to a sub-table under each root index that longer codes lie
  // under, as wide as its longest code needs; then every entry whose low bits equal a code, filled with that
  // code's symbol. reversed holds each symbol's code, bit-reversed.
  void AllocateSubTables(const uint8_t* lengths, int count, const std::vector<uint32_t>& reversed);
  void FillEntries(const uint8_t* lengths, int count, const std::vector<uint32_t>& reversed, int plainCount,
                   const uint16_t* base, const uint8_t* extra, int extraCount);

  std::vector<THuffmanEntry> m_entries;  // the root table, then every sub-table
  int m_lookupBits = 0;
  int m_operationBase = 32;
};
