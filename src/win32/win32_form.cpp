#include "win32/win32_form.h"

#include <commctrl.h>
#include <cmath>
#include <shobjidl.h>

#include "win32/dpi.h"
#include "win32/last_error.h"
#include "win32/system_library.h"

namespace zarvelo::win32 {
namespace {

constexpr UINT kRunQueueMessage = WM_APP + 1;
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;
constexpr UINT kWmDpiChanged = 0x02E0;  // WM_DPICHANGED, Windows 8.1+
// CLSID_TaskbarList, spelled out so the program need not link the whole
// GUID library for one class.
constexpr CLSID kTaskbarListClass = {0x56FDF344, 0xFD6D, 0x11d0,
                                     {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};

// "&" in a caption would underline the next letter and vanish.
std::wstring WithoutMnemonics(const std::wstring& text) {
  std::wstring escaped;
  for (wchar_t c : text) {
    escaped += c;
    if (c == L'&') escaped += L'&';
  }
  return escaped;
}

// The font `wanted` describes, sized for `dpi`.
FontHandle PointFont(const FontSpec& wanted, UINT dpi) {
  LOGFONTW font{};
  font.lfHeight = -static_cast<LONG>(std::lround(wanted.points * static_cast<float>(dpi) / 72.0f));
  font.lfWeight = wanted.weight;
  font.lfCharSet = static_cast<BYTE>(wanted.charset);
  font.lfOutPrecision = OUT_DEFAULT_PRECIS;
  font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  font.lfQuality = DEFAULT_QUALITY;
  ::lstrcpynW(font.lfFaceName, wanted.face.c_str(), LF_FACESIZE);
  return FontHandle(::CreateFontIndirectW(&font));
}

bool SameFont(const FontSpec& a, const FontSpec& b) {
  return a.face == b.face && a.points == b.points && a.weight == b.weight && a.charset == b.charset;
}

}  // namespace

Win32Form::Win32Form() = default;

Win32Form::~Win32Form() {
  queue_->Detach();
  window_.reset();
}

Status Win32Form::Create(HINSTANCE instance, const WindowDesign& design, int iconId) {
  instance_ = instance;
  iconId_ = iconId;
  clientWidth_ = design.clientWidth;
  clientHeight_ = design.clientHeight;

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &Win32Form::WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kInstallerWindowClass;
  if (!::RegisterClassExW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    return LastError();

  // Created at its design size for the primary screen's DPI; ApplyDpi fixes
  // the size once the window knows its own DPI. WM_NCCREATE hands the
  // window to window_.
  if (!::CreateWindowExW(kExStyle, kInstallerWindowClass, design.title.c_str(), kStyle,
                         CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, nullptr, nullptr, instance, this))
    return LastError();

  tooltip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                               WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_.get(), nullptr,
                               instance, nullptr);

  for (const ControlDesign& control : design.controls) {
    if (control.kind == ControlKind::InstallButton) {
      firstButtonId_ = control.id;
      const Status added = AddButton(control.text, control.bounds);
      if (!added.ok()) return added;
      continue;
    }
    HWND label = ::CreateWindowExW(0, L"STATIC", control.text.c_str(),
                                   WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0,
                                   window_.get(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)),
                                   instance, nullptr);
    if (!label) return LastError();
    labels_.push_back({label, control.bounds, control.font});
    if (control.id == design.statusLineId) statusLine_ = label;
  }

  ApplyDpi(WindowDpi(window_.get()), nullptr);
  return Status::Ok();
}

Status Win32Form::AddButton(const std::wstring& caption, const TwipRect& bounds) {
  const DWORD visible = buttons_.empty() ? WS_VISIBLE : 0;
  const int controlId = firstButtonId_ + static_cast<int>(buttons_.size());
  HWND button = ::CreateWindowExW(0, L"BUTTON", WithoutMnemonics(caption).c_str(),
                                  WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON | visible, 0, 0, 0, 0,
                                  window_.get(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)),
                                  instance_, nullptr);
  if (!button) return LastError();
  // A new button follows the one before it in tab order.
  if (!buttons_.empty())
    ::SetWindowPos(button, buttons_.back().window, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  buttons_.push_back({button, bounds, FontSpec{}});
  ::SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(defaultFont_.get()), FALSE);
  Place(button, bounds);
  return Status::Ok();
}

