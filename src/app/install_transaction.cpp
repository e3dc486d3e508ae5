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

// Record kinds, in the order a run writes them.
constexpr char kDirectory = 'D';  // First: a directory made for a staged file
constexpr char kStaged = 'S';     // First: a staged file, Second: its target
constexpr char kBackup = 'B';     // First: a target about to be renamed to Second, its backup
constexpr char kPlaced = 'N';     // First: a staged file about to take the name of Second
constexpr char kCommitted = 'C';  // every new file has its name

using Record = TInstallTransaction::Record;

std::string JournalPath(const std::string& directory) {
  std::string path = directory;
  if (!path.empty() && path.back() != platform::kPathSeparator) path += platform::kPathSeparator;
  return path + kJournalName;
}

// A record is one line: its kind, then each field as its length, a colon and its bytes (names may hold
// anything, spaces and line feeds too).
std::string Encode(const Record& record) {
  std::string line(1, record.Kind);
  for (const std::string* field : {&record.First, &record.Second}) {
    line += ' ' + std::to_string(field->size()) + ':' + *field;
  }
  return line + '\n';
}

// The records of a journal up to the first one that is not whole: a record cut by the end of the run was
// never acted upon, as each step is written before it is taken.
std::vector<Record> Decode(const std::string& text) {
  std::vector<Record> records;
  size_t at = 0;
  while (at < text.size()) {
    Record record;
    record.Kind = text[at++];
    bool whole = true;
    for (std::string* field : {&record.First, &record.Second}) {
      const size_t colon = text.find(':', at);
      // At most nine digits: the count always fits, whatever the width of the system's integers.
      if (at >= text.size() || text[at] != ' ' || colon == std::string::npos || colon == at + 1 ||
          colon - at > 10) {
        whole = false;
        break;
      }
      const std::string digits = text.substr(at + 1, colon - at - 1);
      if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        whole = false;
        break;
      }
      const size_t length = std::stoul(digits);
      if (length > text.size() - colon - 1) {
        whole = false;
        break;
      }
      *field = text.substr(colon + 1, length);
      at = colon + 1 + length;
    }
    if (!whole || at >= text.size() || text[at] != '\n') break;
    ++at;
    records.push_back(record);
  }
  return records;
}

std::string ReadWhole(const std::string& path) {
  platform::File file = platform::File::Open(path, platform::FileAccess::Read, platform::FileShare::Read);
  std::string text;
  if (!file.IsOpen()) return text;
  char buffer[8192];
  for (int64_t got; (got = file.Read(buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(got));
  return text;
}

bool RemoveFileIfPresent(const std::string& path) {
  if (!platform::FileExists(path)) return true;
  // A read-only file is removed too: it is one this run placed.
  platform::SetAttributes(path, platform::kAttrNormal);
  return platform::DeleteFileAt(path);
}

// Undoes the steps of the records, latest first. Each step looks at what is on disk rather than trusting
// that the recorded step was taken, so a roll back that is itself interrupted can run again.
bool RollBackRecords(const std::vector<Record>& records) {
  bool ok = true;
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    const Record& record = *it;
    if (record.Kind == kStaged) {
      ok = RemoveFileIfPresent(record.First) && ok;
    } else if (record.Kind == kPlaced) {
      // A staged file that is gone took its target's name; a target that had no backup was new.
      const bool hadBackup = std::any_of(records.begin(), records.end(), [&](const Record& other) {
        return other.Kind == kBackup && other.First == record.Second;
      });
      if (!platform::FileExists(record.First) && !hadBackup) ok = RemoveFileIfPresent(record.Second) && ok;
    } else if (record.Kind == kBackup) {
      if (platform::FileExists(record.Second)) {
        // The new file may stand where the old one goes back, read-only perhaps: it is replaced all the same.
        if (platform::FileExists(record.First)) platform::SetAttributes(record.First, platform::kAttrNormal);
        ok = platform::ReplaceFile(record.Second, record.First) && ok;
      }
    } else if (record.Kind == kDirectory) {
      if (platform::DirectoryExists(record.First)) platform::RemoveEmptyDirectory(record.First);
    }
  }
  return ok;
}

// The backups of a committed run go; false when one of them cannot go yet.
bool RemoveBackups(const std::vector<Record>& records) {
  bool ok = true;
  for (const Record& record : records) {
    if (record.Kind == kBackup) ok = RemoveFileIfPresent(record.Second) && ok;
  }
  return ok;
}

bool IsCommitted(const std::vector<Record>& records) {
  return std::any_of(records.begin(), records.end(), [](const Record& r) { return r.Kind == kCommitted; });
}

}  // namespace

