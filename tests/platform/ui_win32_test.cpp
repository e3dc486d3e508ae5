// The Win32 window, driven through real window messages. Under Wine the tests run with the null graphics
// driver (see cmake/wine-run.sh), which creates windows and runs message boxes without a display.
#ifdef _WIN32

#include "platform/win32/ui_win32.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#undef CreateWindow
#undef PeekMessage

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/default_ui.h"

namespace {

using platform::Win32Ui;

const char kCaption[] = "\xE8\xBD\xAF\xE4\xBB\xB6\xE8\x87\xAA\xE5\x8A\xA8\xE6\x9B\xB4\xE6\x96\xB0";  // 软件自动更新
const char kInfo[] = "\xE4\xBF\xA1\xE6\x81\xAF\xE6\x8F\x90\xE7\xA4\xBA";                            // 信息提示

platform::WindowLayout Layout() {
  platform::WindowLayout layout;
  layout.caption = kCaption;
  layout.clientWidth = 291;
  layout.clientHeight = 78;
  layout.backgroundColor = 14215660;
  layout.fontName = "\xE5\xAE\x8B\xE4\xBD\x93";  // 宋体
  layout.fontCharset = 134;
  layout.fontHeight = -12;
  layout.bevel = {0, 0, 291, 78};
  layout.button = {208, 48, 73, 22};
  layout.buttonCaption = "\xE5\x8F\x96\xE6\xB6\x88\xE5\x8D\x87\xE7\xBA\xA7";  // 取消升级
  layout.buttonTextColor = 0xFF0000;
  layout.label = {8, 8, 108, 12};
  layout.labelCaption = "ready";
  layout.progressBar = {8, 24, 273, 16};
  layout.progressMin = 0;
  layout.progressMax = 100;
  layout.progressPosition = 0;
  return layout;
}

struct CountingListener : platform::UiListener {
  void OnTimer() override {
    ++ticks;
    if (onTimer) onTimer();
  }
  void OnCancelClick() override {
    ++clicks;
    if (onClick) onClick();
  }
  int ticks = 0;
  int clicks = 0;
  std::function<void()> onTimer;
  std::function<void()> onClick;
};

std::wstring TextOf(HWND window) {
  wchar_t buffer[256] = {};
  GetWindowTextW(window, buffer, 256);
  return buffer;
}

class Win32UiTest : public testing::Test {
 protected:
  void SetUp() override {
    m_ui.CreateWindow(Layout(), m_listener);
    if (m_ui.Handle() == nullptr) GTEST_SKIP() << "the system cannot create windows here (no display driver)";
  }

  HWND Window() const { return static_cast<HWND>(m_ui.Handle()); }

  void Click() {
    const HWND button = static_cast<HWND>(m_ui.ButtonHandle());
    PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  }

  CountingListener m_listener;
  Win32Ui m_ui;
};

TEST_F(Win32UiTest, WindowIsBuiltHiddenFromTheLayout) {
  EXPECT_FALSE(IsWindowVisible(Window()));
  RECT client;
  GetClientRect(Window(), &client);
  EXPECT_EQ(client.right - client.left, 291);
  EXPECT_EQ(client.bottom - client.top, 78);
  const LONG style = GetWindowLongW(Window(), GWL_STYLE);
  EXPECT_NE(style & WS_CAPTION, 0);
  EXPECT_NE(style & WS_SYSMENU, 0);
  EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
  EXPECT_EQ(m_ui.Caption(), kCaption);
  EXPECT_EQ(TextOf(static_cast<HWND>(m_ui.ButtonHandle())), L"\u53D6\u6D88\u5347\u7EA7");
  EXPECT_EQ(TextOf(static_cast<HWND>(m_ui.LabelHandle())), L"ready");
  const HWND bar = static_cast<HWND>(m_ui.ProgressBarHandle());
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, TRUE, 0), 0);
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 100);
  RECT barRect;
  GetWindowRect(bar, &barRect);
  MapWindowPoints(nullptr, Window(), reinterpret_cast<POINT*>(&barRect), 2);
  EXPECT_EQ(barRect.left, 8);
  EXPECT_EQ(barRect.top, 24);
  EXPECT_EQ(barRect.right - barRect.left, 273);
}

