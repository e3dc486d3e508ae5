#include "platform/files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#ifdef _WIN32
#include <windows.h>
// <windows.h> names these as macros; here they are the platform layer's function and a test's variable.
#undef ReplaceFile
#undef far
#endif

#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "support/file_holder.h"

namespace {

using platform::File;
using platform::FileAccess;
using platform::FileShare;
using platform::kPathSeparator;

// A fresh directory under the system's temporary directory, removed with everything in it.
class FilesTest : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    m_root = std::filesystem::temp_directory_path() / ("platform_files_" + std::to_string(random()));
    std::filesystem::create_directories(m_root);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::permissions(Path("readonly.txt"), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_root, ignored);
  }

  std::string Path(const std::string& name) const { return (m_root / name).string(); }

  static void WriteAll(const std::string& path, const std::string& content) {
    File file = File::Create(path);
    ASSERT_TRUE(file.IsOpen()) << path << " error " << platform::LastErrorCode();
    ASSERT_EQ(file.Write(content.data(), static_cast<int64_t>(content.size())),
              static_cast<int64_t>(content.size()));
  }

  static std::string ReadAll(const std::string& path) {
    File file = File::Open(path, FileAccess::Read, FileShare::ReadWrite);
    if (!file.IsOpen()) return "<cannot open>";
    std::string content(static_cast<size_t>(file.Size()), '\0');
    if (file.Read(content.data(), static_cast<int64_t>(content.size())) != static_cast<int64_t>(content.size())) {
      return "<short read>";
    }
    return content;
  }

  std::filesystem::path m_root;
};

TEST_F(FilesTest, CreateReplacesAnExistingFileAndReadsBackWhatWasWritten) {
  const std::string path = Path("data.bin");
  WriteAll(path, "a longer first content");
  File file = File::Create(path);
  ASSERT_TRUE(file.IsOpen());
  EXPECT_EQ(file.Size(), 0);
  EXPECT_EQ(file.Write("hello world", 11), 11);
  EXPECT_EQ(file.Position(), 11);
  ASSERT_TRUE(file.Seek(6));
  char buffer[16] = {};
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 5);
  EXPECT_EQ(std::string(buffer, 5), "world");
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 0) << "at the end";
  EXPECT_TRUE(file.Close());
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Read(buffer, 1), -1) << "a closed file reads nothing";
  EXPECT_EQ(ReadAll(path), "hello world");
}

TEST_F(FilesTest, SeeksBeyondFourGibibytesAndTruncatesAtThePosition) {
  const int64_t far = (int64_t{5} << 30) + 7;  // past every 32-bit boundary
  File file = File::Create(Path("big.bin"));
  ASSERT_TRUE(file.IsOpen());
  ASSERT_TRUE(file.Seek(far));
  EXPECT_EQ(file.Position(), far);
  ASSERT_EQ(file.Write("x", 1), 1);
  EXPECT_EQ(file.Size(), far + 1);
  ASSERT_TRUE(file.Seek(far));
  char byte = 0;
  EXPECT_EQ(file.Read(&byte, 1), 1);
  EXPECT_EQ(byte, 'x');
  ASSERT_TRUE(file.Seek(10));
  ASSERT_TRUE(file.Truncate());
  EXPECT_EQ(file.Size(), 10);
  EXPECT_EQ(file.Position(), 10);
}

TEST_F(FilesTest, MovedFileKeepsTheHandleAndTheSourceIsEmpty) {
  File first = File::Create(Path("moved.bin"));
  ASSERT_TRUE(first.IsOpen());
  File second = std::move(first);
  EXPECT_FALSE(first.IsOpen());
  EXPECT_TRUE(second.IsOpen());
  EXPECT_EQ(second.Write("abc", 3), 3);
  File third;
  third = std::move(second);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(third.Size(), 3);
}

