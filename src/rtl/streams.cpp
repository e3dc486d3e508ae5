#include "rtl/streams.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

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

TMemoryStream::~TMemoryStream() { std::free(m_data); }

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  const int64_t n = std::max<int64_t>(0, std::min(count, m_size - m_position));
  if (n > 0) std::memcpy(buffer, m_data + m_position, static_cast<size_t>(n));
  m_position += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const int64_t end = m_position + count;
  if (end > m_size) {
    Reserve(end);
    if (m_position > m_size) std::memset(m_data + m_size, 0, static_cast<size_t>(m_position - m_size));
    m_size = end;
  }
  std::memcpy(m_data + m_position, buffer, static_cast<size_t>(count));
  m_position = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  switch (origin) {
    case SeekOrigin::Beginning: m_position = offset; break;
    case SeekOrigin::Current: m_position += offset; break;
    case SeekOrigin::End: m_position = m_size + offset; break;
  }
  if (m_position < 0) m_position = 0;
  return m_position;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) size = 0;
  Reserve(size);
  m_size = size;
  if (m_position > size) m_position = size;
}

void TMemoryStream::Reserve(int64_t capacity) {
  if (capacity <= m_capacity) return;
  // The first reservation is exact (a pre-sized body); later ones at least double.
  const int64_t grown = std::max(capacity, m_capacity * 2);
  void* data = std::realloc(m_data, static_cast<size_t>(grown));
  if (data == nullptr) throw std::bad_alloc();
  m_data = static_cast<uint8_t*>(data);
  m_capacity = grown;
}

void TMemoryStream::DropFront(int64_t count) {
  std::memmove(m_data, m_data + count, static_cast<size_t>(m_size - count));
  m_size -= count;
  m_position = std::max<int64_t>(0, m_position - count);
}

void TMemoryStream::Clear() {
  std::free(m_data);
  m_data = nullptr;
  m_size = 0;
  m_capacity = 0;
  m_position = 0;
}

void TMemoryStream::SaveToFile(const std::string& path) const {
  platform::File file = platform::File::Create(path);
  if (!file.IsOpen()) throw EStreamError(Format("Cannot create file \"%s\"", path.c_str()));
  if (m_size > 0 && file.Write(m_data, m_size) != m_size) {
    throw EStreamError(Format("Error writing file \"%s\"", path.c_str()));
  }
  if (!file.Close()) throw EStreamError(Format("Error closing file \"%s\"", path.c_str()));
}

TStringStream::TStringStream(const std::string& text) {
  Write(text.data(), static_cast<int64_t>(text.size()));
  SetPosition(0);
}

int64_t TFileStream::Moved(int64_t count) {
  if (count >= 0) return count;
  m_failed = true;
  return 0;
}

int64_t TFileStream::Read(void* buffer, int64_t count) { return count <= 0 ? 0 : Moved(m_file.Read(buffer, count)); }

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const int64_t moved = Moved(m_file.Write(buffer, count));
  // A file takes every byte or has failed: a full disk lets a write move part of its bytes before it refuses.
  if (moved < count) m_failed = true;
  return moved;
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin) {
  int64_t position = offset;
  if (origin == SeekOrigin::Current) position += m_file.Position();
  if (origin == SeekOrigin::End) position += m_file.Size();
  if (!m_file.Seek(std::max<int64_t>(0, position))) m_failed = true;
  return m_file.Position();
}

void TFileStream::SetSize(int64_t size) {
  const int64_t position = m_file.Position();
  if (!m_file.Seek(std::max<int64_t>(0, size)) || !m_file.Truncate() ||
      !m_file.Seek(std::min(position, std::max<int64_t>(0, size)))) {
    m_failed = true;
  }
}

bool TFileStream::Close() { return m_file.Close() && !m_failed; }
