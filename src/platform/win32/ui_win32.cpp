#include "platform/win32/ui_win32.h"

#include <windows.h>
#include <commctrl.h>

// <windows.h> maps these names onto its "A"/"W" functions; here they are the interface's own methods.
#undef CreateWindow
#undef PeekMessage

#include <algorithm>
#include <vector>

#include "platform/default_ui.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

const wchar_t kMainWindowClass[] = L"UpdaterMainWindow";
const wchar_t kFlatButtonClass[] = L"UpdaterFlatButton";
constexpr UINT_PTR kTimerId = 1;
constexpr int kButtonId = 100;
constexpr int kLabelId = 101;
constexpr int kProgressBarId = 102;
constexpr DWORD kMainStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
// A dialog frame without an icon, shown on the task bar although it is a dialog.
constexpr DWORD kMainExStyle = WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW;


std::wstring WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return std::wstring();
  std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
  const int copied = GetWindowTextW(window, buffer.data(), length + 1);
  return std::wstring(buffer.data(), static_cast<size_t>(copied > 0 ? copied : 0));
}

// The flat button: no border until the pointer is over it, raised while hot, lowered while pressed; a click
// is a press and a release inside it. It never takes the keyboard focus, so a click cannot move the focus
// away from where the user left it.
struct FlatButton {
  HFONT font = nullptr;
  HBRUSH background = nullptr;
  COLORREF textColor = 0;
  bool hot = false;
  bool pressed = false;
};

bool ContainsPoint(HWND window, LPARAM lParam) {
  RECT client;
  GetClientRect(window, &client);
  const POINT point = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  return PtInRect(&client, point) != 0;
}

void PaintFlatButton(HWND window, const FlatButton& button) {
  PAINTSTRUCT paint;
  const HDC dc = BeginPaint(window, &paint);
  RECT rect;
  GetClientRect(window, &rect);
  FillRect(dc, &rect, button.background);
  if (button.pressed && button.hot) {
    DrawEdge(dc, &rect, BDR_SUNKENOUTER, BF_RECT);
  } else if (button.hot || button.pressed) {
    DrawEdge(dc, &rect, BDR_RAISEDINNER, BF_RECT);
  }
  RECT textRect = rect;
  if (button.pressed && button.hot) OffsetRect(&textRect, 1, 1);
  const HGDIOBJ oldFont = SelectObject(dc, button.font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, button.textColor);
  const std::wstring text = WindowText(window);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textRect,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, oldFont);
  EndPaint(window, &paint);
}

LRESULT CALLBACK FlatButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* button = reinterpret_cast<FlatButton*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_NCCREATE: {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      break;
    }
    case WM_NCDESTROY:
      delete button;
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
    case WM_ERASEBKGND: return 1;
    case WM_PAINT:
      if (button == nullptr) break;
      PaintFlatButton(window, *button);
      return 0;
    case WM_MOUSEMOVE: {
      if (button == nullptr) break;
      const bool inside = ContainsPoint(window, lParam);
      if (inside && !button->hot) {
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, window, 0};
        TrackMouseEvent(&track);
      }
      if (inside != button->hot) {
        button->hot = inside;
        InvalidateRect(window, nullptr, FALSE);
      }
      return 0;
    }
    case WM_MOUSELEAVE:
      if (button == nullptr) break;
      if (!button->pressed) {
        button->hot = false;
        InvalidateRect(window, nullptr, FALSE);
      }
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      if (button == nullptr) break;
      button->pressed = true;
      button->hot = true;
      SetCapture(window);
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    case WM_LBUTTONUP: {
      if (button == nullptr || !button->pressed) return 0;
      const bool inside = ContainsPoint(window, lParam);
      button->pressed = false;
      button->hot = inside;
      ReleaseCapture();
      InvalidateRect(window, nullptr, FALSE);
      if (inside) {
        SendMessageW(GetParent(window), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(window), BN_CLICKED),
                     reinterpret_cast<LPARAM>(window));
      }
      return 0;
    }
    case WM_CAPTURECHANGED:
      if (button != nullptr && button->pressed) {
        button->pressed = false;
        button->hot = false;
        InvalidateRect(window, nullptr, FALSE);
      }
      return 0;
    default: break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* ui = reinterpret_cast<Win32Ui*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (ui == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  return ui->HandleWindowMessage(window, message, wParam, lParam);
}

void RegisterClasses() {
  static const bool registered = [] {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW main = {};
    main.cbSize = sizeof main;
    main.lpfnWndProc = MainWindowProc;
    main.hInstance = instance;
    main.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    main.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    main.lpszClassName = kMainWindowClass;
    RegisterClassExW(&main);
    WNDCLASSEXW button = {};
    button.cbSize = sizeof button;
    button.style = CS_HREDRAW | CS_VREDRAW;
    button.lpfnWndProc = FlatButtonProc;
    button.hInstance = instance;
    button.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    button.lpszClassName = kFlatButtonClass;
    RegisterClassExW(&button);
    return true;
  }();
  (void)registered;
}

