#include "zip/unzip.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "rtl/calendar.h"
#include "rtl/sysutils.h"
#include "zip/decoders/decoders.h"
#include "zip/decoders/decompress_stream.h"
#include "zip/member_selection.h"
#include "zip/messages.h"
#include "zip/target_name.h"
#include "zip/write_behind.h"
#include "zip/zip_records.h"

namespace {

using ziprec::kEncryptionHeaderSize;
using ziprec::kFlagDataDescriptor;
using ziprec::kFlagEncrypted;
using ziprec::kHostUnix;
// Member data move in chunks of this size: one write and one progress report each.
constexpr int64_t kChunkSize = 32768;
// The caption of a confirmation dialog.
constexpr char kConfirmCaption[] = "Confirm";
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

bool PathExists(const std::string& path) { return platform::FileExists(path) || platform::DirectoryExists(path); }

// The extract directory as it is kept: absolute and resolved, with a trailing separator, so that targets
// built on it are absolute too and the inside-the-directory check compares like with like. (A relative
// directory would be read from the root by the target-name rule, "inst" as "/inst".) Empty stays empty.
std::string AbsoluteDirectory(const std::string& directory) {
  if (directory.empty()) return directory;
  std::string full = platform::FullPathName(directory);
  if (full.back() != platform::kPathSeparator) full += platform::kPathSeparator;
  return full;
}

// The levels of path, outermost first, that do not exist yet.
std::vector<std::string> MissingDirectoryLevels(const std::string& path) {
  std::vector<std::string> missing;
  std::string full = platform::FullPathName(path);
  if (full.empty() || full.back() != platform::kPathSeparator) full += platform::kPathSeparator;
  for (size_t i = 1; i < full.size(); ++i) {
    if (full[i] == platform::kPathSeparator && full[i - 1] != platform::kPathSeparator) {
      const std::string prefix = full.substr(0, i);
      if (!platform::DirectoryExists(prefix)) missing.push_back(prefix);
    }
  }
  return missing;
}

}  // namespace

bool ApplyStagedAttributes(const TStagedFile& file, const std::string& path) {
  const bool bitsSet = !file.SetPermissionBits || platform::SetPermissionBits(path, file.PermissionBits);
  const bool attributesSet = !file.SetAttributes || platform::SetAttributes(path, file.Attributes);
  return bitsSet && attributesSet;
}

// Elapsed run time without the time spent in the user's event handlers.
class TUnZip::TStopwatch {
 public:
  TStopwatch() : m_start(platform::MonotonicMilliseconds()) {}
  void Pause() {
    if (m_pausedAt < 0) m_pausedAt = platform::MonotonicMilliseconds();
  }
  void Resume() {
    if (m_pausedAt >= 0) m_paused += platform::MonotonicMilliseconds() - m_pausedAt;
    m_pausedAt = -1;
  }
  float Seconds() {
    Resume();
    return static_cast<float>(platform::MonotonicMilliseconds() - m_start - m_paused) / 1000.0f;
  }

 private:
  int64_t m_start;
  int64_t m_paused = 0;
  int64_t m_pausedAt = -1;
};

// One member on its way from the archive to its target: the temporary file its data are decoded into, their
// CRC, the directories made for it, and its place in ExtractedCount. However the member ends (its check, a
// refusal, an exception from an event handler), Settle is the one place where what did not land is taken
// back: the temporary file, the directories, the count. A member abandoned half-way is settled by the
// destructor.
class TUnZip::TMemberExtraction {
 public:
  explicit TMemberExtraction(TUnZip& unzip) : m_unzip(unzip) { m_unzip.m_current = this; }
  ~TMemberExtraction() {
    Settle(/*landed=*/false);
    m_unzip.m_current = nullptr;
  }
  TMemberExtraction(const TMemberExtraction&) = delete;
  TMemberExtraction& operator=(const TMemberExtraction&) = delete;

  // The member is going to be written: it takes its place in ExtractedCount until it fails.
  void Count() {
    ++m_unzip.m_extractedCount;
    m_counted = true;
  }
  // A full disk: nothing of this run counts as written, earlier members included.
  void UncountRun() {
    m_unzip.m_extractedCount = 0;
    m_counted = false;
  }
  // Landed: the file replaced its target, or was handed on staged, and is no longer this member's to remove.
  void Settle(bool landed) {
    if (m_settled) return;
    m_settled = true;
    // Nothing may still be writing into the file when it closes.
    if (Writing) {
      m_unzip.m_writeBehind.Abandon();
      m_unzip.m_writeBehind.File().Close();
      Writing = false;
    }
    if (!landed) {
      if (m_counted && m_unzip.m_extractedCount > 0) --m_unzip.m_extractedCount;
      if (!TempName.empty()) platform::DeleteFileAt(TempName);
      // Deepest first; a directory that something else has filled meanwhile stays.
      for (auto it = Directories.rbegin(); it != Directories.rend(); ++it) platform::RemoveEmptyDirectory(*it);
    }
    m_counted = false;
    TempName.clear();
    Directories.clear();
  }

