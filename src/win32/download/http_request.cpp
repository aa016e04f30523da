#include "win32/download/http_request.h"

#include <climits>

#include "win32/download/tls.h"
#include "win32/download/winhttp_api.h"
#include "win32/last_error.h"
#include "win32/lock.h"

namespace zarvelo::win32 {

struct AsyncHttp::Signals {
  KernelHandle completed{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  // Released once for each handle WinHTTP has let go of.
  KernelHandle closed{::CreateSemaphoreW(nullptr, 0, LONG_MAX, nullptr)};
  SRWLOCK lock = SRWLOCK_INIT;
  // The one operation in flight: whether it completed, and how.
  bool completion = false;
  DWORD value = 0;
  DWORD error = 0;
};

namespace {

constexpr DWORD kConnectTimeoutMs = 30000;
// What a WinHTTP call that failed without saying why counts as.
constexpr WinError kUnsaid = ERROR_WINHTTP_INTERNAL_ERROR;
constexpr wchar_t kNoCacheHeaders[] = L"Cache-Control: no-cache\r\nPragma: no-cache\r\n";

using Signals = AsyncHttp::Signals;

void Complete(Signals& s, DWORD value, DWORD error) {
  {
    ExclusiveLock lock(s.lock);
    s.completion = true;
    s.value = value;
    s.error = error;
  }
  ::SetEvent(s.completed.get());
}

// Runs on WinHTTP's threads, or inside a call on ours: it only hands the
// news over.
void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  auto* s = reinterpret_cast<Signals*>(context);
  if (s == nullptr) return;
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      Complete(*s, 0, 0);
      break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      Complete(*s, info != nullptr ? *static_cast<const DWORD*>(info) : 0, 0);
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      Complete(*s, length, 0);
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
      const auto* result = static_cast<const WINHTTP_ASYNC_RESULT*>(info);
      const DWORD error = result != nullptr ? result->dwError : 0;
      Complete(*s, 0, error != 0 ? error : ERROR_WINHTTP_INTERNAL_ERROR);
      break;
    }
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING: {
      // The owner frees the signals as soon as it has counted the last
      // closing, possibly while this thread is still in here. So the count
      // is the semaphore itself: the handle is read first, and releasing it
      // is the last thing this callback does with anything of ours.
      const HANDLE closed = s->closed.get();
      ::ReleaseSemaphore(closed, 1, nullptr);
      break;
    }
    default:
      break;
  }
}

}  // namespace

bool ParseHttpUrl(const std::wstring& url, HttpTarget& target) {
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength =
      static_cast<DWORD>(-1);
  if (url.empty() || !WinHttp().CrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
    return false;
  if ((parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) ||
      parts.dwHostNameLength == 0) {
    return false;
  }
  target.url = url;
  target.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  target.host.assign(parts.lpszHostName, parts.dwHostNameLength);
  target.port = parts.nPort;
  target.path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) target.path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  const std::size_t fragment = target.path.find(L'#');  // never sent to the server
  if (fragment != std::wstring::npos) target.path.resize(fragment);
  if (target.path.empty()) target.path = L"/";
  return true;
}

AsyncHttp::AsyncHttp(HANDLE cancel)
    : cancel_(cancel), signals_(new Signals), buffer_(new char[kBufferSize]) {}

AsyncHttp::~AsyncHttp() {
  request_.reset();
  connection_.reset();
  session_.reset();
  // A handle's closing is WinHTTP's last word about it; until then it may
  // still write into our buffer and signals. Wine delivers it only once a
  // pending receive ends, at the latest at the stall time.
  WaitForClosings(nullptr);
}

Status AsyncHttp::Adopt(HINTERNET handle) {
  // Every handle carries the signals, so its closing is reported there.
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(signals_.get());
  const Status adopted = Check(
      WinHttp().SetOption(handle, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context), kUnsaid);
  if (adopted.ok()) ++adopted_;
  return adopted;
}

Status AsyncHttp::Keep(InternetHandle handle, InternetHandle& slot) {
  // The error is read before a handle that could not be adopted closes.
  if (!handle) return LastError(kUnsaid);
  const Status adopted = Adopt(handle.get());
  if (!adopted.ok()) return adopted;
  slot = std::move(handle);
  return Status::Ok();
}

bool AsyncHttp::WaitForClosings(HANDLE cancel) {
  const LONG open = (session_ ? 1 : 0) + (connection_ ? 1 : 0) + (request_ ? 1 : 0);
  HANDLE waits[] = {signals_->closed.get(), cancel};
  while (closings_ < adopted_ - open) {
    if (::WaitForMultipleObjects(cancel ? 2 : 1, waits, FALSE, INFINITE) != WAIT_OBJECT_0)
      return false;
    ++closings_;
  }
  return true;
}

