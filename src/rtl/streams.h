#pragma once
// Seekable byte streams of the runtime framework: memory streams for bodies and texts, and a stream over an
// open file (the update archive is received straight into one).
#include <cstdint>
#include <string>

#include "platform/files.h"
#include "rtl/exception.h"

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

enum class SeekOrigin { Beginning, Current, End };

class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to count bytes; returns the number read (0 at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes up to count bytes; returns the number written.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  virtual void SetSize(int64_t size) = 0;

  int64_t Position() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(int64_t position) { Seek(position, SeekOrigin::Beginning); }
  int64_t Size();

  // Whole-count forms that raise EStreamError when fewer bytes move.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
};

// A growable stream held in memory. SetSize reserves capacity in one step, so a body whose length is known
// in advance is received without reallocation; growth beyond the capacity at least doubles it, so a body
// pre-sized piece by piece (chunks) or written piece by piece is not copied over and over. The storage is
// reallocated in place where the system allows (large blocks are remapped, not copied), so growing never
// needs the old and the new block at once.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  ~TMemoryStream() override;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  // A write past the end fills the gap with zeros.
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  // Bytes added by growing are unspecified until written (they are not cleared: clearing a large
  // pre-sized body would touch all of its memory at once, before the first byte arrives). Raises
  // std::bad_alloc when the memory cannot be had.
  void SetSize(int64_t size) override;

  const uint8_t* Memory() const { return m_data; }
  uint8_t* Memory() { return m_data; }
  void Clear();
  // Writes the whole content to a new or truncated file; raises EStreamError when that fails.
  void SaveToFile(const std::string& path) const;
  std::string DataString() const {
    return std::string(reinterpret_cast<const char*>(m_data), static_cast<size_t>(m_size));
  }

 protected:
  // The few operations a buffer built on the stream needs (the connection's, which also gives up bytes at its
  // front): the stored count; room for count more bytes after them, and taking count bytes written there as
  // stored; removing the first count bytes (the position moves back with the rest); holding nothing while
  // keeping the memory for the next bytes.
  int64_t StoredSize() const { return m_size; }
  uint8_t* Room(int64_t count) {
    Reserve(m_size + count);
    return m_data + m_size;
  }
  void Extend(int64_t count) { m_size += count; }
  void DropFront(int64_t count);
  void Empty() {
    m_size = 0;
    m_position = 0;
  }

 private:
  void Reserve(int64_t capacity);

  uint8_t* m_data = nullptr;  // malloc'd, so that growth can use realloc
  int64_t m_size = 0;
  int64_t m_capacity = 0;
  int64_t m_position = 0;
};

// A stream over a text held as a string (used for error bodies).
class TStringStream : public TMemoryStream {
 public:
  TStringStream() = default;
  explicit TStringStream(const std::string& text);
};

// A stream over an open file, which it owns. A failed system call makes Read and Write return 0, and a write
// that moved fewer bytes than asked has failed too; either is remembered: Failed() tells a caller that sees a
// stream error whether the file was its cause.
class TFileStream : public TStream {
 public:
  explicit TFileStream(platform::File file) : m_file(std::move(file)) {}

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  // Cuts or extends the file; the position stays unless it lay beyond the new end.
  void SetSize(int64_t size) override;

  bool Failed() const { return m_failed; }
  // Closes the file; false when it failed now or before.
  bool Close();

 private:
  int64_t Moved(int64_t count);

  platform::File m_file;
  bool m_failed = false;
};
