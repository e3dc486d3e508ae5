// The decoders over a memory context. Input layout:
//   byte 0      largest piece one ReadBlock hands out (0: as much as asked)
//   byte 1      general purpose flags (bits 1 and 2 choose the implode variant) and, in its low two bits,
//               the reduce factor's offset (method 2 + bits)
//   bytes 2..4  declared uncompressed size, little-endian, reduced below kMaxDeclaredSize
//   byte 5      low nibble: cancel after that many writes; high nibble: that write comes back short (0: never)
//   the rest    the compressed data
#include <algorithm>
#include <cstring>

#include "fuzz_entries.h"
#include "zip/decoders/decoders.h"
#include "zip/decoders/inflate64.h"

namespace {

// Enough output for every window size and code length to matter, small enough to keep runs fast.
constexpr int64_t kMaxDeclaredSize = 256 * 1024;

class TFuzzDecodeRun {
 public:
  TFuzzDecodeRun(const uint8_t* data, size_t size, uint16_t method) {
    TFuzzInput input(data, size);
    m_piece = input.Byte();
    const uint8_t flagsByte = input.Byte();
    uint32_t declared = input.Byte();
    declared |= static_cast<uint32_t>(input.Byte()) << 8;
    declared |= static_cast<uint32_t>(input.Byte()) << 16;
    const uint8_t events = input.Byte();
    m_cancelAfter = events & 0x0F;
    m_shortAt = events >> 4;
    m_compressed = input.Rest();

    Member.Flags = flagsByte;
    Member.Method = method == 2 ? static_cast<uint16_t>(2 + (flagsByte & 3)) : method;
    Member.CompressedSize = static_cast<int64_t>(m_compressed.size());
    Member.UncompressedSize = static_cast<int64_t>(declared) % (kMaxDeclaredSize + 1);
    m_archiveRemaining = Member.UncompressedSize;

    Context.ArchiveRemaining = &m_archiveRemaining;
    Context.ArchiveTotal = Member.UncompressedSize;
    Context.Cancel = &m_cancel;
    Context.ReadBlock = [this](uint8_t* buffer, int64_t count) -> int64_t {
      FuzzCheck(count >= 0, "ReadBlock asked for a negative count");
      int64_t n = std::min<int64_t>(count, static_cast<int64_t>(m_compressed.size() - m_readPosition));
      if (m_piece > 0) n = std::min<int64_t>(n, m_piece);
      std::memcpy(buffer, m_compressed.data() + m_readPosition, static_cast<size_t>(n));
      m_readPosition += static_cast<size_t>(n);
      return n;
    };
    Context.WriteBlock = [this](const uint8_t*, int64_t count) -> int64_t {
      FuzzCheck(count > 0, "WriteBlock called without bytes");
      m_written += count;
      FuzzCheck(m_written <= Member.UncompressedSize, "decoder wrote past the declared size");
      ++m_writes;
      if (m_cancelAfter != 0 && m_writes >= m_cancelAfter) m_cancel = true;
      return m_writes == m_shortAt ? count - 1 : count;
    };
    Context.ReportProgress = [](int byFile, int byArchive) {
      FuzzCheck(byFile >= 0 && byFile <= 100 && byArchive >= 0 && byArchive <= 100, "progress outside 0..100");
    };
  }

  void CheckAfterRun() const {
    FuzzCheck(m_archiveRemaining == Member.UncompressedSize - m_written,
              "archive counter differs from the bytes written");
  }

  TMemberInfo Member;
  TDecodeContext Context;

 private:
  std::string m_compressed;
  size_t m_readPosition = 0;
  int m_piece = 0;
  int m_cancelAfter = 0;
  int m_shortAt = 0;
  int m_writes = 0;
  int64_t m_written = 0;
  int64_t m_archiveRemaining = 0;
  bool m_cancel = false;
};

TDecodeStatus InflatePlain(const TMemberInfo& member, TDecodeContext& context) {
  return TInflate64(member, context, TDeflateVariant::Deflate).Run();
}

void RunDecoder(const uint8_t* data, size_t size, uint16_t method, TDecoder decoder) {
  TFuzzDecodeRun run(data, size, method);
  const TDecodeStatus status = decoder(run.Member, run.Context);
  FuzzCheck(status >= TDecodeStatus::Ok && status <= TDecodeStatus::Cancelled, "unknown decode status");
  run.CheckAfterRun();
}

}  // namespace

void FuzzInflate64(const uint8_t* data, size_t size) { RunDecoder(data, size, 9, Inflate64); }

void FuzzInflate(const uint8_t* data, size_t size) { RunDecoder(data, size, 8, InflatePlain); }

void FuzzUnshrink(const uint8_t* data, size_t size) { RunDecoder(data, size, 1, Unshrink); }

void FuzzUnreduce(const uint8_t* data, size_t size) { RunDecoder(data, size, 2, Unreduce); }

void FuzzExplode(const uint8_t* data, size_t size) { RunDecoder(data, size, 6, Explode); }
