#include "windows/installer_session.h"

#include <algorithm>
#include <cstdlib>

#include <commctrl.h>

#include "ui/installer_layout.h"

namespace zarvelo::uitest {
namespace {

// A cold Wine prefix takes its time to start a process.
constexpr DWORD kStartTimeoutMs = 30000;

}  // namespace

UINT ScreenDpi() {
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  return static_cast<UINT>(dpi);
}

UINT RequestedDpi() {
  const char* requested = std::getenv("ZARVELO_TEST_DPI");
  return requested ? static_cast<UINT>(std::atoi(requested)) : 96;
}

std::wstring InstallerPath() {
  wchar_t path[32768] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"ZARVELO_INSTALLER", path, 32768);
  if (length > 0 && length < 32768) return path;
  return FromUnixPath(ZARVELO_INSTALLER_UNIX_PATH);
}

std::wstring InstallerWithTestKeyPath() {
  return FromUnixPath(ZARVELO_INSTALLER_WITH_TEST_KEY_UNIX_PATH);
}

TestProfile::TestProfile(const std::vector<std::wstring>& versions, const std::wstring& userName)
    : root_(L"zarvelo-test"), user_(root_.path() + L"\\Users\\" + userName),
      temp_(user_ + L"\\AppData\\Local\\Temp") {
  MakeFolders(temp_);
  for (const std::wstring& version : versions) MakeFolders(corel() + L"\\" + version + L"\\Draw");
}

InstallerSession::InstallerSession(const TestProfile& profile, const std::wstring& exe,
                                   const std::map<std::wstring, std::wstring>& environment) {
  std::map<std::wstring, std::wstring> variables = {{L"USERPROFILE", profile.user()},
                                                    {L"TEMP", profile.temp()}};
  for (const auto& [name, value] : environment) variables[name] = value;
  if (process_.Start(exe, variables)) window_ = process_.WaitForWindow(kStartTimeoutMs);
}

std::vector<Control> InstallerSession::Buttons() const {
  std::vector<Control> buttons;
  for (const Control& control : Children(window_))
    if (control.id >= kFirstInstallButtonId) buttons.push_back(control);
  std::sort(buttons.begin(), buttons.end(),
            [](const Control& a, const Control& b) { return a.rect.top < b.rect.top; });
  return buttons;
}

Control InstallerSession::Button(const std::wstring& caption) const {
  for (const Control& button : Buttons())
    if (button.text == caption) return button;
  return {};
}

std::wstring InstallerSession::Status() const {
  return WindowText(::GetDlgItem(window_, kStatusLineId));
}

HWND InstallerSession::Focused() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return ::GetGUIThreadInfo(::GetWindowThreadProcessId(window_, nullptr), &info) ? info.hwndFocus
                                                                                 : nullptr;
}

bool InstallerSession::WaitForStatus(const std::wstring& status, DWORD timeoutMs) const {
  return WaitUntil([&] { return Status() == status || !process_.Running(); }, timeoutMs) &&
         Status() == status;
}

bool InstallerSession::AnyButtonEnabled() const {
  const std::vector<Control> buttons = Buttons();
  return std::any_of(buttons.begin(), buttons.end(), [](const Control& b) { return b.enabled; });
}

bool InstallerSession::AllButtonsEnabled() const {
  const std::vector<Control> buttons = Buttons();
  return std::all_of(buttons.begin(), buttons.end(), [](const Control& b) { return b.enabled; });
}

int InstallerSession::ToolTipCount() const {
  struct Search {
    HWND owner;
    HWND found;
  } search{window_, nullptr};
  ::EnumWindows(
      [](HWND window, LPARAM parameter) -> BOOL {
        auto* s = reinterpret_cast<Search*>(parameter);
        if (ClassName(window) != TOOLTIPS_CLASSW || ::GetWindow(window, GW_OWNER) != s->owner)
          return TRUE;
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found ? static_cast<int>(::SendMessageW(search.found, TTM_GETTOOLCOUNT, 0, 0)) : -1;
}

}  // namespace zarvelo::uitest
