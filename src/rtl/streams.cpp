#include "rtl/streams.h"

#include <algorithm>
#include <cstring>

#include "platform/files.h"
#include "rtl/sysutils.h"

int64_t TStream::Size() {
  const int64_t position = Seek(0, SeekOrigin::Current);
  const int64_t size = Seek(0, SeekOrigin::End);
  Seek(position, SeekOrigin::Beginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EStreamError("Stream write error");
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  const int64_t available = static_cast<int64_t>(m_data.size()) - m_position;
  const int64_t n = std::max<int64_t>(0, std::min(count, available));
  if (n > 0) std::memcpy(buffer, m_data.data() + m_position, static_cast<size_t>(n));
  m_position += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const int64_t end = m_position + count;
  if (end > static_cast<int64_t>(m_data.size())) {
    if (end > static_cast<int64_t>(m_data.capacity())) {
      // Grow geometrically so that a body of unknown length is not copied on every piece.
      m_data.reserve(std::max<size_t>(static_cast<size_t>(end), m_data.capacity() * 2));
    }
    m_data.resize(static_cast<size_t>(end));
  }
  std::memcpy(m_data.data() + m_position, buffer, static_cast<size_t>(count));
  m_position = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  switch (origin) {
    case SeekOrigin::Beginning: m_position = offset; break;
    case SeekOrigin::Current: m_position += offset; break;
    case SeekOrigin::End: m_position = static_cast<int64_t>(m_data.size()) + offset; break;
  }
  if (m_position < 0) m_position = 0;
  return m_position;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) size = 0;
  m_data.reserve(static_cast<size_t>(size));
  m_data.resize(static_cast<size_t>(size));
  if (m_position > size) m_position = size;
}

void TMemoryStream::Clear() {
  m_data.clear();
  m_data.shrink_to_fit();
  m_position = 0;
}

void TMemoryStream::SaveToFile(const std::string& path) const {
  platform::File file = platform::File::Create(path);
  if (!file.IsOpen()) throw EStreamError(Format("Cannot create file \"%s\"", path.c_str()));
  const int64_t size = static_cast<int64_t>(m_data.size());
  if (size > 0 && file.Write(m_data.data(), size) != size) {
    throw EStreamError(Format("Error writing file \"%s\"", path.c_str()));
  }
  if (!file.Close()) throw EStreamError(Format("Error closing file \"%s\"", path.c_str()));
}

TStringStream::TStringStream(const std::string& text) {
  Write(text.data(), static_cast<int64_t>(text.size()));
  SetPosition(0);
}
