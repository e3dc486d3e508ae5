#include "zip/decoders/inflate64.h"

#include "zip/decoders/decoders.h"


namespace {

constexpr int kOperationBase = 32;
constexpr int kLiteral = kOperationBase;
constexpr int kEndOfBlock = kOperationBase - 1;

// Lengths of codes 257 to 287. Code 285 is 258 in Deflate; Deflate64 gives it base 3 and 16 extra bits.
// Codes 286 and 287 never occur in valid data.
constexpr uint16_t kLengthBase[31] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27, 31,
                                      35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0,  0};
constexpr uint8_t kLengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                      3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
constexpr uint16_t kLengthBase64[31] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27, 31,
                                        35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3,   0,  0};
constexpr uint8_t kLengthExtra64[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,  2,
                                        3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16, 99, 99};
// Distances of codes 0 to 31; codes 30 and 31 reach up to 65536 bytes back and exist only in Deflate64.
constexpr uint16_t kDistanceBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                        49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                        2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr uint8_t kDistanceExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                        7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 99, 99};
constexpr uint8_t kDistanceExtra64[32] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                          7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};

// Order in which the dynamic header lists the code-length code lengths.
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr int kLiteralLookupBits = 9;
constexpr int kDistanceLookupBits = 6;
constexpr int kCodeLengthLookupBits = 7;
constexpr int kFixedLiteralLookupBits = 7;
constexpr int kFixedDistanceLookupBits = 5;

// A distance code may be incomplete: a block of literals only may describe a single distance code, or
// none, and the unused patterns decode as invalid.
bool Usable(THuffmanResult result) {
  return result == THuffmanResult::Complete || result == THuffmanResult::Incomplete;
}

}  // namespace

TInflate64::TInflate64(const TMemberInfo& member, TDecodeContext& context, TDeflateVariant variant)
    : m_context(context),
      m_deflate64(variant == TDeflateVariant::Deflate64),
      m_output(member, context),
      m_input(member, context),
      m_window(m_deflate64 ? 65536u : 32768u, m_output, context) {}

TDecodeStatus TInflate64::Run() {
  bool last = false;
  TDecodeStatus status;
  do {
    status = DecodeBlock(last);
    if (m_context.Cancelled()) return TDecodeStatus::Cancelled;
  } while (status == TDecodeStatus::Ok && !last);
  const TDecodeStatus flushStatus = m_window.Flush();
  return status == TDecodeStatus::Ok ? flushStatus : status;
}

TDecodeStatus TInflate64::DecodeBlock(bool& last) {
  last = m_input.TakeBits(1) != 0;
  switch (m_input.TakeBits(2)) {
    case 0: return DecodeStored();
    case 1: return DecodeFixed();
    case 2: return DecodeDynamic();
    default: return TDecodeStatus::InvalidData;  // block type 3 is reserved
  }
}

TDecodeStatus TInflate64::DecodeStored() {
  m_input.AlignToByte();
  const uint32_t length = m_input.TakeBits(16);
  const uint32_t complement = m_input.TakeBits(16);
  if (length != (~complement & 0xFFFF)) return TDecodeStatus::InvalidData;  // LEN is not ~NLEN
  for (uint32_t i = 0; i < length; ++i) {
    if (m_context.Cancelled()) return TDecodeStatus::Cancelled;
    if (m_input.Exhausted()) return TDecodeStatus::InputEnded;
    const TDecodeStatus status = m_window.PutByte(static_cast<uint8_t>(m_input.TakeBits(8)));
    if (status != TDecodeStatus::Ok) return status;
  }
  return TDecodeStatus::Ok;
}

THuffmanResult TInflate64::BuildLiteralTable(const uint8_t* lengths, int count, int lookupBits) {
  return m_literals.Build(lengths, count, 257, m_deflate64 ? kLengthBase64 : kLengthBase,
                          m_deflate64 ? kLengthExtra64 : kLengthExtra, 31, lookupBits, kOperationBase);
}

THuffmanResult TInflate64::BuildDistanceTable(const uint8_t* lengths, int count, int lookupBits) {
  return m_distances.Build(lengths, count, 0, kDistanceBase, m_deflate64 ? kDistanceExtra64 : kDistanceExtra,
                           32, lookupBits, kOperationBase);
}

