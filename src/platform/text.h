// Text rules that paths and protocol words share, written once for the
// logic, the Win32 side and the test double.
#pragma once

#include <string>

namespace zarvelo {

// A-Z as a-z; every other character as it is.
template <typename Char>
constexpr Char FoldAscii(Char c) {
  return c >= Char('A') && c <= Char('Z') ? Char(c - Char('A') + Char('a')) : c;
}

inline bool IsPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// `path` without separators at its end. With `keepDriveRoot`, "C:\" keeps
// its one: "C:" alone would mean that drive's current folder.
inline std::wstring WithoutTrailingSeparators(std::wstring path, bool keepDriveRoot) {
  while (!path.empty() && IsPathSeparator(path.back())) {
    if (keepDriveRoot && (path.size() == 1 || path[path.size() - 2] == L':')) break;
    path.pop_back();
  }
  return path;
}

}  // namespace zarvelo
