#include "win32/system_library.h"

#include <string>

namespace zarvelo::win32 {
namespace {

HMODULE Kernel32() {
  static const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  return kernel32;
}

// Windows 8 on, and Windows 7 with KB2533623; a build emulating Windows 7
// behaves as Windows 7 SP1 without that update.
bool HasSearchFlags() {
  static const bool has = NewerFunction<FARPROC>(Kernel32(), "SetDefaultDllDirectories") != nullptr;
  return has;
}

std::wstring SystemFolderPath(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  std::wstring path(folder, length);
  if (path.back() != L'\\') path += L'\\';
  return path + name;
}

}  // namespace

namespace detail {
FARPROC Lookup(HMODULE module, const char* name) {
  return module ? ::GetProcAddress(module, name) : nullptr;
}
}  // namespace detail

void RestrictDllSearchToSystem32() {
  using SetDefaultDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const auto setDefault =
      NewerFunction<SetDefaultDirectoriesFn>(Kernel32(), "SetDefaultDllDirectories");
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  // Takes only the current folder out of the search; the installer's own
  // folder is still searched first.
  ::SetDllDirectoryW(L"");
  // So the DLLs that Windows' own DLLs load by name later in the run
  // (themes, WinHTTP's and TLS's helpers, the user's profile) are loaded
  // from System32 now: a module already loaded wins the search.
  // Those that others import come first: a system DLL's imports are looked
  // for beside the program too (secur32's security packages, for one).
  // One string of names, without ".dll", which LoadLibraryExW adds: short.
  static const wchar_t kLoadedByName[] =
      L"cryptbase\0cryptsp\0rsaenh\0dnsapi\0winnsi\0iphlpapi\0dhcpcsvc6\0dhcpcsvc\0webio\0"
      L"mswsock\0profapi\0userenv\0sspicli\0secur32\0ncrypt\0ntmarta\0schannel\0credssp\0"
      L"dwmapi\0uxtheme\0version\0msimg32\0propsys\0apphelp\0wtsapi32\0";
  for (const wchar_t* name = kLoadedByName; *name; name += ::lstrlenW(name) + 1)
    (void)SystemModule(name);
}

HMODULE SystemModule(const wchar_t* name) {
  if (HasSearchFlags()) return ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  const std::wstring path = SystemFolderPath(name);
  if (path.empty()) {
    ::SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace zarvelo::win32
