#pragma once
// The 32768-byte output buffer of the shrink and reduce decoders, written through the decoder output when
// full and at the end of the member. A short write stops the member (Status() OutputShort). Bytes past the
// member's declared uncompressed size are dropped and end the member: Stopped() turns true, and the decoder
// stops.
#include <cstdint>
#include <vector>

#include "zip/decoders/decode_context.h"
#include "zip/decoders/decode_status.h"
#include "zip/decoders/decoder_output.h"

class TBufferedOutput {
 public:
  static constexpr int kSize = 32768;

  TBufferedOutput(const TMemberInfo& member, TDecodeContext& context);

  void Put(uint8_t value) {
    if (m_stopped) return;
    if (m_left == 0) {
      m_stopped = true;  // the member is longer than declared: drop the rest
      return;
    }
    m_buffer[m_count++] = value;
    --m_left;
    if (m_count == kSize) Flush();
  }
  // Writes the buffered bytes; a short write stops the member. Returns Status().
  TDecodeStatus Flush();
  // True when the declared size is reached or a write failed: the decoder produces no more.
  bool Stopped() const { return m_stopped || m_left == 0; }
  // OutputShort once a write failed, else Ok.
  TDecodeStatus Status() const { return m_status; }

 private:
  TDecoderOutput m_output;
  std::vector<uint8_t> m_buffer;
  int m_count = 0;
  int64_t m_left;  // bytes the member may still produce, buffered ones counted
  bool m_stopped = false;
  TDecodeStatus m_status = TDecodeStatus::Ok;
};
