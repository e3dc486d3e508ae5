#include "zip/stream32.h"

int64_t TStream32::ReadAt(int64_t position, void* buffer, int64_t count) {
  if (position < 0 || Seek(position, SeekOrigin::Beginning) != position) return 0;
  return Read(buffer, count);
}

int64_t THandleStream32::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const int64_t n = m_file.Read(buffer, count);
  return n < 0 ? 0 : n;
}

int64_t THandleStream32::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const int64_t n = m_file.Write(buffer, count);
  return n < 0 ? 0 : n;
}

int64_t THandleStream32::Seek(int64_t offset, SeekOrigin origin) {
  int64_t target = offset;
  if (origin == SeekOrigin::Current) target += m_file.Position();
  if (origin == SeekOrigin::End) target += m_file.Size();
  if (target < 0 || !m_file.Seek(target)) return -1;
  return target;
}

namespace {

platform::File OpenFor(const std::string& path, TFileStream32::Mode mode) {
  switch (mode) {
    case TFileStream32::Mode::OpenReadShared:
      return platform::File::Open(path, platform::FileAccess::Read, platform::FileShare::ReadWrite);
    case TFileStream32::Mode::OpenReadDenyWrite:
      return platform::File::Open(path, platform::FileAccess::Read, platform::FileShare::DenyWrite);
  }
  return platform::File();
}

}  // namespace

TFileStream32::TFileStream32(const std::string& path, Mode mode) : THandleStream32(OpenFor(path, mode)) {}