int Win32Form::ShowInstallButtons(const std::vector<InstallButton>& column) {
  std::size_t shown = 0;
  for (const InstallButton& wanted : column) {
    if (shown == buttons_.size() && !AddButton(wanted.caption, wanted.bounds).ok()) break;
    Control& button = buttons_[shown];
    ::ShowWindow(button.window, SW_SHOWNA);
    button.bounds = wanted.bounds;
    Place(button.window, button.bounds);
    ::SetWindowTextW(button.window, WithoutMnemonics(wanted.caption).c_str());
    ::EnableWindow(button.window, TRUE);
    if (!wanted.toolTip.empty()) SetToolTip(button.window, wanted.toolTip);
    ++shown;
  }
  return static_cast<int>(shown);
}

void Win32Form::SetInstallButtonsEnabled(bool enabled) {
  for (const Control& button : buttons_) ::EnableWindow(button.window, enabled ? TRUE : FALSE);
  // Disabling the focused button would leave the keyboard nowhere; once the
  // buttons are usable again one takes the focus back.
  if (enabled && ::IsWindowVisible(window_.get())) {
    HWND focus = ::GetFocus();
    if (focus == nullptr || focus == window_.get()) FocusFirstEnabledButton();
  }
}

bool Win32Form::InstallButtonsEnabled() const {
  return ::IsWindowEnabled(buttons_.front().window) != FALSE;
}

