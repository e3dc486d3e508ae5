#include "app/main_form.h"

#include "app/archive_download.h"
#include "app/archive_install.h"
#include "app/elevated_install.h"
#include "app/archive_signature.h"
#include "app/main_form_layout.h"
#include "app/message_boxes.h"
#include "app/path_helpers.h"
#include "app/printable_line.h"
#include "app/program_command.h"
#include "app/run_log.h"
#include "app/seeded_download.h"
#include "app/system_proxy.h"
#include "app/user_texts.h"
#include "app/version.h"
#include "http/uri.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/threads.h"
#include "rtl/sysutils.h"

namespace {

// How often the first tick tries again for the lock of the extract directory.
constexpr int kLockRetryMilliseconds = 100;

// A server that sends nothing for this long has failed the download (the connect has a limit of its own).
constexpr int kSilenceLimitMilliseconds = 30000;

// What a failure says about itself, for the log and the console's cause line.
std::string CauseOf(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "an unknown failure";
  }
}

std::string RouteText(const TProxyRoute& route) {
  if (route.Direct) return "direct";
  const char* kind = route.SocksVersion == svNoSocks ? "HTTP proxy" : "SOCKS proxy";
  return Format("%s %s%s", kind, RedactedUrl(Format("%s:%d", route.Host.c_str(), route.Port)).c_str(),
                route.Username.empty() ? "" : " with credentials");
}

}  // namespace

TfMain::TfMain(platform::Ui& ui, std::vector<std::string> arguments, std::string publicKey)
    : m_ui(ui),
      m_arguments(std::move(arguments)),
      m_publicKey(std::move(publicKey)),
      m_pg(ui, layout::kProgressMin, layout::kProgressMax, layout::kProgressPosition),
      m_timer1(ui),
      m_idAntiFreeze1(ui),
      m_unZip1(&ui) {
  m_timer1.OnTimer = [this] { Timer1Timer(); };

  // https URLs are encrypted and verified; http URLs pass through unchanged.
  m_idHTTP.SetIOHandler(&m_idSSLIOHandlerSocket1);
  m_idSSLIOHandlerSocket1.SetHandshakeTimeout(kSilenceLimitMilliseconds);
  m_idHTTP.SetMaxLineAction(maException);
  m_idHTTP.SetRecvBufferSize(layout::kRecvBufferSize);
  m_idHTTP.SetReadTimeout(kSilenceLimitMilliseconds);
  m_idHTTP.AllowCookies = true;
  m_idHTTP.HTTPOptions = hoForceEncodeParams;
  m_idHTTP.ProxyParams.BasicAuthentication = false;
  m_idHTTP.ProxyParams.SetProxyPort(0);
  TIdHTTPRequest& request = m_idHTTP.Request();
  request.ContentLength = -1;
  request.ContentRangeStart = 0;
  request.ContentRangeEnd = 0;
  request.ContentType = "text/html";
  request.Accept = TIdRequestHeaderInfo::kDefaultAccept;
  request.BasicAuthentication = false;
  request.UserAgent = TIdRequestHeaderInfo::kDefaultUserAgent;
  m_idHTTP.OnWorkBegin = [this](TIdComponent*, TWorkMode, int32_t max) { IdHTTPWorkBegin(max); };
  m_idHTTP.OnWork = [this](TIdComponent*, TWorkMode, int32_t count) { IdHTTPWork(count); };
  m_idHTTP.OnWorkEnd = [this](TIdComponent*, TWorkMode) { IdHTTPWorkEnd(); };
  m_idHTTP.OnConnected = [this](TIdComponent*) {
    Log("connected to " + RedactedUrl(Format("%s:%d", m_idHTTP.Host().c_str(), m_idHTTP.Port())));
    const std::string tls = m_idSSLIOHandlerSocket1.SessionDescription();
    if (!tls.empty()) Log("TLS: " + tls);
  };
  // The client follows no redirect (HandleRedirects stays off): the publisher reading the log learns where the
  // update URL was sent, and that the URL to give is that one.
  m_idHTTP.OnRedirect = [this](TIdCustomHTTP*, std::string& destination, int, bool& handled, TIdHTTPMethod&) {
    Log((handled ? "redirected to " : "redirect not followed; it pointed to ") + RedactedUrl(destination));
  };

  m_idAntiFreeze1.SetIdleTimeOut(layout::kIdleTimeOut);
  m_unZip1.CpuType = TCpuType::cptAuto;

  m_ui.CreateWindow(MainFormLayout(), *this);
  FormCreate();
}

TfMain::~TfMain() {
  m_timer1.SetEnabled(false);
  Log("exit");
}

void TfMain::Log(const std::string& event) { m_log.Write(event); }

