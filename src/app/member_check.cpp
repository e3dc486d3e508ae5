#include "app/member_check.h"

#include <algorithm>

#include "platform/files.h"
#include "zip/unzip.h"

namespace {

// The extractor gives names with the system's separators; the archive holds either.
std::string Comparable(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

void RemoveStaged(const TStagedFile& file) {
  platform::DeleteFileAt(file.TempName);
  for (auto level = file.CreatedDirectories.rbegin(); level != file.CreatedDirectories.rend(); ++level) {
    platform::RemoveEmptyDirectory(*level);
  }
}

}  // namespace

std::set<std::string> SoundMembers(const std::string& archivePath, const std::set<std::string>& names,
                                   const std::string& workDirectory, const std::function<void()>& whileChecking) {
  std::set<std::string> wanted;
  for (const std::string& name : names) wanted.insert(Comparable(name));
  std::set<std::string> sound;
  // The download directory may be shared: anything planted under the work directory's name (a link above
  // all, which would send the check's files elsewhere) is removed, never followed; if it stays, nothing is
  // checked, and nothing reused.
  if (platform::KindOfEntry(workDirectory) != platform::EntryKind::Directory) {
    platform::DeleteFileAt(workDirectory);
    platform::CreateDirectoryLevel(workDirectory);
  }
  if (platform::KindOfEntry(workDirectory) != platform::EntryKind::Directory) return sound;
  TUnZip unzip;  // without a window: a damaged member must not show a message box
  unzip.SetScratchDir(workDirectory);
  unzip.SetExtractDir(workDirectory);
  unzip.FileSpec().push_back("*.*");
  unzip.RequireCentralDirectory = true;
  unzip.OnBegin = [&](TUnBase&, const std::string&, int, bool& extract) {
    extract = wanted.count(Comparable(unzip.StoredName())) != 0;
  };
  unzip.OnProgress = [&](TUnBase&, uint8_t, uint8_t) { whileChecking(); };
  unzip.OnStage = [&](TUnBase&, const TStagedFile& file) {
    if (!file.Passed) return;
    sound.insert(Comparable(unzip.StoredName()));
    RemoveStaged(file);
  };
  unzip.SetArchiveFile(archivePath);
  unzip.Extract();
  platform::RemoveEmptyDirectory(workDirectory);
  std::set<std::string> result;
  for (const std::string& name : names) {
    if (sound.count(Comparable(name)) != 0) result.insert(name);
  }
  return result;
}
