#include "zip/unzip.h"

#include <algorithm>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/ui.h"
#include "zip/extract_paths.h"
#include "zip/member_run.h"
#include "zip/messages.h"
#include "zip/stopwatch.h"
#include "zip/target_name.h"
#include "zip/write_behind.h"

namespace {

// The caption of a confirmation dialog.
constexpr char kConfirmCaption[] = "Confirm";

}  // namespace

TUnZip::TUnZip(platform::Ui* ui) : m_ui(ui), m_writeBehind(std::make_unique<TWriteBehind>()) {}

TUnZip::~TUnZip() = default;

const std::string& TUnZip::StoredName() const {
  static const std::string kNone;
  return m_current != nullptr ? m_current->Header.Name.Text : kNone;
}

const std::string& TUnZip::TargetName() const {
  static const std::string kNone;
  return m_current != nullptr ? m_current->TargetName : kNone;
}

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
  // The run's stages. Whatever a user's handler raises ends the stage it raised in, never Extract and never
  // the stages after it; only a failed activation ends the run, which then has nothing to deactivate.
  const std::function<void()> stages[] = {
      [this] { BeginRun(); },
      [this] { ArchivePass(); },
      [this] { ReportElapsedTime(); },
      [this] {
        if (OnDeactivate) OnDeactivate(*this);
      },
  };
  for (const std::function<void()>& stage : stages) {
    try {
      stage();
    } catch (...) {
      if (&stage == &stages[0]) break;
    }
  }
  m_stopwatch.reset();
  m_members.Clear();
  m_archiveFile = archiveAtStart;
  m_archive.reset();
  return m_extractedCount;
}

void TUnZip::BeginRun() {
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
  if (OnElapsedTime) m_stopwatch = std::make_unique<TStopwatch>();
}

void TUnZip::ReportElapsedTime() {
  if (!m_stopwatch) return;
  const float seconds = m_stopwatch->Seconds();
  m_stopwatch.reset();
  OnElapsedTime(*this, seconds);
}

void TUnZip::ArchivePass() {
  m_members.Clear();
  if (!IsZipType(m_arcType)) return;
  const int count = ListMembers(*m_archive);
  m_listedCount = count;
  // Progress counts output bytes, the unit every decoder counts in.
  m_archiveTotal = m_totalUncompressed;
  m_archiveRemaining = m_archiveTotal;
  // Staged members all stand beside the files they replace until the end of the run: the whole new
  // version has to fit into the free space, or nothing is written.
  uint64_t freeBytes = 0;
  if (OnStage && !CheckOnly && !m_extractDir.empty() && platform::FreeDiskSpace(m_extractDir, freeBytes) &&
      static_cast<uint64_t>(std::max<int64_t>(m_totalUncompressed, 0)) > freeBytes) {
    ReportError(m_archiveFile, "0", zipmsg::kDiskFull, m_volumeName);
    return;
  }
  for (int i = 0; i < count && !m_cancel; ++i) ExtractListed(i);
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
