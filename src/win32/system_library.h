// Loading system DLLs from System32 only, and looking up functions that not
// every supported Windows has.
//
// Windows looks for a DLL that is not on its known-DLL list in the program's
// own folder first. An installer usually runs from Downloads, where a
// drive-by download can leave a winhttp.dll, so nothing is loaded by a bare
// name: the program restricts the search at start, and loads what it needs
// from System32 by itself.
#pragma once

#include <windows.h>

namespace zarvelo::win32 {

// Restricts every later DLL load, including those system DLLs make on the
// program's behalf, to System32. Call first thing at start. Where Windows 7
// lacks SetDefaultDllDirectories (no KB2533623), takes the current folder out
// of the search instead and loads from System32 the DLLs that system DLLs
// ask for by name; SystemModule() then loads by full path.
void RestrictDllSearchToSystem32();

// A system DLL (e.g. L"winhttp.dll") from System32, loaded once and kept for
// the life of the process; null with the Windows error set when it cannot be
// loaded.
HMODULE SystemModule(const wchar_t* name);

// True in a build that behaves as on Windows 7 (ZARVELO_EMULATE_WINDOWS7), so
// the tests run the branches for systems without the newer functions.
constexpr bool kEmulateWindows7 =
#ifdef ZARVELO_EMULATE_WINDOWS7
    true;
#else
    false;
#endif

namespace detail {
FARPROC Lookup(HMODULE module, const char* name);
}  // namespace detail

// `name` in `module` as a function pointer of type Fn; null when absent.
template <typename Fn>
Fn SystemFunction(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(detail::Lookup(module, name)));
}

// A function newer than Windows 7: null when absent, and always null in a
// build that emulates Windows 7.
template <typename Fn>
Fn NewerFunction(HMODULE module, const char* name) {
  if (kEmulateWindows7) return nullptr;
  return SystemFunction<Fn>(module, name);
}

}  // namespace zarvelo::win32
