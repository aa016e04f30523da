// A small command-line driver of the installer window for tools/run and
// tools/bench:
//   installer_probe wait                     waits for the installer window
//   installer_probe press <caption>          presses a button, waits for the
//                                            outcome, prints the status line
//   installer_probe close                    closes the window
//   installer_probe start-time <runs> <exe>...
//                                            median ms from start to window
//                                            of each, started in turn
//   installer_probe stall <caption>          presses a button and prints the
//                                            longest ms the window took to
//                                            answer while downloading
//   installer_probe install-time <caption>   presses a button and prints the
//                                            ms until the status says
//                                            installed
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "resources/texts.h"
#include "ui/installer_layout.h"
#include "windows/installer_session.h"

namespace zarvelo::uitest {
namespace {

constexpr wchar_t kInstallerClass[] = L"ZarveloInstallerWindow";

void Print(const std::wstring& text) {
  // UTF-8, so a Unix terminal shows the Chinese texts.
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size > 0 ? size - 1 : 0), '\0');
  if (size > 1) ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), size, nullptr, nullptr);
  std::printf("%s\n", utf8.c_str());
  std::fflush(stdout);
}

HWND WaitForInstaller(DWORD timeoutMs) {
  HWND window = nullptr;
  WaitUntil([&] { return (window = ::FindWindowW(kInstallerClass, nullptr)) && ::IsWindowVisible(window); },
            timeoutMs);
  return window;
}

HWND ButtonWithCaption(HWND window, const std::wstring& caption) {
  for (const Control& control : Children(window))
    if (control.id >= kFirstInstallButtonId && control.text == caption) return control.window;
  return nullptr;
}

std::wstring StatusOf(HWND window) { return WindowText(::GetDlgItem(window, kStatusLineId)); }

bool Downloading(HWND window) {
  const std::wstring status = StatusOf(window);
  return status == texts::kDownloading || status == texts::kInstalling;
}

HWND MessageBoxOf(HWND window) {
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  HWND found = ::FindWindowW(L"#32770", nullptr);
  DWORD owner = 0;
  if (found) ::GetWindowThreadProcessId(found, &owner);
  return owner == process ? found : nullptr;
}

int Press(const std::wstring& caption) {
  HWND window = WaitForInstaller(60000);
  HWND button = window ? ButtonWithCaption(window, caption) : nullptr;
  if (!button) {
    Print(L"no button " + caption);
    return 2;
  }
  Click(button);
  WaitUntil([&] { return Downloading(window); }, 5000);
  WaitUntil([&] { return !Downloading(window) || MessageBoxOf(window) != nullptr; }, 120000);
  Print(StatusOf(window));
  if (HWND dialog = MessageBoxOf(window)) {
    Print(ReadMessageBox(dialog).text);
    return 1;
  }
  return StatusOf(window) == texts::kInstalled ? 0 : 1;
}

// Median ms from start to window for each program, started in turn so that
// they share whatever the machine is doing.
int StartTime(const std::vector<std::wstring>& exes, int runs) {
  std::vector<std::vector<double>> times(exes.size());
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  for (int run = 0; run < runs; ++run) {
    for (size_t i = 0; i < exes.size(); ++i) {
      LARGE_INTEGER start, shown;
      ::QueryPerformanceCounter(&start);
      InstallerProcess process;
      if (!process.Start(exes[i], {})) return 2;
      // Looked for every millisecond: coarser polling would round the
      // times to its step.
      if (!process.WaitForTopLevel(nullptr, 60000, 1)) return 2;
      ::QueryPerformanceCounter(&shown);
      times[i].push_back(1000.0 * static_cast<double>(shown.QuadPart - start.QuadPart) /
                         static_cast<double>(frequency.QuadPart));
    }
  }
  for (size_t i = 0; i < exes.size(); ++i) {
    std::sort(times[i].begin(), times[i].end());
    std::printf(i == 0 ? "%.0f" : " %.0f", times[i][times[i].size() / 2]);
  }
  std::printf("\n");
  return 0;
}

int Stall(const std::wstring& caption) {
  HWND window = WaitForInstaller(60000);
  HWND button = window ? ButtonWithCaption(window, caption) : nullptr;
  if (!button) return 2;
  Click(button);
  WaitUntil([&] { return Downloading(window); }, 5000);
  double longest = 0;
  int samples = 0;
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  while (Downloading(window) && !MessageBoxOf(window)) {
    LARGE_INTEGER before, after;
    DWORD_PTR ignored = 0;
    ::QueryPerformanceCounter(&before);
    ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
    ::QueryPerformanceCounter(&after);
    longest = std::max(longest, 1000.0 * static_cast<double>(after.QuadPart - before.QuadPart) /
                                    static_cast<double>(frequency.QuadPart));
    ++samples;
    ::Sleep(10);
  }
  std::printf("%.1f %d\n", longest, samples);
  return 0;
}

// From the press to the status line saying installed: the download, the
// checks and the file steps, as the user waits for them.
int InstallTime(const std::wstring& caption) {
  HWND window = WaitForInstaller(60000);
  HWND button = window ? ButtonWithCaption(window, caption) : nullptr;
  if (!button) return 2;
  LARGE_INTEGER frequency, start, end;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  Click(button);
  // Looked at every millisecond, as start-up is.
  if (!WaitUntil([&] { return StatusOf(window) == texts::kInstalled || MessageBoxOf(window); },
                 300000, 1) ||
      StatusOf(window) != texts::kInstalled)
    return 1;
  ::QueryPerformanceCounter(&end);
  std::printf("%.0f\n", 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                            static_cast<double>(frequency.QuadPart));
  return 0;
}

}  // namespace
}  // namespace zarvelo::uitest

int wmain(int argc, wchar_t** argv) {
  using namespace zarvelo::uitest;
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"wait") return WaitForInstaller(60000) ? 0 : 1;
  if (command == L"press" && argc > 2) return Press(argv[2]);
  if (command == L"close") {
    HWND window = WaitForInstaller(10000);
    if (window) ::PostMessageW(window, WM_CLOSE, 0, 0);
    return window ? 0 : 1;
  }
  if (command == L"start-time" && argc > 3 && _wtoi(argv[2]) > 0)
    return StartTime(std::vector<std::wstring>(argv + 3, argv + argc), _wtoi(argv[2]));
  if (command == L"stall" && argc > 2) return Stall(argv[2]);
  if (command == L"install-time" && argc > 2) return InstallTime(argv[2]);
  std::fprintf(stderr, "usage: installer_probe wait | press <caption> | close | "
                       "start-time <runs> <exe>... | stall <caption> | "
                       "install-time <caption>\n");
  return 2;
}
