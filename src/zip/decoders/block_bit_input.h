#pragma once
// The bit input of every decoder: compressed bytes pulled through the context's ReadBlock in blocks of at
// most 32768, consumed least significant bit first through a 32-bit bit buffer.
//
// Refill rule: a member whose data end early is not detected at the read that comes up empty but at the
// decoder's next test of Exhausted(). The empty read counts as a full block of zero bytes, so the decoder may
// run a few codes into them (harmlessly) before it tests; a stream whose last code ends in its final byte is
// still decoded, because looking up that code may ask for bits beyond the end. The shrink and reduce
// decoders, whose codes have no end marker, read through ReadBits instead, which never hands out those
// zero bits.
#include <cstdint>
#include <vector>

#include "zip/decoders/decode_context.h"

class TBlockBitInput {
 public:
  static constexpr int kBlockSize = 32768;

  TBlockBitInput(const TMemberInfo& member, TDecodeContext& context);

  // Makes at least count bits (count <= 24) available in the bit buffer.
  void NeedBits(int count) {
    while (m_bitCount < count) {
      if (m_position > m_end) Refill();
      m_bitBuffer |= static_cast<uint32_t>(m_buffer[static_cast<size_t>(m_position++)]) << m_bitCount;
      m_bitCount += 8;
    }
  }
  // The low count bits of the bit buffer (after NeedBits(count)).
  uint32_t Bits(int count) const { return m_bitBuffer & ((1u << count) - 1); }
  uint32_t BitBuffer() const { return m_bitBuffer; }
  void DropBits(int count) {
    m_bitBuffer >>= count;
    m_bitCount -= count;
  }
  // NeedBits, Bits, DropBits in one.
  uint32_t TakeBits(int count) {
    NeedBits(count);
    const uint32_t value = Bits(count);
    DropBits(count);
    return value;
  }
  // The next count bits (1..24), the first taken as the lowest; -1, taking nothing, when the member's data
  // end before count bits or the run is cancelled.
  int32_t ReadBits(int count) {
    if (m_context.Cancelled()) return -1;
    NeedBits(count);
    // Past the end the block holds zero bytes, m_position of which are in the bit buffer by now.
    if (m_exhausted && m_bitCount - 8 * m_position < count) return -1;
    return static_cast<int32_t>(TakeBits(count));
  }
  // Drops the bits up to the next byte boundary (stored blocks start there).
  void AlignToByte() { DropBits(m_bitCount % 8); }

  // True once the decoder asked for bytes past the member's compressed data.
  bool Exhausted() const { return m_exhausted; }

 private:
  void Refill();

  TDecodeContext& m_context;
  int64_t m_compressedSize;
  int64_t m_bytesRead = 0;
  std::vector<uint8_t> m_buffer;
  int32_t m_position = 0;
  int32_t m_end = -1;  // last valid byte; -1 before the first read
  uint32_t m_bitBuffer = 0;
  int m_bitCount = 0;
  bool m_exhausted = false;
};
