// What a failed WinHTTP call means for a download: the result reported and
// whether another try may help (download/download_policy.h).
#pragma once

#include <windows.h>

#include <cstdint>

#include "download/download_policy.h"
#include "platform/error.h"

namespace zarvelo::win32 {

// The outcome of a WinHTTP call that failed with `failure`.
AttemptOutcome WinHttpFailure(Status failure);

// What a download reports when the system itself failed it (a file, a
// thread, a DLL): the error as an HRESULT.
std::int32_t SystemFailureResult(Status failure);

// A file the body could not be written to.
AttemptOutcome FileFailure(Status failure);

}  // namespace zarvelo::win32
