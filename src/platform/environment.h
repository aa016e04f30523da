#pragma once

#include <string>

namespace zarvelo {

class Environment {
 public:
  virtual ~Environment() = default;

  // The variable's value; empty when it is not set.
  virtual std::wstring EnvironVar(const std::wstring& name) const = 0;

  // The folder Windows itself uses for temporary files, without a trailing
  // backslash; used when TEMP is not set.
  virtual std::wstring SystemTempFolder() const = 0;
};

}  // namespace zarvelo
