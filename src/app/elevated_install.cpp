#include "app/elevated_install.h"

#include <cstdio>
#include <set>

#include "app/archive_install.h"
#include "app/main_form.h"
#include "app/path_helpers.h"
#include "app/printable_line.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/threads.h"
#include "rtl/sysutils.h"
#include "zip/unzip.h"

namespace {

constexpr char kProbeName[] = "~update.probe";
constexpr char kProbeMovedName[] = "~update.probe.moved";
constexpr int kLockRetryMilliseconds = 100;

// The items as given by hand are refused before anything is touched: on the console, since this form has no
// window and no report yet.
int Refuse(const std::string& why) {
  std::fprintf(stderr, "%s refused: %s\n", kElevatedInstallSwitch, why.c_str());
  return kElevatedInstallRefused;
}

class TReport {
 public:
  explicit TReport(platform::File file) : m_file(std::move(file)) {}
  void Write(const std::string& event) {
    const std::string line = PrintableLine(event) + '\n';
    m_file.Write(line.data(), static_cast<int64_t>(line.size()));
  }

 private:
  platform::File m_file;
};

// The lock of the extract directory: the window let it go for this copy, and another updater may have come
// in between; it is waited for as long as the window would.
bool TakeLock(const std::string& extractPath, platform::DirectoryLock& lock, std::string& cause) {
  const int64_t start = platform::MonotonicMilliseconds();
  for (;;) {
    lock = platform::DirectoryLock::TryAcquire(extractPath);
    if (lock.IsHeld()) return true;
    if (platform::LastErrorCode() != platform::kErrorSharingViolation) {
      cause = "the extract directory " + platform::SystemToUtf8(extractPath) + " cannot be locked (error " +
              std::to_string(platform::LastErrorCode()) + ")";
      return false;
    }
    if (platform::MonotonicMilliseconds() - start >= TfMain::kExtractLockWaitMilliseconds) {
      cause = "another updater is installing into " + platform::SystemToUtf8(extractPath);
      return false;
    }
    platform::SleepMilliseconds(kLockRetryMilliseconds);
  }
}

std::string NameOf(const std::string& path) {
  const size_t last = path.rfind(platform::kPathSeparator);
  return last == std::string::npos ? path : path.substr(last + 1);
}

// Whether this process may not create a file in directory exclusively, rename it and remove it, for want of
// access.
bool ProbeRefused(const std::string& directory) {
  const std::string probe = JoinPath(directory, kProbeName, /*slash=*/false);
  const std::string moved = JoinPath(directory, kProbeMovedName, /*slash=*/false);
  // The names are this program's own, and the lock keeps other updaters out: a leftover of a killed run is
  // removed first (File::Create).
  platform::File file = platform::File::Create(probe);
  if (!file.IsOpen()) return platform::LastErrorCode() == platform::kErrorAccessDenied;
  file.Close();
  platform::DeleteFileAt(moved);
  bool denied = false;
  if (!platform::ReplaceFile(probe, moved)) {
    denied = platform::LastErrorCode() == platform::kErrorAccessDenied;
    platform::DeleteFileAt(probe);
    return denied;
  }
  if (!platform::DeleteFileAt(moved)) denied = platform::LastErrorCode() == platform::kErrorAccessDenied;
  return denied;
}

// The directories an install of archive writes to: for each member, the deepest directory on the way to its
// target that exists already (the missing ones are made inside it). The extractor itself names the targets,
// so that the probe looks where the install will write; nothing is extracted.
std::set<std::string> DirectoriesWrittenBy(const std::string& archive, const std::string& extractPath) {
  std::set<std::string> directories;
  TUnZip lister;
  lister.FileSpec().push_back("*.*");
  lister.SetExtractDir(extractPath);
  lister.SetArchiveFile(archive);
  lister.OnBegin = [&](TUnBase&, const std::string& target, int, bool& extract) {
    extract = false;
    std::string directory = platform::DirectoryOf(target);
    while (directory.size() > 1 && !platform::DirectoryExists(directory)) {
      directory = platform::DirectoryOf(directory.substr(0, directory.size() - 1));
    }
    if (!directory.empty()) directories.insert(directory);
  };
  lister.Extract();
  return directories;
}

}  // namespace

std::vector<std::string> ElevatedInstallItems(const std::string& archive, const std::string& extractPath,
                                              const std::string& report, const std::string& signatureText) {
  const std::string signature = Trim(signatureText);
  return {signature.empty() ? std::string(kElevatedInstallSwitch) : kElevatedInstallSwitch + ("=" + signature),
          archive, extractPath, report};
}

bool IsElevatedInstallForm(const std::vector<std::string>& items) {
  if (items.size() != 4) return false;
  const std::string& first = items[0];
  const std::string prefix = std::string(kElevatedInstallSwitch) + "=";
  return first == kElevatedInstallSwitch || first.compare(0, prefix.size(), prefix) == 0;
}

int RunElevatedInstall(const std::vector<std::string>& items, const std::string& publicKey) {
  if (!IsElevatedInstallForm(items)) return Refuse("not the internal install form");
  const size_t equals = items[0].find('=');
  const std::string signature = equals == std::string::npos ? std::string() : items[0].substr(equals + 1);
  const std::string& archive = items[1];
  const std::string& extractPath = items[2];
  const std::string& reportPath = items[3];
  // Only what the window itself would pass: absolute paths, an archive that is a file, a directory that is
  // one. Nothing is made or removed for items that name anything else.
  if (!platform::IsAbsolutePath(archive) || !platform::FileExists(archive)) {
    return Refuse("no archive file " + platform::SystemToUtf8(archive));
  }
  if (!platform::IsAbsolutePath(extractPath) || !platform::DirectoryExists(extractPath)) {
    return Refuse("no extract directory " + platform::SystemToUtf8(extractPath));
  }
  if (!platform::IsAbsolutePath(reportPath)) return Refuse("no report path " + platform::SystemToUtf8(reportPath));
  // Created exclusively, never through a link: the download directory is the user's to write, and this copy
  // runs with rights that must not be lent to a file someone planted under the name.
  platform::File file = platform::File::CreateNew(reportPath);
  if (!file.IsOpen()) {
    return Refuse("the report " + platform::SystemToUtf8(reportPath) + " cannot be created (error " +
                  std::to_string(platform::LastErrorCode()) + ")");
  }
  TReport report(std::move(file));
  const TArchiveInstallEvents events{[&](const std::string& event) { report.Write(event); }, {}};
  report.Write("installing " + platform::SystemToUtf8(archive) + " into " + platform::SystemToUtf8(extractPath));
  platform::DirectoryLock lock;
  std::string cause;
  if (TakeLock(extractPath, lock, cause)) cause = RecoverInterruptedInstall(extractPath, events);
  if (cause.empty()) {
    TUnZip unzip;
    cause = InstallArchive(unzip, archive, extractPath, publicKey, signature, events);
  }
  if (!cause.empty()) {
    report.Write(kElevatedFailedPrefix + cause);
    return kElevatedInstallFailed;
  }
  platform::DeleteFileAt(JoinPath(extractPath, NameOf(archive), /*slash=*/false));
  report.Write("installed");
  return kElevatedInstalled;
}

bool NeedsAdministratorRights(const std::string& extractPath, const std::string& archive) {
  if (platform::ProcessIsElevated()) return false;
  if (ProbeRefused(extractPath)) return true;
  if (archive.empty()) return false;
  for (const std::string& directory : DirectoriesWrittenBy(archive, extractPath)) {
    if (ProbeRefused(directory)) return true;
  }
  return false;
}
