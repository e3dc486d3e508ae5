#pragma once
// The connection's byte buffers. TIdSimpleBuffer is a memory stream that can also give up bytes at its front
// (reporting each removal through a callback); TIdManagedBuffer, the input buffer, removes bytes by advancing
// a consumed offset instead of moving memory, and compacts only once 32768 bytes are consumed.
#include <cstdint>
#include <functional>
#include <string>

#include "rtl/streams.h"

class TIdSimpleBuffer : public TMemoryStream {
 public:
  // Called after every removal with the count removed.
  using TBytesRemovedEvent = std::function<void(TIdSimpleBuffer* sender, int count)>;

  TIdSimpleBuffer() = default;
  explicit TIdSimpleBuffer(TBytesRemovedEvent onBytesRemoved) : m_onBytesRemoved(std::move(onBytesRemoved)) {}

  // The position stays within the held bytes: a write never leaves a gap before it.
  int64_t Seek(int64_t offset, SeekOrigin origin) override;

  // The held bytes and their count (for the managed buffer: the unconsumed ones).
  virtual uint8_t* Memory() { return TMemoryStream::Memory(); }
  virtual int64_t DataSize() const { return StoredSize(); }
  // Holds nothing, and keeps its memory for the next bytes.
  virtual void Clear();

  // Appends at the end, whatever the position; the position is left unchanged.
  void Append(const void* data, int64_t count);
  // Appending in place, for a receive straight into the buffer: room for count more bytes at the end,
  // then CommitAppend with the count actually stored there (at most the room asked for).
  uint8_t* PrepareAppend(int64_t count) { return Room(count); }
  void CommitAppend(int64_t count) { Extend(count); }
  // The first count bytes as a string, removed. Fails with EIdNotEnoughDataInBuffer when fewer are held.
  std::string TakeBytes(int count);
  // Removes the first count bytes, then reports them. Fails with EIdNotEnoughDataInBuffer when fewer are held.
  virtual void DropBytes(int count);

 protected:
  void CheckHolds(int count) const;
  void ReportRemoved(int count);

 private:
  TBytesRemovedEvent m_onBytesRemoved;
};

class TIdManagedBuffer : public TIdSimpleBuffer {
 public:
  static constexpr int32_t kCompactThreshold = 32768;

  using TIdSimpleBuffer::TIdSimpleBuffer;

  // Sizes, memory and positions are relative to the consumed offset.
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  void SetSize(int64_t size) override;
  uint8_t* Memory() override { return TMemoryStream::Memory() + m_consumed; }
  int64_t DataSize() const override { return StoredSize() - m_consumed; }
  void Clear() override;
  void DropBytes(int count) override;

  int32_t ConsumedOffset() const { return m_consumed; }

 private:
  int32_t m_consumed = 0;
};