TDecodeStatus TInflate64::DecodeFixed() {
  uint8_t lengths[288];
  for (int i = 0; i < 144; ++i) lengths[i] = 8;
  for (int i = 144; i < 256; ++i) lengths[i] = 9;
  for (int i = 256; i < 280; ++i) lengths[i] = 7;
  for (int i = 280; i < 288; ++i) lengths[i] = 8;
  // The fixed lengths make a complete code: only a failed allocation stops here.
  if (BuildLiteralTable(lengths, 288, kFixedLiteralLookupBits) != THuffmanResult::Complete)
    return TDecodeStatus::InvalidData;
  // All 32 five-bit distance codes: Deflate64 encoders use codes 30 and 31 (up to 65536 back) in fixed
  // blocks too; in plain Deflate they decode as invalid, as they would if left out of the table.
  uint8_t distanceLengths[32];
  for (uint8_t& length : distanceLengths) length = 5;
  if (!Usable(BuildDistanceTable(distanceLengths, 32, kFixedDistanceLookupBits))) return TDecodeStatus::InvalidData;
  return DecodeCodes();
}

TDecodeStatus TInflate64::DecodeDynamic() {
  // The 5-bit fields cap the counts at 288 literal/length and 32 distance codes, the most either mode allows.
  const int literalCount = static_cast<int>(m_input.TakeBits(5)) + 257;
  const int distanceCount = static_cast<int>(m_input.TakeBits(5)) + 1;
  const int codeLengthCount = static_cast<int>(m_input.TakeBits(4)) + 4;

  uint8_t codeLengthLengths[19] = {};
  for (int i = 0; i < codeLengthCount; ++i)
    codeLengthLengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(m_input.TakeBits(3));
  THuffmanTable codeLengths;
  if (codeLengths.Build(codeLengthLengths, 19, 19, nullptr, nullptr, 0, kCodeLengthLookupBits,
                        kOperationBase) != THuffmanResult::Complete)
    return TDecodeStatus::InvalidData;

  const int total = literalCount + distanceCount;
  uint8_t lengths[288 + 32] = {};
  uint8_t lastLength = 0;
  for (int i = 0; i < total;) {
    THuffmanEntry entry;
    if (!codeLengths.Decode<kOperationBase>(m_input, entry)) return TDecodeStatus::InvalidData;
    const uint32_t symbol = entry.Value;
    if (symbol < 16) {
      lastLength = static_cast<uint8_t>(symbol);
      lengths[i++] = lastLength;
      continue;
    }
    int repeat;
    uint8_t value = 0;
    if (symbol == 16) {
      repeat = 3 + static_cast<int>(m_input.TakeBits(2));
      value = lastLength;
      if (i + repeat > total) return TDecodeStatus::BadHeader;
    } else if (symbol == 17) {
      repeat = 3 + static_cast<int>(m_input.TakeBits(3));
      if (i + repeat > total) return TDecodeStatus::BadHeader;
    } else {
      repeat = 11 + static_cast<int>(m_input.TakeBits(7));
      if (i + repeat > total) return TDecodeStatus::InvalidData;
    }
    if (symbol != 16) lastLength = 0;
    for (int k = 0; k < repeat; ++k) lengths[i++] = value;
  }

  if (BuildLiteralTable(lengths, literalCount, kLiteralLookupBits) != THuffmanResult::Complete)
    return TDecodeStatus::InvalidData;
  if (!Usable(BuildDistanceTable(lengths + literalCount, distanceCount, kDistanceLookupBits)))
    return TDecodeStatus::InvalidData;
  return DecodeCodes();
}

TDecodeStatus TInflate64::DecodeCodes() {
  for (;;) {
    if (m_context.Cancelled()) return TDecodeStatus::Cancelled;
    if (m_input.Exhausted()) return TDecodeStatus::InputEnded;
    THuffmanEntry entry;
    if (!m_literals.Decode<kOperationBase>(m_input, entry)) return TDecodeStatus::InvalidData;
    if (entry.Operation == kLiteral) {
      const TDecodeStatus status = m_window.PutByte(static_cast<uint8_t>(entry.Value));
      if (status != TDecodeStatus::Ok) return status;
      continue;
    }
    if (entry.Operation == kEndOfBlock) return TDecodeStatus::Ok;
    const uint32_t length = entry.Value + m_input.TakeBits(entry.Operation);
    if (!m_distances.Decode<kOperationBase>(m_input, entry)) return TDecodeStatus::InvalidData;
    const uint32_t distance = entry.Value + m_input.TakeBits(entry.Operation);
    const TDecodeStatus status = m_window.Copy(distance, length);
    if (status != TDecodeStatus::Ok) return status;
  }
}

TDecodeStatus Inflate64(const TMemberInfo& member, TDecodeContext& context) {
  TInflate64 decoder(member, context, TDeflateVariant::Deflate64);
  return decoder.Run();
}
