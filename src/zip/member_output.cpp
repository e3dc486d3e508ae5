// A member's file: the temporary file beside its target, the writes into it through the write-behind writer,
// its close, its check, and its landing (replacing the target, or handed on staged).
#include <algorithm>
#include <cmath>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/ui.h"
#include "rtl/calendar.h"
#include "zip/extract_paths.h"
#include "zip/member_run.h"
#include "zip/messages.h"
#include "zip/unzip.h"
#include "zip/write_behind.h"

namespace {

// Member data move in chunks of this size: one write and one progress report each.
constexpr int64_t kChunkSize = 32768;
constexpr uint32_t kUnixTypeMask = 0170000;
constexpr uint32_t kUnixRegularFile = 0100000;
// Name start of the temporary file a member is written to before it replaces its target.
constexpr const char* kTempPrefix = "~unzip";

// Local time, as days since 1899-12-30, to a DOS date-time (time in the low half).
uint32_t DosDateTimeOf(double days) {
  const int64_t seconds = static_cast<int64_t>(std::floor(days * 86400.0 + 0.5));
  const int64_t secondOfDay = seconds % 86400;
  const TCivilDate civil = CivilFromDays(seconds / 86400 - kDaysFrom1899To1970);
  if (civil.Year < 1980) return (1u << 21) | (1u << 16);
  const uint32_t date = static_cast<uint32_t>(((civil.Year - 1980) << 9) | (civil.Month << 5) | civil.Day);
  const uint32_t time = static_cast<uint32_t>(((secondOfDay / 3600) << 11) | (((secondOfDay / 60) % 60) << 5) |
                                              ((secondOfDay % 60) / 2));
  return (date << 16) | time;
}

}  // namespace

void TUnZip::CreateMemberDirectories(TMemberRun& run, const std::string& directory) {
  if (!CheckOnly) CreateDirTree(directory, &run.Directories);
}

bool TUnZip::OpenOutput(TMemberRun& run) {
  if (run.TargetName.empty() || (!CheckOnly && !PlaceTempFile(run))) return false;
  // Created by the write-behind thread while decoding starts; the first write waits for it. A check has no
  // file (no TempName): the writer only takes the CRC, still beside the decoding.
  m_writeBehind->Begin(run.TempName);
  run.Writing = true;
  return true;
}

bool TUnZip::PlaceTempFile(TMemberRun& run) {
  // A read-only target is not replaced, as a create over it would fail on Windows; a directory neither.
  uint32_t existing = 0;
  if (platform::DirectoryExists(run.TargetName) ||
      (platform::GetAttributes(run.TargetName, existing) && (existing & platform::kAttrReadOnly) != 0)) {
    return false;
  }
  const std::string directory = platform::DirectoryOf(run.TargetName);
  // A short name of its own, not the target's name plus a suffix: that may exceed the longest name the
  // file system allows when the target's own name is near it. Numbers go on from the last member's: staged
  // files all stay until the end of the run, and a search from zero for every member would test every
  // earlier one's name again. A name some member of the archive has is passed over too: that member's own
  // file would meet the staged one.
  for (;; ++m_nextTempNumber) {
    const std::string tempName = kTempPrefix + std::to_string(m_nextTempNumber) + ".tmp";
    run.TempName = directory + tempName;
    if (!PathExists(run.TempName) && !m_members.HasFileName(tempName)) break;
  }
  // Announced before it exists, with the directories it needs before they are made: a caller that records
  // them can then never miss a file or a directory left by a run that died.
  if (OnStage) {
    TStagedFile announced = StagedFile(run);
    for (const std::string& level : MissingDirectoryLevels(directory)) announced.CreatedDirectories.push_back(level);
    OnStage(*this, announced);
  }
  CreateMemberDirectories(run, directory);
  return true;
}

int64_t TUnZip::WriteBlock(TMemberRun& run, const uint8_t* buffer, int64_t count) {
  const int64_t allowed = AllowedOutput(run, count);
  return allowed > 0 ? CountTaken(run, m_writeBehind->Write(buffer, allowed), allowed) : 0;
}

