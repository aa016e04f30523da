#include "download/http_fields.h"

#include <cstdint>

namespace zarvelo {
namespace {

std::wstring_view Trimmed(std::wstring_view value) {
  while (!value.empty() && (value.front() == L' ' || value.front() == L'\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == L' ' || value.back() == L'\t')) value.remove_suffix(1);
  return value;
}

// Decimal digits only; saturates at `limit`.
std::optional<std::uint64_t> Digits(std::wstring_view value, std::uint64_t limit, bool& saturated) {
  saturated = false;
  value = Trimmed(value);
  if (value.empty()) return std::nullopt;
  std::uint64_t number = 0;
  for (const wchar_t c : value) {
    if (c < L'0' || c > L'9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - L'0');
    if (number > (limit - digit) / 10) {
      saturated = true;
      number = limit;
    } else if (!saturated) {
      number = number * 10 + digit;
    }
  }
  return number;
}

}  // namespace

std::optional<std::uint64_t> ParseContentLength(std::wstring_view value) {
  bool saturated = false;
  const std::optional<std::uint64_t> length = Digits(value, UINT64_MAX, saturated);
  if (saturated) return std::nullopt;  // no body is that long
  return length;
}

std::optional<std::int64_t> ParseRetryAfterMs(std::wstring_view value) {
  bool saturated = false;
  constexpr std::uint64_t kLimit = INT64_MAX / 1000;
  const std::optional<std::uint64_t> seconds = Digits(value, kLimit, saturated);
  if (!seconds) return std::nullopt;
  if (saturated) return INT64_MAX;
  return static_cast<std::int64_t>(*seconds) * 1000;
}

}  // namespace zarvelo
