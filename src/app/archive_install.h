#pragma once
// Installs a saved update archive into the extract directory as one step: the members are staged, swapped in
// only when every one of them passed, and the installed version stays as it was on any failure (see
// install_transaction.h). Shared by the window's own extraction and by the copy of the updater that installs
// with administrator rights, so that both do exactly the same.
#include <functional>
#include <string>

class TUnZip;

struct TArchiveInstallEvents {
  // One event for the run's log (UTF-8).
  std::function<void(const std::string&)> Log;
  // Runs during the long waits (the signature check, a target still in use), so that a window stays served.
  std::function<void()> WhileWaiting;
};

// Installs archivePath into extractPath with the given extractor. With a public key, the archive is held open
// for the extraction and signatureText must verify over that very handle. Returns the cause of a failure
// (UTF-8), empty when the update was installed.
std::string InstallArchive(TUnZip& unzip, const std::string& archivePath, const std::string& extractPath,
                           const std::string& publicKey, const std::string& signatureText,
                           const TArchiveInstallEvents& events);

// Finishes or undoes what an interrupted update left in extractPath (which this process has locked). Returns
// the cause why nothing may be installed there now, empty when the directory is ready.
std::string RecoverInterruptedInstall(const std::string& extractPath, const TArchiveInstallEvents& events);
