#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "platform/file_transfer.h"

namespace platform {
namespace {

thread_local int t_lastError = 0;

// errno onto the Windows error numbers that callers test.
int WindowsCodeOf(int error) {
  switch (error) {
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return kErrorAccessDenied;
    case ETXTBSY:
    case EBUSY: return kErrorSharingViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return kErrorDiskFull;
    case EEXIST: return kErrorAlreadyExists;
    default: return error == 0 ? 0 : 1000 + error;
  }
}

bool Fail() {
  t_lastError = WindowsCodeOf(errno);
  return false;
}

int FdOf(intptr_t handle) { return static_cast<int>(handle); }

// One read or write call, repeated while a signal interrupts it; -1 with the error recorded.
template <typename Call>
int64_t MoveOnce(Call call) {
  for (;;) {
    const ssize_t n = call();
    if (n >= 0) return n;
    if (errno != EINTR) {
      Fail();
      return -1;
    }
  }
}

// The DOS read-only attribute of a Unix file: nobody may write it.
bool IsReadOnlyMode(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

}  // namespace

int LastErrorCode() { return t_lastError; }

void SetLastErrorCode(int code) { t_lastError = code; }

bool DirectoryExists(const std::string& path) {
  struct stat info{};
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool FileExists(const std::string& path) {
  struct stat info{};
  return !path.empty() && stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

EntryKind KindOfEntry(const std::string& path) {
  struct stat info{};
  if (path.empty() || lstat(path.c_str(), &info) != 0) return EntryKind::None;
  if (S_ISREG(info.st_mode)) return EntryKind::File;
  if (S_ISDIR(info.st_mode)) return EntryKind::Directory;
  return S_ISLNK(info.st_mode) ? EntryKind::Link : EntryKind::Other;
}

bool CreateDirectoryLevel(const std::string& path) {
  if (detail::WriteDenied(path)) return false;
  if (mkdir(path.c_str(), 0777) == 0) return true;
  return Fail();
}

bool DeleteFileAt(const std::string& path) {
  if (detail::FileOperationFails() || detail::WriteDenied(path)) return false;
  return unlink(path.c_str()) == 0 || Fail();
}

bool RemoveEmptyDirectory(const std::string& path) {
  if (detail::WriteDenied(path)) return false;
  return rmdir(path.c_str()) == 0 || Fail();
}

bool ReplaceFile(const std::string& from, const std::string& to, const std::function<void()>& /*whileWaiting*/) {
  // rename() replaces a file whatever its own permission bits (only the directory's count); a read-only
  // target is refused here, as Windows refuses it, so that both systems decide the same.
  if (detail::FileOperationFails() || detail::WriteDenied(from) || detail::WriteDenied(to)) return false;
  struct stat info{};
  if (stat(to.c_str(), &info) == 0 && IsReadOnlyMode(info.st_mode)) {
    t_lastError = kErrorAccessDenied;
    return false;
  }
  return rename(from.c_str(), to.c_str()) == 0 || Fail();
}

bool FlushDirectory(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail();
  const bool flushed = fsync(fd) == 0 || Fail();
  close(fd);
  return flushed;
}

bool FreeDiskSpace(const std::string& directory, uint64_t& bytes) {
  struct statvfs info{};
  if (statvfs(directory.c_str(), &info) != 0) return Fail();
  bytes = static_cast<uint64_t>(info.f_bavail) * static_cast<uint64_t>(info.f_frsize);
  return true;
}

bool GetAttributes(const std::string& path, uint32_t& attributes) {
  struct stat info{};
  if (stat(path.c_str(), &info) != 0) return Fail();
  attributes = 0;
  if (S_ISDIR(info.st_mode)) attributes |= kAttrDirectory;
  if (IsReadOnlyMode(info.st_mode)) attributes |= kAttrReadOnly;
  if (attributes == 0) attributes = kAttrNormal;
  return true;
}

bool SetAttributes(const std::string& path, uint32_t attributes) {
  if (detail::FileOperationFails()) return false;
  struct stat info{};
  if (stat(path.c_str(), &info) != 0) return Fail();
  mode_t mode = info.st_mode & 07777;
  if ((attributes & kAttrReadOnly) != 0) {
    mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  } else {
    mode |= S_IWUSR;
  }
  return chmod(path.c_str(), mode) == 0 || Fail();
}

bool SetPermissionBits(const std::string& path, uint32_t mode) {
  if (detail::FileOperationFails()) return false;
  return chmod(path.c_str(), static_cast<mode_t>(mode & 0777)) == 0 || Fail();
}

std::string TempDirectory() {
  const char* dir = getenv("TMPDIR");
  std::string result = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
  if (result.back() != '/') result += '/';
  return result;
}

std::string CurrentDirectory() {
  char buffer[PATH_MAX];
  return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string();
}

std::string FullPathName(const std::string& path) {
  std::string joined = path;
  if (!IsAbsolutePath(path)) {
    const std::string base = CurrentDirectory();
    if (base.empty()) return path;
    joined = base + '/' + path;
  }
  std::vector<std::string> components;
  size_t start = 0;
  while (start <= joined.size()) {
    size_t end = joined.find('/', start);
    if (end == std::string::npos) end = joined.size();
    const std::string component = joined.substr(start, end - start);
    if (component == "..") {
      // Above the root is the root, as on Windows.
      if (!components.empty()) components.pop_back();
    } else if (!component.empty() && component != ".") {
      components.push_back(component);
    }
    start = end + 1;
  }
  std::string full;
  for (const std::string& component : components) full += '/' + component;
  if (full.empty() || joined.back() == '/') full += '/';
  return full;
}

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

CriticalErrorBoxesSuppressed::CriticalErrorBoxesSuppressed() = default;

CriticalErrorBoxesSuppressed::~CriticalErrorBoxesSuppressed() = default;

File File::Open(const std::string& path, FileAccess access, FileShare /*share: no mandatory locks here*/) {
  if (access == FileAccess::ReadWrite && detail::WriteDenied(path)) return File();
  const int flags = (access == FileAccess::Read ? O_RDONLY : O_RDWR) | O_CLOEXEC;
  const int fd = open(path.c_str(), flags);
  if (fd < 0) {
    Fail();
    return File();
  }
  struct stat info{};
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    close(fd);
    t_lastError = kErrorAccessDenied;
    return File();
  }
  if (access == FileAccess::ReadWrite && detail::PowerCutArmed()) detail::NoteDurableSize(fd, info.st_size);
  return File(fd);
}

File File::OpenRegular(const std::string& path) {
  // Without O_NONBLOCK the open of a pipe would wait for a writer; O_NOCTTY keeps a terminal from becoming ours.
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    Fail();
    if (errno == ELOOP) t_lastError = kErrorAccessDenied;
    return File();
  }
  struct stat info{};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    t_lastError = kErrorAccessDenied;
    return File();
  }
  return File(fd);
}

File File::CreateNew(const std::string& path) {
  if (detail::FileOperationFails() || detail::WriteDenied(path)) return File();
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    Fail();
    return File();
  }
  if (detail::PowerCutArmed()) detail::NoteDurableSize(fd, 0);
  return File(fd);
}

