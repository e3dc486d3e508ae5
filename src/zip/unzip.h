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

#include "zip/staged_file.h"
#include "zip/unbase.h"

namespace platform {
class Ui;
}
struct TDecodeContext;
enum class TDecodeStatus;
struct TMemberFault;
struct TMemberInfo;
struct TMemberRun;
class TStopwatch;
class TWriteBehind;

enum class TOverwriteMode { omOverwrite = 0, omSkip = 1 };
enum class TDateAttribute { daFileDate, daSysDate, daMaxFileDate };
enum class TCpuType { cptAuto, cpt80286, cpt80386, cpt80486 };

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

  // Check-only mode, as "unzip -t": while set, Extract decodes every selected member and checks it as it
  // would for writing it (its CRC, never more than its declared size, a stream that goes on past it fails),
  // but touches nothing on disk: no file, temporary file or directory is made, no target replaced, no date
  // or attribute set, OnStage is not called and the overwrite settings do not apply. OnEnd reports each
  // member's outcome, ExtractedCount the members that passed; directory members make nothing.
  bool CheckOnly = false;
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

  // Run state, readable by event handlers. The names are those of the member being extracted; empty between
  // members.
  int ExtractedCount() const { return m_extractedCount; }
  const std::string& StoredName() const;
  const std::string& TargetName() const;

  // Creates every missing level of the path (critical-error boxes suppressed, failures ignored); true when
  // the path then exists as a directory. Each level it created is appended to created when given.
  static bool CreateDirTree(const std::string& path, std::vector<std::string>* created = nullptr);

 private:
  // The run (unzip.cpp): its state reset and OnActivate; the archive's members listed, then extracted one by
  // one; OnElapsedTime.
  void BeginRun();
  void ArchivePass();
  void ReportElapsedTime();
  std::string BuildTarget(const std::string& storedName);

  // One member, from its central record to its file (member_extraction.cpp). Each step takes the member's run.
  // ExtractListed reads the listed member's local header into a run, extracts it, and settles it however it
  // ended; ExtractMember refuses it, or makes its directory, or writes its file.
  void ExtractListed(int index);
  void ExtractMember(TMemberRun& run);
  // A target that may be written: inside ExtractDir, and no device or stream. Reports the refusal, or
  // resolves the target's "." and "..".
  bool AcceptTarget(TMemberRun& run);
  // OnRenameFile, OnBegin, OnFileExists and the overwrite settings: whether the file member is written, under
  // which TargetName. A member to be written takes its place in ExtractedCount.
  bool OverwriteDecision(TMemberRun& run, bool directory);
  bool ConfirmOverwrite(TMemberRun& run);
  void ExtractDirectory(TMemberRun& run);
  void ExtractFile(TMemberRun& run);
  // The password that deciphers the member's encryption header (member_password.cpp); false when none does.
  bool PasswordCheck(TMemberRun& run);
  bool TestPassword(TMemberRun& run, const std::string& password);

  // The member's file (member_output.cpp). OpenOutput has PlaceTempFile name the temporary file and make its
  // directories (a check has none), and hands it to the write-behind writer; false when the target cannot be
  // written.
  bool OpenOutput(TMemberRun& run);
  bool PlaceTempFile(TMemberRun& run);
  // The member's output goes to the write-behind writer: WriteBlock copies it there, CommitBlock takes count
  // bytes already put into the writer's room. Each returns the count taken.
  int64_t WriteBlock(TMemberRun& run, const uint8_t* buffer, int64_t count);
  int64_t CommitBlock(TMemberRun& run, int64_t count);
  // Takes count bytes that are in the writer's room, in chunks with a progress report after each, up to a
  // cancel; false when the writer took fewer.
  bool CommitChunks(TMemberRun& run, int64_t count);
  // How many of count output bytes the member may still take: never more than its declared size.
  int64_t AllowedOutput(TMemberRun& run, int64_t count);
  // Counts what the writer took, or handles its failure; returns the count taken.
  int64_t CountTaken(TMemberRun& run, bool taken, int64_t allowed);
  // Waits for the member's output to be written, then takes its count and CRC. A failed write is handled
  // as WriteBlock handles one, unless that has happened already.
  void FinishWrites(TMemberRun& run);
  // A failure of the member's file: the member fails. A file that could not be created reports
  // kErrorOpeningFile, a full disk is the member's fault kDiskFull, any other failed write reports
  // kErrorWritingToFile.
  void TakeWriteFailure(TMemberRun& run, bool notCreated, int errorCode);
  void CloseOutput(TMemberRun& run);
  // The member's check; a file that passed replaces its target or is handed to OnStage; then OnEnd.
  void FinishMember(TMemberRun& run, bool directoryMember, bool opened);
  // The member's temporary file and target, as OnStage receives them; with the attributes it lands with.
  TStagedFile StagedFile(const TMemberRun& run) const;
  TStagedFile LandingFile(const TMemberRun& run) const;
  // Landed: the file replaced its target, or was handed on staged, and is no longer the member's to remove.
  // Otherwise its file, its directories and its place in the count go. Once per member.
  void Settle(TMemberRun& run, bool landed);
  // The directories a file member's target needs, remembered so that they can go again when the member
  // is not written.
  void CreateMemberDirectories(TMemberRun& run, const std::string& directory);

  // Decoding (member_decode.cpp): the member's data through its method's decoder into its file. Returns the
  // fault that ends the member with a message box, as its first cause left it: a full disk, or a decoder's
  // fatal status.
  TMemberFault Decode(TMemberRun& run);
  // The one place where a fault becomes its message box; the member fails.
  void ShowFault(TMemberRun& run, const TMemberFault& fault);
  // A fatal fault: reported through OnError and, unless the run is cancelled, the member's fault.
  void TakeFault(TMemberRun& run, const std::string& fileName, const std::string& extendedMsg, int code,
                 const std::string& volumeName);
  struct TMethod;
  // The row of the method table for a compression method number; nullptr for a method not decoded here.
  static const TMethod* FindMethod(uint16_t number);
  TDecodeStatus CopyStored(TMemberRun& run, TDecodeContext& context);
  TDecodeStatus InflateMember(TMemberRun& run, TDecodeContext& context);
  template <TDecodeStatus (*decoder)(const TMemberInfo&, TDecodeContext&)>
  TDecodeStatus RunDecoder(TMemberRun& run, TDecodeContext& context);
  int64_t ReadBlock(TMemberRun& run, uint8_t* buffer, int64_t count, bool decipher);
  // Progress reports stop at a member's fault, as its data do.
  void ReportProgress(const TMemberRun& run, int byFile, int byArchive);
  void ReportMemberProgress(const TMemberRun& run);
  void AdvanceArchiveProgress(int64_t bytes);

  platform::Ui* m_ui;
  std::string m_extractDir;
  std::string m_scratchDir;
  std::vector<std::string> m_passwords;

  // Run state. The archive is open during Extract, and from HoldArchive on.
  std::unique_ptr<TFileStream32> m_archive;
  std::unique_ptr<TStopwatch> m_stopwatch;
  // Creates and writes every member's file beside the decoding.
  std::unique_ptr<TWriteBehind> m_writeBehind;
  int m_extractedCount = 0;
  // The member being extracted, for the handlers that read its names.
  const TMemberRun* m_current = nullptr;
  // The number the next temporary file's name is tried with.
  int m_nextTempNumber = 0;
  // A password was asked for in vain: the run's further enciphered members fail without asking again.
  bool m_passwordFailed = false;
  // The password that deciphered the last enciphered member, tried first on the next.
  std::string m_password;
  int64_t m_archiveRemaining = 0;
  int64_t m_archiveTotal = 0;
};
