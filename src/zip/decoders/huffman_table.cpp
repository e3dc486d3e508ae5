#include "zip/decoders/huffman_table.h"

#include <cstddef>
#include <new>

namespace {

// Codes are defined most significant bit first but read least significant bit first: the table index of a
// code is its bit-reversed value.
uint32_t Reverse(uint32_t code, int length) {
  uint32_t result = 0;
  for (int i = 0; i < length; ++i) {
    result = (result << 1) | (code & 1);
    code >>= 1;
  }
  return result;
}

// Each symbol's canonical code (RFC 1951, 3.2.2), bit-reversed for the table; 0 for an unused symbol.
std::vector<uint32_t> ReversedCodes(const uint8_t* lengths, int count, const int (&lengthCount)[kMaxCodeLength + 1],
                                    TCodeBits codeBits) {
  // First canonical code of each length.
  uint32_t nextCode[kMaxCodeLength + 2] = {};
  uint32_t code = 0;
  for (int length = 1; length <= kMaxCodeLength; ++length) {
    code = (code + static_cast<uint32_t>(lengthCount[length - 1])) << 1;
    nextCode[length] = code;
  }
  std::vector<uint32_t> reversed(static_cast<std::size_t>(count), 0);
  for (int symbol = 0; symbol < count; ++symbol) {
    const int length = lengths[symbol];
    if (length == 0) continue;
    uint32_t assigned = nextCode[length]++;
    if (codeBits == TCodeBits::Inverted) assigned ^= (1u << length) - 1;
    reversed[symbol] = Reverse(assigned, length);
  }
  return reversed;
}

}  // namespace

THuffmanEntry THuffmanTable::SymbolEntry(int symbol, int bits, int plainCount, const uint16_t* base,
                                         const uint8_t* extra, int extraCount) const {
  THuffmanEntry entry;
  entry.Bits = static_cast<uint8_t>(bits);
  if (symbol < plainCount) {
    const bool endOfBlock = m_operationBase == 32 && symbol == 256;
    entry.Operation = static_cast<uint8_t>(endOfBlock ? m_operationBase - 1 : m_operationBase);
    entry.Value = static_cast<uint32_t>(symbol);
    return entry;
  }
  const int index = symbol - plainCount;
  if (index >= extraCount || extra[index] == kInvalidOperation) {
    entry.Operation = kInvalidOperation;
    return entry;
  }
  entry.Operation = extra[index];
  entry.Value = base[index];
  return entry;
}

THuffmanResult THuffmanTable::Build(const uint8_t* lengths, int count, int plainCount, const uint16_t* base,
                                    const uint8_t* extra, int extraCount, int lookupBits, int operationBase,
                                    TCodeBits codeBits) {
  m_entries.clear();
  m_lookupBits = lookupBits;
  m_operationBase = operationBase;

  // Count the codes of each length and check that they fit the code space.
  int lengthCount[kMaxCodeLength + 1] = {};
  for (int symbol = 0; symbol < count; ++symbol) {
    if (lengths[symbol] > kMaxCodeLength) return THuffmanResult::Oversubscribed;
    ++lengthCount[lengths[symbol]];
  }
  lengthCount[0] = 0;
  int left = 1;  // unassigned codes of the current length
  for (int length = 1; length <= kMaxCodeLength; ++length) {
    left = left * 2 - lengthCount[length];
    if (left < 0) return THuffmanResult::Oversubscribed;
  }
  const THuffmanResult result = left > 0 ? THuffmanResult::Incomplete : THuffmanResult::Complete;

  const std::vector<uint32_t> reversed = ReversedCodes(lengths, count, lengthCount, codeBits);
  try {
    AllocateSubTables(lengths, count, reversed);
    FillEntries(lengths, count, reversed, plainCount, base, extra, extraCount);
  } catch (const std::bad_alloc&) {
    m_entries.clear();
    return THuffmanResult::NoMemory;
  }
  return result;
}

void THuffmanTable::AllocateSubTables(const uint8_t* lengths, int count, const std::vector<uint32_t>& reversed) {
  const uint32_t rootSize = 1u << m_lookupBits;
  const uint32_t rootMask = rootSize - 1;
  std::vector<int> subBits(rootSize, 0);
  for (int symbol = 0; symbol < count; ++symbol) {
    const int length = lengths[symbol];
    if (length > m_lookupBits) {
      int& bits = subBits[reversed[symbol] & rootMask];
      if (length - m_lookupBits > bits) bits = length - m_lookupBits;
    }
  }
  m_entries.assign(rootSize, THuffmanEntry{});
  for (uint32_t index = 0; index < rootSize; ++index) {
    if (subBits[index] == 0) continue;
    THuffmanEntry link;
    link.Operation = static_cast<uint8_t>(m_operationBase + subBits[index]);
    link.Bits = static_cast<uint8_t>(m_lookupBits);
    link.Value = static_cast<uint32_t>(m_entries.size());
    m_entries[index] = link;
    m_entries.resize(m_entries.size() + (std::size_t{1} << subBits[index]));
  }
}

void THuffmanTable::FillEntries(const uint8_t* lengths, int count, const std::vector<uint32_t>& reversed,
                                int plainCount, const uint16_t* base, const uint8_t* extra, int extraCount) {
  const uint32_t rootSize = 1u << m_lookupBits;
  const uint32_t rootMask = rootSize - 1;
  for (int symbol = 0; symbol < count; ++symbol) {
    const int length = lengths[symbol];
    if (length == 0) continue;
    const uint32_t bitsOfCode = reversed[symbol];
    if (length <= m_lookupBits) {
      const THuffmanEntry entry = SymbolEntry(symbol, length, plainCount, base, extra, extraCount);
      for (uint32_t index = bitsOfCode; index < rootSize; index += 1u << length) m_entries[index] = entry;
    } else {
      const THuffmanEntry& link = m_entries[bitsOfCode & rootMask];
      const int width = link.Operation - m_operationBase;
      const int subLength = length - m_lookupBits;
      const THuffmanEntry entry = SymbolEntry(symbol, subLength, plainCount, base, extra, extraCount);
      for (uint32_t index = bitsOfCode >> m_lookupBits; index < (1u << width); index += 1u << subLength)
        m_entries[link.Value + index] = entry;
    }
  }
}
