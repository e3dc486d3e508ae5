#include "app/install_transaction.h"

#include <algorithm>
#include <set>

#include "rtl/sysutils.h"

namespace {

// The journal's name: no member can take it, as a staged file aimed at it fails the run.
constexpr const char* kJournalName = "~update.journal";
// Backups are named <directory>~updateN.old.
constexpr const char* kBackupPrefix = "~update";
constexpr const char* kBackupSuffix = ".old";

using namespace journal;

std::string WithSeparator(std::string directory) {
  if (!directory.empty() && directory.back() != platform::kPathSeparator) directory += platform::kPathSeparator;
  return directory;
}

// The journal's text, or a fault saying why it is not read: the name is taken by a link, a directory or a
// device, or by more than a journal can hold.
std::string ReadJournal(const std::string& path, std::string& text) {
  switch (platform::KindOfEntry(path)) {
    case platform::EntryKind::Link: return "is a link";
    case platform::EntryKind::Directory: return "is a directory";
    case platform::EntryKind::Other: return "is no regular file";
    default: break;
  }
  platform::File file = platform::File::OpenRegular(path);
  if (!file.IsOpen()) {
    return "cannot be read as a regular file (error " + std::to_string(platform::LastErrorCode()) + ")";
  }
  const int64_t size = file.Size();
  if (size < 0 || size > kMaxBytes) return "is larger than any journal (" + std::to_string(size) + " bytes)";
  text.assign(static_cast<size_t>(size), '\0');
  if (size > 0 && file.Read(text.data(), size) != size) {
    return "cannot be read (error " + std::to_string(platform::LastErrorCode()) + ")";
  }
  return std::string();
}

// Whatever entry the name holds that is no directory (a backup may be a link, even a dangling one).
bool IsPresent(const std::string& path) {
  const platform::EntryKind kind = platform::KindOfEntry(path);
  return kind != platform::EntryKind::None && kind != platform::EntryKind::Directory;
}

bool RemoveFileIfPresent(const std::string& path) {
  if (!IsPresent(path)) return true;
  // A read-only file is removed too: it is one this run placed. A link's own mode counts for nothing.
  if (platform::KindOfEntry(path) == platform::EntryKind::File) platform::SetAttributes(path, platform::kAttrNormal);
  return platform::DeleteFileAt(path);
}

// Undoes the steps of the records, latest first. Each step looks at what is on disk rather than trusting
// that the recorded step was taken, so a roll back that is itself interrupted can run again.
bool RollBackRecords(const std::vector<TJournalRecord>& records, const std::function<void()>& whileWaiting) {
  std::set<std::string> backedUp;
  for (const TJournalRecord& record : records) {
    if (record.Kind == kBackup) backedUp.insert(record.First);
  }
  bool ok = true;
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    const TJournalRecord& record = *it;
    if (record.Kind == kStaged) {
      ok = RemoveFileIfPresent(record.First) && ok;
    } else if (record.Kind == kPlaced) {
      // A staged file that is gone took its target's name; a target that had no backup was new.
      if (!platform::FileExists(record.First) && backedUp.count(record.Second) == 0) {
        ok = RemoveFileIfPresent(record.Second) && ok;
      }
    } else if (record.Kind == kBackup) {
      if (IsPresent(record.Second)) {
        // The new file may stand where the old one goes back, read-only perhaps: it is replaced all the same.
        if (platform::KindOfEntry(record.First) == platform::EntryKind::File) {
          platform::SetAttributes(record.First, platform::kAttrNormal);
        }
        ok = platform::ReplaceFile(record.Second, record.First, whileWaiting) && ok;
      }
    } else if (record.Kind == kDirectory) {
      if (platform::DirectoryExists(record.First)) platform::RemoveEmptyDirectory(record.First);
    }
  }
  return ok;
}

// The backups of a committed run go; false when one of them cannot go yet.
bool RemoveBackups(const std::vector<TJournalRecord>& records) {
  bool ok = true;
  for (const TJournalRecord& record : records) {
    if (record.Kind == kBackup) ok = RemoveFileIfPresent(record.Second) && ok;
  }
  return ok;
}

