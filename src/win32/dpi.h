// DPI handling that works from Windows 7 (system DPI) to Windows 11
// (per-monitor v2). Newer functions are looked up at run time so the program
// still starts on systems that lack them.
#pragma once

#include <windows.h>

namespace zarvelo::win32 {

// Makes the process DPI aware: per-monitor v2, else per-monitor, else
// system-aware. Does nothing when the manifest already decided.
void EnableDpiAwareness();

// The DPI the window is shown at (the system DPI where windows have none).
UINT WindowDpi(HWND window);

// AdjustWindowRectEx at `dpi`.
RECT OuterRectForClient(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, UINT dpi);

// The system's message font (what dialogs use) at `dpi`.
LOGFONTW MessageFont(UINT dpi);

// Twips (1/1440 inch) to whole pixels at `dpi`.
int TwipsToPixels(int twips, UINT dpi);

}  // namespace zarvelo::win32
