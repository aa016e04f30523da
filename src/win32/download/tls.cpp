#include "win32/download/tls.h"

#include "download/download_policy.h"
#include "win32/download/winhttp_api.h"
#include "win32/system_library.h"

namespace zarvelo::win32 {
namespace {

bool AskFor(HINTERNET session, TlsVersions versions) {
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
  if (versions == TlsVersions::kTls12And13) {
    // Refused as Windows 7 refuses it.
    if (kEmulateWindows7) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    protocols |= WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
  }
  return WinHttp().SetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                             sizeof protocols) != FALSE;
}

}  // namespace

Status RequireSecureTransport(HINTERNET session) {
  // Windows 7 SP1 offers only SSL 3 and TLS 1.0 unless a program asks for
  // more, as this one does; KB3140245 changes nothing for such programs
  // (https://support.microsoft.com/help/3140245), only for those that leave
  // the choice to Windows. Systems that do not know TLS 1.3 refuse the whole
  // value. Where Windows 7 still fails, a policy turned TLS 1.2 off, the
  // server shares no cipher suite with it, or a root certificate is
  // missing; falling back to an older protocol would mend none of these
  // safely, so a refusal of TLS 1.2 ends the download instead.
  TlsVersions versions = TlsVersions::kTls12And13;
  while (!AskFor(session, versions)) {
    versions = TlsFallback(versions);
    if (versions == TlsVersions::kNone) return Status(ERROR_WINHTTP_SECURE_FAILURE);
  }
  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
  WinHttp().SetOption(session, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
  return Status::Ok();
}

}  // namespace zarvelo::win32