  std::string TempName;
  // The write-behind thread has the member's file.
  bool Writing = false;
  // The temporary file could not be created; the member is reported as a file that cannot be opened.
  bool NotCreated = false;
  uint32_t RunningCrc = 0;
  int64_t Written = 0;
  // A failed write has been handled: the writes that follow it fail too, quietly.
  bool WriteFailureTaken = false;
  // The member cannot pass its check: it failed to open, to decode, was cut, or sent too many bytes.
  bool Failed = false;
  // Directories created for the member's file, in the order they were made.
  std::vector<std::string> Directories;

 private:
  TUnZip& m_unzip;
  bool m_counted = false;
  bool m_settled = false;
};

TUnZip::TUnZip(platform::Ui* ui) : m_ui(ui) {}

TUnZip::~TUnZip() = default;

void TUnZip::SetExtractDir(const std::string& value) {
  if (value.empty()) {
    m_extractDir = AbsoluteDirectory(platform::DirectoryOf(m_archiveFile));
    return;
  }
  std::string directory = value;
  std::replace(directory.begin(), directory.end(), platform::kForeignSeparator, platform::kPathSeparator);
  m_extractDir = AbsoluteDirectory(directory);
}

const std::string& TUnZip::ScratchDir() {
  if (!platform::DirectoryExists(m_scratchDir)) m_scratchDir = platform::TempDirectory();
  return m_scratchDir;
}

void TUnZip::SetScratchDir(const std::string& value) {
  std::string directory = value.empty() ? platform::TempDirectory() : value;
  if (directory.back() != platform::kPathSeparator) directory += platform::kPathSeparator;
  if (!platform::DirectoryExists(directory)) {
    // The directory is in the system code page; the box, like every text the window shows, takes UTF-8.
    const std::string question =
        MessageText(zipmsg::kDirectoryDoesNotExistCreate) + "\r\r" + platform::SystemToUtf8(directory);
    const bool yes = m_ui == nullptr || m_ui->ConfirmYesNo(m_ui->Handle(), question, kConfirmCaption);
    if (yes) {
      CreateDirTree(directory);
    } else {
      directory.clear();
    }
  }
  if (directory.empty() || !platform::DirectoryExists(directory)) directory = platform::TempDirectory();
  m_scratchDir = directory;
}

bool TUnZip::CreateDirTree(const std::string& path, std::vector<std::string>* created) {
  if (platform::DirectoryExists(path)) return true;
  {
    platform::CriticalErrorBoxesSuppressed quiet;
    for (const std::string& level : MissingDirectoryLevels(path)) {
      if (platform::CreateDirectoryLevel(level) && created != nullptr) created->push_back(level);
    }
  }
  return platform::DirectoryExists(path);
}

void TUnZip::CreateMemberDirectories(const std::string& directory) { CreateDirTree(directory, &m_current->Directories); }

bool TUnZip::HoldArchive() {
  if (m_archiveFile.empty()) return false;
  m_archive = std::make_unique<TFileStream32>(m_archiveFile, TFileStream32::Mode::OpenReadDenyWrite);
  if (!m_archive->IsOpen()) {
    m_archive.reset();
    return false;
  }
  Recognise(*m_archive);
  return true;
}

