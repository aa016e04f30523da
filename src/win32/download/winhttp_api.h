// WinHTTP's functions, taken from System32's winhttp.dll at run time rather
// than imported: winhttp is not on the known-DLL list, so an import would be
// looked for beside the installer first (system_library.h).
#pragma once

#include <windows.h>
#include <winhttp.h>

namespace zarvelo::win32 {

#define ZARVELO_WINHTTP_FUNCTIONS(X)                                                      \
  X(AddRequestHeaders) X(CloseHandle) X(Connect) X(CrackUrl) X(GetDefaultProxyConfiguration)  \
  X(GetIEProxyConfigForCurrentUser) X(GetProxyForUrl) X(Open) X(OpenRequest) X(QueryAuthSchemes) \
  X(QueryDataAvailable) X(QueryHeaders) X(QueryOption) X(ReadData) X(ReceiveResponse)           \
  X(SendRequest) X(SetCredentials) X(SetOption) X(SetStatusCallback) X(SetTimeouts)

struct WinHttpFunctions {
#define ZARVELO_DECLARE(name) decltype(&::WinHttp##name) name = nullptr;
  ZARVELO_WINHTTP_FUNCTIONS(ZARVELO_DECLARE)
#undef ZARVELO_DECLARE
  // 0 when every function above was found; otherwise why not, and none of
  // them may be called.
  DWORD loadError = 0;
};

// Loaded on first use, kept for the life of the process.
const WinHttpFunctions& WinHttp();

}  // namespace zarvelo::win32
