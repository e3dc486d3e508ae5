#include "zip/decoders/output_window.h"

#include <algorithm>
#include <cstring>


TOutputWindow::TOutputWindow(uint32_t size, TDecoderOutput& output, const TDecodeContext& context)
    : m_window(size, 0), m_size(size), m_output(output), m_context(context) {}

TDecodeStatus TOutputWindow::PutFilling(const uint8_t* data, uint32_t length) {
  while (length > 0) {
    const uint32_t run = std::min(m_size - m_fill, length);
    std::memcpy(&m_window[m_fill], data, run);
    m_fill += run;
    data += run;
    length -= run;
    if (m_fill == m_size) {
      const TDecodeStatus status = Flush();
      if (status != TDecodeStatus::Ok) return status;
    }
  }
  return TDecodeStatus::Ok;
}

TDecodeStatus TOutputWindow::CopyWrapping(uint32_t distance, uint32_t length) {
  const uint32_t mask = m_size - 1;
  uint32_t source = (m_fill - distance) & mask;
  while (length > 0) {
    const uint32_t run = std::min(m_size - std::max(source, m_fill), length);
    if (source < m_fill && m_fill - source >= run) {
      std::memcpy(&m_window[m_fill], &m_window[source], run);
    } else {
      for (uint32_t i = 0; i < run; ++i) m_window[m_fill + i] = m_window[source + i];
    }
    m_fill += run;
    source = (source + run) & mask;
    length -= run;
    if (m_fill == m_size) {
      if (m_context.Cancelled()) {
        m_fill = 0;
        return TDecodeStatus::Cancelled;
      }
      const TDecodeStatus status = Flush();
      if (status != TDecodeStatus::Ok) return status;
    }
    if (m_context.Cancelled()) return TDecodeStatus::Cancelled;
  }
  return TDecodeStatus::Ok;
}

TDecodeStatus TOutputWindow::Flush() {
  const uint32_t count = m_fill;
  m_fill = 0;
  if (count == 0) return TDecodeStatus::Ok;
  return m_output.Write(m_window.data(), count);
}
