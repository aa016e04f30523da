// The tables of winhttp_api.h and cng_api.h.
#include "platform/win32/cng/cng_api.h"
#include "platform/win32/download/winhttp_api.h"
#include "platform/win32/system_library.h"

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

WinHttpFunctions LoadWinHttp() {
  WinHttpFunctions f;
  // WinHTTP's TLS needs CNG. Loaded first, System32's bcrypt is the one its
  // imports find: Wine resolves the imports of its own DLLs beside the
  // program too, where Windows keeps to the restricted search.
  (void)Cng();
  const HMODULE module = SystemModule(L"winhttp.dll");
  if (!module) {
    f.loadError = ModuleError();
    return f;
  }
#define ZARVELO_TAKE(name) Take(module, "WinHttp" #name, f.name, f.loadError);
  ZARVELO_WINHTTP_FUNCTIONS(ZARVELO_TAKE)
#undef ZARVELO_TAKE
  return f;
}

CngFunctions LoadCng() {
  CngFunctions f;
  const HMODULE module = SystemModule(L"bcrypt.dll");
  if (!module) {
    f.loadError = ModuleError();
    return f;
  }
#define ZARVELO_TAKE(name) Take(module, "BCrypt" #name, f.name, f.loadError);
  ZARVELO_CNG_FUNCTIONS(ZARVELO_TAKE)
#undef ZARVELO_TAKE
  return f;
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
