#include "zip/decoders/lsb_bit_reader.h"

#include <algorithm>

namespace {
constexpr int64_t kBlockSize = 32768;
}

TLsbBitReader::TLsbBitReader(const TMemberInfo& member, TDecodeContext& context)
    : m_context(context), m_remaining(std::max<int64_t>(member.CompressedSize, 0)), m_buffer(kBlockSize) {}

bool TLsbBitReader::LoadByte() {
  if (m_end || m_remaining <= 0 || m_context.Cancelled()) {
    m_end = true;
    return false;
  }
  if (m_position == m_count) {
    const int64_t wanted = std::min(m_remaining, kBlockSize);
    m_count = m_context.ReadBlock ? std::min(m_context.ReadBlock(m_buffer.data(), wanted), wanted) : 0;
    m_position = 0;
    if (m_count <= 0) {
      m_count = 0;
      m_end = true;
      return false;
    }
  }
  m_current = m_buffer[static_cast<size_t>(m_position++)];
  --m_remaining;
  m_bitsLeft = 8;
  return true;
}

int32_t TLsbBitReader::ReadBits(int count) {
  uint32_t result = 0;
  int taken = 0;
  while (taken < count) {
    if (m_bitsLeft == 0 && !LoadByte()) return -1;
    const int take = std::min(count - taken, m_bitsLeft);
    const uint32_t bits = (m_current >> (8 - m_bitsLeft)) & ((1u << take) - 1);
    result |= bits << taken;
    m_bitsLeft -= take;
    taken += take;
  }
  return static_cast<int32_t>(result);
}