bool IsCommitted(const std::vector<TJournalRecord>& records) {
  return std::any_of(records.begin(), records.end(), [](const TJournalRecord& r) { return r.Kind == kCommitted; });
}

}  // namespace

TInstallTransaction::TInstallTransaction(const std::string& extractDirectory)
    : m_directory(WithSeparator(extractDirectory)), m_journalPath(m_directory + kJournalName) {
  // A journal that recovery could not finish is kept: it alone knows how to undo that earlier run. Whatever
  // else holds the name is left alone too.
  if (platform::KindOfEntry(m_journalPath) != platform::EntryKind::None) return;
  m_journal = platform::File::CreateNew(m_journalPath);
  m_ownsJournal = m_journal.IsOpen();
  const std::string header = kHeader;
  m_journalSize = static_cast<int64_t>(header.size());
  // The journal's own name must survive a power cut as well as its records.
  m_ok = m_ownsJournal && m_journal.Write(header.data(), m_journalSize) == m_journalSize && m_journal.Flush() &&
         platform::FlushDirectory(extractDirectory);
}

TInstallTransaction::~TInstallTransaction() {
  // Left by an exception before Commit or RollBack: the run is undone now rather than at the next start.
  if (m_journal.IsOpen()) RollBack();
}

bool TInstallTransaction::Write(const TJournalRecord& record) {
  m_records.push_back(record);
  // Every path the run handles lies below the extract directory, as the extractor builds it there.
  TJournalRecord relative = record;
  for (std::string* field : {&relative.First, &relative.Second}) {
    if (field->empty()) continue;
    if (field->compare(0, m_directory.size(), m_directory) != 0) m_ok = false;
    field->erase(0, m_directory.size());
  }
  const std::string line = EncodeJournalRecord(relative);
  const int64_t length = static_cast<int64_t>(line.size());
  // A journal the next start would refuse to read is no journal: the update fails instead.
  if (m_journalSize + length > kMaxBytes) m_ok = false;
  if (m_ok && m_journal.Write(line.data(), length) != length) m_ok = false;
  m_journalSize += length;
  return m_ok;
}

bool TInstallTransaction::Flush() {
  if (m_ok && !m_journal.Flush()) m_ok = false;
  return m_ok;
}

void TInstallTransaction::Stage(const TStagedFile& file) {
  if (!file.Passed) {
    for (const std::string& directory : file.CreatedDirectories) Write({kDirectory, directory, std::string()});
    Write({kStaged, file.TempName, file.TargetName});
    // On the disk before the file and its directories exist (the extractor makes them when this returns):
    // after a power cut, whatever of the run is left is named by the journal, and the next start removes it.
    Flush();
    ++m_stagedCount;
    return;
  }
  if (SameText(file.TargetName, m_journalPath)) m_ok = false;
  m_passed.push_back(file);
}

std::string TInstallTransaction::BackupName(const std::string& target) {
  const std::string directory = platform::DirectoryOf(target);
  // Numbers are never reused within a run: the whole swap is named before the first backup exists, so a name
  // handed out must never be handed out again.
  for (;;) {
    const std::string name = directory + kBackupPrefix + std::to_string(m_nextBackupNumber++) + kBackupSuffix;
    const bool taken = platform::KindOfEntry(name) != platform::EntryKind::None ||
                       std::any_of(m_passed.begin(), m_passed.end(),
                                   [&](const TStagedFile& file) { return SameText(file.TargetName, name); });
    if (!taken) return name;
  }
}

