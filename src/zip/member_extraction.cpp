// One listed member, from its central record to its file: its local header read back into a run, its name
// accepted, the overwrite decided, its password found; then its directory made or its file written.
#include "platform/files.h"
#include "rtl/sysutils.h"
#include "zip/extract_paths.h"
#include "zip/member_run.h"
#include "zip/messages.h"
#include "zip/stopwatch.h"
#include "zip/target_name.h"
#include "zip/unzip.h"

namespace {

using ziprec::kEncryptionHeaderSize;

}  // namespace

void TUnZip::ExtractListed(int index) {
  TMemberRun run;
  m_current = &run;
  try {
    run.Header = ReadLocalHeader(*m_archive, index);
    ExtractMember(run);
  } catch (...) {
    // Raised by an event handler or out of memory: the member is abandoned, the next one goes on.
  }
  Settle(run, /*landed=*/false);
  m_current = nullptr;
}

void TUnZip::ExtractMember(TMemberRun& run) {
  run.Info.Flags = run.Header.Flags;
  run.Info.Method = run.Header.Method;
  run.Info.CompressedSize = run.Header.CompressedSize;
  run.Info.UncompressedSize = run.Header.UncompressedSize;
  // A name the system cannot spell is refused rather than written under a look-alike or a '?'.
  if (!run.Header.Name.Held) {
    ReportError(run.Header.Name.Text, std::string(), zipmsg::kMemberNameNotInCodePage, m_volumeName);
    AdvanceArchiveProgress(run.Info.UncompressedSize);
    return;
  }
  run.TargetName = BuildTarget(run.Header.Name.Text);
  // A name ending in a separator cannot be written as a file, whatever attributes its writer gave it.
  bool directory = (run.Header.ExternalAttributes & platform::kAttrDirectory) != 0 ||
                   (!run.TargetName.empty() && run.TargetName.back() == platform::kPathSeparator);
  if (!AcceptTarget(run) || !OverwriteDecision(run, directory)) {
    AdvanceArchiveProgress(run.Info.UncompressedSize);
    return;
  }
  run.Encrypted = !directory && (run.Info.Flags & ziprec::kFlagEncrypted) != 0;
  if (run.Encrypted && !m_passwordFailed && !PasswordCheck(run)) m_passwordFailed = true;
  if (m_arcType == TArcType::atJar || m_arcType == TArcType::atJarExe) {
    directory = !run.TargetName.empty() && run.TargetName.back() == platform::kPathSeparator;
    run.Header.ExternalAttributes = directory ? platform::kAttrDirectory : platform::kAttrArchive;
  }
  if (directory) {
    ExtractDirectory(run);
  } else {
    ExtractFile(run);
  }
}

bool TUnZip::AcceptTarget(TMemberRun& run) {
  if (run.TargetName.empty()) return true;
  // A name that would write outside the extract directory (".." components), or open a device or a
  // stream on Windows, is refused before anything else happens to it.
  if (!TargetStaysInside(m_extractDir, run.TargetName, TTargetRules::Native())) {
    ReportError(run.TargetName, run.Header.Name.Text, zipmsg::kUnsafeMemberName, m_volumeName);
    return false;
  }
  // The target the check approved, with its "." and ".." resolved as that check resolved them: the file
  // system then sees the same path (Linux would otherwise need every directory a ".." climbs out of).
  run.TargetName = platform::FullPathName(run.TargetName);
  return true;
}

bool TUnZip::OverwriteDecision(TMemberRun& run, bool directory) {
  if (directory) return true;
  if (m_stopwatch) m_stopwatch->Pause();
  bool extract = true;
  if (OnBegin) {
    if (OnRenameFile) {
      std::string newName;
      OnRenameFile(*this, run.TargetName, newName);
      if (!newName.empty()) {
        run.TargetName = newName;
        CreateMemberDirectories(run, platform::DirectoryOf(run.TargetName));
      }
    }
    OnBegin(*this, run.TargetName, m_extractedCount + 1, extract);
  }
  bool write = false;
  if (m_cancel || !extract) {
    write = false;
  } else if (CheckOnly) {
    write = true;  // no target is replaced: the overwrite settings do not apply
  } else if (!ConfirmOverwrites) {
    write = OverwriteMode == TOverwriteMode::omOverwrite;
  } else {
    write = ConfirmOverwrite(run);
  }
  if (write) {
    ++m_extractedCount;
    run.Counted = true;
  }
  if (m_stopwatch) m_stopwatch->Resume();
  return write;
}

bool TUnZip::ConfirmOverwrite(TMemberRun& run) {
  OverwriteMode = TOverwriteMode::omOverwrite;
  if (PathExists(run.TargetName)) {
    if (!OnFileExists) {
      ReportError(run.TargetName, "OnFileExists", zipmsg::kRequiredEventNotAssigned, m_volumeName);
      OverwriteMode = TOverwriteMode::omSkip;
    } else {
      do {
        std::string newName;
        OnFileExists(*this, run.TargetName, newName, OverwriteMode);
        if (newName.empty()) newName = run.TargetName;
        CreateMemberDirectories(run, platform::DirectoryOf(newName));
        if (OverwriteMode == TOverwriteMode::omOverwrite) {
          if (SameText(newName, run.TargetName)) break;
          run.TargetName = newName;
        }
      } while (!m_cancel && OverwriteMode != TOverwriteMode::omSkip && PathExists(run.TargetName));
    }
  }
  if (!m_cancel && OverwriteMode != TOverwriteMode::omSkip) {
    uint32_t existing = 0;
    if (platform::GetAttributes(run.TargetName, existing) && (existing & platform::kAttrReadOnly) != 0) {
      if ((existing & (platform::kAttrSystem | platform::kAttrDirectory)) != 0) {
        ReportError(run.TargetName, std::string(), zipmsg::kErrorWritingToFile, m_volumeName);
        OverwriteMode = TOverwriteMode::omSkip;
      } else {
        platform::SetAttributes(run.TargetName, platform::kAttrNormal);
      }
    }
  }
  return !m_cancel && OverwriteMode == TOverwriteMode::omOverwrite && !run.TargetName.empty();
}

void TUnZip::ExtractDirectory(TMemberRun& run) {
  if (CreateStoredDirs && !CheckOnly && !CreateDirTree(run.TargetName)) {
    run.Failed = true;
  } else {
    run.RunningCrc = run.Header.Crc;
  }
  FinishMember(run, /*directoryMember=*/true, /*opened=*/false);
}

void TUnZip::ExtractFile(TMemberRun& run) {
  bool opened = false;
  if (run.Encrypted && m_passwordFailed) {
    AdvanceArchiveProgress(run.Info.UncompressedSize);
    run.Failed = true;
  } else if (!OpenOutput(run)) {
    ReportError(run.TargetName, std::string(), zipmsg::kErrorOpeningFile, m_volumeName);
    AdvanceArchiveProgress(run.Info.UncompressedSize);
    run.Failed = true;
  } else {
    opened = true;
    if (run.Encrypted) run.Info.CompressedSize -= kEncryptionHeaderSize;
    ShowFault(run, Decode(run));
    // Output that ends before the declared size is damage too, even when the CRC fits what came out: a
    // member that promises a gigabyte and delivers four bytes is not the member its directory describes.
    if (run.Written < run.Info.UncompressedSize) run.Failed = true;
    run.RunningCrc ^= 0xFFFFFFFFu;
    CloseOutput(run);
  }
  FinishMember(run, /*directoryMember=*/false, opened);
}
