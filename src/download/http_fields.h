// The few HTTP header values the download service reads, parsed strictly:
// a value that is not exactly what HTTP allows counts as absent.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zarvelo {

// Content-Length: decimal digits, optionally surrounded by spaces.
std::optional<std::uint64_t> ParseContentLength(std::wstring_view value);

// Retry-After in milliseconds. Only the delta-seconds form counts; a date
// counts as absent. Very long values come out as INT64_MAX.
std::optional<std::int64_t> ParseRetryAfterMs(std::wstring_view value);

}  // namespace zarvelo
