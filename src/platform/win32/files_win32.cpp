#include "platform/files.h"

#include <windows.h>

// <windows.h> maps these names onto its "A"/"W" functions; ours are the platform layer's own.
#undef ReplaceFile

#include <vector>

#include "platform/file_transfer.h"

namespace platform {
namespace {

// The cause of the last failure, taken from GetLastError at the failing call: later successful system calls
// (some clear or overwrite the system's value, CREATE_ALWAYS leaves ERROR_ALREADY_EXISTS behind on success)
// must not change what the caller reads.
thread_local int t_lastError = 0;

bool Fail() {
  t_lastError = static_cast<int>(GetLastError());
  return false;
}

HANDLE HandleOf(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

DWORD ShareModeOf(FileShare share) {
  switch (share) {
    case FileShare::None: return 0;
    case FileShare::Read:
    case FileShare::DenyWrite: return FILE_SHARE_READ;
    case FileShare::ReadWrite: return FILE_SHARE_READ | FILE_SHARE_WRITE;
  }
  return 0;
}

// ReadFile and WriteFile move at most a DWORD per call.
constexpr int64_t kMaxTransfer = 0x40000000;

DWORD PieceOf(int64_t left) { return static_cast<DWORD>(left < kMaxTransfer ? left : kMaxTransfer); }

// How often a replace tries again while a file it moves is in use.
constexpr DWORD kReplaceRetryMilliseconds = 100;

// MoveFileEx reports a target that is in use as "access denied", the same as a target it may never replace.
// Opening the target for writing and deletion, with every kind of sharing allowed on this side, tells the two
// apart: a file that another process holds open without letting others write or delete it, and the file of a
// running program or a loaded library, make that open a sharing violation.
bool InUse(const std::string& path) {
  const HANDLE handle =
      CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace

int LastErrorCode() { return t_lastError; }

void SetLastErrorCode(int code) {
  t_lastError = code;
  SetLastError(static_cast<DWORD>(code));
}

bool DirectoryExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

EntryKind KindOfEntry(const std::string& path) {
  // GetFileAttributes reports a reparse point itself, not what it leads to.
  const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::None;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return EntryKind::Link;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return EntryKind::Directory;
  return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? EntryKind::Other : EntryKind::File;
}

bool CreateDirectoryLevel(const std::string& path) {
  if (detail::WriteDenied(path)) return false;
  return CreateDirectoryA(path.c_str(), nullptr) != 0 || Fail();
}

bool DeleteFileAt(const std::string& path) {
  if (detail::FileOperationFails() || detail::WriteDenied(path)) return false;
  return DeleteFileA(path.c_str()) != 0 || Fail();
}

bool RemoveEmptyDirectory(const std::string& path) {
  if (detail::WriteDenied(path)) return false;
  return RemoveDirectoryA(path.c_str()) != 0 || Fail();
}

bool ReplaceFile(const std::string& from, const std::string& to, const std::function<void()>& whileWaiting) {
  if (detail::FileOperationFails() || detail::WriteDenied(from) || detail::WriteDenied(to)) return false;
  const DWORD start = GetTickCount();
  bool deniedWhileFree = false;
  for (;;) {
    // Windows refuses to replace a read-only file, but not every implementation of its calls does (Wine
    // replaces it): test it here so that the answer never depends on the system underneath.
    const DWORD attributes = GetFileAttributesA(to.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      t_lastError = kErrorAccessDenied;
      return false;
    }
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) return true;
    DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED) {
      if (InUse(to)) {
        error = ERROR_SHARING_VIOLATION;
      } else if (!deniedWhileFree) {
        // Denied, yet free when looked at: a holder may have let go between the move and the look. The move is
        // tried once more before the denial counts.
        deniedWhileFree = true;
        continue;
      }
    }
    // GetTickCount wraps after 49 days; the unsigned difference stays right across the wrap.
    const DWORD waited = GetTickCount() - start;
    if (error != ERROR_SHARING_VIOLATION || waited >= static_cast<DWORD>(detail::ReplaceFileWaitMilliseconds())) {
      t_lastError = static_cast<int>(error);
      return false;
    }
    Sleep(kReplaceRetryMilliseconds);
    if (whileWaiting) whileWaiting();
  }
}

bool FlushDirectory(const std::string& /*path*/) { return true; }

bool FreeDiskSpace(const std::string& directory, uint64_t& bytes) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExA(directory.c_str(), &available, nullptr, nullptr)) return Fail();
  bytes = available.QuadPart;
  return true;
}

