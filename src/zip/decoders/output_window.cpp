#include "zip/decoders/output_window.h"

#include <algorithm>
#include <cstring>

#include "zip/decoders/decoders.h"

TOutputWindow::TOutputWindow(uint32_t size, TDecoderOutput& output, const TDecodeContext& context)
    : m_window(size, 0), m_size(size), m_output(output), m_context(context) {}

int TOutputWindow::CopyWrapping(uint32_t distance, uint32_t length) {
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
        return inflate_status::kCancelled;
      }
      const int status = Flush();
      if (status != inflate_status::kOk) return status;
    }
    if (m_context.Cancelled()) return inflate_status::kCancelled;
  }
  return inflate_status::kOk;
}

int TOutputWindow::Flush() {
  const uint32_t count = m_fill;
  m_fill = 0;
  if (count == 0) return inflate_status::kOk;
  if (m_output.Write(m_window.data(), count)) return inflate_status::kOk;
  return m_output.Overrun() ? inflate_status::kInvalidData : inflate_status::kShortWrite;
}
