// Checks that the vendor signed a file: ECDSA P-256 over its SHA-256.
#pragma once

#include <array>
#include <cstdint>

#include "platform/digest.h"
#include "platform/error.h"

namespace zarvelo {

// An ECDSA P-256 signature in the raw form Windows takes: r then s, each a
// 32-byte big-endian number.
using EcdsaP256Signature = std::array<std::uint8_t, 64>;

// The public key the installer was built with.
class SignatureVerifier {
 public:
  virtual ~SignatureVerifier() = default;

  // True when `signature` is the key's signature of `digest`, false when it
  // is not; a failure when the check itself could not be done.
  virtual Result<bool> Verify(const Sha256Digest& digest,
                              const EcdsaP256Signature& signature) const = 0;
};

}  // namespace zarvelo
