#include "platform/win32/download/proxy.h"

#include "download/download_policy.h"
#include "platform/win32/download/winhttp_api.h"
#include "platform/win32/handles.h"
#include "platform/win32/lock.h"
#include "platform/win32/system_library.h"

namespace zarvelo::win32 {
namespace {

constexpr wchar_t kUserAgent[] = L"ZarveloInstaller/1.0";

// Strings WinHTTP allocates for proxy settings; the caller frees them.
LPWSTR NullString() { return nullptr; }
void FreeGlobalString(LPWSTR text) { ::GlobalFree(text); }
using GlobalString = UniqueHandle<LPWSTR, FreeGlobalString, NullString>;

std::wstring Copy(const GlobalString& text) { return text ? std::wstring(text.get()) : L""; }

bool IsLoopback(const std::wstring& host) {
  return host.rfind(L"127.", 0) == 0 || host == L"::1" || host == L"[::1]" ||
         ::CompareStringOrdinal(host.c_str(), -1, L"localhost", -1, TRUE) == CSTR_EQUAL;
}

// The user's proxy settings as Internet Explorer (and so every other
// Windows program) sees them: a configuration script or auto-detection
// first, the manually entered proxy otherwise. Asked through a session of
// its own: finding the proxy is a synchronous call.
ProxyChoice ProxyFromUserSettings(const std::wstring& url) {
  ProxyChoice choice;
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user{};
  if (!WinHttp().GetIEProxyConfigForCurrentUser(&user)) return choice;
  const GlobalString autoConfigUrl(user.lpszAutoConfigUrl);
  const GlobalString manualProxy(user.lpszProxy);
  const GlobalString manualBypass(user.lpszProxyBypass);

  if (user.fAutoDetect || autoConfigUrl) {
    const InternetHandle finder(WinHttp().Open(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY,
                                               WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (user.fAutoDetect) {
      options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
      options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (autoConfigUrl) {
      options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
      options.lpszAutoConfigUrl = autoConfigUrl.get();
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO found{};
    if (finder && WinHttp().GetProxyForUrl(finder.get(), url.c_str(), &options, &found)) {
      const GlobalString proxy(found.lpszProxy);
      const GlobalString bypass(found.lpszProxyBypass);
      choice.named = found.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && proxy;
      choice.proxy = Copy(proxy);
      choice.bypass = Copy(bypass);
      return choice;  // the script may well say "go direct"
    }
  }
  if (manualProxy) {
    choice.named = true;
    choice.proxy = Copy(manualProxy);
    choice.bypass = Copy(manualBypass);
  }
  return choice;
}

// Working out the proxy can take seconds with auto-detection on, so it is
// done once per run (all downloads go to one server) and remembered.
ProxyChoice RememberedProxyFor(const std::wstring& url, const std::wstring& host) {
  static SRWLOCK lock = SRWLOCK_INIT;
  static bool known = false;
  static std::wstring knownHost;
  static ProxyChoice knownChoice;
  {
    ExclusiveLock held(lock);
    if (known &&
        ::CompareStringOrdinal(knownHost.c_str(), -1, host.c_str(), -1, TRUE) == CSTR_EQUAL)
      return knownChoice;
  }
  const ProxyChoice choice = ProxyFromUserSettings(url);
  ExclusiveLock held(lock);
  known = true;
  knownHost = host;
  knownChoice = choice;
  return choice;
}

InternetHandle OpenAsync(DWORD accessType) {
  return InternetHandle(WinHttp().Open(kUserAgent, accessType, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
}

}  // namespace

InternetHandle OpenSession(const std::wstring& url, const std::wstring& host, ProxyChoice& proxy) {
  proxy = ProxyChoice();
  // A loopback server is never reached through a proxy.
  if (IsLoopback(host)) return OpenAsync(WINHTTP_ACCESS_TYPE_NO_PROXY);
  // Windows 8.1 and later pick the proxy themselves, the way the system's
  // own programs do; older ones refuse this access type.
  if (!kEmulateWindows7) {
    InternetHandle session = OpenAsync(WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY);
    if (session) return session;
  }
  InternetHandle session = OpenAsync(WINHTTP_ACCESS_TYPE_NO_PROXY);
  if (session) proxy = RememberedProxyFor(url, host);
  return session;
}

void ApplyProxy(HINTERNET request, const ProxyChoice& proxy) {
  if (!proxy.named) return;
  std::wstring name = proxy.proxy;
  std::wstring bypass = proxy.bypass;
  WINHTTP_PROXY_INFO info{};
  info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  info.lpszProxy = name.data();
  info.lpszProxyBypass = bypass.empty() ? nullptr : bypass.data();
  WinHttp().SetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof info);
}

bool AnswerProxyChallenge(HINTERNET request, bool answeredBefore) {
  DWORD supported = 0, first = 0, target = 0;
  if (!WinHttp().QueryAuthSchemes(request, &supported, &first, &target) ||
      target != WINHTTP_AUTH_TARGET_PROXY) {
    return false;
  }
  ProxyChallenge challenge;
  challenge.negotiate = (supported & WINHTTP_AUTH_SCHEME_NEGOTIATE) != 0;
  challenge.ntlm = (supported & WINHTTP_AUTH_SCHEME_NTLM) != 0;
  challenge.answeredBefore = answeredBefore;
  const ProxyLogon logon = ChooseProxyLogon(challenge);
  if (logon == ProxyLogon::kNone) return false;
  const DWORD scheme =
      logon == ProxyLogon::kNegotiate ? WINHTTP_AUTH_SCHEME_NEGOTIATE : WINHTTP_AUTH_SCHEME_NTLM;
  // No name and password: the logged-on user's own.
  return WinHttp().SetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, scheme, nullptr, nullptr,
                                  nullptr) != FALSE;
}

}  // namespace zarvelo::win32
