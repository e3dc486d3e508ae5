#include "decoder_memory_context.h"

#include <algorithm>
#include <cstring>

#include <zlib.h>

#include "zip/messages.h"

TDecoderMemoryContext::TDecoderMemoryContext(std::vector<uint8_t> input, int64_t uncompressedSize,
                                             uint16_t method, uint16_t flags)
    : Input(std::move(input)) {
  Member.Flags = flags;
  Member.Method = method;
  Member.CompressedSize = static_cast<int64_t>(Input.size());
  Member.UncompressedSize = uncompressedSize;
  ArchiveRemaining = uncompressedSize;
  Context.ArchiveRemaining = &ArchiveRemaining;
  Context.ArchiveTotal = uncompressedSize;
  Context.Cancel = &Cancel;
  Context.ReadBlock = [this](uint8_t* buffer, int64_t count) -> int64_t {
    int64_t n = std::min<int64_t>(count, static_cast<int64_t>(Input.size() - m_position));
    if (ReadPiece > 0) n = std::min(n, ReadPiece);
    std::memcpy(buffer, Input.data() + m_position, static_cast<size_t>(n));
    m_position += static_cast<size_t>(n);
    return n;
  };
  Context.WriteBlock = [this](const uint8_t* buffer, int64_t count) -> int64_t {
    Writes.push_back(count);
    const int64_t n = WriteLimit >= 0 ? std::min(count, WriteLimit) : count;
    Output.insert(Output.end(), buffer, buffer + n);
    if (AfterWrite) AfterWrite(*this);
    return n;
  };
  Context.ReportProgress = [this](int, int) { ++ProgressReports; };
}

TDecodeStatus TDecoderMemoryContext::RunFatal(TDecoder decoder) {
  const TDecodeStatus status = decoder(Member, Context);
  const int id = MessageIdOf(status);
  if (id != 0) {
    Errors.push_back(id);
    if (!Cancel) throw E_RAISE(id);
  }
  return status;
}

uint32_t TDecoderMemoryContext::OutputCrc() const { return Crc32Of(Output); }

uint32_t Crc32Of(const std::vector<uint8_t>& data) {
  uLong crc = crc32(0L, Z_NULL, 0);
  // zlib takes at most a uInt per call; the tests stay far below that.
  crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  return static_cast<uint32_t>(crc);
}