int TUnZip::Extract() {
  m_listedCount = 0;
  if (m_archiveFile.empty()) {
    ReportError(std::string(), std::string(), zipmsg::kFileNotFound, m_archiveFile);
    return 0;
  }
  // Recognised again from the handle it reads, the archive is described by the bytes that are extracted.
  if (!m_archive && !HoldArchive()) {
    ReportError(std::string(), std::string(), zipmsg::kErrorOpeningFile, m_archiveFile);
    return 0;
  }
  const std::string archiveAtStart = m_archiveFile;
  bool activated = false;
  try {
    m_archiveSize = m_archive->Size();
    m_cancel = false;
    m_extractedCount = 0;
    m_nextTempNumber = 0;
    m_passwordFailed = false;
    m_totalCompressed = 0;
    m_totalUncompressed = 0;
    m_maxDosDateTime = 0;
    m_archiveRemaining = 0;
    m_archiveTotal = 0;
    m_volumeName = m_archiveFile;
    if (CpuType == TCpuType::cpt80486) CpuType = TCpuType::cptAuto;

    if (OnActivate) OnActivate(*this);
    activated = true;
    if (OnElapsedTime) m_stopwatch = std::make_unique<TStopwatch>();
    m_targetName.clear();
    try {
      ArchivePass();
    } catch (...) {
      // The pass reports its own failures; whatever escapes it ends the pass, never the run.
    }
    if (m_stopwatch) {
      const float seconds = m_stopwatch->Seconds();
      m_stopwatch.reset();
      OnElapsedTime(*this, seconds);
    }
  } catch (...) {
    // Exceptions from the user's handlers end the run quietly, as every other failure does.
  }
  m_stopwatch.reset();
  try {
    if (activated && OnDeactivate) OnDeactivate(*this);
  } catch (...) {
  }
  m_archiveFile = archiveAtStart;
  m_archive.reset();
  return m_extractedCount;
}

void TUnZip::ArchivePass() {
  m_members.Clear();
  try {
    if (IsZipType(m_arcType)) {
      const int count = ListMembers(*m_archive);
      m_listedCount = count;
      // Progress counts output bytes, the unit every decoder counts in.
      m_archiveTotal = m_totalUncompressed;
      m_archiveRemaining = m_archiveTotal;
      // Staged members all stand beside the files they replace until the end of the run: the whole new
      // version has to fit into the free space, or nothing is written.
      uint64_t freeBytes = 0;
      if (OnStage && !m_extractDir.empty() && platform::FreeDiskSpace(m_extractDir, freeBytes) &&
          static_cast<uint64_t>(std::max<int64_t>(m_totalUncompressed, 0)) > freeBytes) {
        ReportError(m_archiveFile, "0", zipmsg::kDiskFull, m_volumeName);
        return;
      }
      for (int i = 0; i < count && !m_cancel; ++i) {
        TMemberExtraction member(*this);
        try {
          ExtractMember(i);
        } catch (...) {
          // Raised by an event handler or out of memory: the member is abandoned, the next one goes on.
        }
      }
    }
  } catch (...) {
  }
  m_members.Clear();
}

std::string TUnZip::BuildTarget(const std::string& storedName) {
  if (storedName.empty()) return std::string();
  if (m_extractDir.empty()) {
    m_extractDir = AbsoluteDirectory(platform::DirectoryOf(m_archiveFile));
    if (m_extractDir.empty()) m_extractDir = AbsoluteDirectory(platform::CurrentDirectory());
  }
  // A directory that could not be made absolute (no current directory to resolve it against) has no
  // place to write to: no target.
  if (!platform::IsAbsolutePath(m_extractDir)) return std::string();
  return BuildTargetName(storedName, m_extractDir, UseStoredDirs);
}

