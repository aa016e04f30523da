#pragma once

#include <string>

namespace zarvelo::win32 {

// The "\\?\" form of a full path, which the file APIs accept beyond
// MAX_PATH characters on every Windows version. That form skips the APIs'
// own clean-up of the path, so the path is made full and normal first.
std::wstring ExtendedPath(const std::wstring& path);

}  // namespace zarvelo::win32