Status AsyncHttp::Open(const HttpTarget& target, DWORD stallMs) {
  target_ = target;
  stallMs_ = stallMs;
  if (!signals_->completed || !signals_->closed) return LastError(kUnsaid);
  InternetHandle session = OpenSession(target.url, target.host, proxySettled_);
  if (!session) return LastError(kUnsaid);
  // Closed unseen when either fails: no closing will be reported.
  if (WinHttp().SetStatusCallback(
          session.get(), OnStatus,
          WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
          0) == WINHTTP_INVALID_STATUS_CALLBACK)
    return LastError(kUnsaid);
  const Status adopted = Adopt(session.get());
  if (!adopted.ok()) return adopted;
  session_ = std::move(session);
  const Status secure = RequireSecureTransport(session_.get());
  if (!secure.ok()) return secure;
  WinHttp().SetTimeouts(session_.get(), 0, static_cast<int>(kConnectTimeoutMs),
                        static_cast<int>(kConnectTimeoutMs), static_cast<int>(stallMs));

  return Keep(
      InternetHandle(WinHttp().Connect(session_.get(), target.host.c_str(), target.port, 0)),
      connection_);
}

Status AsyncHttp::NewRequest() {
  CloseRequest();
  const Status opened =
      Keep(InternetHandle(WinHttp().OpenRequest(
               connection_.get(), L"GET", target_.path.c_str(), nullptr, WINHTTP_NO_REFERER,
               WINHTTP_DEFAULT_ACCEPT_TYPES,
               WINHTTP_FLAG_REFRESH | (target_.secure ? WINHTTP_FLAG_SECURE : 0))),
           request_);
  if (!opened.ok()) return opened;
  WinHttp().SetTimeouts(request_.get(), 0, static_cast<int>(kConnectTimeoutMs),
                        static_cast<int>(kConnectTimeoutMs), static_cast<int>(stallMs_));
  // The logged-on user's credentials go to proxies and intranet servers
  // only, never to a server on the Internet; stated, not left to the
  // system's default.
  DWORD logonPolicy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_MEDIUM;
  WinHttp().SetOption(request_.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, &logonPolicy,
                      sizeof logonPolicy);
  // Always the server's current file, never a copy a cache kept.
  WinHttp().AddRequestHeaders(request_.get(), kNoCacheHeaders, static_cast<DWORD>(-1),
                              WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
  return Status::Ok();
}

void AsyncHttp::CloseRequest() {
  if (!request_) return;
  request_.reset();
  // Cancelled: the destructor waits, once the download has ended.
  if (!WaitForClosings(cancel_)) return;
  // Nothing of the old request can arrive any more.
  ExclusiveLock lock(signals_->lock);
  signals_->completion = false;
}

Completion AsyncHttp::Await(BOOL started, DWORD timeoutMs) {
  if (!started) return {Wait::kDone, LastError(kUnsaid), 0};
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  HANDLE waits[] = {signals_->completed.get(), cancel_};
  for (;;) {
    {
      ExclusiveLock lock(signals_->lock);
      if (signals_->completion) {
        signals_->completion = false;
        return {Wait::kDone, Status(signals_->error), signals_->value};
      }
    }
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return {Wait::kTimedOut, Status::Ok(), 0};
    const DWORD woke =
        ::WaitForMultipleObjects(2, waits, FALSE, static_cast<DWORD>(deadline - now));
    if (woke == WAIT_OBJECT_0 + 1 || woke == WAIT_FAILED)
      return {Wait::kCancelled, Status::Ok(), 0};
  }
}

Completion AsyncHttp::Send(DWORD timeoutMs) {
  if (::WaitForSingleObject(cancel_, 0) == WAIT_OBJECT_0)
    return {Wait::kCancelled, Status::Ok(), 0};
  return Await(WinHttp().SendRequest(request_.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                     WINHTTP_NO_REQUEST_DATA, 0, 0, 0),
               timeoutMs);
}

bool AsyncHttp::DeclineClientCertificate() {
  return WinHttp().SetOption(request_.get(), WINHTTP_OPTION_CLIENT_CERT_CONTEXT,
                             WINHTTP_NO_CLIENT_CERT_CONTEXT, 0) != FALSE;
}

Completion AsyncHttp::Receive(DWORD timeoutMs) {
  return Await(WinHttp().ReceiveResponse(request_.get(), nullptr), timeoutMs);
}

Completion AsyncHttp::QueryAvailable(DWORD timeoutMs) {
  return Await(WinHttp().QueryDataAvailable(request_.get(), nullptr), timeoutMs);
}

Completion AsyncHttp::Read(DWORD size, DWORD timeoutMs) {
  if (size > kBufferSize) size = kBufferSize;
  return Await(WinHttp().ReadData(request_.get(), buffer_.get(), size, nullptr), timeoutMs);
}

DWORD AsyncHttp::StatusCode() const {
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!WinHttp().QueryHeaders(request_.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                              WINHTTP_NO_HEADER_INDEX)) {
    return 0;
  }
  return status;
}

std::optional<std::wstring> AsyncHttp::Header(DWORD query) const {
  DWORD size = 0;
  WinHttp().QueryHeaders(request_.get(), query, WINHTTP_HEADER_NAME_BY_INDEX,
                         WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return std::nullopt;
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (!WinHttp().QueryHeaders(request_.get(), query, WINHTTP_HEADER_NAME_BY_INDEX, value.data(),
                              &size, WINHTTP_NO_HEADER_INDEX)) {
    return std::nullopt;
  }
  value.resize(size / sizeof(wchar_t));
  return value;
}

}  // namespace zarvelo::win32