void TUnZip::ExtractMember(int index) {
  m_header = ReadLocalHeader(*m_archive, index);
  m_member.Flags = m_header.Flags;
  m_member.Method = m_header.Method;
  m_member.CompressedSize = m_header.CompressedSize;
  m_member.UncompressedSize = m_header.UncompressedSize;
  // A name the system cannot spell is refused rather than written under a look-alike or a '?'.
  if (!m_storedNameHeld) {
    ReportError(m_storedName, std::string(), zipmsg::kMemberNameNotInCodePage, m_volumeName);
    AdvanceArchiveProgress(m_member.UncompressedSize);
    return;
  }
  m_targetName = BuildTarget(m_storedName);

  uint32_t attributes = m_header.ExternalAttributes;
  // A name ending in a separator cannot be written as a file, whatever attributes its writer gave it.
  bool directory = (attributes & platform::kAttrDirectory) != 0 ||
                   (!m_targetName.empty() && m_targetName.back() == platform::kPathSeparator);
  // A name that would write outside the extract directory (".." components), or open a device or a
  // stream on Windows, is refused before anything else happens to it.
  if (!m_targetName.empty() && !TargetStaysInside(m_extractDir, m_targetName, TTargetRules::Native())) {
    ReportError(m_targetName, m_storedName, zipmsg::kUnsafeMemberName, m_volumeName);
    AdvanceArchiveProgress(m_member.UncompressedSize);
    return;
  }
  // The target the check approved, with its "." and ".." resolved as that check resolved them: the file
  // system then sees the same path (Linux would otherwise need every directory a ".." climbs out of).
  if (!m_targetName.empty()) m_targetName = platform::FullPathName(m_targetName);
  if (!OverwriteDecision(directory)) {
    AdvanceArchiveProgress(m_member.UncompressedSize);
    return;
  }

  m_encrypted = !directory && (m_member.Flags & kFlagEncrypted) != 0;
  if (m_encrypted && !m_passwordFailed && !PasswordCheck()) m_passwordFailed = true;

  if (m_arcType == TArcType::atJar || m_arcType == TArcType::atJarExe) {
    directory = !m_targetName.empty() && m_targetName.back() == platform::kPathSeparator;
    attributes = directory ? platform::kAttrDirectory : platform::kAttrArchive;
    m_header.ExternalAttributes = attributes;
  }

  if (directory) {
    if (CreateStoredDirs && !CreateDirTree(m_targetName)) {
      m_current->Failed = true;
    } else {
      m_current->RunningCrc = m_header.Crc;
    }
    FinishMember(/*directoryMember=*/true, /*opened=*/false);
    return;
  }

  bool opened = false;
  if (m_encrypted && m_passwordFailed) {
    AdvanceArchiveProgress(m_member.UncompressedSize);
    m_current->Failed = true;
  } else if (!OpenOutput()) {
    ReportError(m_targetName, std::string(), zipmsg::kErrorOpeningFile, m_volumeName);
    AdvanceArchiveProgress(m_member.UncompressedSize);
    m_current->Failed = true;
  } else {
    opened = true;
    if (m_encrypted) m_member.CompressedSize -= kEncryptionHeaderSize;
    Decode();
    // Output that ends before the declared size is damage too, even when the CRC fits what came out: a
    // member that promises a gigabyte and delivers four bytes is not the member its directory describes.
    if (m_current->Written < m_member.UncompressedSize) m_current->Failed = true;
    m_current->RunningCrc ^= 0xFFFFFFFFu;
    CloseOutput();
  }
  FinishMember(/*directoryMember=*/false, opened);
}

bool TUnZip::OverwriteDecision(bool directory) {
  if (directory) return true;
  if (m_stopwatch) m_stopwatch->Pause();
  bool extract = true;
  if (OnBegin) {
    if (OnRenameFile) {
      std::string newName;
      OnRenameFile(*this, m_targetName, newName);
      if (!newName.empty()) {
        m_targetName = newName;
        CreateMemberDirectories(platform::DirectoryOf(m_targetName));
      }
    }
    OnBegin(*this, m_targetName, m_extractedCount + 1, extract);
  }
  bool write = false;
  if (m_cancel || !extract) {
    write = false;
  } else if (!ConfirmOverwrites) {
    write = OverwriteMode == TOverwriteMode::omOverwrite;
  } else {
    OverwriteMode = TOverwriteMode::omOverwrite;
    if (PathExists(m_targetName)) {
      if (!OnFileExists) {
        ReportError(m_targetName, "OnFileExists", zipmsg::kRequiredEventNotAssigned, m_volumeName);
        OverwriteMode = TOverwriteMode::omSkip;
      } else {
        do {
          std::string newName;
          OnFileExists(*this, m_targetName, newName, OverwriteMode);
          if (newName.empty()) newName = m_targetName;
          CreateMemberDirectories(platform::DirectoryOf(newName));
          if (OverwriteMode == TOverwriteMode::omOverwrite) {
            if (SameText(newName, m_targetName)) break;
            m_targetName = newName;
          }
        } while (!m_cancel && OverwriteMode != TOverwriteMode::omSkip && PathExists(m_targetName));
      }
    }
    if (!m_cancel && OverwriteMode != TOverwriteMode::omSkip) {
      uint32_t existing = 0;
      if (platform::GetAttributes(m_targetName, existing) && (existing & platform::kAttrReadOnly) != 0) {
        if ((existing & (platform::kAttrSystem | platform::kAttrDirectory)) != 0) {
          ReportError(m_targetName, std::string(), zipmsg::kErrorWritingToFile, m_volumeName);
          OverwriteMode = TOverwriteMode::omSkip;
        } else {
          platform::SetAttributes(m_targetName, platform::kAttrNormal);
        }
      }
    }
    write = !m_cancel && OverwriteMode == TOverwriteMode::omOverwrite && !m_targetName.empty();
  }
  if (write) m_current->Count();
  if (m_stopwatch) m_stopwatch->Resume();
  return write;
}

