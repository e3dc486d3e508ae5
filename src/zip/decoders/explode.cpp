#include "zip/decoders/explode.h"

#include <algorithm>

#include "zip/decoders/decoders.h"

namespace {

constexpr int kOperationBase = 16;
constexpr int kLiteralLookupBits = 9;
constexpr int kLengthLookupBits = 7;

struct TExplodeTables {
  uint16_t LengthBase2[64];  // two trees: 2..65
  uint16_t LengthBase3[64];  // three trees: 3..66
  uint8_t LengthExtra[64];   // 8 extra bits for the last code only
  uint16_t DistanceBase8K[64];
  uint16_t DistanceBase4K[64];
  uint8_t DistanceExtra[64];
  constexpr TExplodeTables() : LengthBase2(), LengthBase3(), LengthExtra(), DistanceBase8K(), DistanceBase4K(), DistanceExtra() {
    for (int code = 0; code < 64; ++code) {
      LengthBase2[code] = static_cast<uint16_t>(code + 2);
      LengthBase3[code] = static_cast<uint16_t>(code + 3);
      LengthExtra[code] = code == 63 ? 8 : 0;
      DistanceBase8K[code] = static_cast<uint16_t>(1 + 128 * code);
      DistanceBase4K[code] = static_cast<uint16_t>(1 + 64 * code);
      DistanceExtra[code] = 0;
    }
  }
};
constexpr TExplodeTables kTables;

}  // namespace

int TExploder::DistanceLookupBits(int64_t compressedSize) { return compressedSize > 200000 ? 8 : 7; }

TExploder::TExploder(const TMemberInfo& member, TDecodeContext& context)
    : m_context(context),
      m_output(member, context),
      m_input(member, context),
      m_window(kWindowSize, m_output, context),
      m_eightK((member.Flags & 2) != 0),
      m_threeTrees((member.Flags & 4) != 0),
      m_distanceLookupBits(DistanceLookupBits(member.CompressedSize)) {}

bool TExploder::ReadTree(THuffmanTable& table, int count, int lookupBits, int plainCount, const uint16_t* base,
                         const uint8_t* extra) {
  uint8_t lengths[256];
  const int runs = static_cast<int>(m_input.TakeBits(8)) + 1;
  int filled = 0;
  for (int run = 0; run < runs; ++run) {
    const uint32_t packed = m_input.TakeBits(8);
    const int codes = static_cast<int>(packed >> 4) + 1;
    const uint8_t length = static_cast<uint8_t>((packed & 15) + 1);
    if (filled + codes > count) return false;  // the runs describe more codes than the tree has
    for (int i = 0; i < codes; ++i) lengths[filled++] = length;
  }
  if (filled != count) return false;  // ... or fewer
  // Unlike a distance table of inflate, an incomplete tree is refused too.
  return table.Build(lengths, count, plainCount, base, extra, 64, lookupBits, kOperationBase,
                     TCodeBits::Inverted) == THuffmanResult::Complete;
}

TDecodeStatus TExploder::Run() {
  if (m_threeTrees && !ReadTree(m_literals, 256, kLiteralLookupBits, 256, nullptr, nullptr))
    return TDecodeStatus::InvalidData;
  if (!ReadTree(m_lengths, 64, kLengthLookupBits, 0, m_threeTrees ? kTables.LengthBase3 : kTables.LengthBase2,
                kTables.LengthExtra))
    return TDecodeStatus::InvalidData;
  if (!ReadTree(m_distances, 64, m_distanceLookupBits, 0,
                m_eightK ? kTables.DistanceBase8K : kTables.DistanceBase4K, kTables.DistanceExtra))
    return TDecodeStatus::InvalidData;
  const TDecodeStatus status = DecodeItems();
  if (status == TDecodeStatus::OutputShort) return status;
  const TDecodeStatus flushStatus = m_window.Flush();
  return status != TDecodeStatus::Ok ? status : flushStatus;
}

TDecodeStatus TExploder::DecodeItems() {
  const int lowDistanceBits = m_eightK ? 7 : 6;
  while (m_window.Remaining() > 0) {
    if (m_context.Cancelled()) return TDecodeStatus::Cancelled;
    if (m_input.Exhausted()) return TDecodeStatus::InputEnded;
    THuffmanEntry entry;
    if (m_input.TakeBits(1) != 0) {
      uint8_t literal;
      if (m_threeTrees) {
        if (!m_literals.Decode<kOperationBase>(m_input, entry)) return TDecodeStatus::InvalidData;
        literal = static_cast<uint8_t>(entry.Value);
      } else {
        literal = static_cast<uint8_t>(m_input.TakeBits(8));
      }
      const TDecodeStatus status = m_window.PutByte(literal);
      if (status != TDecodeStatus::Ok) return status;
      continue;
    }
    const uint32_t low = m_input.TakeBits(lowDistanceBits);
    if (!m_distances.Decode<kOperationBase>(m_input, entry)) return TDecodeStatus::InvalidData;
    const uint32_t distance = low + entry.Value;
    if (!m_lengths.Decode<kOperationBase>(m_input, entry)) return TDecodeStatus::InvalidData;
    uint32_t length = entry.Value;
    if (entry.Operation != 0) length += m_input.TakeBits(entry.Operation);
    length = static_cast<uint32_t>(std::min<int64_t>(length, m_window.Remaining()));
    const TDecodeStatus status = m_window.Copy(distance, length);
    if (status != TDecodeStatus::Ok) return status;
  }
  return TDecodeStatus::Ok;
}

TDecodeStatus Explode(const TMemberInfo& member, TDecodeContext& context) {
  TExploder decoder(member, context);
  return decoder.Run();
}
