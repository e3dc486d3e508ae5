#include "zip/decoders/block_bit_input.h"

#include <algorithm>
#include <cstring>

TBlockBitInput::TBlockBitInput(const TMemberInfo& member, TDecodeContext& context)
    : m_context(context), m_compressedSize(std::max<int64_t>(member.CompressedSize, 0)), m_buffer(kBlockSize) {}

void TBlockBitInput::Refill() {
  m_position = 0;
  // A decoder may read two bytes ahead of its last code (a lookup of up to 16 bits); anything beyond that
  // is a member that ended before its last block.
  if (m_bytesRead > m_compressedSize + 2) {
    m_exhausted = true;
    std::memset(m_buffer.data(), 0, m_buffer.size());
    m_end = kBlockSize - 1;
    return;
  }
  const int64_t wanted = std::min<int64_t>(m_compressedSize - m_bytesRead, kBlockSize);
  int64_t count = wanted > 0 && m_context.ReadBlock ? m_context.ReadBlock(m_buffer.data(), wanted) : 0;
  count = std::min(count, wanted);
  if (count <= 0) {
    m_exhausted = true;
    std::memset(m_buffer.data(), 0, m_buffer.size());
    count = kBlockSize;
  }
  m_bytesRead += count;
  m_end = static_cast<int32_t>(count - 1);
}
