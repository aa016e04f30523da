// SHA-256 with Windows' own CNG, which every supported Windows has: no
// hashing code of our own in the installer.
#pragma once

#include <windows.h>

#include <bcrypt.h>

#include <cstddef>

#include "platform/digest.h"
#include "platform/error.h"
#include "win32/cng/cng_api.h"
#include "win32/handles.h"

namespace zarvelo::win32 {

namespace detail {
inline BCRYPT_ALG_HANDLE NullAlgorithm() { return nullptr; }
inline void CloseAlgorithm(BCRYPT_ALG_HANDLE h) { Cng().CloseAlgorithmProvider(h, 0); }
inline BCRYPT_HASH_HANDLE NullHash() { return nullptr; }
inline void DestroyHash(BCRYPT_HASH_HANDLE h) { Cng().DestroyHash(h); }
}  // namespace detail

// BCryptOpenAlgorithmProvider and BCryptCreateHash results.
using AlgorithmHandle =
    UniqueHandle<BCRYPT_ALG_HANDLE, detail::CloseAlgorithm, detail::NullAlgorithm>;
using HashHandle = UniqueHandle<BCRYPT_HASH_HANDLE, detail::DestroyHash, detail::NullHash>;

// The Windows error code of a failed CNG call.
WinError ErrorFromNtStatus(NTSTATUS status);

// Hashes bytes as they come. After a failure every later call reports it.
class Sha256 {
 public:
  Sha256();
  Status Update(const void* data, std::size_t size);
  // The digest of everything given so far; the hash is done after this.
  Result<Sha256Digest> Finish();

 private:
  AlgorithmHandle algorithm_;
  HashHandle hash_;
  Status status_;
};

}  // namespace zarvelo::win32
