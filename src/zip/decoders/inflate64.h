#pragma once
// Decoder for Deflate64 (method 9: 64 KiB window, length code 285 with 16 extra bits, distance codes 30 and
// 31) and, with the Deflate64 switch off, ordinary Deflate (RFC 1951, 32 KiB window).
//
// Block decoding as a state sketch:
//   header (last flag, type) -> stored: align, LEN/NLEN, LEN bytes          -> next block
//                            -> fixed:  fixed tables                 -> codes -> next block
//                            -> dynamic: counts, code-length code, lengths -> tables -> codes -> next block
//                            -> type 3: invalid data
//   codes: literal -> window; length + distance -> copy; end of block -> next block (or the end after the
//   block flagged last).
// Every status is an inflate_status value (zip/decoders.h). The decoder reads through TBlockBitInput and
// writes through TOutputWindow; it stops on the run's cancel flag, on input exhausted and on the member's
// declared uncompressed size (the excess counts as invalid data).
#include <cstdint>

#include "zip/decoders/block_bit_input.h"
#include "zip/decoders/decode_context.h"
#include "zip/decoders/decoder_output.h"
#include "zip/decoders/huffman_table.h"
#include "zip/decoders/output_window.h"

class TInflate64 {
 public:
  TInflate64(const TMemberInfo& member, TDecodeContext& context, bool deflate64);

  // Decodes the member to its end. True when every block decoded and the final flush wrote everything;
  // a cancelled run discards the partly filled window.
  bool Run();
  // The status that ended the run (inflate_status::kOk after a complete member).
  int Status() const { return m_status; }

 private:
  int DecodeBlock(bool& last);
  int DecodeStored();
  int DecodeFixed();
  int DecodeDynamic();
  int DecodeCodes();
  // Looks up the next code in table; false for an invalid code.
  bool DecodeSymbol(const THuffmanTable& table, THuffmanEntry& entry);
  int BuildLiteralTable(const uint8_t* lengths, int count, int lookupBits);
  int BuildDistanceTable(const uint8_t* lengths, int count, int lookupBits);

  TDecodeContext& m_context;
  bool m_deflate64;
  TDecoderOutput m_output;
  TBlockBitInput m_input;
  TOutputWindow m_window;
  THuffmanTable m_literals;
  THuffmanTable m_distances;
  int m_status = 0;
};
