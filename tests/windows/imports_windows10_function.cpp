// Imports GetDpiForWindow (Windows 10) directly, as the installer must not:
// the Windows 7 import check has to reject this program.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#include <windows.h>

int main() { return static_cast<int>(::GetDpiForWindow(::GetDesktopWindow())); }