bool TInstallTransaction::Commit(const std::function<void()>& whileWaiting) {
  // A staged file that never passed was abandoned, perhaps without an error report: not the whole update.
  if (m_stagedCount != m_passed.size()) m_ok = false;
  // The new files' contents reach the disk before any installed file is touched: after a power cut the
  // journal may say that the swap was made, and the backups would then go.
  for (const TStagedFile& file : m_passed) {
    if (!m_ok) break;
    platform::File staged =
        platform::File::Open(file.TempName, platform::FileAccess::ReadWrite, platform::FileShare::Read);
    if (!staged.Flush()) m_ok = false;
  }
  // Every rename of the swap is recorded, and the records forced to the disk, before the first one is made:
  // one flush for the whole swap instead of one a step. A roll back looks at what is on disk for each
  // record, so a recorded step that was never taken undoes nothing.
  std::vector<std::string> backups(m_passed.size());
  for (size_t i = 0; i < m_passed.size() && m_ok; ++i) {
    const TStagedFile& file = m_passed[i];
    // Whatever the target is (a link, a dangling one too), it is kept: the roll back must give it back.
    if (IsPresent(file.TargetName)) {
      backups[i] = BackupName(file.TargetName);
      Write({kBackup, file.TargetName, backups[i]});
    }
    Write({kPlaced, file.TempName, file.TargetName});
  }
  Flush();
  for (size_t i = 0; i < m_passed.size() && m_ok; ++i) {
    const TStagedFile& file = m_passed[i];
    if ((!backups[i].empty() && !platform::ReplaceFile(file.TargetName, backups[i], whileWaiting)) ||
        !platform::ReplaceFile(file.TempName, file.TargetName, whileWaiting) ||
        // A file without its mode (a program that no longer runs) or attributes is not the new version.
        !ApplyStagedAttributes(file, file.TargetName)) {
      m_failedTarget = file.TargetName;
      m_failedError = platform::LastErrorCode();
      m_ok = false;
      break;
    }
  }
  // The renames reach the disk before the record that says they were made: a recovery that trusts the
  // record after a power cut must find them.
  std::set<std::string> directories;
  for (const TStagedFile& file : m_passed) directories.insert(platform::DirectoryOf(file.TargetName));
  for (const std::string& directory : directories) {
    if (m_ok && !platform::FlushDirectory(directory)) m_ok = false;
  }
  if (!m_ok || !Write({kCommitted, std::string(), std::string()}) || !Flush()) {
    RollBack(whileWaiting);
    return false;
  }
  // From here on the new version stands; what is left is tidying, and a failure there is repeated by the
  // next start (the journal then still says "committed").
  m_journal.Close();
  if (RemoveBackups(m_records)) platform::DeleteFileAt(m_journalPath);
  return true;
}

bool TInstallTransaction::RollBack(const std::function<void()>& whileWaiting) {
  // Without a journal of its own the run staged nothing; a journal it found under the name is another run's.
  if (!m_ownsJournal) return true;
  m_journal.Close();
  const bool ok = RollBackRecords(m_records, whileWaiting);
  if (ok) platform::DeleteFileAt(m_journalPath);
  return ok;
}

TInstallTransaction::RecoveryOutcome TInstallTransaction::Recover(const std::string& extractDirectory,
                                                                  const std::function<void()>& whileWaiting) {
  const std::string directory = WithSeparator(extractDirectory);
  const std::string path = directory + kJournalName;
  if (platform::KindOfEntry(path) == platform::EntryKind::None) return {};
  std::string text;
  std::string fault = ReadJournal(path, text);
  TJournalReading reading;
  if (fault.empty()) {
    reading = DecodeJournal(text);
    fault = reading.Fault;
  }
  if (!fault.empty()) return {Recovery::Refused, "the install journal " + path + " " + fault + "; left as found"};
  for (TJournalRecord& record : reading.Records) {
    for (std::string* field : {&record.First, &record.Second}) {
      if (!field->empty()) field->insert(0, directory);
    }
  }
  const bool committed = IsCommitted(reading.Records);
  // The journal goes last, and only its removal ends the recovery: one left behind would be taken for an
  // interruption again, by a run that may not be able to repeat it.
  if (!(committed ? RemoveBackups(reading.Records) : RollBackRecords(reading.Records, whileWaiting)) ||
      !platform::DeleteFileAt(path)) {
    return {Recovery::Unfinished, "the interrupted update of the install journal " + path + " could not be " +
                                      (committed ? "completed" : "rolled back") + " (error " +
                                      std::to_string(platform::LastErrorCode()) + "); it stays for the next start"};
  }
  return {committed ? Recovery::Completed : Recovery::RolledBack, std::string()};
}