TEST_F(Win32UiTest, ShowCentredMakesTheWindowVisibleInTheMiddleOfTheScreen) {
  m_ui.ShowCentred();
  EXPECT_TRUE(IsWindowVisible(Window()));
  RECT frame;
  GetWindowRect(Window(), &frame);
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  EXPECT_LE(std::abs(frame.left + frame.right - screenWidth), 1);
  EXPECT_LE(std::abs(frame.top + frame.bottom - screenHeight), 1);
}

TEST_F(Win32UiTest, TextsAndBarChangeThroughTheWideApi) {
  m_ui.SetCaption(std::string(" ") + kInfo + " ");
  EXPECT_EQ(m_ui.Caption(), std::string(" ") + kInfo + " ");
  m_ui.SetApplicationTitle(kInfo);
  EXPECT_EQ(m_ui.ApplicationTitle(), kInfo);
  const HWND label = static_cast<HWND>(m_ui.LabelHandle());
  m_ui.SetLabelText(std::string(kInfo) + " a longer status text than the first");
  EXPECT_EQ(TextOf(label), L"\u4FE1\u606F\u63D0\u793A a longer status text than the first");
  RECT labelRect;
  GetClientRect(label, &labelRect);
  EXPECT_GT(labelRect.right, 108) << "the label grows with its text";
  const HWND bar = static_cast<HWND>(m_ui.ProgressBarHandle());
  m_ui.SetProgress(0, 5000, 1234);
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 5000);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 1234);
  // A position the bar would draw the same (a byte further) is not handed to it: it would repaint.
  m_ui.SetProgress(0, 5000, 1235);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 1234);
  m_ui.SetProgress(0, 0, 0);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0);
  // A transfer of unannounced size has a maximum of 0: a position beyond it shows at the end.
  m_ui.SetProgress(0, 0, 4096);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0);
}

TEST_F(Win32UiTest, TimerTicksFromTheLoopUntilATerminateRequest) {
  m_listener.onTimer = [this] {
    if (m_listener.ticks == 3) m_ui.Terminate();
  };
  m_ui.SetTimer(20);
  // A watchdog, so that a loop that never ends fails the test instead of hanging it.
  const HWND window = Window();
  std::atomic<bool> done{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 500 && !done; ++i) Sleep(20);
    if (!done) PostMessageW(window, WM_CLOSE, 0, 0);
  });
  m_ui.RunMessageLoop();
  done = true;
  watchdog.join();
  EXPECT_EQ(m_listener.ticks, 3);
  EXPECT_TRUE(m_ui.TerminateRequested());
}

TEST_F(Win32UiTest, StoppedTimerDeliversNoMoreTicks) {
  m_ui.SetTimer(10);
  m_ui.SetTimer(0);
  Sleep(60);
  m_ui.ProcessMessages();
  EXPECT_EQ(m_listener.ticks, 0);
}

TEST_F(Win32UiTest, ClickReachesTheListenerDuringNestedProcessing) {
  m_ui.ShowCentred();
  const HWND focused = GetFocus();
  m_listener.onTimer = [this] {
    m_ui.SetTimer(0);
    // The handler runs nested processing, as the update sequence does while it downloads.
    Click();
    for (int i = 0; i < 20 && m_listener.clicks == 0; ++i) {
      m_ui.ProcessMessages();
      Sleep(5);
    }
    m_ui.Terminate();
  };
  m_ui.SetTimer(10);
  m_ui.RunMessageLoop();
  EXPECT_EQ(m_listener.ticks, 1);
  EXPECT_EQ(m_listener.clicks, 1);
  EXPECT_NE(GetFocus(), static_cast<HWND>(m_ui.ButtonHandle())) << "the button takes no focus";
  EXPECT_EQ(GetFocus(), focused);
}

TEST_F(Win32UiTest, ReleaseOutsideTheButtonIsNoClick) {
  const HWND button = static_cast<HWND>(m_ui.ButtonHandle());
  PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  PostMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(500, 5));
  m_ui.ProcessMessages();
  EXPECT_EQ(m_listener.clicks, 0);
}