int64_t TUnZip::CommitBlock(TMemberRun& run, int64_t count) {
  const int64_t allowed = AllowedOutput(run, count);
  return allowed > 0 ? CountTaken(run, m_writeBehind->Commit(allowed), allowed) : 0;
}

bool TUnZip::CommitChunks(TMemberRun& run, int64_t count) {
  for (int64_t at = 0; at < count; at += kChunkSize) {
    const int64_t chunk = std::min(kChunkSize, count - at);
    AdvanceArchiveProgress(chunk);
    const int64_t taken = CommitBlock(run, chunk);
    ReportMemberProgress(run);
    if (taken < chunk) return false;
    // A cancel from the report ends the member here: what is left of the room is not taken.
    if (m_cancel) break;
  }
  return true;
}

int64_t TUnZip::AllowedOutput(TMemberRun& run, int64_t count) {
  if (!run.Writing || run.NotCreated || count <= 0) return 0;
  // A member never grows past its declared size: the excess is refused, and the member fails its check.
  const int64_t allowed = std::min(count, std::max<int64_t>(run.Info.UncompressedSize - run.Written, 0));
  if (allowed < count) run.Failed = true;
  return allowed;
}

int64_t TUnZip::CountTaken(TMemberRun& run, bool taken, int64_t allowed) {
  if (!taken) {
    if (!run.WriteFailureTaken) {
      const TWriteBehind::Outcome outcome = m_writeBehind->Finish();
      TakeWriteFailure(run, outcome.NotCreated, outcome.ErrorCode);
    }
    return 0;
  }
  run.Written += allowed;
  return allowed;
}

void TUnZip::FinishWrites(TMemberRun& run) {
  if (!run.Writing) return;
  const TWriteBehind::Outcome outcome = m_writeBehind->Finish();
  run.Written = outcome.Written;
  // zlib keeps the register inverted: its value is the complement of RunningCrc.
  run.RunningCrc = ~outcome.Crc;
  if (outcome.Failed && !run.WriteFailureTaken) TakeWriteFailure(run, outcome.NotCreated, outcome.ErrorCode);
}

void TUnZip::TakeWriteFailure(TMemberRun& run, bool notCreated, int errorCode) {
  run.WriteFailureTaken = true;
  run.Failed = true;
  if (notCreated) {
    // Known at the member's first write: nothing of it was written, and the rest of it is skipped.
    run.NotCreated = true;
    run.TempName.clear();
    ReportError(run.TargetName, std::string(), zipmsg::kErrorOpeningFile, m_volumeName);
    AdvanceArchiveProgress(run.Info.UncompressedSize);
    return;
  }
  if (errorCode == platform::kErrorDiskFull) {
    // Nothing of this run counts as written, earlier members included.
    m_extractedCount = 0;
    run.Counted = false;
    TakeFault(run, m_archiveFile, "0", zipmsg::kDiskFull, run.TargetName);
    if (run.Fault) return;
  }
  ReportError(run.TargetName, std::string(), zipmsg::kErrorWritingToFile, m_archiveFile);
}

void TUnZip::CloseOutput(TMemberRun& run) {
  if (!run.Writing) return;
  m_writeBehind->Finish();
  run.Writing = false;
  if (run.NotCreated || CheckOnly) return;
  platform::File& file = m_writeBehind->File();
  uint32_t dateTime = run.Header.Local.DosDateTime;
  if (DateAttribute == TDateAttribute::daSysDate) dateTime = DosDateTimeOf(platform::NowLocal());
  if (DateAttribute == TDateAttribute::daMaxFileDate) dateTime = m_maxDosDateTime;
  file.SetDosDateTime(dateTime);
  if (!file.Close()) {
    ReportError(run.TargetName, std::string(), zipmsg::kErrorClosingFile, m_volumeName);
    run.Failed = true;
  }
}

