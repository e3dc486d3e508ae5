#include "zip/decoders/decoder_output.h"

#include <algorithm>

TDecoderOutput::TDecoderOutput(const TMemberInfo& member, TDecodeContext& context)
    : m_context(context), m_size(std::max<int64_t>(member.UncompressedSize, 0)), m_remaining(m_size) {}

TDecodeStatus TDecoderOutput::Write(const uint8_t* data, int64_t count) {
  if (count <= 0) return TDecodeStatus::Ok;
  const int64_t allowed = std::min(count, m_remaining);
  const TDecodeStatus overrun = allowed < count ? TDecodeStatus::InvalidData : TDecodeStatus::Ok;
  if (allowed == 0) return overrun;
  m_remaining -= allowed;
  if (m_context.ArchiveRemaining != nullptr) *m_context.ArchiveRemaining -= allowed;
  const int64_t written = m_context.WriteBlock ? m_context.WriteBlock(data, allowed) : 0;
  ReportProgress();
  if (overrun != TDecodeStatus::Ok) return overrun;
  return written == allowed ? TDecodeStatus::Ok : TDecodeStatus::OutputShort;
}

void TDecoderOutput::ReportProgress() {
  if (!m_context.ReportProgress) return;
  const int byFile = ProgressPercent(m_size - m_remaining, m_size);
  const int byArchive =
      m_context.ArchiveRemaining != nullptr
          ? ProgressPercent(m_context.ArchiveTotal - *m_context.ArchiveRemaining, m_context.ArchiveTotal)
          : 0;
  // The report runs the window's pending messages; a failure in there must not end the member's data.
  try {
    m_context.ReportProgress(byFile, byArchive);
  } catch (...) {
  }
}
