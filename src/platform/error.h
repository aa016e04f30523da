// Failures cross the platform boundary as values, never as exceptions: a
// Status carries the Windows error code (ERROR_*) of what went wrong, so the
// place that reports a failure can show the code Windows gave.
#pragma once

#include <cstdint>
#include <utility>

namespace zarvelo {

using WinError = std::uint32_t;

// The Windows error codes the portable logic reasons about. The values are
// Windows' own, so the in-memory test double and the real system agree.
inline constexpr WinError kErrorSuccess = 0;
inline constexpr WinError kErrorFileNotFound = 2;
inline constexpr WinError kErrorPathNotFound = 3;
inline constexpr WinError kErrorAccessDenied = 5;
inline constexpr WinError kErrorNotEnoughMemory = 8;
inline constexpr WinError kErrorSharingViolation = 32;
inline constexpr WinError kErrorLockViolation = 33;
inline constexpr WinError kErrorHandleDiskFull = 39;
inline constexpr WinError kErrorFileExists = 80;
inline constexpr WinError kErrorDiskFull = 112;
inline constexpr WinError kErrorAlreadyExists = 183;
inline constexpr WinError kErrorFileTooLarge = 223;
inline constexpr WinError kErrorVirusInfected = 225;
inline constexpr WinError kErrorVirusDeleted = 226;
inline constexpr WinError kErrorCancelled = 1223;
inline constexpr WinError kErrorDiskQuotaExceeded = 1295;

class [[nodiscard]] Status {
 public:
  constexpr Status() = default;
  constexpr explicit Status(WinError error) : error_(error) {}
  static constexpr Status Ok() { return Status(); }

  constexpr bool ok() const { return error_ == kErrorSuccess; }
  constexpr WinError error() const { return error_; }

 private:
  WinError error_ = kErrorSuccess;
};

// A value, or the Windows error code that kept us from getting it.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT: implicit on purpose
  Result(Status failure) : status_(failure) {}   // NOLINT: implicit on purpose

  bool ok() const { return status_.ok(); }
  Status status() const { return status_; }
  const T& value() const { return value_; }

 private:
  T value_{};
  Status status_;
};

// HRESULTs as the Windows URL download service reports them; a download
// result is 0 or one of these (negative as a signed 32-bit number).
inline constexpr std::int32_t HResult(std::uint32_t bits) {
  return static_cast<std::int32_t>(bits);
}
inline constexpr std::int32_t kEAbort = HResult(0x80004004u);
inline constexpr std::int32_t kInetECannotConnect = HResult(0x800C0004u);
inline constexpr std::int32_t kInetEResourceNotFound = HResult(0x800C0005u);
inline constexpr std::int32_t kInetEDownloadFailure = HResult(0x800C0008u);
inline constexpr std::int32_t kInetEConnectionTimeout = HResult(0x800C000Bu);
inline constexpr std::int32_t kInetEInvalidUrl = HResult(0x800C0002u);
inline constexpr std::int32_t kInetESecurityProblem = HResult(0x800C000Eu);
inline constexpr std::int32_t kInetERedirectFailed = HResult(0x800C0014u);

// How a plug-in without a valid publisher signature is reported: the codes
// Windows' own trust checks give.
inline constexpr std::int32_t kTrustENoSignature = HResult(0x800B0100u);
inline constexpr std::int32_t kTrustEBadDigest = HResult(0x80096010u);

// HRESULT_FROM_WIN32: how a file error during a download is reported.
inline constexpr std::int32_t HResultFromWin32(WinError error) {
  return error == 0 ? 0 : HResult((error & 0xFFFFu) | 0x80070000u);
}

}  // namespace zarvelo
