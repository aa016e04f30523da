// Environment variables, the system temp folder and the roaming folder,
// read from Windows.
#pragma once

#include <string>

#include "platform/environment.h"

namespace zarvelo::win32 {

class Win32Environment : public Environment {
 public:
  std::wstring Variable(const std::wstring& name) const override;
  std::wstring SystemTempFolder() const override;
  Result<std::wstring> RoamingAppDataFolder() const override;
};

}  // namespace zarvelo::win32
