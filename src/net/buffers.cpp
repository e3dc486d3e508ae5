#include "net/buffers.h"

#include <algorithm>
#include <cstring>

#include "net/exceptions.h"

int64_t TIdSimpleBuffer::Read(void* buffer, int64_t count) {
  const int64_t n = std::max<int64_t>(0, std::min(count, m_size - m_position));
  if (n > 0) std::memcpy(buffer, m_data.get() + m_position, static_cast<size_t>(n));
  m_position += n;
  return n;
}

int64_t TIdSimpleBuffer::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const int64_t end = m_position + count;
  if (end > m_size) {
    Reserve(end);
    m_size = end;
  }
  std::memcpy(m_data.get() + m_position, buffer, static_cast<size_t>(count));
  m_position = end;
  return count;
}

int64_t TIdSimpleBuffer::Seek(int64_t offset, SeekOrigin origin) {
  int64_t position = m_position;
  switch (origin) {
    case SeekOrigin::Beginning: position = offset; break;
    case SeekOrigin::Current: position += offset; break;
    case SeekOrigin::End: position = m_size + offset; break;
  }
  m_position = std::clamp<int64_t>(position, 0, m_size);
  return m_position;
}

void TIdSimpleBuffer::SetSize(int64_t size) {
  size = std::max<int64_t>(0, size);
  Reserve(size);
  m_size = size;
  m_position = std::min(m_position, m_size);
}

void TIdSimpleBuffer::Clear() {
  m_size = 0;
  m_position = 0;
}

void TIdSimpleBuffer::Append(const void* data, int64_t count) {
  if (count <= 0) return;
  Reserve(m_size + count);
  std::memcpy(m_data.get() + m_size, data, static_cast<size_t>(count));
  m_size += count;
}

uint8_t* TIdSimpleBuffer::PrepareAppend(int64_t count) {
  Reserve(m_size + count);
  return m_data.get() + m_size;
}

std::string TIdSimpleBuffer::TakeBytes(int count) {
  CheckHolds(count);
  std::string bytes(reinterpret_cast<const char*>(Memory()), static_cast<size_t>(std::max(count, 0)));
  DropBytes(count);
  return bytes;
}

void TIdSimpleBuffer::DropBytes(int count) {
  CheckHolds(count);
  if (count >= m_size) {
    Clear();
  } else if (count > 0) {
    std::memmove(m_data.get(), m_data.get() + count, static_cast<size_t>(m_size - count));
    m_size -= count;
    m_position = std::max<int64_t>(0, m_position - count);
  }
  ReportRemoved(count);
}

void TIdSimpleBuffer::CheckHolds(int count) const {
  if (count > DataSize()) throw EIdNotEnoughDataInBuffer();
}

void TIdSimpleBuffer::ReportRemoved(int count) {
  if (m_onBytesRemoved) m_onBytesRemoved(this, count);
}

void TIdSimpleBuffer::Reserve(int64_t capacity) {
  if (capacity <= m_capacity) return;
  // Geometric growth: appending receive after receive copies each byte a bounded number of times.
  const int64_t grown = std::max<int64_t>(capacity, std::max<int64_t>(m_capacity * 2, 256));
  std::unique_ptr<uint8_t[]> data(new uint8_t[static_cast<size_t>(grown)]);
  if (m_size > 0) std::memcpy(data.get(), m_data.get(), static_cast<size_t>(m_size));
  m_data = std::move(data);
  m_capacity = grown;
}

int64_t TIdManagedBuffer::Seek(int64_t offset, SeekOrigin origin) {
  if (origin == SeekOrigin::Beginning) offset += m_consumed;
  int64_t position = TIdSimpleBuffer::Seek(offset, origin);
  if (position < m_consumed) position = m_position = m_consumed;
  return position - m_consumed;
}

void TIdManagedBuffer::SetSize(int64_t size) { TIdSimpleBuffer::SetSize(m_consumed + std::max<int64_t>(0, size)); }

void TIdManagedBuffer::Clear() {
  TIdSimpleBuffer::Clear();
  m_consumed = 0;
}

void TIdManagedBuffer::DropBytes(int count) {
  CheckHolds(count);
  if (count >= DataSize()) {
    Clear();
  } else if (count > 0) {
    m_consumed += count;
    if (m_consumed >= kCompactThreshold) {
      const int64_t left = m_size - m_consumed;
      std::memmove(m_data.get(), m_data.get() + m_consumed, static_cast<size_t>(left));
      m_position = std::max<int64_t>(0, m_position - m_consumed);
      m_size = left;
      m_consumed = 0;
    }
  }
  ReportRemoved(count);
}
