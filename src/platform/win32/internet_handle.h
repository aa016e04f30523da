// An owner for WinHTTP handles (sessions, connections, requests).
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "platform/win32/handles.h"
#include "platform/win32/winhttp_api.h"

namespace zarvelo::win32 {

namespace detail {
inline HINTERNET NullInternet() { return nullptr; }
inline void CloseInternet(HINTERNET h) { WinHttp().CloseHandle(h); }
}  // namespace detail

using InternetHandle = UniqueHandle<HINTERNET, detail::CloseInternet, detail::NullInternet>;

}  // namespace zarvelo::win32
