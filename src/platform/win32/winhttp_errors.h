// What a failed WinHTTP call means for a download: the result reported and
// whether another try may help (download/download_policy.h).
#pragma once

#include <windows.h>

#include "download/download_policy.h"

namespace zarvelo::win32 {

AttemptOutcome WinHttpFailure(DWORD error);

// A file the body could not be written to.
AttemptOutcome FileFailure(DWORD error);

}  // namespace zarvelo::win32
