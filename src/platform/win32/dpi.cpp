#include "platform/win32/dpi.h"

#include <cmath>
#include <initializer_list>

namespace zarvelo::win32 {
namespace {

// Present from Windows 10 1607 on; declared here because the Windows 7
// headers we build against do not have them.
using DpiContext = HANDLE;
const DpiContext kPerMonitorV2 = reinterpret_cast<DpiContext>(static_cast<INT_PTR>(-4));
const DpiContext kPerMonitor = reinterpret_cast<DpiContext>(static_cast<INT_PTR>(-3));
const DpiContext kSystemAware = reinterpret_cast<DpiContext>(static_cast<INT_PTR>(-2));

template <typename Fn>
Fn User32Function(const char* name) {
  static HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  return user32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(user32, name)))
                : nullptr;
}

UINT SystemDpi() {
  HDC screen = ::GetDC(nullptr);
  const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

}  // namespace

void EnableDpiAwareness() {
  using SetContextFn = BOOL(WINAPI*)(DpiContext);
  if (auto setContext = User32Function<SetContextFn>("SetProcessDpiAwarenessContext")) {
    for (DpiContext context : {kPerMonitorV2, kPerMonitor, kSystemAware})
      if (setContext(context)) return;
    return;  // the manifest has already set it
  }
  // Windows 8.1: per-monitor through shcore.
  if (HMODULE shcore = ::LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    using SetAwarenessFn = HRESULT(WINAPI*)(int);
    auto setAwareness = reinterpret_cast<SetAwarenessFn>(
        reinterpret_cast<void*>(::GetProcAddress(shcore, "SetProcessDpiAwareness")));
    const bool done = setAwareness && setAwareness(2 /* per-monitor */) == S_OK;
    if (done) return;  // keep shcore loaded: the process relies on it now
    ::FreeLibrary(shcore);
  }
  ::SetProcessDPIAware();  // Windows 7
}

UINT WindowDpi(HWND window) {
  using GetDpiFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = User32Function<GetDpiFn>("GetDpiForWindow");
  if (getDpiForWindow && window) {
    const UINT dpi = getDpiForWindow(window);
    if (dpi) return dpi;
  }
  return SystemDpi();
}

RECT OuterRectForClient(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, UINT dpi) {
  RECT rect{0, 0, clientWidth, clientHeight};
  using AdjustFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi = User32Function<AdjustFn>("AdjustWindowRectExForDpi");
  if (!(adjustForDpi && adjustForDpi(&rect, style, FALSE, exStyle, dpi)))
    ::AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  return rect;
}

LOGFONTW MessageFont(UINT dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  using ParamsForDpiFn = BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT);
  static const auto paramsForDpi = User32Function<ParamsForDpiFn>("SystemParametersInfoForDpi");
  if (paramsForDpi &&
      paramsForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi))
    return metrics.lfMessageFont;
  if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    LOGFONTW fallback{};
    fallback.lfHeight = -::MulDiv(9, static_cast<int>(dpi), 72);
    fallback.lfWeight = FW_NORMAL;
    fallback.lfCharSet = DEFAULT_CHARSET;
    ::lstrcpynW(fallback.lfFaceName, L"MS Shell Dlg 2", LF_FACESIZE);
    return fallback;
  }
  // The metrics are for the system DPI; scale them to the window's.
  LOGFONTW font = metrics.lfMessageFont;
  font.lfHeight = ::MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
  return font;
}

int TwipsToPixels(int twips, UINT dpi) {
  return static_cast<int>(std::lround(static_cast<double>(twips) * dpi / 1440.0));
}

}  // namespace zarvelo::win32
