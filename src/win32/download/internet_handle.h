// An owner for WinHTTP handles (sessions, connections, requests).
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "win32/download/winhttp_api.h"
#include "win32/handles.h"

namespace zarvelo::win32 {

namespace detail {
inline HINTERNET NullInternet() { return nullptr; }
inline void CloseInternet(HINTERNET h) { WinHttp().CloseHandle(h); }
}  // namespace detail

using InternetHandle = UniqueHandle<HINTERNET, detail::CloseInternet, detail::NullInternet>;

}  // namespace zarvelo::win32
