#include "win32/win32_environment.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <cstdint>
#include <utility>

#include "platform/text.h"

namespace zarvelo::win32 {
namespace {

// FOLDERID_RoamingAppData, spelled out so the program need not link the
// whole GUID library for one identifier.
constexpr KNOWNFOLDERID kRoamingAppData = {0x3EB685DB, 0x65F9, 0x4CF6,
                                          {0xA0, 0x3A, 0xE3, 0xEF, 0x65, 0x72, 0x9F, 0x3D}};

}  // namespace

std::wstring Win32Environment::Variable(const std::wstring& name) const {
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
  path = WithoutTrailingSeparators(std::move(path), false);
  return path;
}

Result<std::wstring> Win32Environment::RoamingAppDataFolder() const {
  PWSTR found = nullptr;
  const HRESULT result = ::SHGetKnownFolderPath(kRoamingAppData, 0, nullptr, &found);
  std::wstring path = SUCCEEDED(result) && found ? found : L"";
  ::CoTaskMemFree(found);  // also after a failure, as documented
  if (FAILED(result)) {
    // Mostly HRESULT_FROM_WIN32 (a redirected folder that is not there is
    // ERROR_PATH_NOT_FOUND); other codes are passed on whole.
    const auto bits = static_cast<std::uint32_t>(result);
    return Status((bits & 0xFFFF0000u) == 0x80070000u ? (bits & 0xFFFFu) : bits);
  }
  path = WithoutTrailingSeparators(std::move(path), false);
  if (path.empty()) return Status(ERROR_PATH_NOT_FOUND);
  return path;
}

}  // namespace zarvelo::win32