HWND ChildWindow(const wchar_t* className, const std::wstring& text, DWORD style, const ControlRect& rect, int id,
                 HWND parent, void* parameter = nullptr) {
  return CreateWindowExW(0, className, text.c_str(), WS_CHILD | WS_VISIBLE | style, rect.left, rect.top, rect.width,
                         rect.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         GetModuleHandleW(nullptr), parameter);
}

}  // namespace

Win32Ui::~Win32Ui() {
  if (m_window != nullptr) DestroyWindow(m_window);
  if (m_font != nullptr) DeleteObject(m_font);
  if (m_background != nullptr) DeleteObject(m_background);
}

void Win32Ui::CreateWindow(const WindowLayout& layout, UiListener& listener) {
  RegisterClasses();
  m_listener = &listener;
  m_bevel = layout.bevel;
  m_buttonTextColor = layout.buttonTextColor;
  m_background = CreateSolidBrush(layout.backgroundColor);
  m_font = CreateFontW(layout.fontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       static_cast<DWORD>(layout.fontCharset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, Utf8ToWide(layout.fontName).c_str());

  RECT frame = {0, 0, layout.clientWidth, layout.clientHeight};
  AdjustWindowRectEx(&frame, kMainStyle, FALSE, kMainExStyle);
  m_window = CreateWindowExW(kMainExStyle, kMainWindowClass, Utf8ToWide(layout.caption).c_str(), kMainStyle,
                             CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                             nullptr, nullptr, GetModuleHandleW(nullptr), this);
  // Without a window system (Wine with no display driver) there is no window: every later call does nothing.
  if (m_window == nullptr) return;

  auto* button = new FlatButton{m_font, m_background, m_buttonTextColor};
  m_button = ChildWindow(kFlatButtonClass, Utf8ToWide(layout.buttonCaption), 0, layout.button, kButtonId, m_window, button);
  if (m_button == nullptr) delete button;  // WM_NCDESTROY owns it only once the window exists
  m_label = ChildWindow(L"STATIC", Utf8ToWide(layout.labelCaption), SS_LEFTNOWORDWRAP | SS_NOPREFIX, layout.label,
                        kLabelId, m_window);
  SendMessageW(m_label, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
  ResizeLabelToText();
  m_progressBar = ChildWindow(PROGRESS_CLASSW, std::wstring(), 0, layout.progressBar, kProgressBarId, m_window);
  m_barWidth = layout.progressBar.width;
  SetProgress(layout.progressMin, layout.progressMax, layout.progressPosition);
}

WindowHandle Win32Ui::Handle() const { return m_window; }

void Win32Ui::ShowCentred() {
  if (m_window == nullptr) return;
  RECT frame;
  GetWindowRect(m_window, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  SetWindowPos(m_window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(m_window, SW_SHOWNORMAL);
  UpdateWindow(m_window);
}

void Win32Ui::SetCaption(const std::string& text) {
  if (m_window != nullptr) SetWindowTextW(m_window, Utf8ToWide(text).c_str());
}

std::string Win32Ui::Caption() const { return m_window != nullptr ? WideToUtf8(WindowText(m_window)) : std::string(); }

void Win32Ui::SetApplicationTitle(const std::string& text) { m_applicationTitle = text; }

void Win32Ui::SetLabelText(const std::string& text) {
  if (m_label == nullptr) return;
  SetWindowTextW(m_label, Utf8ToWide(text).c_str());
  ResizeLabelToText();
}

// The label sizes itself to its one line of text, as the layout's label does (its stored size is that of its
// first text), so that a longer status text is not cut off.
void Win32Ui::ResizeLabelToText() {
  const std::wstring text = WindowText(m_label);
  const HDC dc = GetDC(m_label);
  const HGDIOBJ oldFont = SelectObject(dc, m_font);
  SIZE extent = {0, 0};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  SelectObject(dc, oldFont);
  ReleaseDC(m_label, dc);
  SetWindowPos(m_label, nullptr, 0, 0, extent.cx, extent.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Ui::SetProgress(int minimum, int maximum, int position) {
  if (m_progressBar == nullptr) return;
  // The control repaints itself at once for every new position, and the download hands it one per received
  // piece: thousands a second, where a repaint costs more than the piece (under Wine it goes out to the X
  // server). It is told a range only when that changes, and a position only when the bar would draw it
  // differently, at most once per pixel column of its width.
  const bool newRange = minimum != m_barMinimum || maximum != m_barMaximum;
  if (newRange) {
    SendMessageW(m_progressBar, PBM_SETRANGE32, static_cast<WPARAM>(minimum), static_cast<LPARAM>(maximum));
    m_barMinimum = minimum;
    m_barMaximum = maximum;
  }
  int64_t column = 0;
  if (maximum > minimum) {
    const int64_t shown = std::clamp<int64_t>(position, minimum, maximum) - minimum;
    column = shown * m_barWidth / (int64_t{maximum} - minimum);
  }
  if (newRange || column != m_barColumn) {
    SendMessageW(m_progressBar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    m_barColumn = column;
  }
}

void Win32Ui::SetTimer(int intervalMilliseconds) {
  if (m_window == nullptr) return;
  if (intervalMilliseconds > 0) {
    // Setting an existing timer again restarts it with the new interval.
    ::SetTimer(m_window, kTimerId, static_cast<UINT>(intervalMilliseconds), nullptr);
    m_timerRunning = true;
  } else if (m_timerRunning) {
    KillTimer(m_window, kTimerId);
    m_timerRunning = false;
  }
}

void Win32Ui::RunMessageLoop() {
  MSG message;
  while (!m_terminateRequested) {
    const BOOL result = GetMessageW(&message, nullptr, 0, 0);
    if (result == 0 || result == -1) {
      // WM_QUIT from elsewhere in the process, or no queue left: nothing more can arrive.
      m_terminateRequested = true;
      break;
    }
    // A request taken while waiting ends the loop before anything else is dispatched.
    if (m_terminateRequested) break;
    TranslateMessage(&message);
    DispatchMessageW(&message);
    m_listenerException.RaisePending();
  }
}

void Win32Ui::Terminate() {
  m_terminateRequested = true;
  // Wakes a loop that is waiting in GetMessage; the loop sees the flag before it dispatches anything.
  if (m_window != nullptr) {
    PostMessageW(m_window, WM_NULL, 0, 0);
  } else {
    PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
  }
}

void Win32Ui::ShowMessage(WindowHandle owner, const std::string& text, const std::string& caption,
                          MessageIcon icon) {
  const UINT iconFlag = icon == MessageIcon::Information ? MB_ICONINFORMATION : MB_ICONERROR;
  MessageBoxW(static_cast<HWND>(owner), Utf8ToWide(text).c_str(), Utf8ToWide(caption).c_str(), MB_OK | iconFlag);
}

bool Win32Ui::ConfirmYesNo(WindowHandle owner, const std::string& text, const std::string& caption) {
  return MessageBoxW(static_cast<HWND>(owner), Utf8ToWide(text).c_str(), Utf8ToWide(caption).c_str(),
                     MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void Win32Ui::ProcessMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      m_terminateRequested = true;
      break;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
    m_listenerException.RaisePending();
  }
}

bool Win32Ui::PeekMessage() {
  MSG message;
  return PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE) != 0;
}

void Win32Ui::HandleOneMessage() {
  MSG message;
  if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) return;
  if (message.message == WM_QUIT) {
    m_terminateRequested = true;
    return;
  }
  TranslateMessage(&message);
  DispatchMessageW(&message);
  m_listenerException.RaisePending();
}

void Win32Ui::Paint(HWND__* window) {
  PAINTSTRUCT paint;
  const HDC dc = BeginPaint(window, &paint);
  RECT bevel = {m_bevel.left, m_bevel.top, m_bevel.left + m_bevel.width, m_bevel.top + m_bevel.height};
  DrawEdge(dc, &bevel, BDR_SUNKENOUTER, BF_RECT);
  EndPaint(window, &paint);
}

intptr_t Win32Ui::HandleWindowMessage(WindowHandle handle, unsigned message, uintptr_t wParam, intptr_t lParam) {
  const HWND window = static_cast<HWND>(handle);
  switch (message) {
    case WM_ERASEBKGND: {
      RECT client;
      GetClientRect(window, &client);
      FillRect(reinterpret_cast<HDC>(wParam), &client, m_background);
      return 1;
    }
    case WM_PAINT:
      Paint(window);
      return 0;
    case WM_CTLCOLORSTATIC: {
      const HDC dc = reinterpret_cast<HDC>(wParam);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      return reinterpret_cast<intptr_t>(m_background);
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == kButtonId && HIWORD(wParam) == BN_CLICKED && m_listener != nullptr) {
        m_listenerException.Run([this] { m_listener->OnCancelClick(); });
        return 0;
      }
      break;
    case WM_TIMER:
      // WM_TIMER is only generated when no other message is queued; a pending terminate request also
      // holds the tick back.
      if (wParam == kTimerId && !m_terminateRequested && m_listener != nullptr) {
        m_listenerException.Run([this] { m_listener->OnTimer(); });
      }
      return 0;
    case WM_CLOSE:
      // The close box asks the loop to end; the window stays as it is until the program is done with it.
      Terminate();
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      m_window = nullptr;
      m_label = nullptr;
      m_progressBar = nullptr;
      m_button = nullptr;
      break;
    default: break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

std::unique_ptr<Ui> CreateDefaultUi() { return std::make_unique<Win32Ui>(); }

}  // namespace platform
