// A SHA-256 digest: how the installer names "exactly these bytes" without
// keeping the bytes.
#pragma once

#include <array>
#include <cstdint>

namespace zarvelo {

using Sha256Digest = std::array<std::uint8_t, 32>;

}  // namespace zarvelo