void TfMain::FormCreate() {
  if (m_arguments.size() < 5) {
    ShowError(m_ui, m_ui.Handle(), texts::kNotStandalone);
    m_ui.Terminate();
    return;
  }
  m_values.UpdateUrl = Trim(m_arguments[0]);
  // Relative directories are taken against the working directory now, once: every later join, and every
  // check that a target stays inside the extract directory, then works on the same absolute place.
  m_values.ExtractPath = AbsolutePath(m_arguments[1]);
  m_values.ArchiveName = m_arguments[2];
  m_values.RunProgram = m_arguments[3];
  m_values.DownloadPath = AbsolutePath(m_arguments[4]);
  m_log.Open(m_values.DownloadPath);
  Log(std::string("updater ") + UPDATER_VERSION_TEXT + " started");
  Log("arguments: url " + RedactedUrl(platform::SystemToUtf8(m_values.UpdateUrl)) + ", extract to " +
      platform::SystemToUtf8(m_values.ExtractPath) + ", archive " + platform::SystemToUtf8(m_values.ArchiveName) +
      ", program " + platform::SystemToUtf8(m_values.RunProgram) + ", download to " +
      platform::SystemToUtf8(m_values.DownloadPath) +
      (m_arguments.size() == 6 ? ", caption " + platform::SystemToUtf8(m_arguments[5]) : std::string()));
  if (m_arguments.size() == 6) {
    m_ui.SetCaption(platform::SystemToUtf8(m_arguments[5]));
    m_ui.SetApplicationTitle(m_ui.Caption());
  }
  m_timer1.SetEnabled(true);
  m_ui.ShowCentred();
}

void TfMain::Fail(const char* text, const std::string& cause) {
  // One line for the log and the console alike: socket errors, for one, carry their number and their text on
  // two, and what a server or an archive sent may hold terminal escapes.
  const std::string line = PrintableLine(cause);
  Log("failed: " + platform::GbkToUtf8(text) + " cause: " + line);
  ShowError(m_ui, m_ui.Handle(), text);
  m_ui.ShowCause(line);
  m_ui.Terminate();
}

void TfMain::Timer1Timer() {
  ++m_timer1.Tag;
  m_timer1.SetEnabled(false);
  if (m_timer1.Tag == 1) {
    // The next tick comes a whole interval after this one ends, however long its waits took.
    if (TakeOverExtractPath() == Stage::Done) m_timer1.SetEnabled(true);
    return;
  }

  if (DownloadAndSave() == Stage::Failed) return;
  if (m_cancelled) {
    // A cancel during the download ends the update: nothing was saved, nothing is extracted or started.
    Log("cancelled by the user: nothing saved, extracted or started");
    m_ui.ProcessMessages();
    m_ui.Terminate();
    return;
  }
  m_ui.SetLabelText(platform::GbkToUtf8(texts::kExtracting));
  // Decided only now, with the archive saved and checked: most installs are the user's to write, and they
  // never see a consent prompt.
  if (NeedsAdministratorRights(m_values.ExtractPath,
                               JoinPath(m_values.DownloadPath, m_values.ArchiveName, /*slash=*/false))) {
    if (InstallElevated() == Stage::Failed) return;
  } else if (!m_extractLock.IsHeld()) {
    // The directory refused the lock for want of rights, and now lets this user write: nothing is installed
    // without the lock.
    Fail(texts::kExtractFailed, "the extract directory " + platform::SystemToUtf8(m_values.ExtractPath) +
                                    " cannot be locked (error " + std::to_string(platform::kErrorAccessDenied) + ")");
    return;
  } else if (ExtractArchive() == Stage::Failed) {
    return;
  }

  if (!m_cancelled) {
    Log("update complete");
    ShowInfo(m_ui, m_ui.Handle(), texts::kUpgradeComplete);
    platform::DeleteFileAt(JoinPath(m_values.ExtractPath, m_values.ArchiveName, /*slash=*/false));
    if (!m_values.RunProgram.empty()) {
      if (const auto command = ProgramToStart(m_values.ExtractPath, m_values.RunProgram)) {
        Log("starting " + platform::SystemToUtf8(command->Program));
        platform::StartProgram(command->Program, command->Arguments);
      } else {
        Log("no program to start: " + platform::SystemToUtf8(m_values.RunProgram) + " is no file inside " +
            platform::SystemToUtf8(m_values.ExtractPath));
      }
    }
  }
  m_ui.ProcessMessages();
  m_ui.Terminate();
}