bool GetAttributes(const std::string& path, uint32_t& attributes) {
  const DWORD value = GetFileAttributesA(path.c_str());
  if (value == INVALID_FILE_ATTRIBUTES) return Fail();
  attributes = value;
  return true;
}

bool SetAttributes(const std::string& path, uint32_t attributes) {
  if (detail::FileOperationFails()) return false;
  return SetFileAttributesA(path.c_str(), attributes) != 0 || Fail();
}

// Windows keeps no Unix permission bits; the DOS attributes carry what it has.
bool SetPermissionBits(const std::string& /*path*/, uint32_t /*mode*/) { return !detail::FileOperationFails(); }

std::string TempDirectory() {
  char buffer[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof buffer, buffer);
  if (length == 0 || length > sizeof buffer) {
    Fail();
    return std::string();
  }
  std::string result(buffer, length);
  if (result.back() != '\\') result += '\\';
  return result;
}

std::string CurrentDirectory() {
  const DWORD needed = GetCurrentDirectoryA(0, nullptr);
  if (needed == 0) {
    Fail();
    return std::string();
  }
  std::vector<char> buffer(needed);
  const DWORD length = GetCurrentDirectoryA(needed, buffer.data());
  if (length == 0 || length >= needed) {
    Fail();
    return std::string();
  }
  return std::string(buffer.data(), length);
}

std::string FullPathName(const std::string& path) {
  const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) {
    Fail();
    return path;
  }
  std::vector<char> buffer(needed);
  const DWORD length = GetFullPathNameA(path.c_str(), needed, buffer.data(), nullptr);
  if (length == 0 || length >= needed) {
    Fail();
    return path;
  }
  return std::string(buffer.data(), length);
}

bool IsAbsolutePath(const std::string& path) {
  const auto separator = [](char c) { return c == '\\' || c == '/'; };
  if (path.size() >= 3 && path[1] == ':' && separator(path[2])) return true;
  return path.size() >= 2 && separator(path[0]) && separator(path[1]);
}

CriticalErrorBoxesSuppressed::CriticalErrorBoxesSuppressed() : m_previousMode(SetErrorMode(SEM_FAILCRITICALERRORS)) {}

CriticalErrorBoxesSuppressed::~CriticalErrorBoxesSuppressed() { SetErrorMode(m_previousMode); }

File File::Open(const std::string& path, FileAccess access, FileShare share) {
  if (access == FileAccess::ReadWrite && detail::WriteDenied(path)) return File();
  const DWORD desired = access == FileAccess::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  const HANDLE handle =
      CreateFileA(path.c_str(), desired, ShareModeOf(share), nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail();
    return File();
  }
  File file(reinterpret_cast<intptr_t>(handle));
  if (access == FileAccess::ReadWrite && detail::PowerCutArmed()) detail::NoteDurableSize(file.m_handle, file.Size());
  return file;
}

File File::OpenRegular(const std::string& path) {
  // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, which is then refused below.
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail();
    return File();
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    CloseHandle(handle);
    t_lastError = kErrorAccessDenied;
    return File();
  }
  return File(reinterpret_cast<intptr_t>(handle));
}

File File::CreateNew(const std::string& path) {
  if (detail::FileOperationFails() || detail::WriteDenied(path)) return File();
  // CREATE_NEW fails on any entry under the name; FILE_FLAG_OPEN_REPARSE_POINT keeps a link from counting as
  // what it names.
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail();
    if (t_lastError == ERROR_FILE_EXISTS) t_lastError = kErrorAlreadyExists;
    return File();
  }
  if (detail::PowerCutArmed()) detail::NoteDurableSize(reinterpret_cast<intptr_t>(handle), 0);
  return File(reinterpret_cast<intptr_t>(handle));
}

File File::Create(const std::string& path) {
  // DeleteFile removes a file link itself; what it cannot remove (a junction, a directory, a read-only file)
  // makes the exclusive create fail.
  DeleteFileA(path.c_str());
  return CreateNew(path);
}

