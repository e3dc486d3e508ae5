#include "app/member_check.h"

#include <algorithm>

#include "zip/unzip.h"

namespace {

// The extractor gives names with the system's separators; the archive holds either.
std::string Comparable(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

}  // namespace

std::set<std::string> SoundMembers(const std::string& archivePath, const std::set<std::string>& names,
                                   const std::function<void()>& whileChecking) {
  std::set<std::string> wanted;
  for (const std::string& name : names) wanted.insert(Comparable(name));
  std::set<std::string> sound;
  TUnZip unzip;  // without a window: a damaged member must not show a message box
  unzip.CheckOnly = true;
  unzip.FileSpec().push_back("*.*");
  unzip.RequireCentralDirectory = true;
  // The file member being decoded. A directory member is never begun and its data never decoded: its end
  // does not make it sound.
  std::string checking;
  unzip.OnBegin = [&](TUnBase&, const std::string&, int, bool& extract) {
    extract = wanted.count(Comparable(unzip.StoredName())) != 0;
    checking = extract ? Comparable(unzip.StoredName()) : std::string();
  };
  unzip.OnProgress = [&](TUnBase&, uint8_t, uint8_t) { whileChecking(); };
  unzip.OnEnd = [&](TUnBase&, const std::string&, bool crcPass) {
    if (crcPass && !checking.empty()) sound.insert(checking);
    checking.clear();
  };
  unzip.SetArchiveFile(archivePath);
  unzip.Extract();
  std::set<std::string> result;
  for (const std::string& name : names) {
    if (sound.count(Comparable(name)) != 0) result.insert(name);
  }
  return result;
}
