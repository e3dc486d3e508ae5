#include "platform/console/console_ui.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "platform/clock.h"
#include "platform/threads.h"

namespace platform {
namespace {

volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

int g_windowToken = 0;

// The loop sleeps in short steps so that Ctrl+C and the timer are served promptly.
constexpr int kLoopStepMs = 20;
// Redrawing the progress line more often than this only costs time.
constexpr int64_t kRedrawIntervalMs = 100;

std::string Megabytes(double bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", bytes / 1048576.0);
  return text;
}

}  // namespace

ConsoleUi::ConsoleUi() : m_terminal(isatty(STDERR_FILENO) != 0) {}

ConsoleUi::~ConsoleUi() {
  EndProgressLine();
  signal(SIGINT, SIG_DFL);
}

void ConsoleUi::CreateWindow(const WindowLayout& layout, UiListener& listener) {
  m_listener = &listener;
  m_caption = layout.caption;
  m_label = layout.labelCaption;
  m_progressMax = layout.progressMax;
  m_progressPosition = layout.progressPosition;
  g_interrupted = 0;
  struct sigaction action{};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
}

WindowHandle ConsoleUi::Handle() const { return m_listener != nullptr ? &g_windowToken : nullptr; }

void ConsoleUi::ShowCentred() {
  m_visible = true;
  std::cerr << m_caption << ": " << m_label << std::endl;
}

void ConsoleUi::SetLabelText(const std::string& text) {
  m_label = text;
  if (!m_visible) return;
  EndProgressLine();
  std::cerr << m_label << std::endl;
}

void ConsoleUi::SetProgress(int /*minimum*/, int maximum, int position) {
  if (maximum != m_progressMax || position < m_progressPosition) m_progressStartMs = MonotonicMilliseconds();
  m_progressMax = maximum;
  // Unclamped: without a known size the line shows the bytes received, not the empty bar's 0.
  m_progressPosition = position;
  // Only the end of a known size is drawn at once; every other piece waits for the redraw interval, so a
  // body of unknown size does not redraw the line for every piece.
  DrawProgressLine(maximum > 0 && position >= maximum);
}

void ConsoleUi::DrawProgressLine(bool force) {
  if (!m_terminal || !m_visible) return;
  // Without a known size a position of 0 has nothing to tell: the bar is set to it before the first byte and
  // at the end (its maximum), and the line keeps the bytes it last showed.
  if (m_progressMax <= 0 && m_progressPosition <= 0) return;
  const int64_t now = MonotonicMilliseconds();
  if (!force && now - m_lastDrawMs < kRedrawIntervalMs) return;
  m_lastDrawMs = now;
  const double seconds = m_progressStartMs < 0 ? 0 : static_cast<double>(now - m_progressStartMs) / 1000.0;
  std::string line = "\r";
  if (m_progressMax > 0) {
    const int shown = std::clamp(m_progressPosition, 0, m_progressMax);
    line += std::to_string(static_cast<int64_t>(shown) * 100 / m_progressMax) + "%  ";
    line += Megabytes(shown) + " / " + Megabytes(m_progressMax);
  } else {
    line += Megabytes(m_progressPosition);
  }
  if (seconds > 0.2) line += "  " + Megabytes(m_progressPosition / seconds) + "/s";
  line += "\x1b[K";
  std::cerr << line << std::flush;
  m_progressLineOpen = true;
}

void ConsoleUi::EndProgressLine() {
  if (!m_progressLineOpen) return;
  std::cerr << std::endl;
  m_progressLineOpen = false;
}

void ConsoleUi::SetTimer(int intervalMilliseconds) {
  m_timerInterval = intervalMilliseconds;
  m_nextTickMs = MonotonicMilliseconds() + intervalMilliseconds;
}

void ConsoleUi::RunMessageLoop() {
  while (!m_terminateRequested) {
    if (g_interrupted != 0) {
      DispatchInterrupt();
      continue;
    }
    const int64_t now = MonotonicMilliseconds();
    if (m_timerInterval > 0 && now >= m_nextTickMs) {
      m_nextTickMs = now + m_timerInterval;
      if (m_listener != nullptr) m_listener->OnTimer();
      continue;
    }
    int64_t wait = kLoopStepMs;
    if (m_timerInterval > 0 && m_nextTickMs - now < wait) wait = m_nextTickMs - now;
    SleepMilliseconds(static_cast<int>(wait));
  }
  EndProgressLine();
}

void ConsoleUi::ShowMessage(WindowHandle /*owner*/, const std::string& text, const std::string& caption,
                            MessageIcon icon) {
  EndProgressLine();
  std::cerr << caption << (icon == MessageIcon::Error ? " [error]: " : ": ") << text << std::endl;
}

void ConsoleUi::ShowCause(const std::string& text) {
  EndProgressLine();
  std::cerr << "cause: " << text << std::endl;
}

bool ConsoleUi::ConfirmYesNo(WindowHandle /*owner*/, const std::string& text, const std::string& caption) {
  EndProgressLine();
  if (isatty(STDIN_FILENO) == 0) {
    std::cerr << caption << ": " << text << " [yes]" << std::endl;
    return true;
  }
  for (;;) {
    std::cerr << caption << ": " << text << " (y/n) " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    if (answer == "y" || answer == "Y" || answer == "yes") return true;
    if (answer == "n" || answer == "N" || answer == "no") return false;
  }
}

void ConsoleUi::ProcessMessages() {
  if (g_interrupted != 0) DispatchInterrupt();
}

bool ConsoleUi::PeekMessage() { return g_interrupted != 0; }

void ConsoleUi::HandleOneMessage() { ProcessMessages(); }

void ConsoleUi::DispatchInterrupt() {
  g_interrupted = 0;
  EndProgressLine();
  if (m_listener != nullptr) m_listener->OnCancelClick();
}

}  // namespace platform
