#include "net/buffers.h"

#include <algorithm>
#include <cstring>

#include "net/exceptions.h"

int64_t TIdSimpleBuffer::Seek(int64_t offset, SeekOrigin origin) {
  const int64_t position = TMemoryStream::Seek(offset, origin);
  return position <= StoredSize() ? position : TMemoryStream::Seek(StoredSize(), SeekOrigin::Beginning);
}

void TIdSimpleBuffer::Clear() { Empty(); }

void TIdSimpleBuffer::Append(const void* data, int64_t count) {
  if (count <= 0) return;
  std::memcpy(Room(count), data, static_cast<size_t>(count));
  Extend(count);
}

std::string TIdSimpleBuffer::TakeBytes(int count) {
  CheckHolds(count);
  std::string bytes(reinterpret_cast<const char*>(Memory()), static_cast<size_t>(std::max(count, 0)));
  DropBytes(count);
  return bytes;
}

void TIdSimpleBuffer::DropBytes(int count) {
  CheckHolds(count);
  if (count >= StoredSize()) {
    Clear();
  } else if (count > 0) {
    DropFront(count);
  }
  ReportRemoved(count);
}

void TIdSimpleBuffer::CheckHolds(int count) const {
  if (count > DataSize()) throw EIdNotEnoughDataInBuffer();
}

void TIdSimpleBuffer::ReportRemoved(int count) {
  if (m_onBytesRemoved) m_onBytesRemoved(this, count);
}

int64_t TIdManagedBuffer::Seek(int64_t offset, SeekOrigin origin) {
  if (origin == SeekOrigin::Beginning) offset += m_consumed;
  const int64_t position = TIdSimpleBuffer::Seek(offset, origin);
  if (position >= m_consumed) return position - m_consumed;
  TIdSimpleBuffer::Seek(m_consumed, SeekOrigin::Beginning);
  return 0;
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
      DropFront(m_consumed);
      m_consumed = 0;
    }
  }
  ReportRemoved(count);
}
