#include "zip/decoders/buffered_output.h"

#include "zip/messages.h"

TBufferedOutput::TBufferedOutput(const TMemberInfo& member, TDecodeContext& context)
    : m_context(context), m_output(member, context), m_buffer(kSize), m_left(m_output.Remaining()) {}

void TBufferedOutput::Flush() {
  const int count = m_count;
  m_count = 0;
  if (count == 0) return;
  if (!m_output.Write(m_buffer.data(), count)) {
    m_stopped = true;
    if (m_context.RaiseError) m_context.RaiseError(zipmsg::kErrorWritingToFile);
  }
}
