// The Win32 side's one way to turn a failed call into a Status: the calling
// thread's last error, read at once, before anything else can change it.
#pragma once

#include <windows.h>

#include "platform/error.h"

namespace zarvelo::win32 {

// The codes the portable logic reasons about are Windows' own.
static_assert(kErrorFileNotFound == ERROR_FILE_NOT_FOUND && kErrorPathNotFound == ERROR_PATH_NOT_FOUND &&
              kErrorAccessDenied == ERROR_ACCESS_DENIED &&
              kErrorNotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY &&
              kErrorSharingViolation == ERROR_SHARING_VIOLATION &&
              kErrorLockViolation == ERROR_LOCK_VIOLATION &&
              kErrorHandleDiskFull == ERROR_HANDLE_DISK_FULL && kErrorFileExists == ERROR_FILE_EXISTS &&
              kErrorDiskFull == ERROR_DISK_FULL && kErrorAlreadyExists == ERROR_ALREADY_EXISTS &&
              kErrorFileTooLarge == ERROR_FILE_TOO_LARGE && kErrorCancelled == ERROR_CANCELLED);

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