bool TUnZip::TestPassword(const std::string& password) {
  if (password.empty()) return false;
  TZipCipher cipher = TZipCipher::FromPassword(password);
  uint8_t header[kEncryptionHeaderSize];
  std::copy(std::begin(m_encryptionHeader), std::end(m_encryptionHeader), header);
  cipher.Decipher(header, kEncryptionHeaderSize);
  // The check byte is the high byte of the CRC. A member streamed with a data descriptor may not have
  // known its CRC when it was enciphered, so there the high byte of the DOS time is taken too; writers
  // differ in which of the two they use.
  const uint8_t check = header[kEncryptionHeaderSize - 1];
  const bool crcFits = check == static_cast<uint8_t>(m_header.Crc >> 24);
  const bool timeFits = (m_header.Local.Flags & kFlagDataDescriptor) != 0 &&
                        check == static_cast<uint8_t>((m_header.Local.DosDateTime >> 8) & 0xFF);
  if (!crcFits && !timeFits) return false;
  m_memberCipher = cipher;
  return true;
}

bool TUnZip::PasswordCheck() {
  m_inputRemaining = m_member.CompressedSize;
  std::fill(std::begin(m_encryptionHeader), std::end(m_encryptionHeader), 0);
  ReadBlock(m_encryptionHeader, kEncryptionHeaderSize, /*decipher=*/false);
  if (TestPassword(m_password)) return true;
  for (const std::string& candidate : m_passwords) {
    m_password = candidate;
    if (TestPassword(m_password)) return true;
  }
  if (!OnGetPassword) {
    ReportError(m_targetName, "OnGetPassword", zipmsg::kRequiredEventNotAssigned, m_volumeName);
    return false;
  }
  for (int attempt = 0; attempt < PasswordAttempts && !m_cancel; ++attempt) {
    bool tryAgain = true;
    std::string answer;
    OnGetPassword(*this, m_targetName, answer, tryAgain);
    if (!tryAgain) {
      ReportError(m_targetName, MessageText(zipmsg::kUserCanceled), zipmsg::kInvalidPassword, m_volumeName);
      return false;
    }
    if (TestPassword(answer)) {
      m_password = answer;
      m_passwords.insert(m_passwords.begin(), answer);
      return true;
    }
    ReportError(m_targetName, answer, zipmsg::kInvalidPassword, m_volumeName);
    m_password.clear();
  }
  return false;
}

bool TUnZip::OpenOutput() {
  if (m_targetName.empty()) return false;
  // A read-only target is not replaced, as a create over it would fail on Windows; a directory neither.
  uint32_t existing = 0;
  if (platform::DirectoryExists(m_targetName) ||
      (platform::GetAttributes(m_targetName, existing) && (existing & platform::kAttrReadOnly) != 0)) {
    return false;
  }
  const std::string directory = platform::DirectoryOf(m_targetName);
  // A short name of its own, not the target's name plus a suffix: that may exceed the longest name the
  // file system allows when the target's own name is near it.
  TMemberExtraction& member = *m_current;
  // Numbers go on from the last member's: staged files all stay until the end of the run, and a search from
  // zero for every member would test every earlier one's name again. A name some member of the archive has
  // is passed over too: that member's own file would meet the staged one.
  for (;; ++m_nextTempNumber) {
    const std::string tempName = kTempPrefix + std::to_string(m_nextTempNumber) + ".tmp";
    member.TempName = directory + tempName;
    if (!PathExists(member.TempName) && !m_members.HasFileName(tempName)) break;
  }
  // Announced before it exists, with the directories it needs before they are made: a caller that records
  // them can then never miss a file or a directory left by a run that died.
  if (OnStage) {
    TStagedFile announced = StagedFile();
    for (const std::string& level : MissingDirectoryLevels(directory)) announced.CreatedDirectories.push_back(level);
    OnStage(*this, announced);
  }
  CreateMemberDirectories(directory);
  // Created by the write-behind thread while decoding starts; the first write waits for it.
  m_writeBehind.Begin(member.TempName);
  member.Writing = true;
  return true;
}

void TUnZip::CloseOutput() {
  TMemberExtraction& member = *m_current;
  if (!member.Writing) return;
  m_writeBehind.Finish();
  member.Writing = false;
  if (member.NotCreated) return;
  platform::File& file = m_writeBehind.File();
  uint32_t dateTime = m_header.Local.DosDateTime;
  if (DateAttribute == TDateAttribute::daSysDate) dateTime = DosDateTimeOf(platform::NowLocal());
  if (DateAttribute == TDateAttribute::daMaxFileDate) dateTime = m_maxDosDateTime;
  file.SetDosDateTime(dateTime);
  const bool closed = file.Close();
  if (!closed) {
    ReportError(m_targetName, std::string(), zipmsg::kErrorClosingFile, m_volumeName);
    member.Failed = true;
  }
}

