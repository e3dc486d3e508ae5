#pragma once
// TUnZip, the extractor component: Extract writes the selected members of ArchiveFile below ExtractDir,
// decoding each through the decoder for its compression method, checking its CRC-32, and giving it its
// date and attributes. Failures go to OnError (and fatal decoder or write errors also into a plain message
// box); nothing raises out of Extract.
//
// Each member is written to a temporary file beside its target and moved over the target only after its
// CRC check passed; a member whose target would lie outside ExtractDir is not written at all (message id
// zipmsg::kUnsafeMemberName); a member never receives more bytes than its declared size. Directories
// made for a file member that is then not written (refused, skipped, failed) are removed again, as far
// as they are empty; only directory members (with CreateStoredDirs) leave directories of their own.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "zip/decoders/decode_context.h"
#include "zip/decoders/decoders.h"
#include "zip/unbase.h"
#include "zip/write_behind.h"
#include "zip/zip_cipher.h"

enum class TOverwriteMode { omOverwrite = 0, omSkip = 1 };
enum class TDateAttribute { daFileDate, daSysDate, daMaxFileDate };
enum class TCpuType { cptAuto, cpt80286, cpt80386, cpt80486 };

// A member's file in staging mode (TUnZip::OnStage): written to TempName beside TargetName, which it has not
// replaced. Raised twice: just before the temporary file is created (Passed false), and once it is whole and
// passed its check (Passed true), with the attributes a landing member would then get.
struct TStagedFile {
  std::string TempName;
  std::string TargetName;
  // The directories made for this file, outermost first.
  std::vector<std::string> CreatedDirectories;
  bool Passed = false;
  bool SetPermissionBits = false;
  uint32_t PermissionBits = 0;
  bool SetAttributes = false;
  uint32_t Attributes = 0;
};
// Gives path the attributes a staged file carries; false when one of them could not be set.
bool ApplyStagedAttributes(const TStagedFile& file, const std::string& path);

class TUnZip : public TUnBase {
 public:
  using TNotifyEvent = std::function<void(TUnBase& sender)>;
  using TBeginEvent = std::function<void(TUnBase& sender, const std::string& fileName, int count, bool& extract)>;
  using TEndEvent = std::function<void(TUnBase& sender, const std::string& fileName, bool crcPass)>;
  using TGetPasswordEvent =
      std::function<void(TUnBase& sender, const std::string& fileName, std::string& password, bool& tryAgain)>;
  using TFileExistsEvent = std::function<void(TUnBase& sender, const std::string& fileName,
                                              std::string& newFileName, TOverwriteMode& overwriteMode)>;
  using TRenameFileEvent =
      std::function<void(TUnBase& sender, const std::string& fileName, std::string& newFileName)>;
  using TProgressEvent = std::function<void(TUnBase& sender, uint8_t byFile, uint8_t byArchive)>;
  using TElapsedTimeEvent = std::function<void(TUnBase& sender, float elapsedTime)>;
  using TStageEvent = std::function<void(TUnBase& sender, const TStagedFile& file)>;

  // ui (optional) processes pending messages during progress reports, shows the message box of fatal
  // errors and asks the ScratchDir confirmation. Without it no messages are processed, no box is shown and
  // the confirmation answers Yes.
  explicit TUnZip(platform::Ui* ui = nullptr);
  ~TUnZip() override;

  // Extracts the selected members; returns the number written. Never raises.
  int Extract();
  // Opens ArchiveFile for the next Extract, others denied writing, and recognises it anew from that handle:
  // a caller can check the very bytes that will be extracted (a signature) through HeldArchive(), and a file
  // put under the name from now on is never read. False, holding nothing, when it cannot be opened. The next
  // Extract reads the held archive and ends the hold.
  bool HoldArchive();
  TStream32& HeldArchive() { return *m_archive; }

  bool ConfirmOverwrites = false;
  bool CreateStoredDirs = false;
  TCpuType CpuType = TCpuType::cptAuto;  // no effect; cpt80486 becomes cptAuto at each run
  TDateAttribute DateAttribute = TDateAttribute::daFileDate;
  TOverwriteMode OverwriteMode = TOverwriteMode::omOverwrite;
  int PasswordAttempts = 3;
  bool RestoreFileAttr = true;
  bool UseStoredDirs = true;

  const std::string& ExtractDir() const { return m_extractDir; }
  // A non-empty value gets native separators, is made absolute against the current directory (with its
  // "." and ".." resolved, platform::FullPathName) and gets a trailing separator; an empty one becomes the
  // absolute directory of ArchiveFile (or stays empty without an ArchiveFile). Extract falls back the same
  // way, and to the current directory, when ExtractDir is still empty.
  void SetExtractDir(const std::string& value);
  // The stored directory when it exists, else the system temporary directory (which is then stored).
  const std::string& ScratchDir();
  // Empty means the temporary directory; a directory that does not exist is created after the user
  // confirms "Directory does not exist... Create?"; refused or failed, the temporary directory is used.
  void SetScratchDir(const std::string& value);
  std::vector<std::string>& Passwords() { return m_passwords; }
  void SetPasswords(const std::vector<std::string>& lines) { m_passwords = lines; }

  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;
  TBeginEvent OnBegin;
  TEndEvent OnEnd;
  TGetPasswordEvent OnGetPassword;
  TFileExistsEvent OnFileExists;
  TRenameFileEvent OnRenameFile;
  TProgressEvent OnProgress;
  TElapsedTimeEvent OnElapsedTime;
  // Staging mode, while assigned: a member that passes its check stays in its temporary file and is handed
  // over here; replacing the target (and removing the file otherwise) is then the handler's. Before anything
  // is written, the run also checks that the declared sizes fit into the free space of ExtractDir's volume,
  // and reports kDiskFull, writing nothing, when they do not.
  TStageEvent OnStage;

