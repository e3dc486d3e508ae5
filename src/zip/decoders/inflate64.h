#pragma once
// Decoder for Deflate64 (method 9: 64 KiB window, length code 285 with 16 extra bits, distance codes 30 and
// 31) and, as the Deflate variant, ordinary Deflate (RFC 1951, 32 KiB window).
//
// Block decoding as a state sketch:
//   header (last flag, type) -> stored: align, LEN/NLEN, LEN bytes          -> next block
//                            -> fixed:  fixed tables                 -> codes -> next block
//                            -> dynamic: counts, code-length code, lengths -> tables -> codes -> next block
//                            -> type 3: invalid data
//   codes: literal -> window; length + distance -> copy; end of block -> next block (or the end after the
//   block flagged last).
// The decoder reads through TBlockBitInput and writes through TOutputWindow; it stops on the run's cancel
// flag, at the end of the input and at the member's declared uncompressed size (the excess counts as invalid
// data).
#include <cstdint>

#include "zip/decoders/block_bit_input.h"
#include "zip/decoders/decode_context.h"
#include "zip/decoders/decode_status.h"
#include "zip/decoders/decoder_output.h"
#include "zip/decoders/huffman_table.h"
#include "zip/decoders/output_window.h"

enum class TDeflateVariant { Deflate, Deflate64 };

class TInflate64 {
 public:
  TInflate64(const TMemberInfo& member, TDecodeContext& context, TDeflateVariant variant);

  // Decodes the member to its end: Ok when every block decoded and the final flush wrote everything. A
  // cancelled run discards the partly filled window.
  TDecodeStatus Run();

 private:
  TDecodeStatus DecodeBlock(bool& last);
  TDecodeStatus DecodeStored();
  TDecodeStatus DecodeFixed();
  TDecodeStatus DecodeDynamic();
  TDecodeStatus DecodeCodes();
  THuffmanResult BuildLiteralTable(const uint8_t* lengths, int count, int lookupBits);
  THuffmanResult BuildDistanceTable(const uint8_t* lengths, int count, int lookupBits);

  TDecodeContext& m_context;
  bool m_deflate64;
  TDecoderOutput m_output;
  TBlockBitInput m_input;
  TOutputWindow m_window;
  THuffmanTable m_literals;
  THuffmanTable m_distances;
};
