#include "win32/dpi.h"

#include <cmath>
#include <initializer_list>

#include "win32/system_library.h"

namespace zarvelo::win32 {
namespace {

// Present from Windows 10 1607 on; declared here because the Windows 7
// headers we build against do not have them.
using DpiContext = HANDLE;
const DpiContext kPerMonitorV2 = reinterpret_cast<DpiContext>(static_cast<INT_PTR>(-4));
const DpiContext kPerMonitor = reinterpret_cast<DpiContext>(static_cast<INT_PTR>(-3));
const DpiContext kSystemAware = reinterpret_cast<DpiContext>(static_cast<INT_PTR>(-2));

// user32 is imported, so it is loaded; shcore (Windows 8.1 on) is not.
template <typename Fn>
Fn User32Function(const char* name) {
  static const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  return NewerFunction<Fn>(user32, name);
}

template <typename Fn>
Fn ShcoreFunction(const char* name) {
  static const HMODULE shcore = SystemModule(L"shcore.dll");
  return NewerFunction<Fn>(shcore, name);
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
  // Windows 8.1 and Windows 10 before 1703: per-monitor through shcore,
  // which stays loaded for WindowDpi.
  using SetAwarenessFn = HRESULT(WINAPI*)(int);
  const auto setAwareness = ShcoreFunction<SetAwarenessFn>("SetProcessDpiAwareness");
  if (setAwareness && setAwareness(2 /* per-monitor */) == S_OK) return;
  ::SetProcessDPIAware();  // Windows 7
}

UINT WindowDpi(HWND window) {
  using GetDpiFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = User32Function<GetDpiFn>("GetDpiForWindow");
  if (getDpiForWindow && window) {
    const UINT dpi = getDpiForWindow(window);
    if (dpi) return dpi;
  }
  // Windows 8.1 and early Windows 10: the DPI of the window's monitor, which
  // a process that is not per-monitor aware sees as the system DPI.
  using GetMonitorDpiFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  static const auto getDpiForMonitor = ShcoreFunction<GetMonitorDpiFn>("GetDpiForMonitor");
  if (getDpiForMonitor && window) {
    UINT dpiX = 0, dpiY = 0;
    if (getDpiForMonitor(::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST),
                         0 /* MDT_EFFECTIVE_DPI */, &dpiX, &dpiY) == S_OK && dpiY)
      return dpiY;
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