TEST_F(FilesTest, ReadOnlyAttributeRoundTrips) {
  const std::string path = Path("readonly.txt");
  WriteAll(path, "x");
  uint32_t attributes = 0;
  ASSERT_TRUE(platform::GetAttributes(path, attributes));
  EXPECT_EQ(attributes & platform::kAttrReadOnly, 0u);
  EXPECT_EQ(attributes & platform::kAttrDirectory, 0u);
  ASSERT_TRUE(platform::SetAttributes(path, platform::kAttrReadOnly));
  ASSERT_TRUE(platform::GetAttributes(path, attributes));
  EXPECT_NE(attributes & platform::kAttrReadOnly, 0u);
  ASSERT_TRUE(platform::SetAttributes(path, platform::kAttrNormal));
  ASSERT_TRUE(platform::GetAttributes(path, attributes));
  EXPECT_EQ(attributes & platform::kAttrReadOnly, 0u);
  ASSERT_TRUE(platform::GetAttributes(m_root.string(), attributes));
  EXPECT_NE(attributes & platform::kAttrDirectory, 0u);
}

TEST_F(FilesTest, DosDateTimeSetOnAnOpenHandleIsTheLocalLastWriteTime) {
  // A year back, at an even second (DOS times count two-second steps): far from the file's real time, and
  // almost surely on the same side of any daylight-saving change as now.
  const time_t now = time(nullptr);
  tm local = *localtime(&now);
  const int year = local.tm_year + 1900 - 1;
  const int month = local.tm_mon + 1;
  const int day = local.tm_mday > 28 ? 28 : local.tm_mday;
  const int second = local.tm_sec / 2 * 2;
  const uint32_t dosDateTime = (static_cast<uint32_t>(year - 1980) << 25) | (static_cast<uint32_t>(month) << 21) |
                               (static_cast<uint32_t>(day) << 16) | (static_cast<uint32_t>(local.tm_hour) << 11) |
                               (static_cast<uint32_t>(local.tm_min) << 5) | static_cast<uint32_t>(second / 2);
  const std::string path = Path("dated.txt");
  {
    File file = File::Create(path);
    ASSERT_TRUE(file.IsOpen());
    ASSERT_EQ(file.Write("dated", 5), 5);
    ASSERT_TRUE(file.SetDosDateTime(dosDateTime));
  }
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  const time_t seconds = info.st_mtime;
  const tm back = *localtime(&seconds);
  EXPECT_EQ(back.tm_year + 1900, year);
  EXPECT_EQ(back.tm_mon + 1, month);
  EXPECT_EQ(back.tm_mday, day);
  EXPECT_EQ(back.tm_hour, local.tm_hour);
  EXPECT_EQ(back.tm_min, local.tm_min);
  EXPECT_EQ(back.tm_sec, second);
}

TEST_F(FilesTest, ReplaceFileMovesOverAnExistingFile) {
  const std::string from = Path("new.tmp");
  const std::string to = Path("target.txt");
  WriteAll(to, "old content");
  WriteAll(from, "new");
  ASSERT_TRUE(platform::ReplaceFile(from, to)) << platform::LastErrorCode();
  EXPECT_EQ(ReadAll(to), "new");
  EXPECT_FALSE(platform::FileExists(from));
}

TEST_F(FilesTest, DirectoriesAreCreatedOneLevelAtATime) {
  const std::string level = Path("level");
  EXPECT_FALSE(platform::DirectoryExists(level));
  ASSERT_TRUE(platform::CreateDirectoryLevel(level));
  EXPECT_TRUE(platform::DirectoryExists(level));
  EXPECT_FALSE(platform::FileExists(level));
  EXPECT_FALSE(platform::CreateDirectoryLevel(level));
  EXPECT_EQ(platform::LastErrorCode(), platform::kErrorAlreadyExists);

  const std::string deep = Path("missing") + kPathSeparator + "child";
  platform::SetLastErrorCode(0);
  EXPECT_FALSE(platform::CreateDirectoryLevel(deep)) << "a missing parent is not created";
  EXPECT_NE(platform::LastErrorCode(), 0);
  EXPECT_FALSE(platform::DirectoryExists(deep));

  WriteAll(Path("plain.txt"), "x");
  EXPECT_TRUE(platform::FileExists(Path("plain.txt")));
  EXPECT_FALSE(platform::DirectoryExists(Path("plain.txt")));
  EXPECT_FALSE(platform::DirectoryExists(""));
  EXPECT_FALSE(platform::FileExists(""));
}

