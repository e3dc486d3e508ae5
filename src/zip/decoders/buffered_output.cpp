#include "zip/decoders/buffered_output.h"

TBufferedOutput::TBufferedOutput(const TMemberInfo& member, TDecodeContext& context)
    : m_output(member, context), m_buffer(kSize), m_left(m_output.Remaining()) {}

TDecodeStatus TBufferedOutput::Flush() {
  const int count = m_count;
  m_count = 0;
  if (count == 0) return m_status;
  if (m_output.Write(m_buffer.data(), count) != TDecodeStatus::Ok) {
    m_stopped = true;
    m_status = TDecodeStatus::OutputShort;
  }
  return m_status;
}
