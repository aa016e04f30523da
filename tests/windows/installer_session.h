// A throwaway user profile with CorelDRAW folders, and the real installer
// started on it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "windows/ui_automation.h"

namespace zarvelo::uitest {

// The DPI this Wine prefix runs at, and the one the test run asked for
// (ZARVELO_TEST_DPI, default 96).
UINT ScreenDpi();
UINT RequestedDpi();

// The installer under test: ZARVELO_INSTALLER when set (a Windows path),
// else the one built beside the tests.
std::wstring InstallerPath();
// The same installer built with the tests' publisher key.
std::wstring InstallerWithTestKeyPath();

class TestProfile {
 public:
  explicit TestProfile(const std::vector<std::wstring>& versions,
                       const std::wstring& userName = L"张伟");
  const std::wstring& user() const { return user_; }
  const std::wstring& temp() const { return temp_; }
  std::wstring corel() const { return user_ + L"\\AppData\\Roaming\\Corel"; }
  std::wstring gms(const std::wstring& version) const {
    return corel() + L"\\" + version + L"\\Draw\\GMS";
  }
  std::wstring plugin(const std::wstring& version) const {
    return gms(version) + L"\\ZarveloVector.gms";
  }
  std::wstring download() const { return temp_ + L"\\Zarvelo_CDRplugin.gip"; }

 private:
  ScratchFolder root_;
  std::wstring user_, temp_;
};

class InstallerSession {
 public:
  // Started with the profile's USERPROFILE and TEMP, then `environment`'s
  // changes (a value of L"" removes the variable).
  explicit InstallerSession(const TestProfile& profile, const std::wstring& exe = InstallerPath(),
                            const std::map<std::wstring, std::wstring>& environment = {});
  HWND window() const { return window_; }
  InstallerProcess& process() { return process_; }

  // The install buttons, top to bottom.
  std::vector<Control> Buttons() const;
  Control Button(const std::wstring& caption) const;
  std::wstring Status() const;
  bool HasFocus(HWND control) const { return Focused() == control; }
  // The control with the keyboard focus.
  HWND Focused() const;
  bool WaitForStatus(const std::wstring& status, DWORD timeoutMs) const;
  bool AnyButtonEnabled() const;
  bool AllButtonsEnabled() const;
  // How many tools the window's tooltip control knows.
  int ToolTipCount() const;

 private:
  InstallerProcess process_;
  HWND window_ = nullptr;
};

}  // namespace zarvelo::uitest