TEST_F(FilesTest, MissingFilesReportFileNotFound) {
  const std::string missing = Path("missing.txt");
  struct Case {
    const char* operation;
    bool (*run)(const std::string& path);
  };
  const Case cases[] = {
      {"open", [](const std::string& path) { return File::Open(path, FileAccess::Read, FileShare::Read).IsOpen(); }},
      {"attributes",
       [](const std::string& path) {
         uint32_t attributes = 0;
         return platform::GetAttributes(path, attributes);
       }},
      {"delete", [](const std::string& path) { return platform::DeleteFileAt(path); }},
  };
  for (const Case& c : cases) {
    platform::SetLastErrorCode(0);
    EXPECT_FALSE(c.run(missing)) << c.operation;
    EXPECT_EQ(platform::LastErrorCode(), platform::kErrorFileNotFound) << c.operation;
  }
}

TEST_F(FilesTest, ErrorOfAFailedCallSurvivesLaterSuccessfulCalls) {
  WriteAll(Path("existing.txt"), "x");
  EXPECT_FALSE(File::Open(Path("missing.txt"), FileAccess::Read, FileShare::Read).IsOpen());
  // Creating over an existing file succeeds while the system notes "already exists" on the side.
  File again = File::Create(Path("existing.txt"));
  ASSERT_TRUE(again.IsOpen());
  EXPECT_TRUE(platform::DirectoryExists(m_root.string()));
  EXPECT_EQ(platform::LastErrorCode(), platform::kErrorFileNotFound);
}

