#include "platform/headless/headless_ui.h"

#include <algorithm>

#include "platform/clock.h"

namespace platform {
namespace {
int g_windowToken = 0;
}

HeadlessUi::HeadlessUi() = default;

void HeadlessUi::CreateWindow(const WindowLayout& layout, UiListener& listener) {
  m_listener = &listener;
  m_created = true;
  m_caption = layout.caption;
  m_label = layout.labelCaption;
  m_progressMin = layout.progressMin;
  m_progressMax = layout.progressMax;
  m_progressPosition = layout.progressPosition;
  m_log.push_back("create " + layout.caption);
}

WindowHandle HeadlessUi::Handle() const { return m_created ? static_cast<WindowHandle>(&g_windowToken) : nullptr; }

void HeadlessUi::ShowCentred() {
  m_visible = true;
  m_log.push_back("show");
}

void HeadlessUi::SetCaption(const std::string& text) {
  m_caption = text;
  m_log.push_back("caption " + text);
}

void HeadlessUi::SetApplicationTitle(const std::string& text) { m_log.push_back("title " + text); }

void HeadlessUi::SetLabelText(const std::string& text) {
  m_label = text;
  m_log.push_back("label " + text);
}

void HeadlessUi::SetProgress(int minimum, int maximum, int position) {
  m_progressMin = minimum;
  m_progressMax = maximum;
  m_progressPosition = std::clamp(position, minimum, maximum);
  m_progressRequested = position;
  m_log.push_back("bar " + std::to_string(minimum) + " " + std::to_string(maximum) + " " +
                  std::to_string(m_progressPosition));
}

void HeadlessUi::SetTimer(int intervalMilliseconds) {
  m_timerInterval = intervalMilliseconds;
  m_log.push_back("timer " + std::to_string(intervalMilliseconds));
}

void HeadlessUi::RunMessageLoop() {
  while (!m_terminateRequested) {
    if (!m_queue.empty()) {
      const Message message = m_queue.front();
      m_queue.pop_front();
      Dispatch(message);
    } else if (m_timerInterval > 0 && m_listener != nullptr) {
      m_simulatedMs += m_timerInterval;
      m_listener->OnTimer();
    } else {
      // Nothing can ever arrive: a real loop would wait forever, a test must not.
      m_log.push_back("idle");
      return;
    }
  }
}

void HeadlessUi::Terminate() {
  m_terminateRequested = true;
  m_log.push_back("terminate");
}

void HeadlessUi::ShowMessage(WindowHandle owner, const std::string& text, const std::string& caption,
                             MessageIcon icon) {
  const std::string ownerText = owner == nullptr ? "none" : (m_visible ? "window" : "hidden");
  m_log.push_back(std::string("box ") + (icon == MessageIcon::Information ? "info" : "error") +
                  " owner=" + ownerText + " " + caption + ": " + text);
  if (m_onMessageBox) m_onMessageBox(text);
}

bool HeadlessUi::ConfirmYesNo(WindowHandle /*owner*/, const std::string& text, const std::string& caption) {
  m_log.push_back("confirm " + caption + ": " + text);
  return m_confirmAnswer;
}

void HeadlessUi::Turn() {
  ++m_turns;
  m_turnTimes.push_back(MonotonicMilliseconds());
  const auto found = m_turnActions.find(m_turns);
  if (found != m_turnActions.end()) {
    for (auto& action : found->second) action();
    m_turnActions.erase(found);
  }
}

void HeadlessUi::ProcessMessages() {
  Turn();
  while (!m_queue.empty()) {
    const Message message = m_queue.front();
    m_queue.pop_front();
    Dispatch(message);
  }
}

bool HeadlessUi::PeekMessage() {
  Turn();
  return !m_queue.empty();
}

void HeadlessUi::HandleOneMessage() {
  if (m_queue.empty()) return;
  const Message message = m_queue.front();
  m_queue.pop_front();
  Dispatch(message);
}

void HeadlessUi::PostClick() { m_queue.push_back(Message::Click); }

void HeadlessUi::PostCloseBox() { m_queue.push_back(Message::CloseBox); }

void HeadlessUi::AtTurn(int turn, std::function<void()> action) { m_turnActions[turn].push_back(std::move(action)); }

int64_t HeadlessUi::LongestStretchWithoutTurn(int64_t fromMs, int64_t toMs) const {
  int64_t previous = fromMs;
  int64_t longest = 0;
  for (const int64_t turn : m_turnTimes) {
    longest = std::max(longest, turn - previous);
    previous = turn;
  }
  return std::max(longest, toMs - previous);
}

std::vector<std::string> HeadlessUi::LinesStartingWith(const std::string& prefix) const {
  std::vector<std::string> lines;
  for (const std::string& line : m_log) {
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
  }
  return lines;
}

void HeadlessUi::Dispatch(Message message) {
  switch (message) {
    case Message::Click:
      m_log.push_back("click");
      if (m_listener != nullptr) m_listener->OnCancelClick();
      break;
    case Message::CloseBox:
      m_log.push_back("close");
      Terminate();
      break;
  }
}

}  // namespace platform
