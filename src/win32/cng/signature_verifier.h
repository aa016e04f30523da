// The publisher key the installer was built with, checked by Windows' own
// CNG (ECDSA P-256 is there from Windows 7 on).
#pragma once

#include <array>
#include <cstdint>

#include "platform/signature.h"

namespace zarvelo::win32 {

class EcdsaP256PublicKey : public SignatureVerifier {
 public:
  // The key's point, X then Y, 32 bytes each, big-endian.
  using Point = std::array<std::uint8_t, 64>;

  explicit EcdsaP256PublicKey(const Point& point) : point_(point) {}

  Result<bool> Verify(const Sha256Digest& digest,
                      const EcdsaP256Signature& signature) const override;

 private:
  Point point_;
};

}  // namespace zarvelo::win32
