#pragma once
// The single road by which every decoder's output leaves: it keeps the member's and the archive's
// bytes-to-write counters, calls the context's WriteBlock and reports progress afterwards.
//
// It never passes on more bytes than the member's declared uncompressed size: a member whose data would
// produce more is damaged, so the excess is dropped and the write counts as invalid data (the driver's CRC
// check then rejects the member). Decoders also test Remaining() so that they stop producing.
#include <cstdint>

#include "zip/decoders/decode_context.h"
#include "zip/decoders/decode_status.h"

class TDecoderOutput {
 public:
  TDecoderOutput(const TMemberInfo& member, TDecodeContext& context);

  // Writes count bytes (at most Remaining() of them), counts them off the archive's bytes-to-write and
  // reports progress (an exception raised by the report is ignored: it must not cost the member its data).
  // Ok when all count bytes were written; InvalidData when count exceeded Remaining(), else OutputShort on
  // a short write by WriteBlock.
  TDecodeStatus Write(const uint8_t* data, int64_t count);

  // Uncompressed bytes the member may still produce.
  int64_t Remaining() const { return m_remaining; }

 private:
  void ReportProgress();

  TDecodeContext& m_context;
  int64_t m_size;
  int64_t m_remaining;
};
