#pragma once
// The Win32 window: a fixed dialog frame with a lowered bevel, a STATIC label, a common-controls progress bar
// and a flat button of our own class, all texts through the wide API (converted from UTF-8), so that the
// Chinese texts display on any Windows whatever its ANSI code page.
//
// Terminate requests are a flag checked at every turn of the loop, not WM_QUIT: a WM_QUIT would also end the
// modal loop of any message box shown while the request is pending. An exception thrown by a listener inside
// a dispatched message is carried across the system's frames and raised again by the pump call that dispatched
// it (RunMessageLoop, ProcessMessages or HandleOneMessage).
//
// The application title has no window of its own: the task bar shows the main window's caption (the window is
// an unowned application window), and the logic always sets the title to the caption it has just set.
#include <cstdint>
#include <string>

#include "platform/deferred_exception.h"
#include "platform/ui.h"

struct HWND__;
struct HFONT__;
struct HBRUSH__;

namespace platform {

class Win32Ui : public Ui {
 public:
  Win32Ui() = default;
  ~Win32Ui() override;
  Win32Ui(const Win32Ui&) = delete;
  Win32Ui& operator=(const Win32Ui&) = delete;

  void CreateWindow(const WindowLayout& layout, UiListener& listener) override;
  WindowHandle Handle() const override;
  void ShowCentred() override;
  void SetCaption(const std::string& text) override;
  std::string Caption() const override;
  void SetApplicationTitle(const std::string& text) override;
  void SetLabelText(const std::string& text) override;
  void SetProgress(int minimum, int maximum, int position) override;
  void SetTimer(int intervalMilliseconds) override;
  void RunMessageLoop() override;
  void Terminate() override;
  bool TerminateRequested() const override { return m_terminateRequested; }
  void ShowMessage(WindowHandle owner, const std::string& text, const std::string& caption,
                   MessageIcon icon) override;
  bool ConfirmYesNo(WindowHandle owner, const std::string& text, const std::string& caption) override;
  void ProcessMessages() override;
  bool PeekMessage() override;
  void HandleOneMessage() override;

  // The child controls, for inspection (tests, accessibility tools); null before CreateWindow.
  WindowHandle LabelHandle() const { return m_label; }
  WindowHandle ProgressBarHandle() const { return m_progressBar; }
  WindowHandle ButtonHandle() const { return m_button; }
  const std::string& ApplicationTitle() const { return m_applicationTitle; }

  // Window procedure of the main window; public only so that the class registration can reach it.
  intptr_t HandleWindowMessage(WindowHandle window, unsigned message, uintptr_t wParam, intptr_t lParam);

 private:
  void ResizeLabelToText();
  void Paint(HWND__* window);

  UiListener* m_listener = nullptr;
  HWND__* m_window = nullptr;
  HWND__* m_label = nullptr;
  HWND__* m_progressBar = nullptr;
  HWND__* m_button = nullptr;
  HFONT__* m_font = nullptr;
  HBRUSH__* m_background = nullptr;
  ControlRect m_bevel;
  uint32_t m_buttonTextColor = 0;
  bool m_terminateRequested = false;
  bool m_timerRunning = false;
  // What the progress bar was last told: its range, and the pixel column of its width its position fills to.
  int m_barMinimum = 0;
  int m_barMaximum = -1;
  int64_t m_barColumn = -1;
  int m_barWidth = 0;
  std::string m_applicationTitle;
  DeferredException m_listenerException;  // thrown inside a window procedure, raised by the pump
};

}  // namespace platform
