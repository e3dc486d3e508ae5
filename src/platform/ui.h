#pragma once
// The user-interface operations the updater's logic needs: one small window with a label, a progress bar and
// a cancel button, a timer, the message loop with nested message processing, and modal message boxes.
// Texts cross this boundary as UTF-8. Backends: win32 (Windows), gtk and console (Linux), headless (tests).
#include <cstdint>
#include <string>

namespace platform {

// What idle processing needs while a blocking wait runs on the user-interface thread.
class MessagePump {
 public:
  virtual ~MessagePump() = default;
  // Dispatches every pending message (paint, input, clicks), then returns without waiting.
  virtual void ProcessMessages() = 0;
  // Tells whether a message is waiting, without removing it.
  virtual bool PeekMessage() = 0;
  // Takes and dispatches exactly one message (none when the queue is empty).
  virtual void HandleOneMessage() = 0;
};

struct ControlRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// The stored layout of the window; the values are the form's and are not scaled to the screen.
struct WindowLayout {
  std::string caption;         // UTF-8
  int clientWidth = 0;
  int clientHeight = 0;
  uint32_t backgroundColor = 0;  // 0x00BBGGRR
  std::string fontName;        // UTF-8
  int fontCharset = 0;
  int fontHeight = 0;          // negative: character height in pixels
  ControlRect bevel;
  ControlRect button;
  std::string buttonCaption;   // UTF-8
  uint32_t buttonTextColor = 0;  // 0x00BBGGRR
  ControlRect label;
  std::string labelCaption;    // UTF-8
  ControlRect progressBar;
  int progressMin = 0;
  int progressMax = 0;
  int progressPosition = 0;
};

// The window's handlers; the backend calls them from dispatched messages.
class UiListener {
 public:
  virtual ~UiListener() = default;
  virtual void OnTimer() = 0;
  virtual void OnCancelClick() = 0;
};

enum class MessageIcon { Information, Error };

// The native window that owns message boxes; it exists while the window is still hidden.
using WindowHandle = void*;

class Ui : public MessagePump {
 public:
  // Builds the window from the layout, hidden. The listener must outlive the window.
  virtual void CreateWindow(const WindowLayout& layout, UiListener& listener) = 0;
  virtual WindowHandle Handle() const = 0;
  // Makes the window visible, non-modal, centred on the screen.
  virtual void ShowCentred() = 0;
  virtual void SetCaption(const std::string& text) = 0;
  virtual std::string Caption() const = 0;
  // The name under which the system shows the program (task bar).
  virtual void SetApplicationTitle(const std::string& text) = 0;
  virtual void SetLabelText(const std::string& text) = 0;
  // Shows the bar (minimum <= maximum) at the position clamped into its range. The position comes unclamped:
  // with a maximum of 0 (a transfer of unannounced size) it is the count of bytes received, which a front end
  // that draws text shows instead of the empty bar.
  virtual void SetProgress(int minimum, int maximum, int position) = 0;
  // Delivers OnTimer every interval milliseconds from the message loop, only when no other message and no
  // terminate request is pending; 0 stops the timer.
  virtual void SetTimer(int intervalMilliseconds) = 0;
  // Dispatches messages until a terminate request is taken, then returns.
  virtual void RunMessageLoop() = 0;
  // Marks the message loop to end at its next turn; returns at once. The close box does the same.
  virtual void Terminate() = 0;
  virtual bool TerminateRequested() const = 0;
  // Modal box with the owner, text, caption, an OK button and the icon; returns when confirmed.
  virtual void ShowMessage(WindowHandle owner, const std::string& text, const std::string& caption,
                           MessageIcon icon) = 0;
  // One line of cause under a failure box just shown, where the front end has room for it (the console). The
  // windowed front ends keep their boxes' fixed texts and leave the cause to the run's log.
  virtual void ShowCause(const std::string& /*text*/) {}
  // Modal confirmation with Yes and No; true for Yes.
  virtual bool ConfirmYesNo(WindowHandle owner, const std::string& text, const std::string& caption) = 0;
};

}  // namespace platform
