#pragma once
// An update lands whole or not at all. The extractor stages every member beside its target (TUnZip::OnStage);
// only once all of them passed does Commit swap them in: each existing target is renamed to a backup, then
// the new file takes its name. Every step is written to a journal in the extract directory, and forced to the
// disk, before it is taken: each staged file, and the directories it needs, before they are made; the swap's
// renames all before the first of them, once the staged files' contents are on the disk too. So whatever
// stops the run, a kill or a power cut, the journal tells how far it came:
//   - a failure in the run (extraction or swap) rolls back at once: backups return, staged and new files
//     and the directories the run made go;
//   - a run that died leaves its journal, and Recover at the next start rolls it back, unless the journal
//     says every new file had taken its name ("committed"): then only the backups and the journal go.
// Backups that cannot be removed at once (on Windows, the file of a program still running) are removed by
// the next start too. Only the run that wrote a journal removes it: a journal that recovery could not finish
// or would not act upon (see install_journal.h) stays as it was found, and no later run installs over it.
#include <functional>
#include <string>
#include <vector>

#include "app/install_journal.h"
#include "platform/files.h"
#include "zip/staged_file.h"

class TInstallTransaction {
 public:
  // The journal is created in extractDirectory (which exists); Ok() tells whether that worked (not when
  // anything already holds the journal's name).
  explicit TInstallTransaction(const std::string& extractDirectory);
  // Rolls back a run that neither committed nor rolled back.
  ~TInstallTransaction();
  TInstallTransaction(const TInstallTransaction&) = delete;
  TInstallTransaction& operator=(const TInstallTransaction&) = delete;

  bool Ok() const { return m_ok; }
  // The extractor's OnStage handler.
  void Stage(const TStagedFile& file);
  // Swaps every passed file in, then removes the backups and the journal. On any failure everything is rolled
  // back and false returned. whileWaiting runs while a target is still in use (see platform::ReplaceFile).
  bool Commit(const std::function<void()>& whileWaiting);
  // After a Commit that failed in its swap: the installed file whose rename failed, and the error number it
  // failed with; empty and 0 when the failure was elsewhere.
  const std::string& FailedTarget() const { return m_failedTarget; }
  int FailedError() const { return m_failedError; }
  // Undoes the run: backups return, staged and placed files and the directories made go. False when a step
  // failed; the journal then stays for Recover to try again. whileWaiting as for Commit.
  bool RollBack(const std::function<void()>& whileWaiting = {});

  enum class Recovery { Nothing, Completed, RolledBack, Unfinished, Refused };
  struct RecoveryOutcome {
    Recovery What = Recovery::Nothing;
    // For Unfinished and Refused: what was found, and where.
    std::string Cause;
  };
  // Finishes or undoes what an interrupted run in extractDirectory left; nothing when it left nothing.
  // Unfinished: a step failed, and the journal stays for the next start to try again. Refused: what holds the
  // journal's name is no journal that may be acted upon (not a regular file, too large, damaged, or naming a
  // path outside extractDirectory); nothing was touched, and it stays as found. whileWaiting as for Commit.
  static RecoveryOutcome Recover(const std::string& extractDirectory, const std::function<void()>& whileWaiting = {});

 private:
  // Appends a record; it survives the end of the process at once, a power cut only after Flush.
  bool Write(const TJournalRecord& record);
  bool Flush();
  std::string BackupName(const std::string& target);

  // The extract directory with its trailing separator: the journal's paths are relative to it.
  std::string m_directory;
  std::string m_journalPath;
  platform::File m_journal;
  int64_t m_journalSize = 0;
  bool m_ok = false;
  // Set once this run has made the journal: only then is it this run's to remove.
  bool m_ownsJournal = false;
  std::vector<TJournalRecord> m_records;
  size_t m_stagedCount = 0;
  int m_nextBackupNumber = 0;
  std::vector<TStagedFile> m_passed;
  std::string m_failedTarget;
  int m_failedError = 0;
};
