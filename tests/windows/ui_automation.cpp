#include "windows/ui_automation.h"

#include <algorithm>
#include <cwctype>

namespace zarvelo::uitest {
namespace {

constexpr wchar_t kInstallerClass[] = L"ZarveloInstallerWindow";
constexpr wchar_t kMessageBoxClass[] = L"#32770";

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

}  // namespace

std::wstring WindowText(HWND window) {
  wchar_t buffer[4096] = {};
  DWORD_PTR copied = 0;
  ::SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer),
                        SMTO_ABORTIFHUNG, 5000, &copied);
  return std::wstring(buffer, static_cast<size_t>(copied));
}

std::wstring ClassName(HWND window) {
  wchar_t buffer[256] = {};
  const int length = ::GetClassNameW(window, buffer, 256);
  return std::wstring(buffer, static_cast<size_t>(length > 0 ? length : 0));
}

std::vector<Control> Children(HWND parent) {
  std::vector<Control> controls;
  for (HWND child = ::GetWindow(parent, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    Control control;
    control.window = child;
    control.id = ::GetDlgCtrlID(child);
    control.className = ClassName(child);
    control.text = WindowText(child);
    ::GetWindowRect(child, &control.rect);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&control.rect), 2);
    control.enabled = ::IsWindowEnabled(child) != FALSE;
    control.visible = ::IsWindowVisible(child) != FALSE;
    controls.push_back(control);
  }
  return controls;
}

SIZE OuterSize(HWND window) {
  RECT rect{};
  ::GetWindowRect(window, &rect);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

SIZE ClientSize(HWND window) {
  RECT rect{};
  ::GetClientRect(window, &rect);
  return {rect.right, rect.bottom};
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD pollMs) {
  const ULONGLONG end = ::GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (::GetTickCount64() >= end) return false;
    ::Sleep(pollMs);
  }
}

MessageBoxContent ReadMessageBox(HWND dialog) {
  MessageBoxContent content;
  content.title = WindowText(dialog);
  if (HWND text = ::GetDlgItem(dialog, 0xFFFF)) content.text = WindowText(text);
  return content;
}

void DismissMessageBox(HWND dialog) { ::PostMessageW(dialog, WM_COMMAND, IDOK, 0); }

void Click(HWND button) { ::PostMessageW(button, BM_CLICK, 0, 0); }

InstallerProcess::~InstallerProcess() {
#ifdef ZARVELO_COVERAGE
  // A coverage build writes its line counters only when it ends by itself:
  // close the window as a user would before making sure it is gone.
  if (HWND window = Running() ? FindTopLevel(kInstallerClass) : nullptr) {
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    ::WaitForSingleObject(process_.get(), 5000);
  }
#endif
  if (Running()) {
    ::TerminateProcess(process_.get(), 1);
    ::WaitForSingleObject(process_.get(), 5000);
  }
}

bool InstallerProcess::Start(const std::wstring& exe,
                             const std::map<std::wstring, std::wstring>& environment,
                             const std::wstring& arguments) {
  // The current environment with the overrides applied, sorted by name as
  // Windows expects.
  std::map<std::wstring, std::pair<std::wstring, std::wstring>> variables;  // by upper-case name
  if (wchar_t* block = ::GetEnvironmentStringsW()) {
    for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) {
      const std::wstring line = entry;
      const size_t equals = line.find(L'=', 1);
      if (equals == std::wstring::npos) continue;
      const std::wstring name = line.substr(0, equals);
      variables[Upper(name)] = {name, line.substr(equals + 1)};
    }
    ::FreeEnvironmentStringsW(block);
  }
  for (const auto& [name, value] : environment) {
    if (value.empty()) variables.erase(Upper(name));
    else variables[Upper(name)] = {name, value};
  }
  std::wstring block;
  for (const auto& [key, entry] : variables) block += entry.first + L"=" + entry.second + L'\0';
  block += L'\0';

  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT, block.data(), nullptr, &startup, &info))
    return false;
  win32::KernelHandle thread(info.hThread);
  process_.reset(info.hProcess);
  processId_ = info.dwProcessId;
  return true;
}

HWND InstallerProcess::FindTopLevel(const wchar_t* className) const {
  struct Search {
    DWORD processId;
    const wchar_t* className;
    HWND found;
  } search{processId_, className, nullptr};
  ::EnumWindows(
      [](HWND window, LPARAM parameter) -> BOOL {
        auto* s = reinterpret_cast<Search*>(parameter);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner != s->processId || !::IsWindowVisible(window) ||
            (s->className && ClassName(window) != s->className))
          return TRUE;
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND InstallerProcess::WaitForWindow(DWORD timeoutMs) {
  return WaitForTopLevel(kInstallerClass, timeoutMs);
}

HWND InstallerProcess::WaitForTopLevel(const wchar_t* className, DWORD timeoutMs,
                                       DWORD pollMs) {
  HWND window = nullptr;
  WaitUntil([&] { return (window = FindTopLevel(className)) != nullptr || !Running(); },
            timeoutMs, pollMs);
  return window;
}

HWND InstallerProcess::WaitForMessageBox(DWORD timeoutMs) {
  HWND dialog = nullptr;
  WaitUntil([&] { return (dialog = FindTopLevel(kMessageBoxClass)) != nullptr || !Running(); },
            timeoutMs);
  return dialog;
}

bool InstallerProcess::WaitForExit(DWORD timeoutMs) {
  return process_ && ::WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0;
}

bool InstallerProcess::Running() const {
  return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

std::wstring FromUnixPath(const char* unixPath) {
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, unixPath, -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length > 0 ? length - 1 : 0), L'\0');
  if (length > 1) ::MultiByteToWideChar(CP_UTF8, 0, unixPath, -1, wide.data(), length);
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  return L"Z:" + wide;
}

}  // namespace zarvelo::uitest
