#pragma once
// Test helper: packs values least significant bit first, as Deflate, Implode, Shrink and Reduce store them,
// to hand-build small streams with exactly the codes a test needs.
#include <cstdint>
#include <vector>

class TLsbBitWriter {
 public:
  // Appends the low count bits of value, lowest first.
  TLsbBitWriter& Put(uint32_t value, int count) {
    for (int i = 0; i < count; ++i) PutBit((value >> i) & 1);
    return *this;
  }
  // Appends a prefix code given most significant bit first (as Huffman codes are defined).
  TLsbBitWriter& PutCode(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) PutBit((code >> i) & 1);
    return *this;
  }
  TLsbBitWriter& AlignToByte() {
    while (m_bitCount % 8 != 0) PutBit(0);
    return *this;
  }
  const std::vector<uint8_t>& Bytes() const { return m_bytes; }

 private:
  void PutBit(uint32_t bit) {
    if (m_bitCount % 8 == 0) m_bytes.push_back(0);
    m_bytes.back() = static_cast<uint8_t>(m_bytes.back() | (bit << (m_bitCount % 8)));
    ++m_bitCount;
  }
  std::vector<uint8_t> m_bytes;
  uint64_t m_bitCount = 0;
};
