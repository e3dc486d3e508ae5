#pragma once
// Decoder for shrunk members (method 1): LZW with code widths from 9 bits up and partial clearing.
//
// Code 256 is a control code followed by a sub-code: 1 widens the codes by one bit, 2 frees every code that
// is no code's prefix (a leaf), after which the freed codes are handed out again lowest first. A code that
// is not yet defined stands for the previous string plus that string's own first byte (the KwKwK case).
//
// Run() returns InvalidData ("Bad block") for input that ends before the first code, a first code that is
// not a literal, a sub-code other than 1 or 2, a width beyond 16 bits, a code above 8191 and a string chain
// that runs into a freed code; StackOverflow for a string longer than 8191 bytes, which also stops a chain
// that loops; OutputShort for a short write; Ok otherwise. What was decoded before a fault is written. The
// member ends at the end of its input or at its declared uncompressed size.
#include <cstdint>
#include <vector>

#include "zip/decoders/block_bit_input.h"
#include "zip/decoders/decode_context.h"
#include "zip/decoders/decode_status.h"
#include "zip/decoders/decoder_output.h"
#include "zip/decoders/output_window.h"

class TUnshrinker {
 public:
  static constexpr int kCodeCount = 8192;
  static constexpr int kFirstFree = 257;
  static constexpr int kControlCode = 256;
  // Only an output buffer here: no code reaches back into the output.
  static constexpr uint32_t kWindowSize = 32768;

  TUnshrinker(const TMemberInfo& member, TDecodeContext& context);

  TDecodeStatus Run();

 private:
  // Decodes one code: Ok to go on, InputEnded when the input ends inside it, or the fault that ends the
  // member.
  TDecodeStatus DecodeCode(int32_t code);
  void PartialClear();
  void AddEntry(int32_t parent, uint8_t value);
  // Writes a string, cut at the declared uncompressed size.
  TDecodeStatus Emit(const uint8_t* data, uint32_t length);
  // Writes what is buffered and returns status, or OutputShort when that write fails.
  TDecodeStatus Finish(TDecodeStatus status);

  TDecoderOutput m_output;
  TBlockBitInput m_input;
  TOutputWindow m_window;
  std::vector<int32_t> m_parent;      // -1: a literal or a free code
  std::vector<uint8_t> m_value;       // the last byte of the code's string
  std::vector<uint16_t> m_children;   // codes whose parent this code is
  std::vector<uint16_t> m_freeList;   // positions 257..8191; m_nextFree is the next to hand out
  int m_nextFree = kFirstFree;
  std::vector<uint8_t> m_string;      // a decoded string, built backwards from the end
  std::vector<uint16_t> m_leaves;     // PartialClear's list of the codes it frees
  int m_width = 9;
  int32_t m_previous = 0;
  uint8_t m_first = 0;                // first byte of the previous string
};
