#include "zip/decoders/decoder_output.h"

#include <algorithm>

TDecoderOutput::TDecoderOutput(const TMemberInfo& member, TDecodeContext& context)
    : m_context(context), m_size(std::max<int64_t>(member.UncompressedSize, 0)), m_remaining(m_size) {}

bool TDecoderOutput::Write(const uint8_t* data, int64_t count) {
  if (count <= 0) return true;
  int64_t allowed = count;
  if (allowed > m_remaining) {
    allowed = m_remaining;
    m_overrun = true;
  }
  if (allowed == 0) return false;
  m_remaining -= allowed;
  if (m_context.ArchiveRemaining != nullptr) *m_context.ArchiveRemaining -= allowed;
  const int64_t written = m_context.WriteBlock ? m_context.WriteBlock(data, allowed) : 0;
  ReportProgress();
  return written == allowed && allowed == count;
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
