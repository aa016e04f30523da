// Which proxy a download goes through, and answering a proxy that asks who
// the user is.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <string>

#include "win32/download/internet_handle.h"

namespace zarvelo::win32 {

// An asynchronous WinHTTP session for `url` on `host`, opened with the
// system's proxy settings; null with the Windows error set when it cannot
// be, including a proxy WinHTTP refuses. `settled` is false when the proxy
// came from a lookup that failed, which the next attempt makes again.
InternetHandle OpenSession(const std::wstring& url, const std::wstring& host, bool& settled);

// How one request answered a proxy that asked who the user is: the scheme
// and the host it was asked for.
struct ProxyLogonState {
  DWORD scheme = 0;
  std::wstring host;
};

// After a 407: gives the proxy the logged-on user's credentials when the
// policy says so (download/download_policy.h); a redirect to another host
// counts as a new challenge. True when the request should be sent again.
bool AnswerProxyChallenge(HINTERNET request, ProxyLogonState& state);

// Before a request goes out again: WinHTTP forgets the credentials once it
// has used them, so the chosen scheme's are given again.
void RenewProxyCredentials(HINTERNET request, const ProxyLogonState& state);

}  // namespace zarvelo::win32