TfMain::Stage TfMain::TakeOverExtractPath() {
  const std::string where = platform::SystemToUtf8(m_values.ExtractPath);
  if (!CreateDirChain(m_values.ExtractPath)) {
    Fail(texts::kExtractFailed, "the extract directory " + where + " cannot be made (error " +
                                    std::to_string(platform::LastErrorCode()) + ")");
    return Stage::Failed;
  }
  // Another updater on the same directory would read this one's live journal as an interrupted update, and
  // each would undo the other's swap: the second waits for the first, with its window alive, for a while.
  const int64_t start = platform::MonotonicMilliseconds();
  for (bool logged = false;; logged = true) {
    m_extractLock = platform::DirectoryLock::TryAcquire(m_values.ExtractPath);
    if (m_extractLock.IsHeld()) break;
    if (platform::LastErrorCode() == platform::kErrorAccessDenied && NeedsAdministratorRights(m_values.ExtractPath)) {
      // An install for all users on Windows, where the lock is a file in the directory: the copy with
      // administrator rights takes the lock, and recovers, when the install is handed to it.
      Log("the extract directory " + where + " is not this user's to lock: the install will need administrator rights");
      return Stage::Done;
    }
    if (platform::LastErrorCode() != platform::kErrorSharingViolation) {
      Fail(texts::kExtractFailed, "the extract directory " + where + " cannot be locked (error " +
                                      std::to_string(platform::LastErrorCode()) + ")");
      return Stage::Failed;
    }
    if (m_cancelled) {
      Log("cancelled by the user while another updater held " + where);
      return Stage::Failed;
    }
    if (platform::MonotonicMilliseconds() - start >= m_extractLockWaitMilliseconds) {
      Fail(texts::kExtractFailed, Format("another updater is installing into %s and did not finish within %d s",
                                         where.c_str(), m_extractLockWaitMilliseconds / 1000));
      return Stage::Failed;
    }
    if (!logged) Log("waiting for another updater installing into " + where);
    m_ui.ProcessMessages();
    platform::SleepMilliseconds(kLockRetryMilliseconds);
  }
  const std::string cause = RecoverInterruptedInstall(
      m_values.ExtractPath, {[this](const std::string& event) { Log(event); }, [this] { m_ui.ProcessMessages(); }});
  if (!cause.empty()) {
    // An elevated copy that was killed left its journal where this user cannot write: the next copy repairs
    // it first, under the same lock, before it installs. Failing here would leave it broken for good.
    if (NeedsAdministratorRights(m_values.ExtractPath)) {
      Log("the interrupted update in " + where + " is left to the elevated copy: " + cause);
      return Stage::Done;
    }
    Fail(texts::kExtractFailed, cause);
    return Stage::Failed;
  }
  return Stage::Done;
}

TfMain::Stage TfMain::DownloadAndSave() {
  m_ui.SetLabelText(platform::GbkToUtf8(texts::kDownloading));
  Log("download begun");
  // The body goes straight to a file beside the archive, which takes the archive's name only when the body
  // is whole and checked: nothing is held in memory, and a previous download stays until then.
  TArchiveDownload download(m_idHTTP, m_values.DownloadPath,
                            JoinPath(m_values.DownloadPath, m_values.ArchiveName, /*slash=*/false));
  if (!download.Open()) {
    Fail(texts::kSaveFailed, "the download directory or its partial file cannot be made (error " +
                                 std::to_string(platform::LastErrorCode()) + ")");
    return Stage::Failed;
  }
  // What failed the download, from below (the connection, the server, the file) or from the signature check.
  std::optional<std::string> cause;
  try {
    Log("proxy: " + RouteText(UseSystemProxy(m_idHTTP, m_idSSLIOHandlerSocket1, m_values.UpdateUrl,
                                             kSilenceLimitMilliseconds)));
    // The previous archive, while it is still there, gives what the new one shares with it.
    TSeededDownload seeded(m_idHTTP, JoinPath(m_values.DownloadPath, m_values.ArchiveName, /*slash=*/false),
                           download.Body(), [this](const std::string& event) { Log(event); },
                           [this] { m_ui.ProcessMessages(); });
    const bool assembled = seeded.Fetch(m_values.UpdateUrl, [this] { return m_cancelled; });
    if (!assembled) download.Fetch(m_values.UpdateUrl, [this] { return m_cancelled; });
    const TIdHTTPResponse& response = m_idHTTP.Response();
    Log(Format("response: %s, %lld bytes announced, %lld received", response.StatusLine.c_str(),
               static_cast<long long>(response.ContentLength), static_cast<long long>(download.Body().Size())));
    if (!m_publicKey.empty() && !m_cancelled) cause = VerifySignature(download.Body());
    if (cause && assembled && !m_cancelled) {
      // An old member can give other compressed bytes under the same CRC and sizes (another compressor): an
      // archive assembled in part that does not verify is downloaded whole once, before anything fails.
      Log("the archive assembled in part does not verify: downloading it whole");
      download.Body().SetSize(0);
      download.Body().SetPosition(0);
      download.Fetch(m_values.UpdateUrl, [this] { return m_cancelled; });
      cause = m_cancelled ? std::nullopt : VerifySignature(download.Body());
    }
  } catch (...) {
    // Also after a cancel: a GET that the closed connection made fail (inside a chunked body or the status
    // line) is a failed download, reported as such while the terminate request is already pending.
    cause = CauseOf(std::current_exception());
  }
  if (cause) {
    Fail(download.FileFailed() ? texts::kSaveFailed : texts::kDownloadFailed, *cause);
    return Stage::Failed;
  }
  if (m_cancelled) return Stage::Done;
  const std::string archivePath = JoinPath(m_values.DownloadPath, m_values.ArchiveName, /*slash=*/false);
  if (!download.Commit([this] { m_ui.ProcessMessages(); })) {
    Fail(texts::kSaveFailed, "the download cannot take the name " + platform::SystemToUtf8(archivePath) +
                                 " (error " + std::to_string(platform::LastErrorCode()) + ")");
    return Stage::Failed;
  }
  Log("saved as " + platform::SystemToUtf8(archivePath));
  return Stage::Done;
}

