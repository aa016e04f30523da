// What a session insists on for HTTPS.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "platform/error.h"

namespace zarvelo::win32 {

// TLS 1.2 or newer, and no redirect from https to http. A failure with
// ERROR_WINHTTP_SECURE_FAILURE when Windows offers nothing as new as
// TLS 1.2: then nothing may be sent.
Status RequireSecureTransport(HINTERNET session);

}  // namespace zarvelo::win32
