// The installer window as real Win32: a fixed-size top-level window with
// static labels, push buttons with tooltips, a message box, taskbar
// progress, and layout in twips that follows the window's DPI.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/form.h"
#include "platform/win32/handles.h"
#include "platform/win32/ui_queue.h"

struct ITaskbarList3;

namespace zarvelo::win32 {

// The installer window's class name; a second start finds the first one's
// window by it.
inline constexpr wchar_t kInstallerWindowClass[] = L"ZarveloInstallerWindow";

class Win32Form;

class Win32Button : public CommandButton {
 public:
  Win32Button(Win32Form& form, int index, HWND window, const std::wstring& caption,
              const TwipRect& bounds);

  TwipRect Bounds() const override { return bounds_; }
  void SetBounds(const TwipRect& rect) override;
  void SetCaption(const std::wstring& caption) override;
  std::wstring Tag() const override { return tag_; }
  void SetTag(const std::wstring& tag) override { tag_ = tag; }
  bool Enabled() const override;
  void SetEnabled(bool enabled) override;
  void SetVisible(bool visible) override;
  void SetToolTip(const std::wstring& text) override;

  HWND window() const { return window_; }
  int index() const { return index_; }
  const std::wstring& caption() const { return caption_; }

 private:
  Win32Form& form_;
  int index_;
  HWND window_;
  std::wstring caption_;
  TwipRect bounds_;
  std::wstring tag_;
};

class Win32Form : public Form {
 public:
  Win32Form();
  ~Win32Form() override;
  Win32Form(const Win32Form&) = delete;
  Win32Form& operator=(const Win32Form&) = delete;

  // Creates the window, hidden, with the controls of `design`.
  Status Create(HINSTANCE instance, const FormDesign& design, int iconId);
  // Centres the window on its screen, shows it and focuses the first enabled
  // button.
  void Show(int showCommand);
  // Pumps messages until the window is closed; returns the exit code.
  int RunMessageLoop();

  void OnClick(std::function<void(int index)> handler) { onClick_ = std::move(handler); }
  std::shared_ptr<UiQueue> queue() const { return queue_; }
  // Download progress on the taskbar button; total 0 means unknown.
  void SetProgress(std::uint64_t received, std::uint64_t total);
  void ClearProgress();

  HWND window() const { return window_; }

  // Form
  int UBound() const override { return static_cast<int>(buttons_.size()) - 1; }
  CommandButton& cmdDownloadInstall(int index) override { return *buttons_.at(index); }
  Status LoadButton(int index) override;
  void SetDetail(const std::wstring& caption) override;
  void SetHeight(float twips) override;
  void MsgBox(const std::wstring& prompt, const std::wstring& title) override;

 private:
  friend class Win32Button;
  struct Label {
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
  Status AddButton(int index, const std::wstring& caption, const TwipRect& bounds);

  HINSTANCE instance_ = nullptr;
  HWND window_ = nullptr;
  HWND tooltip_ = nullptr;
  HWND lastFocus_ = nullptr;
  UINT dpi_ = 96;
  float clientWidth_ = 0, clientHeight_ = 0;
  std::optional<float> heightTwips_;
  FontHandle defaultFont_;
  std::vector<std::pair<FontSpec, FontHandle>> customFonts_;
  IconHandle bigIcon_, smallIcon_;
  int iconId_ = 0;
  std::vector<Label> labels_;
  std::vector<std::unique_ptr<Win32Button>> buttons_;
  HWND lblDetail_ = nullptr;
  int buttonBaseId_ = 0;
  std::function<void(int)> onClick_;
  std::shared_ptr<UiQueue> queue_ = std::make_shared<UiQueue>();
  UINT taskbarCreatedMessage_ = 0;
  ComPtr<ITaskbarList3> taskbar_;
};

}  // namespace zarvelo::win32