void TUnZip::FinishMember(bool directoryMember, bool opened) {
  TMemberExtraction& member = *m_current;
  bool pass = !m_cancel && !member.Failed &&
              (m_header.Crc == member.RunningCrc || m_header.Crc == (member.RunningCrc ^ 0xFFFFFFFFu));
  // Without a central directory a streamed member's sizes and CRC were never known: its data cannot be
  // told from a damaged empty member, so it is not taken as written.
  if (!directoryMember && !m_header.FromCentral && (m_header.Local.Flags & kFlagDataDescriptor) != 0) pass = false;
  if (opened) {
    // A target still held by the application being updated is waited for; the window stays responsive.
    const auto serveWindow = [this] {
      if (m_ui != nullptr) m_ui->ProcessMessages();
    };
    if (pass && !OnStage && !platform::ReplaceFile(member.TempName, m_targetName, serveWindow)) {
      ReportError(m_targetName, std::string(), zipmsg::kErrorWritingToFile, m_volumeName);
      pass = false;
    }
    if (pass) {
      TStagedFile file = StagedFile();
      file.Passed = true;
      const uint32_t attributes = m_header.ExternalAttributes;
      if (RestoreFileAttr && attributes != platform::kAttrArchive) {
        // Archives made on Unix carry the mode in the high half. Only a regular file's permission bits
        // mean anything for the file written here: a symbolic link's (always 0777) would make a plain
        // file writable by everyone.
        const uint32_t unixMode = attributes >> 16;
        const uint32_t unixType = unixMode & kUnixTypeMask;
        if ((m_header.VersionMadeBy >> 8) == kHostUnix && unixMode != 0 &&
            (unixType == 0 || unixType == kUnixRegularFile)) {
          file.SetPermissionBits = true;
          file.PermissionBits = unixMode & 0777;
        }
        const uint32_t dosBits =
            attributes & (platform::kAttrReadOnly | platform::kAttrHidden | platform::kAttrSystem | platform::kAttrArchive);
        if ((m_header.VersionMadeBy >> 8) != kHostUnix || (dosBits & platform::kAttrReadOnly) != 0) {
          file.SetAttributes = true;
          file.Attributes = dosBits == 0 ? platform::kAttrNormal : dosBits;
        }
      }
      // Landed before any handler hears of it: one that raises does not take the file back.
      member.Settle(/*landed=*/true);
      if (OnStage) {
        OnStage(*this, file);
      } else {
        ApplyStagedAttributes(file, m_targetName);
      }
    }
  }
  member.Settle(pass);
  const std::string name = m_targetName;
  if (OnEnd) {
    OnEnd(*this, name, pass);
  } else if (!pass) {
    ReportError(name, std::string(), zipmsg::kFileFailsCrcCheck, m_volumeName);
  }
}

TStagedFile TUnZip::StagedFile() const {
  TStagedFile file;
  file.TempName = m_current->TempName;
  file.TargetName = m_targetName;
  file.CreatedDirectories = m_current->Directories;
  return file;
}

// Which statuses of a method's decoder end the member with their message (raised: the member fails at
// once). The shrink and reduce decoders stop at every fault, the zlib path at a failed write only; the
// other decoders leave their faults to the CRC check, which then fails the member.
enum class TFatalStatuses { None, WriteFailure, All };

struct TUnZip::TMethod {
  uint16_t Number;
  TDecodeStatus (TUnZip::*Decode)(TDecodeContext& context);
  TFatalStatuses Fatal;
};

const TUnZip::TMethod* TUnZip::FindMethod(uint16_t number) {
  static constexpr TMethod kMethods[] = {
      {0, &TUnZip::CopyStored, TFatalStatuses::None},  // stored
      {1, &TUnZip::RunDecoder<Unshrink>, TFatalStatuses::All},  // shrunk
      {2, &TUnZip::RunDecoder<Unreduce>, TFatalStatuses::All},  // reduced, factor 1
      {3, &TUnZip::RunDecoder<Unreduce>, TFatalStatuses::All},  // reduced, factor 2
      {4, &TUnZip::RunDecoder<Unreduce>, TFatalStatuses::All},  // reduced, factor 3
      {5, &TUnZip::RunDecoder<Unreduce>, TFatalStatuses::All},  // reduced, factor 4
      {6, &TUnZip::RunDecoder<Explode>, TFatalStatuses::None},  // imploded
      {8, &TUnZip::InflateMember, TFatalStatuses::WriteFailure},  // Deflate
      {9, &TUnZip::RunDecoder<Inflate64>, TFatalStatuses::None},  // Deflate64
  };
  for (const TMethod& method : kMethods) {
    if (method.Number == number) return &method;
  }
  return nullptr;
}

