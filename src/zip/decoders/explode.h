#pragma once
// Decoder for imploded members (method 6): Shannon-Fano coded literals, lengths and distances over a 4 KiB
// or 8 KiB sliding dictionary.
//
// The member's general purpose flags choose the variant: bit 1 an 8 KiB dictionary (7 low distance bits)
// instead of 4 KiB (6 bits); bit 2 three trees (a coded literal tree first, minimum match length 3) instead
// of two (literals as 8 plain bits, minimum match length 2). Each tree is stored as a byte count and runs of
// (count, bit length) nibbles; codes are stored inverted, so every lookup uses the complement of the bits.
//
// States: trees (literal when present, length, distance) -> items until the declared size is produced:
// flag bit 1 -> literal; 0 -> low distance bits, distance code, length code [+ 8 bits for the last length
// code] -> copy. A copy reaching before the member's first byte copies zeros.
//
// Run() returns InvalidData for a bad tree description, a tree that is not complete or an invalid code
// (nothing decoded in the first two cases); Cancelled, OutputShort, InputEnded; Ok otherwise.
#include <cstdint>

#include "zip/decoders/block_bit_input.h"
#include "zip/decoders/decode_context.h"
#include "zip/decoders/decode_status.h"
#include "zip/decoders/decoder_output.h"
#include "zip/decoders/huffman_table.h"
#include "zip/decoders/output_window.h"

class TExploder {
 public:
  static constexpr uint32_t kWindowSize = 32768;

  TExploder(const TMemberInfo& member, TDecodeContext& context);

  TDecodeStatus Run();

  // First-level lookup bits of the distance table: 8 for members above 200000 compressed bytes, else 7.
  static int DistanceLookupBits(int64_t compressedSize);

 private:
  bool ReadTree(THuffmanTable& table, int count, int lookupBits, int plainCount, const uint16_t* base,
                const uint8_t* extra);
  TDecodeStatus DecodeItems();

  TDecodeContext& m_context;
  TDecoderOutput m_output;
  TBlockBitInput m_input;
  TOutputWindow m_window;
  bool m_eightK;
  bool m_threeTrees;
  int m_distanceLookupBits;
  THuffmanTable m_literals;
  THuffmanTable m_lengths;
  THuffmanTable m_distances;
};
