// Fetches one URL the way the updater does and reports how fast, and how responsive the window stayed.
//
// The client has the updater's settings (receive buffer 10240, idle processing every 100 ms through a
// registered TIdAntiFreeze), the body goes into a file as the updater's does, and every work event is handled
// as the window handles it: a progress-bar update, and a message-processing turn when one is due. The
// recording UI stamps each turn, which gives the longest stretch without message processing.
//
// Usage: download_bench URL FILE
// Prints one line: bytes=<n> seconds=<s> turns=<n> max_gap_ms=<ms>
#include <chrono>
#include <cstdio>
#include <exception>

#include "app/main_form.h"
#include "app/main_form_layout.h"
#include "app/progress_bar.h"
#include "http/http_client.h"
#include "net/anti_freeze.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/headless/headless_ui.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: download_bench URL FILE\n");
    return 2;
  }
  platform::File file = platform::File::Create(argv[2]);
  if (!file.IsOpen()) {
    std::fprintf(stderr, "cannot create %s\n", argv[2]);
    return 1;
  }
  platform::HeadlessUi ui;
  TIdAntiFreeze antiFreeze(ui);
  antiFreeze.SetIdleTimeOut(layout::kIdleTimeOut);
  TProgressBar bar(ui, layout::kProgressMin, layout::kProgressMax, layout::kProgressPosition);

  TIdHTTP http;
  http.SetRecvBufferSize(layout::kRecvBufferSize);
  int64_t lastTurn = -1;
  http.OnWorkBegin = [&](TIdComponent*, TWorkMode, int32_t max) {
    lastTurn = -1;
    bar.SetMax(max);
    bar.SetMin(0);
    bar.SetPosition(0);
  };
  http.OnWork = [&](TIdComponent*, TWorkMode, int32_t count) {
    bar.SetPosition(count);
    const int64_t now = platform::MonotonicMilliseconds();
    if (lastTurn >= 0 && now - lastTurn < TfMain::kWorkTurnMilliseconds) return;
    lastTurn = now;
    ui.ProcessMessages();
  };
  http.OnWorkEnd = [&](TIdComponent*, TWorkMode) { bar.SetPosition(bar.Max()); };

  TFileStream body(std::move(file));
  const int64_t startMs = platform::MonotonicMilliseconds();
  const auto start = std::chrono::steady_clock::now();
  try {
    http.Get(argv[1], body);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "download failed: %s\n", error.what());
    return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const int64_t maxGap = ui.LongestStretchWithoutTurn(startMs, platform::MonotonicMilliseconds());
  std::printf("bytes=%lld seconds=%.6f turns=%zu max_gap_ms=%lld\n", static_cast<long long>(body.Size()), seconds,
              ui.TurnTimes().size(), static_cast<long long>(maxGap));
  return 0;
}
