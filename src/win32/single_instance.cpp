#include "win32/single_instance.h"

namespace zarvelo::win32 {
namespace {

// "Local\" is per session, so other users' sessions keep their own.
constexpr wchar_t kMutexName[] = L"Local\\ZarveloVectorPluginInstaller";
// How long a second start waits for the first one's window: that one may
// still be scanning, or just ending.
constexpr ULONGLONG kWaitForFirstMs = 10000;
constexpr DWORD kPollMs = 50;

// The visible installer window of another process.
HWND RunningWindow(const wchar_t* windowClass) {
  const DWORD self = ::GetCurrentProcessId();
  for (HWND window = ::FindWindowExW(nullptr, nullptr, windowClass, nullptr); window;
       window = ::FindWindowExW(nullptr, window, windowClass, nullptr)) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != self && ::IsWindowVisible(window)) return window;
  }
  return nullptr;
}

void BringToFront(HWND window) {
  // Asynchronous: a busy first installer must not hold up this one's end.
  if (::IsIconic(window)) ::ShowWindowAsync(window, SW_RESTORE);
  // An error dialog the first one shows goes in front of its window.
  HWND popup = ::GetLastActivePopup(window);
  ::SetForegroundWindow(popup ? popup : window);
}

}  // namespace

SingleInstance::~SingleInstance() {
  if (owned_) ::ReleaseMutex(mutex_.get());
}

bool SingleInstance::Claim(const wchar_t* windowClass) {
  mutex_.reset(::CreateMutexW(nullptr, FALSE, kMutexName));
  // Denied: a first installer runs elevated, and its mutex is not ours to
  // open; it is held all the same. Without the mutex for any other reason
  // nothing can be told apart: better run than not at all.
  const bool heldByElevated = !mutex_ && ::GetLastError() == ERROR_ACCESS_DENIED;
  if (!mutex_ && !heldByElevated) return true;
  const ULONGLONG end = ::GetTickCount64() + kWaitForFirstMs;
  for (;;) {
    // Abandoned: the first installer ended without letting go; this one
    // takes over.
    const DWORD wait = heldByElevated ? WAIT_TIMEOUT : ::WaitForSingleObject(mutex_.get(), 0);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
      owned_ = true;
      return true;
    }
    if (HWND window = RunningWindow(windowClass)) {
      BringToFront(window);
      return false;
    }
    if (::GetTickCount64() >= end) return false;
    ::Sleep(kPollMs);
  }
}

}  // namespace zarvelo::win32