template <TDecoder decoder>
TDecodeStatus TUnZip::RunDecoder(TDecodeContext& context) {
  return decoder(m_member, context);
}

void TUnZip::Decode() {
  m_current->RunningCrc = 0xFFFFFFFFu;
  m_inputRemaining = m_member.CompressedSize;
  TDecodeContext context;
  context.ReadBlock = [this](uint8_t* buffer, int64_t count) { return ReadBlock(buffer, count, m_encrypted); };
  context.WriteBlock = [this](const uint8_t* buffer, int64_t count) { return WriteBlock(buffer, count); };
  context.ReportProgress = [this](int byFile, int byArchive) { ReportProgress(byFile, byArchive); };
  context.ArchiveRemaining = &m_archiveRemaining;
  context.ArchiveTotal = m_archiveTotal;
  context.Cancel = &m_cancel;
  try {
    const TMethod* method = FindMethod(m_member.Method);
    if (method != nullptr) {
      const TDecodeStatus status = (this->*method->Decode)(context);
      // A failed write is reported before the status it caused, as it happened first; a file that was never
      // created is the member's one report.
      FinishWrites();
      const bool fatal = !m_current->NotCreated &&
                         (method->Fatal == TFatalStatuses::All ||
                          (method->Fatal == TFatalStatuses::WriteFailure && status == TDecodeStatus::OutputShort));
      const int messageId = fatal ? MessageIdOf(status) : 0;
      if (messageId != 0) RaiseError(m_archiveFile, std::string(), messageId, m_targetName);
    } else {
      ReportError(m_targetName, std::string(), zipmsg::kUnsupportedCompressionMethod, m_volumeName);
      m_current->Failed = true;
      FinishWrites();
    }
  } catch (const E_RAISE& error) {
    m_current->Failed = true;
    if (m_ui != nullptr) {
      m_ui->ShowMessage(m_ui->Handle(), error.Message(), std::string(), platform::MessageIcon::Information);
    }
  }
}

// Stored data are read straight into the writer's room, and zlib inflates straight into it: the bytes are
// not copied on their way. Both fill as much of the room as the member still has, which also asks zlib for
// large batches: it copies the last 32 KiB of each call's output into its window, so calls of one chunk
// would copy all of the output once more.
TDecodeStatus TUnZip::CopyStored(TDecodeContext&) {
  while (m_inputRemaining > 0) {
    const TWriteBehind::Span room = m_writeBehind.Room();
    // Enciphered data are deciphered in the room, as they come.
    const int64_t got = ReadBlock(room.Data, std::min(m_inputRemaining, room.Size), m_encrypted);
    if (got <= 0) return TDecodeStatus::InputEnded;
    if (!CommitChunks(got)) return TDecodeStatus::OutputShort;
    if (m_cancel) return TDecodeStatus::Cancelled;
  }
  return TDecodeStatus::Ok;
}

TDecodeStatus TUnZip::InflateMember(TDecodeContext&) {
  TDecompressStream inflater(*m_archive, m_inputRemaining, m_encrypted ? &m_memberCipher : nullptr, &m_cancel);
  int64_t remaining = m_member.UncompressedSize;
  while (remaining > 0 && !m_cancel) {
    if (m_ui != nullptr) m_ui->ProcessMessages();
    const TWriteBehind::Span room = m_writeBehind.Room();
    const int64_t batch = std::min(remaining, room.Size);
    const int64_t produced = inflater.Read(room.Data, batch);
    if (produced <= 0) {
      AdvanceArchiveProgress(remaining);
      ReportMemberProgress();
    }
    if (produced > 0 && !CommitChunks(produced)) return TDecodeStatus::OutputShort;
    // Any status without output ends the member, -5 (input used up) included: no later call can produce
    // anything either, and the declared size may be far larger than the data.
    if (produced == Z_BUF_ERROR) return TDecodeStatus::InputEnded;
    if (produced < 0) return TDecodeStatus::InvalidData;
    if (produced < batch) break;
    remaining -= batch;
  }
  // A stream that goes on past the declared size is not the member its directory describes, even when the
  // declared bytes fit the CRC: it fails as a member that tries to write more than declared does.
  uint8_t beyond = 0;
  if (remaining == 0 && !m_cancel && inflater.Read(&beyond, 1) > 0) m_current->Failed = true;
  return m_cancel ? TDecodeStatus::Cancelled : TDecodeStatus::Ok;
}