// A symbolic link to a file; false where the system or the user's rights allow none.
bool MakeSymbolicLink(const std::string& target, const std::string& link) {
#ifdef _WIN32
  // MinGW's std::filesystem makes none, and the call is looked up at run time: the build targets systems
  // older than it. Without an administrator's rights only developer mode allows one
  // (SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE, unknown to older systems, which then refuse the call).
  using CreateSymbolicLinkFunction = BOOLEAN(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);
  const auto create = reinterpret_cast<CreateSymbolicLinkFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkW")));
  const std::wstring to = std::filesystem::path(target).wstring();
  const std::wstring name = std::filesystem::path(link).wstring();
  if (create == nullptr ||
      (create(name.c_str(), to.c_str(), 0x2) == 0 && create(name.c_str(), to.c_str(), 0) == 0)) {
    return false;
  }
  // Wine's call reports success and makes nothing.
  const DWORD attributes = GetFileAttributesW(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
#else
  std::error_code error;
  std::filesystem::create_symlink(target, link, error);
  return !error;
#endif
}

#ifdef _WIN32
// A junction at link to the directory target, as any user may make one in a directory they can write: the
// reparse point Windows follows for every open that does not ask for the point itself. False where the file
// system has no reparse points (Wine's answers ERROR_NOT_SUPPORTED).
bool MakeJunction(const std::string& target, const std::string& link) {
  const std::wstring name = std::filesystem::path(link).wstring();
  const std::wstring print = std::filesystem::path(target).wstring();
  const std::wstring substitute = L"\\??\\" + print;
  if (!CreateDirectoryW(name.c_str(), nullptr)) return false;
  // The mount-point reparse buffer: tag, data length, reserved, then the names' offsets and lengths in bytes
  // and the two names, each ending in a zero.
  std::vector<WORD> data(8 + substitute.size() + 1 + print.size() + 1);
  const WORD substituteBytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
  const WORD printBytes = static_cast<WORD>(print.size() * sizeof(wchar_t));
  const DWORD tag = 0xA0000003;  // IO_REPARSE_TAG_MOUNT_POINT
  std::memcpy(data.data(), &tag, sizeof tag);
  data[2] = static_cast<WORD>(8 + substituteBytes + sizeof(wchar_t) + printBytes + sizeof(wchar_t));
  data[4] = 0;
  data[5] = substituteBytes;
  data[6] = static_cast<WORD>(substituteBytes + sizeof(wchar_t));
  data[7] = printBytes;
  std::memcpy(&data[8], substitute.c_str(), substituteBytes + sizeof(wchar_t));
  std::memcpy(&data[8 + substitute.size() + 1], print.c_str(), printBytes + sizeof(wchar_t));
  const HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  DWORD returned = 0;
  const BOOL made = DeviceIoControl(handle, 0x900A4 /* FSCTL_SET_REPARSE_POINT */, data.data(),
                                    static_cast<DWORD>(8 + data[2]), nullptr, 0, &returned, nullptr);
  CloseHandle(handle);
  return made != 0;
}
#endif

// What the updater creates in a directory that others may write is never created or read through a link.
TEST_F(FilesTest, LinksUnderTheNameAreNeitherFollowedNorWrittenThrough) {
  WriteAll(Path("outside.txt"), "not ours");
  EXPECT_FALSE(File::CreateNew(Path("outside.txt")).IsOpen());
  EXPECT_EQ(platform::LastErrorCode(), platform::kErrorAlreadyExists);
  EXPECT_TRUE(File::OpenRegular(Path("outside.txt")).IsOpen());
  // What someone may plant under a name the updater makes or reads, where this system lets a test make it.
  struct Planted {
    const char* Name;
    bool Made;
    // A link to a file is removed as itself, so Create takes the name back; a junction is no file to remove.
    bool Removable;
  };
  std::vector<Planted> planted = {
      {"link", MakeSymbolicLink(Path("outside.txt"), Path("link")), true},
      {"dangling", MakeSymbolicLink(Path("nowhere.txt"), Path("dangling")), true},
  };
#ifdef _WIN32
  ASSERT_TRUE(platform::CreateDirectoryLevel(Path("elsewhere")));
  planted.push_back({"junction", MakeJunction(Path("elsewhere"), Path("junction")), false});
#endif
  bool anyMade = false;
  for (const Planted& entry : planted) {
    if (!entry.Made) continue;
    anyMade = true;
    SCOPED_TRACE(entry.Name);
    const std::string path = Path(entry.Name);
    EXPECT_EQ(platform::KindOfEntry(path), platform::EntryKind::Link);
    EXPECT_FALSE(File::OpenRegular(path).IsOpen());
    EXPECT_FALSE(File::CreateNew(path).IsOpen());
    if (entry.Removable) {
      EXPECT_EQ(platform::LastErrorCode(), platform::kErrorAlreadyExists);
      WriteAll(path, "ours");
      EXPECT_EQ(platform::KindOfEntry(path), platform::EntryKind::File);
      EXPECT_EQ(ReadAll(path), "ours");
    } else {
      EXPECT_FALSE(File::Create(path).IsOpen());
    }
  }
  // On Windows the lock is a file in the directory: one planted under its name is taken as itself, and goes
  // with the lock.
  if (MakeSymbolicLink(Path("outside.txt"), Path("~update.lock"))) {
    anyMade = true;
    EXPECT_TRUE(platform::DirectoryLock::TryAcquire(m_root.string()).IsHeld()) << platform::LastErrorCode();
#ifdef _WIN32
    EXPECT_EQ(platform::KindOfEntry(Path("~update.lock")), platform::EntryKind::None);
#endif
  }
  EXPECT_EQ(ReadAll(Path("outside.txt")), "not ours");
  EXPECT_FALSE(std::filesystem::exists(Path("nowhere.txt")));
#ifdef _WIN32
  EXPECT_TRUE(std::filesystem::is_empty(Path("elsewhere")));
#endif
  if (!anyMade) GTEST_SKIP() << "this system lets the test plant no link";
}

// One updater per directory: a second lock is refused while the first is held, in this process or another.
TEST_F(FilesTest, ADirectoryIsLockedByOneHolderAtATime) {
  platform::DirectoryLock first = platform::DirectoryLock::TryAcquire(m_root.string());
  ASSERT_TRUE(first.IsHeld()) << platform::LastErrorCode();
  EXPECT_FALSE(platform::DirectoryLock::TryAcquire(m_root.string()).IsHeld());
  EXPECT_EQ(platform::LastErrorCode(), platform::kErrorSharingViolation);
  ASSERT_TRUE(platform::CreateDirectoryLevel(Path("other")));
  EXPECT_TRUE(platform::DirectoryLock::TryAcquire(Path("other")).IsHeld()) << "each directory has its own";
  platform::DirectoryLock moved = std::move(first);
  EXPECT_FALSE(platform::DirectoryLock::TryAcquire(m_root.string()).IsHeld()) << "moved, still held";
  moved = platform::DirectoryLock();
  EXPECT_TRUE(platform::DirectoryLock::TryAcquire(m_root.string()).IsHeld()) << "released";
}

TEST_F(FilesTest, PathsOfTheSystem) {
  const std::string temp = platform::TempDirectory();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), kPathSeparator);
  EXPECT_TRUE(platform::DirectoryExists(temp));

  const std::string current = platform::CurrentDirectory();
  ASSERT_FALSE(current.empty());
  EXPECT_TRUE(platform::DirectoryExists(current));
  std::string expected = current;
  if (expected.back() != kPathSeparator) expected += kPathSeparator;
  EXPECT_EQ(platform::FullPathName("some.txt"), expected + "some.txt");
  const std::string absolute = Path("absolute.txt");
  EXPECT_EQ(platform::FullPathName(absolute), absolute);
  EXPECT_TRUE(platform::IsAbsolutePath(absolute));

  // Resolved by the text alone, '/' taken as a separator on both systems; a trailing separator stays.
  const std::string sep(1, kPathSeparator);
  struct Case {
    std::string Path;
    std::string Expected;
  };
  const Case cases[] = {
      {"a/./b/../c.txt", expected + "a" + sep + "c.txt"},
      {"a//b/", expected + "a" + sep + "b" + sep},
      {Path("x") + "/../y/.", Path("y")},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::FullPathName(c.Path), c.Expected) << c.Path;
  for (const char* relative : {"", "x", "./x", "../x"}) EXPECT_FALSE(platform::IsAbsolutePath(relative)) << relative;