TInstallTransaction::TInstallTransaction(const std::string& extractDirectory)
    : m_journalPath(JournalPath(extractDirectory)) {
  // A journal that recovery could not finish is kept: it alone knows how to undo that earlier run.
  if (platform::FileExists(m_journalPath)) return;
  m_journal = platform::File::Create(m_journalPath);
  // The journal's own name must survive a power cut as well as its records.
  m_ok = m_journal.IsOpen() && platform::FlushDirectory(extractDirectory);
}

TInstallTransaction::~TInstallTransaction() {
  // Left by an exception before Commit or RollBack: the run is undone now rather than at the next start.
  if (m_journal.IsOpen()) RollBack();
}

bool TInstallTransaction::Write(const Record& record) {
  m_records.push_back(record);
  const std::string line = Encode(record);
  if (m_ok && m_journal.Write(line.data(), static_cast<int64_t>(line.size())) != static_cast<int64_t>(line.size())) {
    m_ok = false;
  }
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
    const bool taken = platform::FileExists(name) || platform::DirectoryExists(name) ||
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
    if (platform::FileExists(file.TargetName)) {
      backups[i] = BackupName(file.TargetName);
      Write({kBackup, file.TargetName, backups[i]});
    }
    Write({kPlaced, file.TempName, file.TargetName});
  }
  Flush();
  for (size_t i = 0; i < m_passed.size() && m_ok; ++i) {
    const TStagedFile& file = m_passed[i];
    if ((!backups[i].empty() && !platform::ReplaceFile(file.TargetName, backups[i], whileWaiting)) ||
        !platform::ReplaceFile(file.TempName, file.TargetName, whileWaiting)) {
      m_ok = false;
      break;
    }
    ApplyStagedAttributes(file, file.TargetName);
  }
  // The renames reach the disk before the record that says they were made: a recovery that trusts the
  // record after a power cut must find them.
  std::set<std::string> directories;
  for (const TStagedFile& file : m_passed) directories.insert(platform::DirectoryOf(file.TargetName));
  for (const std::string& directory : directories) {
    if (m_ok && !platform::FlushDirectory(directory)) m_ok = false;
  }
  if (!m_ok || !Write({kCommitted, std::string(), std::string()}) || !Flush()) {
    RollBack();
    return false;
  }
  // From here on the new version stands; what is left is tidying, and a failure there is repeated by the
  // next start (the journal then still says "committed").
  m_journal.Close();
  if (RemoveBackups(m_records)) platform::DeleteFileAt(m_journalPath);
  return true;
}

bool TInstallTransaction::RollBack() {
  m_journal.Close();
  const bool ok = RollBackRecords(m_records);
  if (ok) platform::DeleteFileAt(m_journalPath);
  return ok;
}

TInstallTransaction::Recovery TInstallTransaction::Recover(const std::string& extractDirectory) {
  const std::string path = JournalPath(extractDirectory);
  if (!platform::FileExists(path)) return Recovery::Nothing;
  const std::vector<Record> records = Decode(ReadWhole(path));
  const bool committed = IsCommitted(records);
  if (!(committed ? RemoveBackups(records) : RollBackRecords(records))) return Recovery::Unfinished;
  platform::DeleteFileAt(path);
  return committed ? Recovery::Completed : Recovery::RolledBack;
}