bool TUnZip::CommitChunks(int64_t count) {
  for (int64_t at = 0; at < count; at += kChunkSize) {
    const int64_t chunk = std::min(kChunkSize, count - at);
    AdvanceArchiveProgress(chunk);
    const int64_t taken = CommitBlock(chunk);
    ReportMemberProgress();
    if (taken < chunk) return false;
    // A cancel from the report ends the member here: what is left of the room is not taken.
    if (m_cancel) break;
  }
  return true;
}

int64_t TUnZip::ReadBlock(uint8_t* buffer, int64_t count, bool decipher) {
  // Never past the member's data, whatever a decoder asks for.
  const int64_t want = std::min(count, m_inputRemaining);
  if (want <= 0) return 0;
  const int64_t got = m_archive->Read(buffer, want);
  if (got <= 0) return 0;
  m_inputRemaining -= got;
  if (decipher) m_memberCipher.Decipher(buffer, got);
  return got;
}

int64_t TUnZip::WriteBlock(const uint8_t* buffer, int64_t count) {
  const int64_t allowed = AllowedOutput(count);
  return allowed > 0 ? CountTaken(m_writeBehind.Write(buffer, allowed), allowed) : 0;
}

int64_t TUnZip::CommitBlock(int64_t count) {
  const int64_t allowed = AllowedOutput(count);
  return allowed > 0 ? CountTaken(m_writeBehind.Commit(allowed), allowed) : 0;
}

int64_t TUnZip::AllowedOutput(int64_t count) {
  TMemberExtraction& member = *m_current;
  if (!member.Writing || member.NotCreated || count <= 0) return 0;
  // A member never grows past its declared size: the excess is refused, and the member fails its check.
  const int64_t allowed = std::min(count, std::max<int64_t>(m_member.UncompressedSize - member.Written, 0));
  if (allowed < count) member.Failed = true;
  return allowed;
}

int64_t TUnZip::CountTaken(bool taken, int64_t allowed) {
  TMemberExtraction& member = *m_current;
  if (!taken) {
    if (!member.WriteFailureTaken) TakeWriteFailure(m_writeBehind.Finish());
    return 0;
  }
  member.Written += allowed;
  return allowed;
}

void TUnZip::FinishWrites() {
  TMemberExtraction& member = *m_current;
  if (!member.Writing) return;
  const TWriteBehind::Outcome outcome = m_writeBehind.Finish();
  member.Written = outcome.Written;
  // zlib keeps the register inverted: its value is the complement of RunningCrc.
  member.RunningCrc = ~outcome.Crc;
  if (outcome.Failed && !member.WriteFailureTaken) TakeWriteFailure(outcome);
}

void TUnZip::TakeWriteFailure(const TWriteBehind::Outcome& outcome) {
  TMemberExtraction& member = *m_current;
  member.WriteFailureTaken = true;
  member.Failed = true;
  if (outcome.NotCreated) {
    // Known at the member's first write: nothing of it was written, and the rest of it is skipped.
    member.NotCreated = true;
    member.TempName.clear();
    ReportError(m_targetName, std::string(), zipmsg::kErrorOpeningFile, m_volumeName);
    AdvanceArchiveProgress(m_member.UncompressedSize);
    return;
  }
  if (outcome.ErrorCode == platform::kErrorDiskFull) {
    member.UncountRun();
    RaiseError(m_archiveFile, "0", zipmsg::kDiskFull, m_targetName);
  }
  ReportError(m_targetName, std::string(), zipmsg::kErrorWritingToFile, m_archiveFile);
}

void TUnZip::ReportMemberProgress() {
  ReportProgress(ProgressPercent(m_current->Written, m_member.UncompressedSize),
                 ProgressPercent(m_archiveTotal - m_archiveRemaining, m_archiveTotal));
}

void TUnZip::ReportProgress(int byFile, int byArchive) {
  if (m_ui != nullptr) m_ui->ProcessMessages();
  if (OnProgress) OnProgress(*this, static_cast<uint8_t>(byFile), static_cast<uint8_t>(byArchive));
}

void TUnZip::AdvanceArchiveProgress(int64_t bytes) { m_archiveRemaining = std::max<int64_t>(m_archiveRemaining - bytes, 0); }

void TUnZip::RaiseError(const std::string& fileName, const std::string& extendedMsg, int code,
                        const std::string& volumeName) {
  ReportError(fileName, extendedMsg, code, volumeName);
  if (!m_cancel) throw E_RAISE(code);
}
