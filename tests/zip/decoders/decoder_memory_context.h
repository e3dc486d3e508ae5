#pragma once
// A decode context over memory for the decoder tests: compressed bytes in (optionally in small pieces),
// output collected with its CRC-32, and for the decoders whose faults are fatal, their messages recorded and
// raised like the driver does.
#include <cstdint>
#include <functional>
#include <vector>

#include "zip/decoders/decode_context.h"
#include "zip/decoders/decoders.h"

class TDecoderMemoryContext {
 public:
  explicit TDecoderMemoryContext(std::vector<uint8_t> input, int64_t uncompressedSize, uint16_t method = 0,
                                 uint16_t flags = 0);

  TMemberInfo Member;
  TDecodeContext Context;
  std::vector<uint8_t> Input;
  std::vector<uint8_t> Output;
  std::vector<int> Errors;         // message ids RunFatal raised
  std::vector<int64_t> Writes;     // the count of every WriteBlock call
  int ProgressReports = 0;
  int64_t ArchiveRemaining = 0;
  bool Cancel = false;

  // Largest count one ReadBlock hands out (to feed input in awkward pieces); 0 = as asked.
  int64_t ReadPiece = 0;
  // WriteBlock writes at most this many bytes per call when not negative (to simulate a full disk).
  int64_t WriteLimit = -1;
  // Called after every WriteBlock with the total output so far (to cancel at a chosen point).
  std::function<void(TDecoderMemoryContext&)> AfterWrite;

  uint32_t OutputCrc() const;

  // Runs decoder as the driver runs the shrink and reduce decoders: the message of the status that ended it
  // (if any) goes into Errors and is raised as E_RAISE unless the run is cancelled.
  TDecodeStatus RunFatal(TDecoder decoder);

 private:
  size_t m_position = 0;
};

uint32_t Crc32Of(const std::vector<uint8_t>& data);
