#include "platform/win32/win32_environment.h"

#include <windows.h>

namespace zarvelo::win32 {

std::wstring Win32Environment::EnvironVar(const std::wstring& name) const {
  // A value can be up to 32767 characters, and another thread may change it
  // between the two calls, so grow until it fits.
  std::wstring value(256, L'\0');
  for (;;) {
    const DWORD length = ::GetEnvironmentVariableW(name.c_str(), value.data(),
                                                   static_cast<DWORD>(value.size()));
    if (length == 0) return std::wstring();  // unset, or set to nothing
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    value.resize(length);  // `length` counts the terminating null here
  }
}

std::wstring Win32Environment::SystemTempFolder() const {
  std::wstring path(MAX_PATH + 1, L'\0');
  for (;;) {
    const DWORD length = ::GetTempPathW(static_cast<DWORD>(path.size()), path.data());
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(length + 1);
  }
  // Callers append "\name" themselves.
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

}  // namespace zarvelo::win32
