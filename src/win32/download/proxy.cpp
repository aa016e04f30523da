#include "win32/download/proxy.h"

#include "download/download_policy.h"
#include "win32/download/http_request.h"
#include "win32/download/winhttp_api.h"
#include "win32/handles.h"
#include "win32/lock.h"
#include "win32/system_library.h"

namespace zarvelo::win32 {
namespace {

constexpr wchar_t kUserAgent[] = L"ZarveloInstaller/1.0";

// Strings WinHTTP allocates for proxy settings; the caller frees them.
LPWSTR NullString() { return nullptr; }
void FreeGlobalString(LPWSTR text) { ::GlobalFree(text); }
using GlobalString = UniqueHandle<LPWSTR, FreeGlobalString, NullString>;

std::wstring Copy(const GlobalString& text) { return text ? std::wstring(text.get()) : L""; }

bool SameHost(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool IsLoopback(const std::wstring& host) {
  return host.rfind(L"127.", 0) == 0 || host == L"::1" || host == L"[::1]" ||
         SameHost(host, L"localhost");
}

// A proxy the session is opened with; none means direct.
struct ProxyChoice {
  std::wstring proxy;
  std::wstring bypass;
};

// A proxy and bypass list WinHTTP handed over.
struct ProxyStrings {
  GlobalString proxy;
  GlobalString bypass;
  explicit ProxyStrings(const WINHTTP_PROXY_INFO& info)
      : proxy(info.lpszProxy), bypass(info.lpszProxyBypass) {}
  bool named(const WINHTTP_PROXY_INFO& info) const {
    return info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && proxy;
  }
  ProxyChoice choice() const { return {Copy(proxy), Copy(bypass)}; }
};

// The configuration script the user's settings point to, or the one
// auto-detection finds, run for `url`. Asked through a session of its own:
// finding the proxy is a synchronous call.
ProxyLookup LookUp(const std::wstring& url, const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& user,
                   ProxyChoice& found) {
  const InternetHandle finder(WinHttp().Open(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  WINHTTP_AUTOPROXY_OPTIONS options{};
  if (user.fAutoDetect) {
    options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  if (user.lpszAutoConfigUrl) {
    options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = user.lpszAutoConfigUrl;
  }
  options.fAutoLogonIfChallenged = TRUE;
  WINHTTP_PROXY_INFO info{};
  if (!finder || !WinHttp().GetProxyForUrl(finder.get(), url.c_str(), &options, &info))
    return ProxyLookup::kFailed;
  const ProxyStrings strings(info);
  if (!strings.named(info)) return ProxyLookup::kDirect;
  found = strings.choice();
  return ProxyLookup::kProxy;
}

// The proxy as Internet Explorer's settings (and so every other Windows
// program) see it, then WinHTTP's own default (netsh, Group Policy).
ProxyChoice FindProxy(const std::wstring& url, bool& remember) {
  ProxySettings settings;
  ProxyChoice looked, manual, winHttpDefault;
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user{};
  // Failing, it means the user has no settings of their own.
  if (WinHttp().GetIEProxyConfigForCurrentUser(&user)) {
    const GlobalString autoConfigUrl(user.lpszAutoConfigUrl);
    const GlobalString manualProxy(user.lpszProxy);
    const GlobalString manualBypass(user.lpszProxyBypass);
    if (user.fAutoDetect || autoConfigUrl) settings.lookup = LookUp(url, user, looked);
    settings.manual = static_cast<bool>(manualProxy);
    manual = {Copy(manualProxy), Copy(manualBypass)};
  }
  WINHTTP_PROXY_INFO info{};
  if (WinHttp().GetDefaultProxyConfiguration(&info)) {
    const ProxyStrings strings(info);
    settings.winHttpDefault = strings.named(info);
    winHttpDefault = strings.choice();
  }
  const ProxyPlan plan = ChooseProxy(settings);
  remember = plan.remember;
  switch (plan.source) {
    case ProxySource::kLookup:
      return looked;
    case ProxySource::kManual:
      return manual;
    case ProxySource::kWinHttpDefault:
      return winHttpDefault;
    default:
      return {};
  }
}

// Working out the proxy can take seconds with auto-detection on, so an
// answer is kept for the run (all downloads go to one server). A lookup
// that failed is not: the next attempt looks again.
ProxyChoice ProxyFor(const std::wstring& url, const std::wstring& host, bool& settled) {
  static SRWLOCK lock = SRWLOCK_INIT;
  static bool known = false;
  static std::wstring knownHost;
  static ProxyChoice knownChoice;
  {
    ExclusiveLock held(lock);
    if (known && SameHost(knownHost, host)) return knownChoice;
  }
  const ProxyChoice choice = FindProxy(url, settled);
  if (!settled) return choice;
  ExclusiveLock held(lock);
  known = true;
  knownHost = host;
  knownChoice = choice;
  return choice;
}

InternetHandle OpenAsync(DWORD accessType, const wchar_t* proxy = WINHTTP_NO_PROXY_NAME,
                         const wchar_t* bypass = WINHTTP_NO_PROXY_BYPASS) {
  return InternetHandle(WinHttp().Open(kUserAgent, accessType, proxy, bypass, WINHTTP_FLAG_ASYNC));
}

// The host the request is addressed to now, after any redirect.
std::wstring RequestHost(HINTERNET request) {
  wchar_t url[2048];
  DWORD size = sizeof url;
  HttpTarget target;
  if (WinHttp().QueryOption(request, WINHTTP_OPTION_URL, url, &size)) ParseHttpUrl(url, target);
  return target.host;
}

}  // namespace

InternetHandle OpenSession(const std::wstring& url, const std::wstring& host, bool& settled) {
  settled = true;
  // A loopback server is never reached through a proxy.
  if (IsLoopback(host)) return OpenAsync(WINHTTP_ACCESS_TYPE_NO_PROXY);
  // Windows 8.1 and later pick the proxy themselves, the way the system's
  // own programs do; older ones refuse this access type.
  if (!kEmulateWindows7) {
    InternetHandle session = OpenAsync(WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY);
    if (session) return session;
  }
  // Named when the session opens, not per request: that is the form every
  // WinHTTP honours. One it refuses fails the download rather than going
  // around the proxy the network asks for.
  const ProxyChoice proxy = ProxyFor(url, host, settled);
  if (proxy.proxy.empty()) return OpenAsync(WINHTTP_ACCESS_TYPE_NO_PROXY);
  return OpenAsync(WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.proxy.c_str(),
                   proxy.bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : proxy.bypass.c_str());
}

bool AnswerProxyChallenge(HINTERNET request, ProxyLogonState& state) {
  DWORD supported = 0, first = 0, target = 0;
  if (!WinHttp().QueryAuthSchemes(request, &supported, &first, &target) ||
      target != WINHTTP_AUTH_TARGET_PROXY) {
    return false;
  }
  const std::wstring host = RequestHost(request);
  ProxyChallenge challenge;
  challenge.negotiate = (supported & WINHTTP_AUTH_SCHEME_NEGOTIATE) != 0;
  challenge.ntlm = (supported & WINHTTP_AUTH_SCHEME_NTLM) != 0;
  challenge.answeredBefore = state.scheme != 0 && SameHost(state.host, host);
  const ProxyLogon logon = ChooseProxyLogon(challenge);
  if (logon == ProxyLogon::kNone) return false;
  state.scheme =
      logon == ProxyLogon::kNegotiate ? WINHTTP_AUTH_SCHEME_NEGOTIATE : WINHTTP_AUTH_SCHEME_NTLM;
  state.host = host;
  return true;
}

void RenewProxyCredentials(HINTERNET request, const ProxyLogonState& state) {
  if (state.scheme == 0) return;
  // No name and password: the logged-on user's own.
  WinHttp().SetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, state.scheme, nullptr, nullptr,
                           nullptr);
}

}  // namespace zarvelo::win32