#ifdef _WIN32
  for (const char* path : {"C:\\x", "c:/x", "\\\\server\\share"}) EXPECT_TRUE(platform::IsAbsolutePath(path)) << path;
  for (const char* path : {"C:x", "\\x", "/x"}) EXPECT_FALSE(platform::IsAbsolutePath(path)) << path;
#endif
}

#ifdef _WIN32
// Linux has no mandatory sharing modes; on Windows the modes decide who else may open the file.
TEST_F(FilesTest, SharingModesRefuseConflictingOpens) {
  const std::string path = Path("shared.txt");
  WriteAll(path, "x");
  {
    File exclusive = File::Open(path, FileAccess::Read, FileShare::None);
    ASSERT_TRUE(exclusive.IsOpen());
    EXPECT_FALSE(File::Open(path, FileAccess::Read, FileShare::ReadWrite).IsOpen());
    EXPECT_EQ(platform::LastErrorCode(), platform::kErrorSharingViolation);
  }
  {
    File reader = File::Open(path, FileAccess::Read, FileShare::DenyWrite);
    ASSERT_TRUE(reader.IsOpen());
    EXPECT_TRUE(File::Open(path, FileAccess::Read, FileShare::ReadWrite).IsOpen());
    EXPECT_FALSE(File::Open(path, FileAccess::ReadWrite, FileShare::ReadWrite).IsOpen());
    EXPECT_EQ(platform::LastErrorCode(), platform::kErrorSharingViolation);
  }
  File reader = File::Open(path, FileAccess::Read, FileShare::ReadWrite);
  ASSERT_TRUE(reader.IsOpen());
  EXPECT_TRUE(File::Open(path, FileAccess::ReadWrite, FileShare::ReadWrite).IsOpen());
}

// The Restart Manager is asked who holds a file. Wine's cannot tell: the answer is then no name at all, never
// a wrong one; a Windows that can tell names the holder, a copy of this program.
TEST_F(FilesTest, HoldersOfAFileAreNamedOnlyWhereTheSystemCanTell) {
  const std::string path = Path("held.txt");
  WriteAll(path, "x");
  testsupport::FileHolder holder(testsupport::OwnProgramPath(), path, 20000, Path("ready"));
  ASSERT_TRUE(holder.WaitUntilHolding());
  const std::string holders = platform::ProcessesUsingFile(path);
  if (!holders.empty()) EXPECT_EQ(holders.find("platform_tests.exe (pid "), 0u) << holders;
}
#endif

}  // namespace
