// What a session insists on for HTTPS.
#pragma once

#include <windows.h>
#include <winhttp.h>

namespace zarvelo::win32 {

// TLS 1.2 or newer, and no redirect from https to http.
void RequireSecureTransport(HINTERNET session);

}  // namespace zarvelo::win32
