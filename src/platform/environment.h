#pragma once

#include <string>

#include "platform/error.h"

namespace zarvelo {

class Environment {
 public:
  virtual ~Environment() = default;

  // The variable's value; empty when it is not set.
  virtual std::wstring Variable(const std::wstring& name) const = 0;

  // The folder Windows itself uses for temporary files, without a trailing
  // backslash; used when TEMP is not set.
  virtual std::wstring SystemTempFolder() const = 0;

  // The user's roaming application-data folder as Windows knows it, without
  // a trailing backslash. Folder redirection may have moved it to another
  // drive or a server share, away from %USERPROFILE%\AppData\Roaming.
  virtual Result<std::wstring> RoamingAppDataFolder() const = 0;
};

}  // namespace zarvelo
