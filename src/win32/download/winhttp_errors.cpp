#include "win32/download/winhttp_errors.h"

#include <winhttp.h>

#include "platform/error.h"

// How a failed call is reported. The values are those of the Windows URL
// download service (platform/error.h), which the messages shown to the user
// are written for; the second column says what retrying makes of it.
//
//   error                                             result                   ends as
//   ------------------------------------------------  -----------------------  ----------------
//   ERROR_WINHTTP_INVALID_URL, _UNRECOGNIZED_SCHEME   kInetEInvalidUrl         kOther
//   ERROR_WINHTTP_NAME_NOT_RESOLVED                   kInetEResourceNotFound   kNameNotResolved
//   ERROR_WINHTTP_CANNOT_CONNECT, WSAECONNREFUSED     kInetECannotConnect      kRefused
//   WSAENETUNREACH, WSAEHOSTUNREACH                   kInetECannotConnect      kOther
//   ERROR_WINHTTP_CONNECTION_ERROR, WSAECONNRESET,
//     WSAECONNABORTED, _INVALID_SERVER_RESPONSE,
//     SEC_E_INCOMPLETE_MESSAGE                        kInetEDownloadFailure    kDropped
//   ERROR_WINHTTP_TIMEOUT, WSAETIMEDOUT               kInetEConnectionTimeout  kStalled
//   ERROR_WINHTTP_SECURE_* (certificate, TLS),
//     _CLIENT_AUTH_CERT_NEEDED[_PROXY]                kInetESecurityProblem    kSecurity
//   ERROR_WINHTTP_REDIRECT_FAILED (https -> http)     kInetERedirectFailed     kRedirectRefused
//   ERROR_WINHTTP_OPERATION_CANCELLED                 kEAbort                  kOther
//   any other error                                   kInetEDownloadFailure    kOther
//   a file error                                      HRESULT_FROM_WIN32       kLocalFile
//
// A failure of the system itself (no thread, no winhttp.dll) is reported as
// HRESULT_FROM_WIN32 of its error too.

namespace zarvelo::win32 {

AttemptOutcome WinHttpFailure(Status failure) {
  switch (failure.error()) {
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
      return {AttemptEnd::kOther, kInetEInvalidUrl};
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return {AttemptEnd::kNameNotResolved, kInetEResourceNotFound};
    // Wine's WinHTTP passes some socket errors on as they are.
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case WSAECONNREFUSED:
      return {AttemptEnd::kRefused, kInetECannotConnect};
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
      return {AttemptEnd::kOther, kInetECannotConnect};
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
    // Wine's, when a reset cuts a TLS record short.
    case static_cast<DWORD>(SEC_E_INCOMPLETE_MESSAGE):
      return {AttemptEnd::kDropped, kInetEDownloadFailure};
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
      return {AttemptEnd::kStalled, kInetEConnectionTimeout};
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    case ERROR_WINHTTP_SECURE_FAILURE_PROXY:
    case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED:
    case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED_PROXY:
      return {AttemptEnd::kSecurity, kInetESecurityProblem};
    case ERROR_WINHTTP_REDIRECT_FAILED:
      return {AttemptEnd::kRedirectRefused, kInetERedirectFailed};
    case ERROR_WINHTTP_OPERATION_CANCELLED:
      return {AttemptEnd::kOther, kEAbort};
    default:
      return {AttemptEnd::kOther, kInetEDownloadFailure};
  }
}

std::int32_t SystemFailureResult(Status failure) {
  return HResultFromWin32(failure.ok() ? ERROR_GEN_FAILURE : failure.error());
}

AttemptOutcome FileFailure(Status failure) {
  return {AttemptEnd::kLocalFile, SystemFailureResult(failure)};
}

}  // namespace zarvelo::win32
