// The tables of winhttp_api.h and cng_api.h.
#include "win32/cng/cng_api.h"
#include "win32/download/winhttp_api.h"
#include "win32/system_library.h"

namespace zarvelo::win32 {
namespace {

// Fills `slot` from `module`, or notes that it is absent.
template <typename Fn>
void Take(HMODULE module, const char* name, Fn& slot, DWORD& loadError) {
  if (loadError != 0) return;
  slot = SystemFunction<Fn>(module, name);
  if (!slot) loadError = ERROR_PROC_NOT_FOUND;
}

DWORD ModuleError() {
  const DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? error : ERROR_MOD_NOT_FOUND;
}

// A table of `dll`'s functions: `fill(module, table)` takes each from System32's
// copy, unless the DLL itself could not be loaded.
template <typename Table, typename Fill>
Table LoadTable(const wchar_t* dll, Fill fill) {
  Table table;
  const HMODULE module = SystemModule(dll);
  if (module) {
    fill(module, table);
  } else {
    table.loadError = ModuleError();
  }
  return table;
}

WinHttpFunctions LoadWinHttp() {
  // WinHTTP's TLS needs CNG. Loaded first, System32's bcrypt is the one its
  // imports find: Wine resolves the imports of its own DLLs beside the
  // program too, where Windows keeps to the restricted search.
  (void)Cng();
  return LoadTable<WinHttpFunctions>(L"winhttp.dll", [](HMODULE module, WinHttpFunctions& f) {
#define ZARVELO_TAKE(name) Take(module, "WinHttp" #name, f.name, f.loadError);
    ZARVELO_WINHTTP_FUNCTIONS(ZARVELO_TAKE)
#undef ZARVELO_TAKE
  });
}

CngFunctions LoadCng() {
  return LoadTable<CngFunctions>(L"bcrypt.dll", [](HMODULE module, CngFunctions& f) {
#define ZARVELO_TAKE(name) Take(module, "BCrypt" #name, f.name, f.loadError);
    ZARVELO_CNG_FUNCTIONS(ZARVELO_TAKE)
#undef ZARVELO_TAKE
  });
}

}  // namespace

const WinHttpFunctions& WinHttp() {
  static const WinHttpFunctions functions = LoadWinHttp();
  return functions;
}

const CngFunctions& Cng() {
  static const CngFunctions functions = LoadCng();
  return functions;
}

}  // namespace zarvelo::win32
