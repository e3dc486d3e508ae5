#pragma once
// Files and directories. Paths are byte strings in the system code page (the "A" functions on Windows, plain
// bytes on Linux). Every failing operation leaves its cause in LastErrorCode() as a Windows error number, so
// that the logic above tests the same codes on both targets.
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr char kForeignSeparator = '/';
#else
inline constexpr char kPathSeparator = '/';
inline constexpr char kForeignSeparator = '\\';
#endif

// The directory part of a path, with its trailing separator; empty when the path has no separator.
inline std::string DirectoryOf(const std::string& path) {
  const size_t last = path.rfind(kPathSeparator);
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

// Windows error numbers that callers test.
inline constexpr int kErrorFileNotFound = 2;
inline constexpr int kErrorPathNotFound = 3;
inline constexpr int kErrorAccessDenied = 5;
inline constexpr int kErrorSharingViolation = 32;
inline constexpr int kErrorDiskFull = 112;
inline constexpr int kErrorAlreadyExists = 183;

// DOS attribute bits.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;
inline constexpr uint32_t kAttrNormal = 0x80;

// The error number of the last failed operation of this thread.
int LastErrorCode();
void SetLastErrorCode(int code);

bool DirectoryExists(const std::string& path);
bool FileExists(const std::string& path);  // exists and is not a directory
// What the name itself is, a link never followed: a symbolic link, a junction or another reparse point is Link;
// a device, pipe or socket is Other.
enum class EntryKind { None, File, Directory, Link, Other };
EntryKind KindOfEntry(const std::string& path);
// Creates one directory level with no attributes; false when it could not be created.
bool CreateDirectoryLevel(const std::string& path);
bool DeleteFileAt(const std::string& path);
// Removes a directory that is empty; false (and nothing removed) when it is not, or cannot be removed.
bool RemoveEmptyDirectory(const std::string& path);
// Moves a file over an existing one in one step where the system allows it, through to the disk before it
// returns where the system offers that (Windows). A read-only target is not
// replaced, on every system (kErrorAccessDenied). While the source or the target is in use (another process
// holds it open without sharing it, or it is a running program's file: the application being updated may still
// be closing), the move is tried again until kReplaceFileWaitMilliseconds have passed, then fails with
// kErrorSharingViolation. Between attempts whileWaiting runs (the window processes its messages there, so
// that it stays responsive). Linux has no such locks: the move never waits.
bool ReplaceFile(const std::string& from, const std::string& to, const std::function<void()>& whileWaiting = {});
inline constexpr int kReplaceFileWaitMilliseconds = 10000;

// Who holds the file open, for the cause of a file that stayed in use: on Windows the processes the Restart
// Manager lists for it, as "MyApp.exe (pid 4242)", several joined by ", " (UTF-8). Empty where the system
// cannot tell: a Windows without the Restart Manager or an answer it cannot give, and always on Linux, whose
// renames never wait for a holder.
std::string ProcessesUsingFile(const std::string& path);

// Forces the directory's entries (files created, renamed or removed in it) onto the disk. Windows needs no
// such step: its renames here are written through (ReplaceFile), so this does nothing there.
bool FlushDirectory(const std::string& path);

// The bytes the caller may still write on the volume that holds the directory; false when unknown.
bool FreeDiskSpace(const std::string& directory, uint64_t& bytes);

// Test seam for the failure paths of file changes: counting from this call, the n-th creation (File::Create,
// File::CreateNew), rename (ReplaceFile), removal (DeleteFileAt), write (File::Write), flush (File::Flush) or
// change of attributes (SetAttributes, SetPermissionBits) fails with kErrorAccessDenied, raises
// FileOperationAborted (Raise), or ends the process at once with kFileFaultExitCode, as a kill would (Exit);
// n = 0 ends it. PowerCut ends it as Exit does, after taking from every file opened for writing since the
// call, and still open, what was written to it after its last Flush, as the system's cache loses it when the
// power fails (a file closed meanwhile keeps what it holds: a model of the one file that lives through a run,
// the journal). With FaultThreads::Caller only the operations of the thread that called count, so that the
// n-th is the same step in every run whatever other threads do; with All, every thread's count.
// FileOperationFaultFired tells whether the chosen operation came.
//
// The seam is compiled in only for builds with tests (UPDATER_FILE_FAULTS, set by UPDATER_TESTS): in the
// shipped program each counted operation's check is an inline false, and the call disappears.
#ifdef UPDATER_FILE_FAULTS
struct FileOperationAborted {};
enum class FileFault { Fail, Raise, Exit, PowerCut };
enum class FaultThreads { All, Caller };
inline constexpr int kFileFaultExitCode = 86;
void FailNthFileOperation(int n, FileFault fault = FileFault::Fail, FaultThreads threads = FaultThreads::All);
bool FileOperationFaultFired();
// Makes this process a user without the right to write in directory and below, as a normal user is in an
// application installed for all users: making, renaming or removing a file or directory there (and, on
// Windows, taking its lock, a file in it) fails with kErrorAccessDenied, and the process does not count as
// elevated. An empty directory ends it. The updater's test builds set it from the environment, so that the
// hand-over to an elevated copy can be run on machines where the tests hold every right.
void DenyWritesUnder(const std::string& directory);
// While alive, ReplaceFile gives up on a file in use after the given milliseconds instead of
// kReplaceFileWaitMilliseconds, in this process; the wait before it comes back at its end. A test of a file
// held past the wait then shows the same failure without sitting out the shipped wait.
class ScopedReplaceFileWait {
 public:
  explicit ScopedReplaceFileWait(int milliseconds);
  ~ScopedReplaceFileWait();
  ScopedReplaceFileWait(const ScopedReplaceFileWait&) = delete;
  ScopedReplaceFileWait& operator=(const ScopedReplaceFileWait&) = delete;

 private:
  int m_previous;
};
namespace detail {
// How long ReplaceFile waits for a file in use.
int ReplaceFileWaitMilliseconds();
// Called first by each counted operation; true when it is to fail.
bool FileOperationFails();
// Called first by each operation that changes what directory holds; true when path lies where writes are
// denied (kErrorAccessDenied is then set).
bool WriteDenied(const std::string& path);
bool WritesDeniedSomewhere();
// For PowerCut, while it is armed: the file layer tells which open handles were written to and how much of
// each is on the disk (at its opening for writing, and after each Flush), and forgets a handle as it closes.
bool PowerCutArmed();
void NoteDurableSize(intptr_t handle, int64_t size);
void ForgetDurableSize(intptr_t handle);
// Cuts an open file to size: what each system does for the power cut.
void CutOpenFile(intptr_t handle, int64_t size);
}  // namespace detail
#else
namespace detail {
inline int ReplaceFileWaitMilliseconds() { return kReplaceFileWaitMilliseconds; }
inline bool FileOperationFails() { return false; }
inline bool WriteDenied(const std::string& /*path*/) { return false; }
inline bool WritesDeniedSomewhere() { return false; }
inline bool PowerCutArmed() { return false; }
inline void NoteDurableSize(intptr_t /*handle*/, int64_t /*size*/) {}
inline void ForgetDurableSize(intptr_t /*handle*/) {}
}  // namespace detail
#endif

// DOS attributes. On Linux: directory, and read-only when no write bit is set; setting read-only clears the
// write bits, clearing it restores the owner's write bit.
bool GetAttributes(const std::string& path, uint32_t& attributes);
bool SetAttributes(const std::string& path, uint32_t attributes);
// Applies Unix permission bits (0777 only; setuid, setgid and sticky are never set). No effect on Windows.
bool SetPermissionBits(const std::string& path, uint32_t mode);

// The temporary-file directory, with a trailing separator.
std::string TempDirectory();
std::string CurrentDirectory();
// The absolute form of a path: a relative one is taken against the current directory, and "." and ".."
// components and doubled separators are resolved by the text alone, as Windows resolves them (there '/'
// also becomes '\'); a trailing separator stays. When the current directory is unknown, a relative path
// is returned as given (never taken from the root).
std::string FullPathName(const std::string& path);
// True for a path that names the same place whatever the current directory and drive: "/..." on Linux,
// "X:\..." or "\\server\..." on Windows.
bool IsAbsolutePath(const std::string& path);

// While alive, the system shows no critical-error boxes (for example "no disk in drive") for file calls.
class CriticalErrorBoxesSuppressed {
 public:
  CriticalErrorBoxesSuppressed();
  ~CriticalErrorBoxesSuppressed();
  CriticalErrorBoxesSuppressed(const CriticalErrorBoxesSuppressed&) = delete;
  CriticalErrorBoxesSuppressed& operator=(const CriticalErrorBoxesSuppressed&) = delete;

 private:
  unsigned m_previousMode = 0;
};

enum class FileAccess { Read, ReadWrite };
enum class FileShare { None, Read, DenyWrite, ReadWrite };

// An open file: move-only, closed by its destructor; a moved-from or failed File is not open.
class File {
 public:
  File() = default;
  ~File() { Close(); }
  File(File&& other) noexcept : m_handle(other.m_handle) { other.m_handle = -1; }
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      Close();
      m_handle = other.m_handle;
      other.m_handle = -1;
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens an existing file. Not open on failure (see LastErrorCode()).
  static File Open(const std::string& path, FileAccess access, FileShare share);
  // Opens an existing regular file for reading, shared for reading, never through a link: a link, a
  // directory, a device or a pipe under the name is refused (kErrorAccessDenied) without blocking.
  static File OpenRegular(const std::string& path);
  // Creates a new file for reading and writing, not shared, attributes normal, exclusively and never through
  // a link: fails (kErrorAlreadyExists) while anything holds the name, a dangling link included. A link among
  // the directories above it is followed: only the last name is the caller's to guard.
  static File CreateNew(const std::string& path);
  // CreateNew for a name of the caller's own making, in a directory that others may write: whatever holds the
  // name (a leftover of an earlier run, a link someone planted) is removed first, the link itself and never
  // what it names; an entry that cannot be removed, or one that appears meanwhile, makes it fail.
  static File Create(const std::string& path);

  bool IsOpen() const;
  // Returns the count moved, or -1 on an error.
  int64_t Read(void* buffer, int64_t count);
  int64_t Write(const void* buffer, int64_t count);
  bool Seek(int64_t position);
  int64_t Position() const;
  int64_t Size() const;
  // Cuts the file at the current position.
  bool Truncate();
  // Sets the last-write time from a DOS date-time (time in the low half), read as local time.
  bool SetDosDateTime(uint32_t dosDateTime);
  // Forces what was written onto the disk (fsync, FlushFileBuffers), so that it survives a crash.
  bool Flush();
  // Closes the file; false when the system reported an error while closing.
  bool Close();

 private:
  explicit File(intptr_t handle) : m_handle(handle) {}
  intptr_t m_handle = -1;
};

// One process at a time per directory: held from TryAcquire until destroyed, by this process only; the system
// lets it go when the process ends, however it ends, so that nothing stale is ever left to clear. On Linux it
// is a lock on the directory itself (flock); on Windows an open handle, shared with nobody, on a file in it
// ("~update.lock", removed when the handle closes). Move-only; a moved-from or failed lock holds nothing.
class DirectoryLock {
 public:
  DirectoryLock() = default;
  ~DirectoryLock() { Release(); }
  DirectoryLock(DirectoryLock&& other) noexcept : m_handle(other.m_handle) { other.m_handle = -1; }
  DirectoryLock& operator=(DirectoryLock&& other) noexcept {
    if (this != &other) {
      Release();
      m_handle = other.m_handle;
      other.m_handle = -1;
    }
    return *this;
  }
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

  // Takes the lock without waiting. Not held on failure: kErrorSharingViolation while another holder has it.
  static DirectoryLock TryAcquire(const std::string& directory);
  bool IsHeld() const { return m_handle != -1; }

 private:
  explicit DirectoryLock(intptr_t handle) : m_handle(handle) {}
  void Release();
  intptr_t m_handle = -1;
};

}  // namespace platform
