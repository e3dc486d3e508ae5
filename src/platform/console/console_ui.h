#pragma once
// The front end without a display: the status line and message-box texts go to stderr in UTF-8, boxes confirm
// themselves, a progress line is drawn when stderr is a terminal, and Ctrl+C (SIGINT) is a click on the cancel
// button. The Yes/No confirmation asks on the terminal, and answers Yes when stdin is not one.
#include <string>

#include "platform/ui.h"

namespace platform {

class ConsoleUi : public Ui {
 public:
  ConsoleUi();
  ~ConsoleUi() override;

  void CreateWindow(const WindowLayout& layout, UiListener& listener) override;
  WindowHandle Handle() const override;
  void ShowCentred() override;
  void SetCaption(const std::string& text) override { m_caption = text; }
  std::string Caption() const override { return m_caption; }
  void SetApplicationTitle(const std::string& text) override { m_title = text; }
  void SetLabelText(const std::string& text) override;
  void SetProgress(int minimum, int maximum, int position) override;
  void SetTimer(int intervalMilliseconds) override;
  void RunMessageLoop() override;
  void Terminate() override { m_terminateRequested = true; }
  bool TerminateRequested() const override { return m_terminateRequested; }
  void ShowMessage(WindowHandle owner, const std::string& text, const std::string& caption,
                   MessageIcon icon) override;
  void ShowCause(const std::string& text) override;
  bool ConfirmYesNo(WindowHandle owner, const std::string& text, const std::string& caption) override;
  void ProcessMessages() override;
  bool PeekMessage() override;
  void HandleOneMessage() override;

 private:
  void DispatchInterrupt();
  void EndProgressLine();
  void DrawProgressLine(bool force);

  UiListener* m_listener = nullptr;
  bool m_visible = false;
  bool m_terminateRequested = false;
  bool m_terminal = false;
  bool m_progressLineOpen = false;
  std::string m_caption;
  std::string m_title;
  std::string m_label;
  int m_progressMax = 0;
  int m_progressPosition = 0;
  int64_t m_progressStartMs = -1;
  int64_t m_lastDrawMs = 0;
  int m_timerInterval = 0;
  int64_t m_nextTickMs = 0;
};

}  // namespace platform
