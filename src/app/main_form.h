#pragma once
// The updater's only window and the work it drives: start-up checks of the command line, the timer that
// takes the extract directory on its first tick (the lock, the recovery of an interrupted update) and runs
// the update on its second (download, save, extract, report, start the program), the cancel
// button and the progress handlers. Everything runs on the user-interface thread; the waits of the download
// and of the extraction process messages, so the handlers run nested inside the update.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/progress_bar.h"
#include "app/run_log.h"
#include "app/timer.h"
#include "http/http_client.h"
#include "net/anti_freeze.h"
#include "net/ssl_io_handler.h"
#include "platform/files.h"
#include "platform/ui.h"
#include "zip/unzip.h"

// The values the program stores from its arguments, set once when the window is created.
struct TProgramValues {
  std::string UpdateUrl;     // trimmed
  std::string ExtractPath;   // trimmed
  std::string ArchiveName;   // as given
  std::string RunProgram;    // as given; empty: no program is started
  std::string DownloadPath;  // as given
};

class TfMain : public platform::UiListener {
 public:
  // Builds the window hidden from its layout with its components, then runs FormCreate with the program's
  // arguments. With a public key (base64 Ed25519) a download counts only when "<UpdateUrl>.sig" verifies.
  TfMain(platform::Ui& ui, std::vector<std::string> arguments, std::string publicKey = {});
  ~TfMain() override;

  void FormCreate();
  void Timer1Timer();
  void SpeedButton1Click();
  void IdHTTPWorkBegin(int workCountMax);
  // The bar follows every work event; pending messages are processed at the first one of a transfer and then
  // once kWorkTurnMilliseconds have passed since the last such turn. A fast download reports thousands of
  // pieces a second, and one turn costs more than a piece under Wine; the idle slices of the socket waits
  // process messages whenever nothing has arrived, so the window is served at least every 100 ms either way.
  static constexpr int64_t kWorkTurnMilliseconds = 20;
  void IdHTTPWork(int workCount);
  void IdHTTPWorkEnd();

  const TProgramValues& Values() const { return m_values; }
  bool Cancelled() const { return m_cancelled; }
  TProgressBar& pg() { return m_pg; }
  TTimer& Timer1() { return m_timer1; }
  TIdHTTP& IdHTTP() { return m_idHTTP; }
  TUnZip& UnZip1() { return m_unZip1; }
  // How long the first tick waits for another updater that holds ExtractPath before the update fails.
  static constexpr int kExtractLockWaitMilliseconds = 60000;
  void SetExtractLockWait(int milliseconds) { m_extractLockWaitMilliseconds = milliseconds; }

  void OnTimer() override { Timer1Timer(); }
  void OnCancelClick() override { SpeedButton1Click(); }

 private:
  enum class Stage { Done, Failed };

  // Takes ExtractPath from any other updater, then finishes or undoes what an interrupted update left there.
  Stage TakeOverExtractPath();
  Stage DownloadAndSave();
  Stage ExtractArchive();
  // The install by a copy of the updater with administrator rights (elevated_install.h), waited for with the
  // window alive; its report goes into this run's log.
  Stage InstallElevated();
  // The failure box with its fixed text, the cause in the log and, where the front end has room, under the box.
  void Fail(const char* text, const std::string& cause);
  void Log(const std::string& event);
  // Fetches the archive's signature (what the fetch raises passes on) and checks it under the public key: the
  // cause that fails the stage when it does not verify, none when it does or a cancel stopped the fetch.
  std::optional<std::string> VerifySignature(TStream& archive);

  platform::Ui& m_ui;
  std::vector<std::string> m_arguments;
  std::string m_publicKey;
  std::string m_signature;  // the text of "<UpdateUrl>.sig", once fetched
  TProgramValues m_values;
  TRunLog m_log;
  // Held from the first tick to the end of the run: one updater at a time installs into ExtractPath.
  platform::DirectoryLock m_extractLock;
  int m_extractLockWaitMilliseconds = kExtractLockWaitMilliseconds;
  bool m_cancelled = false;
  int64_t m_lastWorkTurn = -1;  // when IdHTTPWork last processed messages; -1: not yet in this transfer
  TProgressBar m_pg;
  TTimer m_timer1;
  TIdSSLIOHandlerSocket m_idSSLIOHandlerSocket1;  // outlives the client that uses it
  TIdHTTP m_idHTTP;
  TIdAntiFreeze m_idAntiFreeze1;
  TUnZip m_unZip1;
};
