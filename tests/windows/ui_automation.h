// Drives the real installer from outside, as a user would: starts it with a
// chosen profile, finds its window and message boxes, reads controls and
// presses buttons with plain Win32 messages.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "win32/handles.h"
#include "windows/test_files.h"

namespace zarvelo::uitest {

struct Control {
  HWND window = nullptr;
  int id = 0;
  std::wstring className;
  std::wstring text;
  RECT rect{};  // in the parent's client coordinates
  bool enabled = false;
  bool visible = false;
};

std::wstring WindowText(HWND window);
std::wstring ClassName(HWND window);
// The direct children of `parent`, in z-order (which is tab order).
std::vector<Control> Children(HWND parent);
// The outer size of a top-level window.
SIZE OuterSize(HWND window);
SIZE ClientSize(HWND window);

// Polls `condition` until it holds or `timeoutMs` passes.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD pollMs = 20);

struct MessageBoxContent {
  std::wstring title, text;
};
MessageBoxContent ReadMessageBox(HWND dialog);
void DismissMessageBox(HWND dialog);
void Click(HWND button);

// The installer under test, ended when this object goes.
class InstallerProcess {
 public:
  InstallerProcess() = default;
  InstallerProcess(const InstallerProcess&) = delete;
  InstallerProcess& operator=(const InstallerProcess&) = delete;
  ~InstallerProcess();

  // Starts `exe` with the current environment plus `environment` (a value of
  // L"" removes the variable), and `arguments` after its name.
  bool Start(const std::wstring& exe, const std::map<std::wstring, std::wstring>& environment,
             const std::wstring& arguments = L"");
  // The process's visible installer window, or null after `timeoutMs`.
  HWND WaitForWindow(DWORD timeoutMs);
  // The process's first visible top-level window of that class (any class
  // when null), or null after `timeoutMs`; looked for every `pollMs`.
  HWND WaitForTopLevel(const wchar_t* className, DWORD timeoutMs, DWORD pollMs = 20);
  // A message box of the process, or null after `timeoutMs`.
  HWND WaitForMessageBox(DWORD timeoutMs);
  bool WaitForExit(DWORD timeoutMs);
  bool Running() const;
  DWORD id() const { return processId_; }
  HANDLE handle() const { return process_.get(); }

 private:
  HWND FindTopLevel(const wchar_t* className) const;
  win32::KernelHandle process_;
  DWORD processId_ = 0;
};

// Unix path (as Wine's Z: drive) to a Windows path.
std::wstring FromUnixPath(const char* unixPath);

// The file helpers, under the names the installer tests use.
using testfiles::Exists;
using testfiles::MakeFolders;
using testfiles::ReadBytes;
using testfiles::ScratchFolder;
using testfiles::WriteBytes;

}  // namespace zarvelo::uitest
