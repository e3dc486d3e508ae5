// The GTK window, driven through GLib's main loop. It needs a display: the test "platform_gtk" runs these on a
// virtual one (xvfb-run); where no display can be opened they are skipped.
#ifdef UPDATER_HAVE_GTK

#include "platform/gtk/gtk_ui.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>

#include "platform/threads.h"

namespace {

struct TickListener : platform::UiListener {
  void OnTimer() override {
    ++ticks;
    if (onTimer) onTimer();
  }
  void OnCancelClick() override {}
  int ticks = 0;
  std::function<void()> onTimer;
};

// A window of the updater's size, or none without a display.
std::unique_ptr<platform::GtkUi> CreateWindow(TickListener& listener) {
  std::unique_ptr<platform::GtkUi> ui = platform::GtkUi::TryCreate();
  if (!ui) return ui;
  platform::WindowLayout layout;
  layout.caption = "test";
  layout.clientWidth = 291;
  layout.clientHeight = 78;
  layout.fontHeight = -12;
  layout.progressBar = {8, 24, 273, 16};
  layout.progressMax = 100;
  ui->CreateWindow(layout, listener);
  return ui;
}

TEST(GtkUiTest, APendingTerminateRequestHoldsTheTickBack) {
  TickListener listener;
  const std::unique_ptr<platform::GtkUi> ui = CreateWindow(listener);
  if (!ui) GTEST_SKIP() << "no display";
  ui->SetTimer(10);
  ui->Terminate();
  platform::SleepMilliseconds(50);
  ui->ProcessMessages();
  EXPECT_EQ(listener.ticks, 0);
}

TEST(GtkUiTest, AnExceptionFromAListenerIsRaisedByThePumpThatDispatchedIt) {
  TickListener listener;
  const std::unique_ptr<platform::GtkUi> ui = CreateWindow(listener);
  if (!ui) GTEST_SKIP() << "no display";
  listener.onTimer = [] { throw std::runtime_error("thrown by a tick"); };
  ui->SetTimer(10);
  EXPECT_THROW(ui->RunMessageLoop(), std::runtime_error);
  EXPECT_EQ(listener.ticks, 1);
  // The window goes on serving: the next tick arrives through nested processing, and its exception too.
  platform::SleepMilliseconds(30);
  EXPECT_THROW(ui->ProcessMessages(), std::runtime_error);
  EXPECT_EQ(listener.ticks, 2);
}

}  // namespace

#endif  // UPDATER_HAVE_GTK
