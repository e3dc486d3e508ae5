#pragma once
// Decoder for shrunk members (method 1): LZW with code widths from 9 bits up and partial clearing.
//
// Code 256 is a control code followed by a sub-code: 1 widens the codes by one bit, 2 frees every code that
// is no code's prefix (a leaf), after which the freed codes are handed out again lowest first. A code that
// is not yet defined stands for the previous string plus that string's own first byte (the KwKwK case).
//
// Fatal errors go through context.RaiseError: "Bad block" for input that ends before the first code, a
// first code that is not a literal, a sub-code other than 1 or 2, a width beyond 16 bits, a code above 8191
// and a string chain that runs into a freed code; "Stack overflow" (after writing what was decoded) for a
// string longer than 8191 bytes, which also stops a chain that loops; "Error writing to file" for a short
// write. The member ends at the end of its input or at its declared uncompressed size.
#include <cstdint>
#include <vector>

#include "zip/decoders/buffered_output.h"
#include "zip/decoders/decode_context.h"
#include "zip/decoders/lsb_bit_reader.h"

class TUnshrinker {
 public:
  static constexpr int kCodeCount = 8192;
  static constexpr int kFirstFree = 257;
  static constexpr int kControlCode = 256;

  TUnshrinker(const TMemberInfo& member, TDecodeContext& context);

  void Run();

 private:
  // Decodes one code. False when decoding must end (input, size, or a fatal error that did not raise).
  bool DecodeCode(int32_t code);
  void PartialClear();
  void AddEntry(int32_t parent, uint8_t value);
  void Fatal(int messageId);

  TDecodeContext& m_context;
  TLsbBitReader m_input;
  TBufferedOutput m_output;
  std::vector<int32_t> m_parent;      // -1: a literal or a free code
  std::vector<uint8_t> m_value;       // the last byte of the code's string
  std::vector<uint16_t> m_children;   // codes whose parent this code is
  std::vector<uint16_t> m_freeList;   // positions 257..8191; m_nextFree is the next to hand out
  int m_nextFree = kFirstFree;
  std::vector<uint8_t> m_stack;
  int m_width = 9;
  int32_t m_previous = 0;
  uint8_t m_first = 0;                // first byte of the previous string
  bool m_failed = false;
};
