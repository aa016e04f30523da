// The installer window as real Win32: a fixed-size top-level window with
// static labels, a column of push buttons with tooltips, a message box,
// taskbar progress, and a layout in twips that follows the window's DPI.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/installer_view.h"
#include "win32/handles.h"
#include "win32/ui_queue.h"

struct ITaskbarList3;

namespace zarvelo::win32 {

// The installer window's class name; a second start finds the first one's
// window by it.
inline constexpr wchar_t kInstallerWindowClass[] = L"ZarveloInstallerWindow";

class Win32Form : public InstallerView {
 public:
  Win32Form();
  ~Win32Form() override;
  Win32Form(const Win32Form&) = delete;
  Win32Form& operator=(const Win32Form&) = delete;

  // Creates the window, hidden, with the controls of `design`.
  Status Create(HINSTANCE instance, const WindowDesign& design, int iconId);
  // Centres the window on its screen, shows it and focuses the first enabled
  // button.
  void Show(int showCommand);
  // Pumps messages until the window is closed; returns the exit code.
  int RunMessageLoop();

  // A press of install button k asks to install version k.
  void OnInstallRequested(std::function<void(int version)> handler) {
    onInstallRequested_ = std::move(handler);
  }
  std::shared_ptr<UiQueue> queue() const { return queue_; }
  // Download progress on the taskbar button; total 0 means unknown.
  void SetProgress(std::uint64_t received, std::uint64_t total);
  void ClearProgress();

  HWND window() const { return window_.get(); }

  // InstallerView
  int ShowInstallButtons(const std::vector<InstallButton>& column) override;
  void SetInstallButtonsEnabled(bool enabled) override;
  bool InstallButtonsEnabled() const override;
  void SetStatus(const std::wstring& text) override;
  void SetWindowHeight(Twips height) override;
  void ShowError(const std::wstring& message, const std::wstring& title) override;

 private:
  // A label or button; the window destroys them with itself.
  struct Control {
    HWND window;
    TwipRect bounds;
    FontSpec font;
  };

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void ApplyDpi(UINT dpi, const RECT* suggested);
  void Place(HWND control, const TwipRect& bounds) const;
  HFONT FontFor(const FontSpec& wanted) const;
  void FocusFirstEnabledButton();
  Status AddButton(const std::wstring& caption, const TwipRect& bounds);
  void SetToolTip(HWND button, const std::wstring& text);

  HINSTANCE instance_ = nullptr;
  WindowHandle window_;
  HWND tooltip_ = nullptr;
  HWND lastFocus_ = nullptr;
  UINT dpi_ = 96;
  Twips clientWidth_ = 0, clientHeight_ = 0;
  std::optional<Twips> height_;
  FontHandle defaultFont_;
  std::vector<std::pair<FontSpec, FontHandle>> customFonts_;
  IconHandle bigIcon_, smallIcon_;
  int iconId_ = 0;
  std::vector<Control> labels_;
  std::vector<Control> buttons_;  // the install column, in tab order
  HWND statusLine_ = nullptr;
  int firstButtonId_ = 0;
  std::function<void(int)> onInstallRequested_;
  std::shared_ptr<UiQueue> queue_ = std::make_shared<UiQueue>();
  UINT taskbarCreatedMessage_ = 0;
  ComPtr<ITaskbarList3> taskbar_;
};

}  // namespace zarvelo::win32