File File::Create(const std::string& path) {
  // unlink removes a link itself; what it cannot remove (a directory) makes the exclusive create fail.
  unlink(path.c_str());
  return CreateNew(path);
}

bool File::IsOpen() const { return m_handle >= 0; }

int64_t File::Read(void* buffer, int64_t count) {
  return detail::TransferAll(IsOpen(), detail::TransferKind::Read, count, [&](int64_t offset, int64_t left) {
    return MoveOnce([&] { return read(FdOf(m_handle), static_cast<char*>(buffer) + offset, static_cast<size_t>(left)); });
  });
}

int64_t File::Write(const void* buffer, int64_t count) {
  return detail::TransferAll(IsOpen(), detail::TransferKind::Write, count, [&](int64_t offset, int64_t left) {
    return MoveOnce([&] {
      return write(FdOf(m_handle), static_cast<const char*>(buffer) + offset, static_cast<size_t>(left));
    });
  });
}

bool File::Seek(int64_t position) {
  return IsOpen() && (lseek(FdOf(m_handle), static_cast<off_t>(position), SEEK_SET) >= 0 || Fail());
}

int64_t File::Position() const {
  return IsOpen() ? static_cast<int64_t>(lseek(FdOf(m_handle), 0, SEEK_CUR)) : -1;
}

int64_t File::Size() const {
  struct stat info{};
  return IsOpen() && fstat(FdOf(m_handle), &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

bool File::Truncate() {
  const int64_t position = Position();
  return position >= 0 && (ftruncate(FdOf(m_handle), static_cast<off_t>(position)) == 0 || Fail());
}

bool File::SetDosDateTime(uint32_t dosDateTime) {
  if (!IsOpen()) return false;
  tm local{};
  local.tm_sec = static_cast<int>((dosDateTime & 0x1F) * 2);
  local.tm_min = static_cast<int>((dosDateTime >> 5) & 0x3F);
  local.tm_hour = static_cast<int>((dosDateTime >> 11) & 0x1F);
  local.tm_mday = static_cast<int>((dosDateTime >> 16) & 0x1F);
  local.tm_mon = static_cast<int>((dosDateTime >> 21) & 0x0F) - 1;
  local.tm_year = static_cast<int>((dosDateTime >> 25) & 0x7F) + 80;
  local.tm_isdst = -1;
  const time_t seconds = mktime(&local);
  if (seconds == static_cast<time_t>(-1)) return false;
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  return futimens(FdOf(m_handle), times) == 0 || Fail();
}

bool File::Flush() {
  if (detail::FileOperationFails()) return false;
  if (!IsOpen() || (fsync(FdOf(m_handle)) != 0 && !Fail())) return false;
  if (detail::PowerCutArmed()) detail::NoteDurableSize(m_handle, Size());
  return true;
}

bool File::Close() {
  if (!IsOpen()) return true;
  const int fd = FdOf(m_handle);
  if (detail::PowerCutArmed()) detail::ForgetDurableSize(m_handle);
  m_handle = -1;
  return close(fd) == 0 || Fail();
}

#ifdef UPDATER_FILE_FAULTS
namespace detail {

void CutOpenFile(intptr_t handle, int64_t size) { (void)ftruncate(FdOf(handle), static_cast<off_t>(size)); }

}  // namespace detail
#endif

DirectoryLock DirectoryLock::TryAcquire(const std::string& directory) {
  const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    Fail();
    return DirectoryLock();
  }
  // flock belongs to the open description: a second open, in this process or another, waits its turn.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    t_lastError = errno == EWOULDBLOCK ? kErrorSharingViolation : WindowsCodeOf(errno);
    close(fd);
    return DirectoryLock();
  }
  return DirectoryLock(fd);
}

void DirectoryLock::Release() {
  if (m_handle == -1) return;
  close(FdOf(m_handle));
  m_handle = -1;
}

std::string ProcessesUsingFile(const std::string&) { return {}; }

}  // namespace platform