std::optional<std::string> TfMain::VerifySignature(TStream& archive) {
  TMemoryStream signature;
  m_idHTTP.Get(m_values.UpdateUrl + ".sig", signature);
  if (m_cancelled) return std::nullopt;
  m_signature = signature.DataString();
  if (!VerifyArchiveSignature(m_publicKey, archive, m_signature, [this] { m_ui.ProcessMessages(); })) {
    return "the archive's signature does not verify";
  }
  Log("signature verified");
  return std::nullopt;
}

TfMain::Stage TfMain::ExtractArchive() {
  const std::string cause =
      InstallArchive(m_unZip1, JoinPath(m_values.DownloadPath, m_values.ArchiveName, /*slash=*/false),
                     m_values.ExtractPath, m_publicKey, m_signature,
                     {[this](const std::string& event) { Log(event); }, [this] { m_ui.ProcessMessages(); }});
  if (cause.empty()) return Stage::Done;
  Fail(texts::kExtractFailed, cause);
  return Stage::Failed;
}

TfMain::Stage TfMain::InstallElevated() {
  Log("the extract directory needs administrator rights: the install is handed to an elevated copy");
  const std::string archive = JoinPath(m_values.DownloadPath, m_values.ArchiveName, /*slash=*/false);
  const std::string reportPath = JoinPath(m_values.DownloadPath, kElevatedReportName, /*slash=*/false);
  // A report left by an earlier run would be taken for this one's; the copy creates its own exclusively.
  platform::DeleteFileAt(reportPath);
  // The copy takes the lock itself, with the recovery that belongs to it.
  m_extractLock = platform::DirectoryLock();
  const platform::ElevatedRun run =
      platform::RunElevated(platform::OwnExecutablePath(),
                            ElevatedInstallItems(archive, m_values.ExtractPath, reportPath, m_signature),
                            [this] { m_ui.ProcessMessages(); });
  std::string cause;
  if (platform::File report = platform::File::OpenRegular(reportPath); report.IsOpen()) {
    std::string text;
    char buffer[4096];
    for (int64_t count; (count = report.Read(buffer, sizeof buffer)) > 0 && text.size() < TRunLog::kMaxLogBytes;) {
      text.append(buffer, static_cast<size_t>(count));
    }
    report.Close();
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(start, end - start);
      Log("elevated copy: " + line);
      if (line.compare(0, sizeof kElevatedFailedPrefix - 1, kElevatedFailedPrefix) == 0) {
        cause = line.substr(sizeof kElevatedFailedPrefix - 1);
      }
      start = end + 1;
    }
  }
  platform::DeleteFileAt(reportPath);
  if (!run.Granted) {
    Fail(texts::kExtractFailed, "administrator rights were not granted");
    return Stage::Failed;
  }
  if (run.ExitCode != kElevatedInstalled) {
    Fail(texts::kExtractFailed,
         cause.empty() ? Format("the elevated copy ended with code %d and no cause", run.ExitCode) : cause);
    return Stage::Failed;
  }
  Log("installed by the elevated copy");
  return Stage::Done;
}

void TfMain::SpeedButton1Click() {
  m_cancelled = true;
  m_idHTTP.CloseConnection();
  m_ui.Terminate();
}

void TfMain::IdHTTPWorkBegin(int workCountMax) {
  m_lastWorkTurn = -1;
  m_pg.SetMax(workCountMax);
  m_pg.SetMin(0);
  m_pg.SetPosition(0);
}

void TfMain::IdHTTPWork(int workCount) {
  m_pg.SetPosition(workCount);
  const int64_t now = platform::MonotonicMilliseconds();
  if (m_lastWorkTurn >= 0 && now - m_lastWorkTurn < kWorkTurnMilliseconds) return;
  m_lastWorkTurn = now;
  m_ui.ProcessMessages();
}

void TfMain::IdHTTPWorkEnd() { m_pg.SetPosition(m_pg.Max()); }
