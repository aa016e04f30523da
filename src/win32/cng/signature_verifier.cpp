#include "win32/cng/signature_verifier.h"

#include <windows.h>

#include <bcrypt.h>

#include <cstring>

#include "win32/cng/sha256.h"

namespace zarvelo::win32 {
namespace {

// What BCryptVerifySignature says of a signature that does not match.
constexpr NTSTATUS kStatusInvalidSignature = static_cast<NTSTATUS>(0xC000A000L);

BCRYPT_KEY_HANDLE NullKey() { return nullptr; }
void DestroyKey(BCRYPT_KEY_HANDLE h) { Cng().DestroyKey(h); }
// BCryptImportKeyPair results.
using KeyHandle = UniqueHandle<BCRYPT_KEY_HANDLE, DestroyKey, NullKey>;

}  // namespace

Result<bool> EcdsaP256PublicKey::Verify(const Sha256Digest& digest,
                                        const EcdsaP256Signature& signature) const {
  if (Cng().loadError != 0) return Status(Cng().loadError);
  BCRYPT_ALG_HANDLE opened = nullptr;
  NTSTATUS result = Cng().OpenAlgorithmProvider(&opened, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
  if (!BCRYPT_SUCCESS(result)) return Status(ErrorFromNtStatus(result));
  const AlgorithmHandle algorithm(opened);

  // BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y.
  unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + sizeof(Point)];
  BCRYPT_ECCKEY_BLOB header{};
  header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
  header.cbKey = 32;
  std::memcpy(blob, &header, sizeof header);
  std::memcpy(blob + sizeof header, point_.data(), point_.size());
  BCRYPT_KEY_HANDLE imported = nullptr;
  result = Cng().ImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &imported, blob,
                               sizeof blob, 0);
  if (!BCRYPT_SUCCESS(result)) return Status(ErrorFromNtStatus(result));
  const KeyHandle key(imported);

  result = Cng().VerifySignature(
      key.get(), nullptr, const_cast<PUCHAR>(digest.data()), static_cast<ULONG>(digest.size()),
      const_cast<PUCHAR>(signature.data()), static_cast<ULONG>(signature.size()), 0);
  if (BCRYPT_SUCCESS(result)) return true;
  if (result == kStatusInvalidSignature) return false;
  return Status(ErrorFromNtStatus(result));
}

}  // namespace zarvelo::win32