void TUnZip::FinishMember(TMemberRun& run, bool directoryMember, bool opened) {
  const TMemberHeader& header = run.Header;
  bool pass = !m_cancel && !run.Failed && (header.Crc == run.RunningCrc || header.Crc == (run.RunningCrc ^ 0xFFFFFFFFu));
  // Without a central directory a streamed member's sizes and CRC were never known: its data cannot be
  // told from a damaged empty member, so it is not taken as written.
  if (!directoryMember && !header.FromCentral && (header.Local.Flags & ziprec::kFlagDataDescriptor) != 0) pass = false;
  if (opened && !CheckOnly) {
    // A target still held by the application being updated is waited for; the window stays responsive.
    const auto serveWindow = [this] {
      if (m_ui != nullptr) m_ui->ProcessMessages();
    };
    if (pass && !OnStage && !platform::ReplaceFile(run.TempName, run.TargetName, serveWindow)) {
      ReportError(run.TargetName, std::string(), zipmsg::kErrorWritingToFile, m_volumeName);
      pass = false;
    }
    if (pass) {
      const TStagedFile file = LandingFile(run);
      // Landed before any handler hears of it: one that raises does not take the file back.
      Settle(run, /*landed=*/true);
      if (OnStage) {
        OnStage(*this, file);
      } else {
        ApplyStagedAttributes(file, run.TargetName);
      }
    }
  }
  Settle(run, pass);
  const std::string name = run.TargetName;
  if (OnEnd) {
    OnEnd(*this, name, pass);
  } else if (!pass) {
    ReportError(name, std::string(), zipmsg::kFileFailsCrcCheck, m_volumeName);
  }
}

TStagedFile TUnZip::StagedFile(const TMemberRun& run) const {
  TStagedFile file;
  file.TempName = run.TempName;
  file.TargetName = run.TargetName;
  file.CreatedDirectories = run.Directories;
  return file;
}

TStagedFile TUnZip::LandingFile(const TMemberRun& run) const {
  TStagedFile file = StagedFile(run);
  file.Passed = true;
  const uint32_t attributes = run.Header.ExternalAttributes;
  if (!RestoreFileAttr || attributes == platform::kAttrArchive) return file;
  // Archives made on Unix carry the mode in the high half. Only a regular file's permission bits mean
  // anything for the file written here: a symbolic link's (always 0777) would make a plain file writable
  // by everyone.
  const bool fromUnix = (run.Header.VersionMadeBy >> 8) == ziprec::kHostUnix;
  const uint32_t unixMode = attributes >> 16;
  const uint32_t unixType = unixMode & kUnixTypeMask;
  if (fromUnix && unixMode != 0 && (unixType == 0 || unixType == kUnixRegularFile)) {
    file.SetPermissionBits = true;
    file.PermissionBits = unixMode & 0777;
  }
  const uint32_t dosBits =
      attributes & (platform::kAttrReadOnly | platform::kAttrHidden | platform::kAttrSystem | platform::kAttrArchive);
  if (!fromUnix || (dosBits & platform::kAttrReadOnly) != 0) {
    file.SetAttributes = true;
    file.Attributes = dosBits == 0 ? platform::kAttrNormal : dosBits;
  }
  return file;
}

void TUnZip::Settle(TMemberRun& run, bool landed) {
  if (run.Settled) return;
  run.Settled = true;
  // Nothing may still be writing into the file when it closes.
  if (run.Writing) {
    m_writeBehind->Abandon();
    m_writeBehind->File().Close();
    run.Writing = false;
  }
  if (!landed) {
    if (run.Counted && m_extractedCount > 0) --m_extractedCount;
    if (!run.TempName.empty()) platform::DeleteFileAt(run.TempName);
    // Deepest first; a directory that something else has filled meanwhile stays.
    for (auto it = run.Directories.rbegin(); it != run.Directories.rend(); ++it) platform::RemoveEmptyDirectory(*it);
  }
  run.Counted = false;
  run.TempName.clear();
  run.Directories.clear();
}
