#pragma once
// The Linux window: GTK 3 with the stored layout (fixed client size, background colour, lowered bevel, label,
// progress bar, a flat blue button that takes no focus). Messages are processed with GLib's non-blocking
// main-loop iterations, so nested processing inside a blocking wait serves the window exactly as the message
// loop does. An exception thrown by a listener inside a GLib callback is raised again by the pump call that
// dispatched it.
//
// The application title is the window's program class, which the system reads when the window is realized:
// the window is realized when it is first shown, so a title set before that (the caption of six arguments)
// is the one the task bar shows.
#include <memory>
#include <string>

#include "platform/deferred_exception.h"
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
  // The button's "clicked" handler and the timer's source callback.
  static void OnClicked(void* button, void* ui);
  static int OnTick(void* ui);
  int RunDialog(WindowHandle owner, int messageType, int buttons, const std::string& text,
                const std::string& caption);

  std::unique_ptr<Widgets> m_widgets;
  UiListener* m_listener = nullptr;
  bool m_terminateRequested = false;
  unsigned m_timerSource = 0;
  DeferredException m_listenerException;  // thrown inside a GLib callback, raised by the pump
};

}  // namespace platform
