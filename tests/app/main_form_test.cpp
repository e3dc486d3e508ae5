#include "app/main_form.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "app/program.h"
#include "app/user_texts.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/headless/headless_ui.h"
#include "rtl/exception.h"
#include "support/raised.h"
#include "support/temp_dir.h"

namespace {

using platform::HeadlessUi;
using testsupport::RaisedMessage;

std::string Utf8(const char* gbk) { return platform::GbkToUtf8(gbk); }

std::vector<std::string> Arguments(int count) {
  std::vector<std::string> all = {"http://127.0.0.1:1/u.zip", " out ", " a.zip ", " ", "dl", " Caption ", "seven"};
  return std::vector<std::string>(all.begin(), all.begin() + count);
}

// The relative directories of the arguments are taken against a working directory of the test's own: the
// run's log goes into the download directory.
class StartUpTest : public testing::Test {
 protected:
  StartUpTest() { std::filesystem::current_path(m_temp.Path()); }
  ~StartUpTest() override { std::filesystem::current_path(m_before); }

  std::filesystem::path m_before = std::filesystem::current_path();
  testsupport::TempDir m_temp;
};

TEST_F(StartUpTest, FewerThanFiveArgumentsRefuseWithTheWindowNeverShown) {
  for (int count = 0; count <= 4; ++count) {
    HeadlessUi ui;
    EXPECT_EQ(RunUpdater(ui, Arguments(count)), 0);
    EXPECT_FALSE(ui.Visible());
    const std::string box = "box error owner=hidden " + Utf8(texts::kMessageCaption) + ": " +
                            Utf8(texts::kNotStandalone);
    EXPECT_EQ(ui.LinesStartingWith("box"), std::vector<std::string>{box}) << count;
    EXPECT_TRUE(ui.LinesStartingWith("timer").empty());
    EXPECT_TRUE(ui.TerminateRequested());
  }
}

TEST_F(StartUpTest, AnExceptionLeavingTheMessageLoopStillEndsWithZero) {
  // Four arguments refuse while the window is created, five fail the download inside the loop (nothing
  // listens on port 1); the box throws either way.
  for (const int count : {4, 5}) {
    HeadlessUi ui;
    ui.OnMessageBox([](const std::string&) { throw std::runtime_error("thrown by a handler"); });
    EXPECT_EQ(RunUpdater(ui, Arguments(count)), 0) << count;
    EXPECT_EQ(ui.LinesStartingWith("box").size(), 1u) << count;
  }
}

TEST_F(StartUpTest, FiveArgumentsStoreTheValuesAndShowTheWindow) {
  HeadlessUi ui;
  TfMain form(ui, Arguments(5));
  EXPECT_TRUE(ui.Visible());
  EXPECT_EQ(ui.Caption(), Utf8(texts::kAppTitle));
  EXPECT_EQ(form.Values().UpdateUrl, "http://127.0.0.1:1/u.zip");
  EXPECT_EQ(form.Values().ExtractPath, platform::FullPathName("out"));  // against the working directory
  EXPECT_EQ(form.Values().ArchiveName, " a.zip ");  // trimmed only where a path is formed
  EXPECT_EQ(form.Values().RunProgram, " ");          // blanks count as present
  EXPECT_EQ(form.Values().DownloadPath, platform::FullPathName("dl"));
  EXPECT_EQ(form.IdHTTP().ReadTimeout(), 30000);  // a silent server fails the download after half a minute
  EXPECT_TRUE(form.Timer1().Enabled());
  EXPECT_EQ(form.Timer1().Interval(), 1000);
  EXPECT_EQ(ui.LinesStartingWith("timer"), std::vector<std::string>{"timer 1000"});
}

TEST_F(StartUpTest, ExactlySixArgumentsSetCaptionAndTitleUntrimmed) {
  HeadlessUi ui;
  TfMain form(ui, Arguments(6));
  EXPECT_EQ(ui.Caption(), " Caption ");
  EXPECT_EQ(ui.LinesStartingWith("title"), std::vector<std::string>{"title  Caption "});
}

TEST_F(StartUpTest, SevenArgumentsIgnoreEverythingAfterTheFifth) {
  HeadlessUi ui;
  TfMain form(ui, Arguments(7));
  EXPECT_EQ(ui.Caption(), Utf8(texts::kAppTitle));
  EXPECT_TRUE(ui.LinesStartingWith("title").empty());
}

TEST_F(StartUpTest, FirstTickStartsNoDownloadAndTheLabelStillReadsPreparing) {
  HeadlessUi ui;
  TfMain form(ui, Arguments(5));
  form.Timer1Timer();
  EXPECT_EQ(form.Timer1().Tag, 1);
  EXPECT_TRUE(form.Timer1().Enabled());
  EXPECT_EQ(ui.LabelText(), Utf8(texts::kPreparing));
}

TEST_F(StartUpTest, CancelBeforeTheSecondTickEndsTheLoopBeforeAnyTick) {
  HeadlessUi ui;
  TfMain form(ui, Arguments(5));
  ui.PostClick();
  ui.RunMessageLoop();
  EXPECT_TRUE(form.Cancelled());
  EXPECT_EQ(form.Timer1().Tag, 0);
  EXPECT_EQ(ui.SimulatedMilliseconds(), 0);
}

// The form's bar, with the form's directories in the test's own working directory.
class ProgressBarTest : public StartUpTest {};

TEST_F(ProgressBarTest, RefusesAnInvertedRangeWithTheClassName) {
  HeadlessUi ui;
  TProgressBar bar(ui, 0, 100, 0);
  bar.SetMin(50);
  EXPECT_EQ(RaisedMessage<EInvalidOperation>([&] { bar.SetMax(10); }),
            "TProgressBar property out of range");
  EXPECT_THROW(bar.SetMin(101), EInvalidOperation);
  EXPECT_EQ(bar.Max(), 100);
}

TEST_F(ProgressBarTest, PositionsOutsideTheRangeShowClamped) {
  HeadlessUi ui;
  TfMain form(ui, Arguments(5));
  form.IdHTTPWorkBegin(0);  // a transfer whose size was not announced
  form.IdHTTPWork(5000);
  EXPECT_EQ(ui.ProgressPosition(), 0);
  EXPECT_EQ(ui.ProgressRequested(), 5000) << "the front end is handed the bytes received";
  form.IdHTTPWorkBegin(1000);
  form.IdHTTPWork(400);
  EXPECT_EQ(ui.ProgressPosition(), 400);
  form.IdHTTPWork(2000);
  EXPECT_EQ(ui.ProgressPosition(), 1000);
  form.pg().SetPosition(-3);
  EXPECT_EQ(ui.ProgressPosition(), 0);
  form.IdHTTPWorkEnd();
  EXPECT_EQ(ui.ProgressPosition(), 1000);
}

TEST_F(ProgressBarTest, WorkBeginSetsMaximumFirstSoABelowMinimumMaximumFails) {
  HeadlessUi ui;
  TfMain form(ui, Arguments(5));
  form.pg().SetMin(10);
  EXPECT_THROW(form.IdHTTPWorkBegin(5), EInvalidOperation);
}

}  // namespace
