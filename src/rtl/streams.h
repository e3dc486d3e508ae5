#pragma once
// Seekable byte streams of the runtime framework: the HTTP body is received into a TMemoryStream, which the
// update sequence saves with SaveToFile.
#include <cstdint>
#include <string>
#include <vector>

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
// in advance is received without reallocation.
class TMemoryStream : public TStream {
 public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  void SetSize(int64_t size) override;

  const uint8_t* Memory() const { return m_data.data(); }
  uint8_t* Memory() { return m_data.data(); }
  void Clear();
  // Writes the whole content to a new or truncated file; raises EStreamError when that fails.
  void SaveToFile(const std::string& path) const;
  std::string DataString() const { return std::string(m_data.begin(), m_data.end()); }

 private:
  std::vector<uint8_t> m_data;
  int64_t m_position = 0;
};

// A stream over a text held as a string (used for error bodies).
class TStringStream : public TMemoryStream {
 public:
  TStringStream() = default;
  explicit TStringStream(const std::string& text);
};
