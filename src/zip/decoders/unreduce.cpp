#include "zip/decoders/unreduce.h"

#include <algorithm>

#include "zip/decoders/decoders.h"

namespace {

// Bits of a follower index for a set of count bytes.
int IndexBits(int count) {
  if (count <= 2) return 1;
  if (count <= 4) return 2;
  if (count <= 8) return 3;
  if (count <= 16) return 4;
  return 5;
}

}  // namespace

TUnreducer::TUnreducer(const TMemberInfo& member, TDecodeContext& context)
    : m_output(member, context),
      m_input(member, context),
      m_window(kWindowSize, m_output, context),
      m_factor(member.Method - 1),
      m_followers(256) {}

TDecodeStatus TUnreducer::ReadFollowerSets() {
  for (int set = 255; set >= 0; --set) {
    const int32_t count = m_input.ReadBits(6);
    if (count < 0) return TDecodeStatus::InputEnded;
    if (count > kMaxFollowers) return TDecodeStatus::InvalidData;
    m_followers[set].Count = count;
    for (int i = 0; i < count; ++i) {
      const int32_t value = m_input.ReadBits(8);
      if (value < 0) return TDecodeStatus::InputEnded;
      m_followers[set].Bytes[i] = static_cast<uint8_t>(value);
    }
  }
  return TDecodeStatus::Ok;
}

TDecodeStatus TUnreducer::Run() {
  if (m_factor < 1 || m_factor > 4) return TDecodeStatus::UnsupportedMethod;
  const TDecodeStatus setsStatus = ReadFollowerSets();
  if (setsStatus != TDecodeStatus::Ok) return setsStatus;
  uint8_t last = 0;
  // Runs to the declared size rather than to the last loaded byte: the final byte may hold whole codes.
  while (m_window.Remaining() > 0) {
    const TFollowerSet& set = m_followers[last];
    int32_t value;
    if (set.Count == 0) {
      value = m_input.ReadBits(8);
    } else {
      const int32_t literal = m_input.ReadBits(1);
      if (literal < 0) break;
      if (literal == 1) {
        value = m_input.ReadBits(8);
      } else {
        // An index past the set's count reads an unused slot of the 32; such data are damaged anyway.
        const int32_t index = m_input.ReadBits(IndexBits(set.Count));
        value = index < 0 ? -1 : set.Bytes[index];
      }
    }
    if (value < 0) break;
    last = static_cast<uint8_t>(value);
    const TDecodeStatus status = Expand(last);
    if (status != TDecodeStatus::Ok) return status;
  }
  return m_window.Flush();
}

TDecodeStatus TUnreducer::Expand(uint8_t value) {
  static constexpr int kMask[5] = {0, 127, 63, 31, 15};
  switch (m_state) {
    case TExpanderState::Plain:
      if (value == kMarker) {
        m_state = TExpanderState::AfterMarker;
        return TDecodeStatus::Ok;
      }
      return m_window.PutByte(value);
    case TExpanderState::AfterMarker:
      if (value == 0) {
        m_state = TExpanderState::Plain;
        return m_window.PutByte(kMarker);
      }
      m_marked = value;
      m_length = value & kMask[m_factor];
      m_state = m_length == kMask[m_factor] ? TExpanderState::LengthExtension : TExpanderState::DistanceLow;
      return TDecodeStatus::Ok;
    case TExpanderState::LengthExtension:
      m_length += value;
      m_state = TExpanderState::DistanceLow;
      return TDecodeStatus::Ok;
    case TExpanderState::DistanceLow: {
      const uint32_t distance = ((static_cast<uint32_t>(m_marked) >> (8 - m_factor)) << 8) + value + 1;
      const uint32_t length = static_cast<uint32_t>(std::min<int64_t>(m_length + 3, m_window.Remaining()));
      m_state = TExpanderState::Plain;
      return m_window.Copy(distance, length);
    }
  }
  return TDecodeStatus::Ok;
}

TDecodeStatus Unreduce(const TMemberInfo& member, TDecodeContext& context) {
  TUnreducer decoder(member, context);
  return decoder.Run();
}
