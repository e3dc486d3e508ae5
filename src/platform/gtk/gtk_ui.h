#pragma once
// The Linux window: GTK 3 with the stored layout (fixed client size, background colour, lowered bevel, label,
// progress bar, a flat blue button that takes no focus). Messages are processed with GLib's non-blocking
// main-loop iterations, so nested processing inside a blocking wait serves the window exactly as the message
// loop does.
#include <memory>
#include <string>

#include "platform/ui.h"

namespace platform {

class GtkUi : public Ui {
 public:
  // Opens the display; none when no display can be opened.
  static std::unique_ptr<GtkUi> TryCreate();
  ~GtkUi() override;

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

  struct Widgets;

 private:
  GtkUi();
  int RunDialog(WindowHandle owner, int messageType, int buttons, const std::string& text,
                const std::string& caption);

  std::unique_ptr<Widgets> m_widgets;
  UiListener* m_listener = nullptr;
  bool m_terminateRequested = false;
  unsigned m_timerSource = 0;
};

}  // namespace platform
