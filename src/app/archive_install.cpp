#include "app/archive_install.h"

#include "app/archive_signature.h"
#include "app/install_transaction.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "rtl/sysutils.h"
#include "zip/messages.h"
#include "zip/unzip.h"

namespace {

bool IsZipArchive(TArcType type) {
  return type == TArcType::atZip || type == TArcType::atZipExe || type == TArcType::atJar ||
         type == TArcType::atJarExe;
}

// Whoever can write the download directory could have put other bytes under the archive's name since its
// download was checked (the move to the name is by name): the extractor holds the archive open from here to the
// end of its extraction, and the signature is checked again over that very handle. Returns the cause when the
// archive cannot be held or does not verify, empty when it does.
std::string HoldVerifiedArchive(TUnZip& unzip, const std::string& publicKey, const std::string& signatureText,
                                const std::function<void()>& whileWaiting) {
  if (!unzip.HoldArchive()) {
    return "the saved archive cannot be opened (error " + std::to_string(platform::LastErrorCode()) + ")";
  }
  if (!VerifyArchiveSignature(publicKey, unzip.HeldArchive(), signatureText, whileWaiting)) {
    return "the saved archive's signature does not verify: it was replaced after its download";
  }
  return "";
}

}  // namespace

std::string InstallArchive(TUnZip& unzip, const std::string& archivePath, const std::string& extractPath,
                           const std::string& publicKey, const std::string& signatureText,
                           const TArchiveInstallEvents& events) {
  const auto log = [&](const std::string& event) {
    if (events.Log) events.Log(event);
  };
  const std::function<void()> whileWaiting = events.WhileWaiting ? events.WhileWaiting : [] {};
  // The extractor reports its failures through its error event and never raises; an update whose
  // extraction reported any error, or whose download is no archive at all, must not announce success.
  std::string firstError;
  bool errorReported = false;
  unzip.OnError = [&](TUnBase&, const std::string& file, const std::string& extended, const std::string&, int id) {
    std::string text = (file.empty() ? std::string("archive") : "member " + platform::SystemToUtf8(file)) + ": " +
                       MessageText(id) + " (" + std::to_string(id) + ")";
    if (!extended.empty()) text += ", " + platform::SystemToUtf8(extended);
    log(text);
    if (!errorReported) firstError = text;
    errorReported = true;
  };
  // The handlers refer to this call's locals: they are dropped however the call ends.
  struct HandlersReset {
    TUnZip& unzip;
    ~HandlersReset() {
      unzip.OnError = nullptr;
      unzip.OnStage = nullptr;
    }
  } handlersReset{unzip};
  log("extraction begun");
  std::string cause;
  try {
    unzip.OverwriteMode = TOverwriteMode::omOverwrite;
    unzip.SetScratchDir(extractPath);
    unzip.FileSpec().push_back("*.*");
    unzip.SetExtractDir(extractPath);
    unzip.SetArchiveFile(archivePath);
    if (!publicKey.empty()) {
      cause = HoldVerifiedArchive(unzip, publicKey, signatureText, whileWaiting);
      if (!cause.empty()) return cause;
      log("signature verified again over the archive held for extraction");
    }
    // A cut download still holds whole members at its front: only an archive read through its whole
    // central directory is the update that was published, and one that lists nothing updates nothing.
    unzip.RequireCentralDirectory = true;
    // The members are staged, and swapped in only when every one of them passed: a failure anywhere leaves
    // the installed version as it was.
    TInstallTransaction transaction(extractPath);
    int staged = 0;
    unzip.OnStage = [&](TUnBase&, const TStagedFile& file) {
      transaction.Stage(file);
      if (!file.Passed) return;
      ++staged;
      log("member staged: " + platform::SystemToUtf8(file.TargetName));
    };
    if (transaction.Ok()) unzip.Extract();
    unzip.OnStage = nullptr;
    if (!transaction.Ok()) {
      cause = "the install journal cannot be written in " + platform::SystemToUtf8(extractPath);
    } else if (errorReported) {
      cause = firstError;
    } else if (!IsZipArchive(unzip.ArcType())) {
      cause = "the download is no ZIP archive";
    } else if (unzip.ListedCount() == 0) {
      cause = "the archive lists no member";
    }
    if (!cause.empty()) {
      log(transaction.RollBack() ? "rolled back: nothing installed was changed" : "roll back left for the next start");
    } else if (!transaction.Commit(whileWaiting)) {
      cause = "a staged file could not be swapped in (error " + std::to_string(platform::LastErrorCode()) + ")";
      // The user can close what holds the file only when told what it is, where the system can tell.
      if (transaction.FailedError() == platform::kErrorSharingViolation) {
        const std::string holders = platform::ProcessesUsingFile(transaction.FailedTarget());
        if (!holders.empty()) cause = platform::SystemToUtf8(transaction.FailedTarget()) + " is in use by " + holders;
      }
      log("swap failed and rolled back: nothing installed was changed");
    } else {
      log(Format("swapped in %d files", staged));
    }
  } catch (const std::exception& error) {
    if (cause.empty()) cause = error.what();
  } catch (...) {
    if (cause.empty()) cause = "an unknown failure";
  }
  return cause;
}

std::string RecoverInterruptedInstall(const std::string& extractPath, const TArchiveInstallEvents& events) {
  // An earlier update that died half-way is finished or undone before anything else, whatever this run
  // then manages: the installation never stays a mix of two versions.
  const TInstallTransaction::RecoveryOutcome recovery = TInstallTransaction::Recover(extractPath, events.WhileWaiting);
  const auto log = [&](const std::string& event) {
    if (events.Log) events.Log(event);
  };
  switch (recovery.What) {
    case TInstallTransaction::Recovery::Nothing: break;
    case TInstallTransaction::Recovery::Completed: log("recovered: an interrupted update was completed"); break;
    case TInstallTransaction::Recovery::RolledBack: log("recovered: an interrupted update was rolled back"); break;
    case TInstallTransaction::Recovery::Unfinished:
    case TInstallTransaction::Recovery::Refused:
      // Installing over a tree that an earlier run left half-swapped would lose the only record of how to
      // repair it: this run installs nothing.
      return platform::SystemToUtf8(recovery.Cause);
  }
  return {};
}
