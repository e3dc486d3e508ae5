#pragma once
// An update lands whole or not at all. The extractor stages every member beside its target (TUnZip::OnStage);
// only once all of them passed does Commit swap them in: each existing target is renamed to a backup, then
// the new file takes its name. Every step is written to a journal in the extract directory before it is
// taken (the files staged as they are made, the swap's renames all before the first of them), and forced to
// the disk, with the staged files' contents, before any installed file is touched, so that whatever stops the
// run, the journal tells how far it came:
//   - a failure in the run (extraction or swap) rolls back at once: backups return, staged and new files
//     and the directories the run made go;
//   - a run that died leaves its journal, and Recover at the next start rolls it back, unless the journal
//     says every new file had taken its name ("committed"): then only the backups and the journal go.
// Backups that cannot be removed at once (on Windows, the file of a program still running) are removed by
// the next start too.
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "zip/unzip.h"

class TInstallTransaction {
 public:
  // The journal is created in extractDirectory (which exists); Ok() tells whether that worked (not when a
  // journal is left that Recover could not finish).
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
  // Undoes the run: backups return, staged and placed files and the directories made go. False when a step
  // failed; the journal then stays for Recover to try again.
  bool RollBack();

  enum class Recovery { Nothing, Completed, RolledBack, Unfinished };
  // Finishes or undoes what an interrupted run in extractDirectory left; nothing when it left nothing.
  // Unfinished: a step failed, and the journal stays for the next start to try again.
  static Recovery Recover(const std::string& extractDirectory);

  // A record of the journal: a step about to be taken, and what it concerns.
  struct Record {
    char Kind = 0;
    std::string First;
    std::string Second;
  };

 private:
  // Appends a record; it survives the end of the process at once, a power cut only after Flush.
  bool Write(const Record& record);
  bool Flush();
  std::string BackupName(const std::string& target);

  std::string m_journalPath;
  platform::File m_journal;
  bool m_ok = false;
  std::vector<Record> m_records;
  size_t m_stagedCount = 0;
  int m_nextBackupNumber = 0;
  std::vector<TStagedFile> m_passed;
};