  // The volume events of spanned (atZipDS) and multi-volume (atZipMV) archives. They are part of the
  // component's published surface so that callers can assign them, but this extractor reads one file only
  // and never fires them: such archives are recognised and read as far as the first file reaches.
  using TNextVolumeEvent = std::function<void(TUnBase& sender, std::string& volumeName, int volumeId, bool fExists,
                                              bool& cancel)>;
  using TGetZipDiskEvent = std::function<void(TUnBase& sender, std::string& volumeName, bool& cancel)>;
  TNextVolumeEvent OnNextVolume;
  TGetZipDiskEvent OnGetZipFirstDisk;
  TGetZipDiskEvent OnGetZipNextDisk;
  TGetZipDiskEvent OnGetZipLastDisk;

  // Run state, readable by event handlers.
  int ExtractedCount() const { return m_extractedCount; }
  const std::string& StoredName() const { return m_storedName; }
  const std::string& TargetName() const { return m_targetName; }

  // Creates every missing level of the path (critical-error boxes suppressed, failures ignored); true when
  // the path then exists as a directory. Each level it created is appended to created when given.
  static bool CreateDirTree(const std::string& path, std::vector<std::string>* created = nullptr);

 private:
  class TStopwatch;
  class TMemberExtraction;

  void ArchivePass();
  void ExtractMember(int index);
  std::string BuildTarget(const std::string& storedName);
  bool OverwriteDecision(bool directory);
  bool PasswordCheck();
  bool TestPassword(const std::string& password);
  bool OpenOutput();
  void CloseOutput();
  // Waits for the member's output to be written, then takes its count and CRC. A failed write is handled
  // as WriteBlock handles one, raising included, unless that has happened already.
  void FinishWrites();
  // A failure of the member's file: the member fails. A file that could not be created reports
  // kErrorOpeningFile, a full disk raises kDiskFull, any other failed write reports kErrorWritingToFile.
  void TakeWriteFailure(const TWriteBehind::Outcome& outcome);
  void FinishMember(bool directoryMember, bool opened);
  // The member's temporary file and target, as OnStage receives them.
  TStagedFile StagedFile() const;
  // Decodes the member with its method's decoder and turns the status that ended it into its message.
  void Decode();
  struct TMethod;
  // The row of the method table for a compression method number; nullptr for a method not decoded here.
  static const TMethod* FindMethod(uint16_t number);
  TDecodeStatus CopyStored(TDecodeContext& context);
  TDecodeStatus InflateMember(TDecodeContext& context);
  template <TDecoder decoder>
  TDecodeStatus RunDecoder(TDecodeContext& context);

  int64_t ReadBlock(uint8_t* buffer, int64_t count, bool decipher);
  // The member's output goes to the write-behind writer: WriteBlock copies it there, CommitBlock takes count
  // bytes already put into the writer's room. Each returns the count taken.
  int64_t WriteBlock(const uint8_t* buffer, int64_t count);
  int64_t CommitBlock(int64_t count);
  // Takes count bytes that are in the writer's room, in chunks with a progress report after each, up to a
  // cancel; false when the writer took fewer.
  bool CommitChunks(int64_t count);
  // How many of count output bytes the member may still take: never more than its declared size.
  int64_t AllowedOutput(int64_t count);
  // Counts what the writer took, or handles its failure; returns the count taken.
  int64_t CountTaken(bool taken, int64_t allowed);
  void ReportProgress(int byFile, int byArchive);
  void ReportMemberProgress();
  // Fatal error: fires OnError, then raises E_RAISE unless the run is cancelled.
  void RaiseError(const std::string& fileName, const std::string& extendedMsg, int code,
                  const std::string& volumeName);
  void AdvanceArchiveProgress(int64_t bytes);
  // The directories a file member's target needs, remembered so that they can go again when the member
  // is not written.
  void CreateMemberDirectories(const std::string& directory);

  platform::Ui* m_ui;
  std::string m_extractDir;
  std::string m_scratchDir;
  std::vector<std::string> m_passwords;

  // Run state. The archive is open during Extract, and from HoldArchive on.
  std::unique_ptr<TFileStream32> m_archive;
  std::unique_ptr<TStopwatch> m_stopwatch;
  // Creates and writes every member's file beside the decoding.
  TWriteBehind m_writeBehind;
  int m_extractedCount = 0;
  std::string m_targetName;
  // The member being extracted; set while its TMemberExtraction lives.
  TMemberExtraction* m_current = nullptr;
  // The number the next temporary file's name is tried with.
  int m_nextTempNumber = 0;
  TMemberHeader m_header;
  TMemberInfo m_member;
  bool m_encrypted = false;
  bool m_passwordFailed = false;
  std::string m_password;
  TZipCipher m_memberCipher;
  uint8_t m_encryptionHeader[ziprec::kEncryptionHeaderSize] = {};
  int64_t m_inputRemaining = 0;
  int64_t m_archiveRemaining = 0;
  int64_t m_archiveTotal = 0;
};
