// The Win32 side's one way to turn a failed call into a Status: the calling
// thread's last error, read at once, before anything else can change it.
#pragma once

#include <windows.h>

#include "platform/error.h"

namespace zarvelo::win32 {

// The last error as a failure; a call that failed without setting one still
// fails, with `unsaid`.
inline Status LastError(WinError unsaid = ERROR_GEN_FAILURE) {
  const DWORD error = ::GetLastError();
  return Status(error != ERROR_SUCCESS ? error : unsaid);
}

// The Status of a call that returns a BOOL.
inline Status Check(BOOL succeeded, WinError unsaid = ERROR_GEN_FAILURE) {
  return succeeded ? Status::Ok() : LastError(unsaid);
}

}  // namespace zarvelo::win32