void Win32Form::SetToolTip(HWND button, const std::wstring& text) {
  if (!tooltip_) return;
  TOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = window_.get();
  tool.uId = reinterpret_cast<UINT_PTR>(button);
  std::wstring copy = text;
  tool.lpszText = copy.data();
  ::SendMessageW(tooltip_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void Win32Form::SetStatus(const std::wstring& text) {
  if (statusLine_) ::SetWindowTextW(statusLine_, text.c_str());
}

void Win32Form::SetWindowHeight(Twips height) {
  height_ = height;
  RECT rect{};
  ::GetWindowRect(window_.get(), &rect);
  ::SetWindowPos(window_.get(), nullptr, 0, 0, rect.right - rect.left, TwipsToPixels(height, dpi_),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Form::ShowError(const std::wstring& message, const std::wstring& title) {
  ::MessageBoxW(window_.get(), message.c_str(), title.c_str(), MB_OK | MB_ICONSTOP);
}

void Win32Form::Show(int showCommand) {
  RECT rect{};
  ::GetWindowRect(window_.get(), &rect);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (::GetMonitorInfoW(::MonitorFromWindow(window_.get(), MONITOR_DEFAULTTOPRIMARY), &monitor)) {
    const RECT& work = monitor.rcWork;
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    ::SetWindowPos(window_.get(), nullptr, work.left + (work.right - work.left - width) / 2,
                   work.top + (work.bottom - work.top - height) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ::ShowWindow(window_.get(), showCommand);
  ::UpdateWindow(window_.get());
  FocusFirstEnabledButton();
}

int Win32Form::RunMessageLoop() {
  MSG message{};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    // The dialog manager gives Tab, Enter and Space their usual meaning.
    if (window_ && ::IsDialogMessageW(window_.get(), &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

void Win32Form::SetProgress(std::uint64_t received, std::uint64_t total) {
  if (!taskbar_) return;
  if (total == 0) {
    taskbar_->SetProgressState(window_.get(), TBPF_INDETERMINATE);
    return;
  }
  taskbar_->SetProgressState(window_.get(), TBPF_NORMAL);
  taskbar_->SetProgressValue(window_.get(), received, total);
}

void Win32Form::ClearProgress() {
  if (taskbar_) taskbar_->SetProgressState(window_.get(), TBPF_NOPROGRESS);
}

void Win32Form::FocusFirstEnabledButton() {
  for (const Control& button : buttons_) {
    if (::IsWindowEnabled(button.window) && ::IsWindowVisible(button.window)) {
      ::SetFocus(button.window);
      return;
    }
  }
}

void Win32Form::Place(HWND control, const TwipRect& bounds) const {
  ::SetWindowPos(control, nullptr, TwipsToPixels(bounds.left, dpi_), TwipsToPixels(bounds.top, dpi_),
                 TwipsToPixels(bounds.width, dpi_), TwipsToPixels(bounds.height, dpi_),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

HFONT Win32Form::FontFor(const FontSpec& wanted) const {
  if (wanted.face.empty()) return defaultFont_.get();
  for (const auto& [known, font] : customFonts_)
    if (SameFont(known, wanted)) return font.get();
  return defaultFont_.get();
}

void Win32Form::ApplyDpi(UINT dpi, const RECT* suggested) {
  dpi_ = dpi;
  const LOGFONTW messageFont = MessageFont(dpi);
  defaultFont_.reset(::CreateFontIndirectW(&messageFont));
  customFonts_.clear();
  for (const Control& label : labels_)
    if (!label.font.face.empty() && FontFor(label.font) == defaultFont_.get())
      customFonts_.emplace_back(label.font, PointFont(label.font, dpi));
  for (const Control& label : labels_) {
    ::SendMessageW(label.window, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(label.font)), TRUE);
    Place(label.window, label.bounds);
  }
  for (const Control& button : buttons_) {
    ::SendMessageW(button.window, WM_SETFONT, reinterpret_cast<WPARAM>(defaultFont_.get()), TRUE);
    Place(button.window, button.bounds);
  }

  const RECT outer = OuterRectForClient(TwipsToPixels(clientWidth_, dpi),
                                        TwipsToPixels(clientHeight_, dpi), kStyle, kExStyle, dpi);
  const int width = outer.right - outer.left;
  const int height = height_ ? TwipsToPixels(*height_, dpi) : outer.bottom - outer.top;
  RECT current{};
  ::GetWindowRect(window_.get(), &current);
  const POINT origin = suggested ? POINT{suggested->left, suggested->top}
                                 : POINT{current.left, current.top};
  ::SetWindowPos(window_.get(), nullptr, origin.x, origin.y, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);

  const int iconSize = ::MulDiv(32, static_cast<int>(dpi), 96);
  const int smallSize = ::MulDiv(16, static_cast<int>(dpi), 96);
  bigIcon_.reset(static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(iconId_), IMAGE_ICON,
                                                 iconSize, iconSize, 0)));
  smallIcon_.reset(static_cast<HICON>(::LoadImageW(
      instance_, MAKEINTRESOURCEW(iconId_), IMAGE_ICON, smallSize, smallSize, 0)));
  ::SendMessageW(window_.get(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
  ::SendMessageW(window_.get(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
}

LRESULT CALLBACK Win32Form::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<Win32Form*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->window_.reset(window);
    // Per-monitor v1 windows (Windows 10 1607 without v2) need this for a
    // title bar that scales with the window.
    using EnableScalingFn = BOOL(WINAPI*)(HWND);
    if (auto enable = NewerFunction<EnableScalingFn>(::GetModuleHandleW(L"user32.dll"),
                                                     "EnableNonClientDpiScaling"))
      enable(window);
  }
  auto* self = reinterpret_cast<Win32Form*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(window, message, wParam, lParam);
  return self->Handle(message, wParam, lParam);
}

LRESULT Win32Form::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND const window = window_.get();
  switch (message) {
    case WM_CREATE:
      queue_->Attach(window_.get(), kRunQueueMessage);
      taskbarCreatedMessage_ = ::RegisterWindowMessageW(L"TaskbarButtonCreated");
      // Run elevated, the window would not hear from the taskbar, which runs
      // at a lower integrity level, and would show no progress there.
      if (taskbarCreatedMessage_)
        ::ChangeWindowMessageFilterEx(window_.get(), taskbarCreatedMessage_, MSGFLT_ALLOW, nullptr);
      return 0;
    case kRunQueueMessage:
      queue_->RunPending();
      return 0;
    case WM_COMMAND: {
      const int index = LOWORD(wParam) - firstButtonId_;
      if (HIWORD(wParam) == BN_CLICKED && lParam != 0 && index >= 0 &&
          index < static_cast<int>(buttons_.size()) && onInstallRequested_)
        onInstallRequested_(index);
      return 0;
    }
    case DM_GETDEFID: {
      // Enter presses the focused install button.
      HWND focus = ::GetFocus();
      for (std::size_t k = 0; k < buttons_.size(); ++k)
        if (buttons_[k].window == focus)
          return MAKELRESULT(firstButtonId_ + static_cast<int>(k), DC_HASDEFID);
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        lastFocus_ = ::GetFocus();
      } else if (lastFocus_ && ::IsWindowEnabled(lastFocus_) && ::IsChild(window_.get(), lastFocus_)) {
        ::SetFocus(lastFocus_);
      } else {
        FocusFirstEnabledButton();
      }
      return 0;
    case kWmDpiChanged:
      ApplyDpi(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_DESTROY:
      queue_->Detach();
      taskbar_.reset();
      ::PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      // The window is gone, whoever destroyed it.
      (void)window_.release();
      break;
    default:
      if (message == taskbarCreatedMessage_ && taskbarCreatedMessage_ != 0) {
        if (SUCCEEDED(::CoCreateInstance(kTaskbarListClass, nullptr, CLSCTX_INPROC_SERVER,
                                         __uuidof(ITaskbarList3),
                                         reinterpret_cast<void**>(taskbar_.put()))) &&
            FAILED(taskbar_->HrInit()))
          taskbar_.reset();
        return 0;
      }
      break;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace zarvelo::win32