bool File::IsOpen() const { return m_handle != -1; }

int64_t File::Read(void* buffer, int64_t count) {
  return detail::TransferAll(IsOpen(), detail::TransferKind::Read, count, [&](int64_t offset, int64_t left) {
    DWORD moved = 0;
    if (!ReadFile(HandleOf(m_handle), static_cast<char*>(buffer) + offset, PieceOf(left), &moved, nullptr)) {
      Fail();
      return int64_t{-1};
    }
    return static_cast<int64_t>(moved);
  });
}

int64_t File::Write(const void* buffer, int64_t count) {
  return detail::TransferAll(IsOpen(), detail::TransferKind::Write, count, [&](int64_t offset, int64_t left) {
    DWORD moved = 0;
    if (!WriteFile(HandleOf(m_handle), static_cast<const char*>(buffer) + offset, PieceOf(left), &moved, nullptr)) {
      Fail();
      return int64_t{-1};
    }
    return static_cast<int64_t>(moved);
  });
}

bool File::Seek(int64_t position) {
  LARGE_INTEGER distance;
  distance.QuadPart = position;
  return IsOpen() && (SetFilePointerEx(HandleOf(m_handle), distance, nullptr, FILE_BEGIN) != 0 || Fail());
}

int64_t File::Position() const {
  if (!IsOpen()) return -1;
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  LARGE_INTEGER position;
  if (!SetFilePointerEx(HandleOf(m_handle), zero, &position, FILE_CURRENT)) {
    Fail();
    return -1;
  }
  return position.QuadPart;
}

int64_t File::Size() const {
  if (!IsOpen()) return -1;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(HandleOf(m_handle), &size)) {
    Fail();
    return -1;
  }
  return size.QuadPart;
}

bool File::Truncate() { return IsOpen() && (SetEndOfFile(HandleOf(m_handle)) != 0 || Fail()); }

bool File::SetDosDateTime(uint32_t dosDateTime) {
  if (!IsOpen()) return false;
  FILETIME local;
  FILETIME universal;
  if (!DosDateTimeToFileTime(static_cast<WORD>(dosDateTime >> 16), static_cast<WORD>(dosDateTime & 0xFFFF),
                             &local) ||
      !LocalFileTimeToFileTime(&local, &universal)) {
    return Fail();
  }
  return SetFileTime(HandleOf(m_handle), nullptr, &universal, &universal) != 0 || Fail();
}

bool File::Flush() {
  if (detail::FileOperationFails()) return false;
  if (!IsOpen() || (FlushFileBuffers(HandleOf(m_handle)) == 0 && !Fail())) return false;
  if (detail::PowerCutArmed()) detail::NoteDurableSize(m_handle, Size());
  return true;
}

bool File::Close() {
  if (!IsOpen()) return true;
  const HANDLE handle = HandleOf(m_handle);
  if (detail::PowerCutArmed()) detail::ForgetDurableSize(m_handle);
  m_handle = -1;
  return CloseHandle(handle) != 0 || Fail();
}

#ifdef UPDATER_FILE_FAULTS
namespace detail {

void CutOpenFile(intptr_t handle, int64_t size) {
  LARGE_INTEGER position;
  position.QuadPart = size;
  if (SetFilePointerEx(HandleOf(handle), position, nullptr, FILE_BEGIN)) SetEndOfFile(HandleOf(handle));
}

}  // namespace detail
#endif

DirectoryLock DirectoryLock::TryAcquire(const std::string& directory) {
  std::string path = directory;
  if (!path.empty() && path.back() != kPathSeparator) path += kPathSeparator;
  path += "~update.lock";
  if (detail::WriteDenied(path)) return DirectoryLock();
  // Shared with nobody, so a second holder's open is a sharing violation; a planted link under the name is
  // opened (and removed) as itself, never followed.
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail();
    return DirectoryLock();
  }
  return DirectoryLock(reinterpret_cast<intptr_t>(handle));
}

void DirectoryLock::Release() {
  if (m_handle == -1) return;
  CloseHandle(HandleOf(m_handle));
  m_handle = -1;
}

}  // namespace platform