TEST_F(Win32UiTest, CloseBoxIsATerminateRequestOnly) {
  m_ui.ShowCentred();
  m_ui.ProcessMessages();
  PostMessageW(Window(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(m_ui.PeekMessage());
  EXPECT_TRUE(m_ui.PeekMessage()) << "peeking leaves the message in the queue";
  m_ui.HandleOneMessage();
  EXPECT_TRUE(m_ui.TerminateRequested());
  EXPECT_TRUE(IsWindow(Window()));
  EXPECT_TRUE(IsWindowVisible(Window()));
  m_ui.RunMessageLoop();  // returns at once: the request is pending
}

TEST_F(Win32UiTest, ListenerExceptionReachesTheCallerOfThePump) {
  m_listener.onClick = [] { throw std::runtime_error("from the handler"); };
  Click();
  EXPECT_THROW(m_ui.ProcessMessages(), std::runtime_error);
  EXPECT_EQ(m_listener.clicks, 1);
  m_ui.ProcessMessages();  // nothing left over
}

// Message boxes are modal: a thread timer, dispatched by the box's own loop, inspects and answers it.
struct BoxAnswer {
  UINT command = IDOK;
  HWND box = nullptr;
  HWND owner = nullptr;
  std::wstring caption;
  std::wstring text;
};
BoxAnswer* g_answer = nullptr;

BOOL CALLBACK FindBox(HWND window, LPARAM found) {
  wchar_t className[16] = {};
  GetClassNameW(window, className, 16);
  if (std::wstring(className) != L"#32770" || !IsWindowVisible(window)) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

void CALLBACK AnswerBox(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND box = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindBox, reinterpret_cast<LPARAM>(&box));
  if (box == nullptr || g_answer == nullptr) return;
  KillTimer(nullptr, timer);
  g_answer->box = box;
  g_answer->owner = GetWindow(box, GW_OWNER);
  g_answer->caption = TextOf(box);
  g_answer->text = TextOf(GetDlgItem(box, 0xFFFF));
  PostMessageW(box, WM_COMMAND, g_answer->command, 0);
}

class Win32UiBoxTest : public Win32UiTest {
 protected:
  void SetUp() override {
    Win32UiTest::SetUp();
    g_answer = &m_answer;
    m_timer = ::SetTimer(nullptr, 0, 50, AnswerBox);
  }
  void TearDown() override {
    KillTimer(nullptr, m_timer);
    g_answer = nullptr;
  }
  BoxAnswer m_answer;
  UINT_PTR m_timer = 0;
};

TEST_F(Win32UiBoxTest, MessageBoxIsOwnedByTheHiddenWindow) {
  m_ui.ShowMessage(m_ui.Handle(), std::string("text ") + kInfo, kInfo, platform::MessageIcon::Error);
  ASSERT_NE(m_answer.box, nullptr);
  EXPECT_EQ(m_answer.owner, Window());
  EXPECT_FALSE(IsWindowVisible(Window()));
  EXPECT_EQ(m_answer.caption, L"\u4FE1\u606F\u63D0\u793A");
  EXPECT_EQ(m_answer.text, L"text \u4FE1\u606F\u63D0\u793A");
}

TEST_F(Win32UiBoxTest, ConfirmationAnswersYesAndNo) {
  m_answer.command = IDYES;
  EXPECT_TRUE(m_ui.ConfirmYesNo(m_ui.Handle(), "Create?", "Confirm"));
  EXPECT_EQ(m_answer.caption, L"Confirm");
  m_answer = BoxAnswer();
  m_answer.command = IDNO;
  m_timer = ::SetTimer(nullptr, 0, 50, AnswerBox);
  EXPECT_FALSE(m_ui.ConfirmYesNo(m_ui.Handle(), "Create?", "Confirm"));
  ASSERT_NE(m_answer.box, nullptr);
}

TEST(DefaultUiTest, IsTheWin32Window) {
  const std::unique_ptr<platform::Ui> ui = platform::CreateDefaultUi();
  EXPECT_NE(dynamic_cast<Win32Ui*>(ui.get()), nullptr);
}

}  // namespace

#endif  // _WIN32
