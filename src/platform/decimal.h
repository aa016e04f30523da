#pragma once

#include <string>

namespace zarvelo {

// A signed decimal number as text. Used instead of std::to_wstring, whose
// printf machinery is a tenth of the installer's size.
inline std::wstring Decimal(long long value) {
  unsigned long long magnitude =
      value < 0 ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
  std::wstring digits;
  do {
    digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) digits.insert(digits.begin(), L'-');
  return digits;
}

}  // namespace zarvelo
