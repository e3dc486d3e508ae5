#pragma once
// The history window of the decoders, which is also their output buffer: bytes are stored at the fill
// position, back-references copy from behind it, and the whole window leaves through the decoder output each
// time it fills (so WriteBlock and the progress report run once per window).
//
// The window starts zeroed: a back-reference reaching before the member's first byte copies zeros.
#include <cstdint>
#include <cstring>
#include <vector>

#include "zip/decoders/decode_context.h"
#include "zip/decoders/decode_status.h"
#include "zip/decoders/decoder_output.h"

class TOutputWindow {
 public:
  // size must be a power of two not above 65536.
  TOutputWindow(uint32_t size, TDecoderOutput& output, const TDecodeContext& context);

  // Stores one byte; flushes when the window is full. Returns Ok, OutputShort, or InvalidData when the
  // member's declared size was exceeded.
  TDecodeStatus PutByte(uint8_t value) {
    m_window[m_fill++] = value;
    return m_fill == m_size ? Flush() : TDecodeStatus::Ok;
  }

  // Stores length bytes; flushes each time the window fills. Returns what PutByte does.
  TDecodeStatus Put(const uint8_t* data, uint32_t length) {
    if (length < m_size - m_fill) {
      std::memcpy(m_window.data() + m_fill, data, length);
      m_fill += length;
      return TDecodeStatus::Ok;
    }
    return PutFilling(data, length);
  }

  // Copies length bytes from distance (1..size) bytes behind the fill position. Runs end at the window's end;
  // a run whose source lies less than its length behind the fill, or ahead of it after wrapping, is copied
  // byte by byte so that a short repeated pattern replicates, any other run as a block. A full window is
  // flushed after the run, or discarded when the run was cancelled. Returns Ok, OutputShort, InvalidData
  // (declared size exceeded) or Cancelled.
  TDecodeStatus Copy(uint32_t distance, uint32_t length) {
    // Most runs neither wrap nor reach the window's end: copied here, inline, without the general loop.
    if (distance <= m_fill && length < m_size - m_fill) {
      uint8_t* target = m_window.data() + m_fill;
      const uint8_t* source = target - distance;
      if (distance >= length) {
        std::memcpy(target, source, length);
      } else {
        for (uint32_t i = 0; i < length; ++i) target[i] = source[i];
      }
      m_fill += length;
      return m_context.Cancelled() ? TDecodeStatus::Cancelled : TDecodeStatus::Ok;
    }
    return CopyWrapping(distance, length);
  }

  // Writes the filled part of the window and starts it over. Returns Ok, OutputShort or InvalidData.
  TDecodeStatus Flush();

  uint32_t Fill() const { return m_fill; }
  // Bytes the member may still produce, those waiting in the window counted: the decoders cut their last
  // string or copy to it, so that they stop at the declared uncompressed size.
  int64_t Remaining() const { return m_output.Remaining() - m_fill; }

 private:
  // Put for the data that fill the window.
  TDecodeStatus PutFilling(const uint8_t* data, uint32_t length);
  // Copy for the runs that wrap or fill the window.
  TDecodeStatus CopyWrapping(uint32_t distance, uint32_t length);

  std::vector<uint8_t> m_window;
  uint32_t m_size;
  uint32_t m_fill = 0;
  TDecoderOutput& m_output;
  const TDecodeContext& m_context;
};
