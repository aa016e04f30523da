// Which proxy a download goes through, and answering a proxy that asks who
// the user is.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <string>

#include "platform/win32/download/internet_handle.h"

namespace zarvelo::win32 {

// A proxy the requests are sent through when the session cannot pick it
// itself.
struct ProxyChoice {
  bool named = false;
  std::wstring proxy;
  std::wstring bypass;
};

// An asynchronous WinHTTP session for `url` on `host` with the system's
// proxy settings; `proxy` says what each request still has to be told.
InternetHandle OpenSession(const std::wstring& url, const std::wstring& host, ProxyChoice& proxy);

void ApplyProxy(HINTERNET request, const ProxyChoice& proxy);

// After a 407: gives the proxy the logged-on user's credentials when the
// policy says so (download/download_policy.h). True when the request should
// be sent again.
bool AnswerProxyChallenge(HINTERNET request, bool answeredBefore);

}  // namespace zarvelo::win32
