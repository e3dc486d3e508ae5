#pragma once
// Decoder for reduced members (methods 2 to 5, compression factor f = method - 1).
//
// Two stages. The follower-set stage turns the bit stream into bytes: each byte is coded either as a
// literal (a flag bit, then 8 bits) or as an index into the follower set of the byte before it. The expander
// then resolves the marker byte 144: "144 0" is a plain 144, "144 V [extra] D" copies (V and mask) + 3
// (+ extra when the mask is full) bytes from ((V >> (8 - f)) * 256 + D + 1) bytes back in a 4096-byte
// history that reads zeros before the member's first byte.
//
// Expander states: 0 plain bytes; 1 after the marker; 2 waiting for the length extension; 3 waiting for the
// distance's low byte.
//
// A follower set holds at most 32 bytes, although its 6-bit count field allows 63: a count above 32 cannot
// come from a real encoder, so the member is rejected at once as InvalidData ("Bad block") before anything
// is written. A short write ends it as OutputShort, a method number outside 2..5 as UnsupportedMethod.
// Decoding ends at the member's declared uncompressed size or at the end of its input (InputEnded when that
// comes inside the follower sets).
#include <cstdint>
#include <vector>

#include "zip/decoders/block_bit_input.h"
#include "zip/decoders/decode_context.h"
#include "zip/decoders/decode_status.h"
#include "zip/decoders/decoder_output.h"
#include "zip/decoders/output_window.h"

class TUnreducer {
 public:
  static constexpr int kMarker = 144;
  static constexpr int kMaxFollowers = 32;
  // The copies reach at most 4096 bytes back; the window is larger so that the output leaves in the same
  // 32 KiB writes as the other decoders'.
  static constexpr uint32_t kWindowSize = 32768;

  TUnreducer(const TMemberInfo& member, TDecodeContext& context);

  TDecodeStatus Run();

 private:
  enum class TExpanderState { Plain, AfterMarker, LengthExtension, DistanceLow };

  struct TFollowerSet {
    int Count = 0;
    uint8_t Bytes[kMaxFollowers] = {};
  };

  TDecodeStatus ReadFollowerSets();
  TDecodeStatus Expand(uint8_t value);

  TDecoderOutput m_output;
  TBlockBitInput m_input;
  TOutputWindow m_window;
  int m_factor;
  std::vector<TFollowerSet> m_followers;
  TExpanderState m_state = TExpanderState::Plain;
  uint8_t m_marked = 0;  // V, the first byte after the marker
  int m_length = 0;
};
