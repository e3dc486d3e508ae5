#pragma once
// The bit reader of the shrink and reduce decoders: the member's compressed bytes, pulled through ReadBlock
// in blocks of at most 32768, taken one byte at a time and least significant bit first. It reports the end
// of input once every compressed byte has been used, ReadBlock gives nothing more, or the run is cancelled.
#include <cstdint>
#include <vector>

#include "zip/decoders/decode_context.h"

class TLsbBitReader {
 public:
  TLsbBitReader(const TMemberInfo& member, TDecodeContext& context);

  // The next count bits (1..24), the first taken as the lowest; -1 when the input ends before count bits.
  int32_t ReadBits(int count);
  // True while some compressed byte has not yet been loaded.
  bool BytesLeft() const { return m_remaining > 0 && !m_end; }
  bool End() const { return m_end; }

 private:
  bool LoadByte();

  TDecodeContext& m_context;
  int64_t m_remaining;  // compressed bytes not yet loaded
  std::vector<uint8_t> m_buffer;
  int64_t m_position = 0;
  int64_t m_count = 0;
  uint32_t m_current = 0;
  int m_bitsLeft = 0;
  bool m_end = false;
};
