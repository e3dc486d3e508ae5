#pragma once
// The extractor's own streams: 64-bit sizes and positions over the platform's files. A TFileStream32 that
// cannot open its file is not open and raises nothing; callers test IsOpen().
#include <cstdint>
#include <string>

#include "platform/files.h"
#include "rtl/streams.h"

class TStream32 {
 public:
  virtual ~TStream32() = default;
  // Returns the count moved; 0 at the end of the data or on an error.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Returns the new position, or -1 when the stream cannot move there.
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  virtual int64_t Size() = 0;

  int64_t Position() { return Seek(0, SeekOrigin::Current); }
  // Reads at an absolute position; the count read, 0 when the position cannot be reached.
  int64_t ReadAt(int64_t position, void* buffer, int64_t count);
};

class THandleStream32 : public TStream32 {
 public:
  explicit THandleStream32(platform::File file) : m_file(std::move(file)) {}

  bool IsOpen() const { return m_file.IsOpen(); }
  platform::File& Handle() { return m_file; }

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override { return m_file.Size(); }

 private:
  platform::File m_file;
};

class TFileStream32 : public THandleStream32 {
 public:
  enum class Mode {
    OpenReadShared,     // read-only, others may read and write (recognition)
    OpenReadDenyWrite   // read-only, others may not write (extraction)
  };
  TFileStream32(const std::string& path, Mode mode);
};
