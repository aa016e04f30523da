#include "win32/cng/sha256.h"

#include <winternl.h>

#include <climits>

namespace zarvelo::win32 {

WinError ErrorFromNtStatus(NTSTATUS status) {
  const ULONG error = ::RtlNtStatusToDosError(status);
  return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

Sha256::Sha256() {
  if (Cng().loadError != 0) {
    status_ = Status(Cng().loadError);
    return;
  }
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  NTSTATUS result = Cng().OpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  if (!BCRYPT_SUCCESS(result)) {
    status_ = Status(ErrorFromNtStatus(result));
    return;
  }
  algorithm_.reset(algorithm);
  BCRYPT_HASH_HANDLE hash = nullptr;
  // Windows 7 needs no hash object buffer of ours when none is passed.
  result = Cng().CreateHash(algorithm_.get(), &hash, nullptr, 0, nullptr, 0, 0);
  if (!BCRYPT_SUCCESS(result)) {
    status_ = Status(ErrorFromNtStatus(result));
    return;
  }
  hash_.reset(hash);
}

Status Sha256::Update(const void* data, std::size_t size) {
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  while (status_.ok() && size > 0) {
    const ULONG chunk = size > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(size);
    const NTSTATUS result = Cng().HashData(hash_.get(), bytes, chunk, 0);
    if (!BCRYPT_SUCCESS(result)) status_ = Status(ErrorFromNtStatus(result));
    bytes += chunk;
    size -= chunk;
  }
  return status_;
}

Result<Sha256Digest> Sha256::Finish() {
  if (!status_.ok()) return status_;
  Sha256Digest digest{};
  const NTSTATUS result =
      Cng().FinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0);
  hash_.reset();
  // A finished hash takes no more bytes.
  status_ = Status(BCRYPT_SUCCESS(result) ? ERROR_INVALID_HANDLE : ErrorFromNtStatus(result));
  if (!BCRYPT_SUCCESS(result)) return status_;
  return digest;
}

}  // namespace zarvelo::win32
