#pragma once
// A scripted, recording user interface for tests. Every operation is recorded in order as one line of text;
// the timer runs on a simulated clock, so a test of the start-up ticks takes no real time; a test can post a
// click or a close box, or attach an action to the n-th message-processing turn (the turns that nested
// processing and idle processing run), to inject a click exactly where it wants it.
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace platform {

class HeadlessUi : public Ui {
 public:
  HeadlessUi();

  void CreateWindow(const WindowLayout& layout, UiListener& listener) override;
  WindowHandle Handle() const override;
  void ShowCentred() override;
  void SetCaption(const std::string& text) override;
  std::string Caption() const override { return m_caption; }
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

  // Queues a click on the cancel button / on the close box, delivered by the next message dispatch.
  void PostClick();
  void PostCloseBox();
  // Runs the action at the start of the n-th message-processing turn (1-based; ProcessMessages,
  // PeekMessage and HandleOneMessage each count as a turn).
  void AtTurn(int turn, std::function<void()> action);
  // Runs the action whenever a message box is shown (after it is recorded).
  void OnMessageBox(std::function<void(const std::string& text)> action) { m_onMessageBox = std::move(action); }
  void SetConfirmAnswer(bool yes) { m_confirmAnswer = yes; }

  // The record: lines such as "label <text>", "bar <min> <max> <position>", "show", "caption <text>",
  // "title <text>", "timer <ms>", "box info|error owner=<window|none|hidden> <caption>: <text>",
  // "confirm <caption>: <text>", "terminate", "click", "close".
  const std::vector<std::string>& Log() const { return m_log; }
  bool Visible() const { return m_visible; }
  std::string LabelText() const { return m_label; }
  int ProgressMinimum() const { return m_progressMin; }
  int ProgressMaximum() const { return m_progressMax; }
  // The position as the bar shows it (clamped), and as it was handed over.
  int ProgressPosition() const { return m_progressPosition; }
  int ProgressRequested() const { return m_progressRequested; }
  int Turns() const { return m_turns; }
  // Real monotonic time (ms) of each message-processing turn, for responsiveness checks.
  const std::vector<int64_t>& TurnTimes() const { return m_turnTimes; }
  // The longest stretch (ms) from fromMs to toMs in which no turn came; the stretches before the first turn
  // and after the last count too, as no message was processed in them either.
  int64_t LongestStretchWithoutTurn(int64_t fromMs, int64_t toMs) const;
  // Simulated milliseconds that the timer has advanced.
  int64_t SimulatedMilliseconds() const { return m_simulatedMs; }
  // Lines of the record that begin with the prefix.
  std::vector<std::string> LinesStartingWith(const std::string& prefix) const;

 private:
  enum class Message { Click, CloseBox };

  void Turn();
  void Dispatch(Message message);

  UiListener* m_listener = nullptr;
  bool m_created = false;
  bool m_visible = false;
  bool m_terminateRequested = false;
  bool m_confirmAnswer = true;
  std::string m_caption;
  std::string m_label;
  int m_progressMin = 0;
  int m_progressMax = 0;
  int m_progressPosition = 0;
  int m_progressRequested = 0;
  int m_timerInterval = 0;
  int64_t m_simulatedMs = 0;
  int m_turns = 0;
  std::deque<Message> m_queue;
  std::map<int, std::vector<std::function<void()>>> m_turnActions;
  std::function<void(const std::string&)> m_onMessageBox;
  std::vector<std::string> m_log;
  std::vector<int64_t> m_turnTimes;
};

}  // namespace platform
