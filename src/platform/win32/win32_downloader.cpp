#include "platform/win32/win32_downloader.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>

#include "platform/error.h"
#include "platform/win32/lock.h"
#include "platform/win32/long_path.h"

// How a transfer's end is reported. The values are those of the Windows URL
// download service (platform/error.h), which the messages shown to the user
// are written for.
//
//   what happened                                     result
//   ------------------------------------------------  ----------------------------------
//   2xx, the whole body written (= Content-Length)    0
//   status 404 or 410                                 kInetEResourceNotFound
//   a 3xx status as the final answer (not followed)   kInetERedirectFailed
//   any other status                                  kInetEDownloadFailure
//   body shorter than Content-Length, reset mid-body  kInetEDownloadFailure
//   ERROR_WINHTTP_INVALID_URL, _UNRECOGNIZED_SCHEME,
//     a URL that is not http:// or https://           kInetEInvalidUrl
//   ERROR_WINHTTP_NAME_NOT_RESOLVED                   kInetEResourceNotFound
//   ERROR_WINHTTP_CANNOT_CONNECT, WSAECONNREFUSED,
//     WSAENETUNREACH, WSAEHOSTUNREACH                 kInetECannotConnect
//   ERROR_WINHTTP_TIMEOUT, WSAETIMEDOUT,
//     no byte for the stall time                      kInetEConnectionTimeout
//   ERROR_WINHTTP_SECURE_* (certificate, TLS),
//     _CLIENT_AUTH_CERT_NEEDED[_PROXY]                kInetESecurityProblem
//   ERROR_WINHTTP_REDIRECT_FAILED (https -> http)     kInetERedirectFailed
//   ERROR_WINHTTP_OPERATION_CANCELLED                 kEAbort
//   any other error of a WinHTTP call                 kInetEDownloadFailure
//   creating or writing the file fails                HResultFromWin32(GetLastError())
//   no worker thread could be started                 HResultFromWin32(GetLastError())
//   Cancel()                                          kEAbort, never reported
//
// LastHttpStatus() gives the status of the final answer whatever the result
// (a 200 whose body broke off, a 403 and a 404 alike).
//
// A failed transfer leaves no file behind: the file is created only once the
// server has answered 2xx, and deleted again if the body does not arrive.

namespace zarvelo::win32 {

namespace detail {

struct DownloadTransfer {
  std::wstring url;
  std::wstring file;
  Downloader::Done done;
  Win32Downloader::Post post;
  Win32Downloader::Progress progress;
  DWORD stallTimeoutMs = 0;

  std::atomic<bool> cancelled{false};
  // The status of the server's final answer; 0 until one arrived.
  std::atomic<DWORD> httpStatus{0};

  // Cancel() closes these from the user-interface thread: that makes a call
  // blocked on them return. The worker creates and finally closes them.
  SRWLOCK lock = SRWLOCK_INIT;
  InternetHandle connection;
  InternetHandle request;
};

}  // namespace detail

namespace {

using Transfer = detail::DownloadTransfer;

constexpr DWORD kConnectTimeoutMs = 30000;
constexpr ULONGLONG kProgressIntervalMs = 100;
constexpr DWORD kBufferSize = 64 * 1024;
constexpr DWORD kWorkerExitWaitMs = 2000;
constexpr wchar_t kUserAgent[] = L"ZarveloInstaller/1.0";
constexpr wchar_t kNoCacheHeaders[] = L"Cache-Control: no-cache\r\nPragma: no-cache\r\n";

// Strings WinHTTP allocates for proxy settings; the caller frees them.
LPWSTR NullString() { return nullptr; }
void FreeGlobalString(LPWSTR text) { ::GlobalFree(text); }
using GlobalString = UniqueHandle<LPWSTR, FreeGlobalString, NullString>;

std::wstring Copy(const GlobalString& text) { return text ? std::wstring(text.get()) : L""; }

std::int32_t FromWinHttp(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
      return kInetEInvalidUrl;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return kInetEResourceNotFound;
    // Wine's WinHTTP passes some socket errors on as they are.
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case WSAECONNREFUSED:
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
      return kInetECannotConnect;
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
      return kInetEConnectionTimeout;
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
      return kInetESecurityProblem;
    case ERROR_WINHTTP_REDIRECT_FAILED:
      return kInetERedirectFailed;
    case ERROR_WINHTTP_OPERATION_CANCELLED:
      return kEAbort;
    default:
      return kInetEDownloadFailure;
  }
}

std::int32_t FromStatus(DWORD status) {
  if (status == HTTP_STATUS_NOT_FOUND || status == HTTP_STATUS_GONE) return kInetEResourceNotFound;
  // WinHTTP follows redirects itself; one left over is one it refused.
  if (status >= 300 && status < 400) return kInetERedirectFailed;
  return kInetEDownloadFailure;
}

bool IsLoopback(const std::wstring& host) {
  return host.rfind(L"127.", 0) == 0 || host == L"::1" || host == L"[::1]" ||
         ::CompareStringOrdinal(host.c_str(), -1, L"localhost", -1, TRUE) == CSTR_EQUAL;
}

// The proxy a request goes through when the session cannot pick it itself.
struct ProxyChoice {
  bool named = false;
  std::wstring proxy;
  std::wstring bypass;
};

// The user's proxy settings as Internet Explorer (and so every other
// Windows program) sees them: a configuration script or auto-detection
// first, the manually entered proxy otherwise.
ProxyChoice ProxyFromUserSettings(HINTERNET session, const std::wstring& url) {
  ProxyChoice choice;
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user{};
  if (!::WinHttpGetIEProxyConfigForCurrentUser(&user)) return choice;
  const GlobalString autoConfigUrl(user.lpszAutoConfigUrl);
  const GlobalString manualProxy(user.lpszProxy);
  const GlobalString manualBypass(user.lpszProxyBypass);

  if (user.fAutoDetect || autoConfigUrl) {
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
    if (::WinHttpGetProxyForUrl(session, url.c_str(), &options, &found)) {
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

InternetHandle OpenSession(const std::wstring& url, const std::wstring& host,
                           ProxyChoice& proxy) {
  // A loopback server is never reached through a proxy.
  if (IsLoopback(host)) {
    return InternetHandle(::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY,
                                        WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  }
  // Windows 8.1 and later pick the proxy themselves, the way the system's
  // own programs do; older ones refuse this access type.
  InternetHandle session(::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                       WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (session) return session;
  session.reset(::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, 0));
  if (session) proxy = ProxyFromUserSettings(session.get(), url);
  return session;
}

void SetTimeouts(HINTERNET handle, DWORD stallTimeoutMs) {
  ::WinHttpSetTimeouts(handle, static_cast<int>(kConnectTimeoutMs),
                       static_cast<int>(kConnectTimeoutMs), static_cast<int>(kConnectTimeoutMs),
                       static_cast<int>(stallTimeoutMs));
}

void ConfigureSession(HINTERNET session, DWORD stallTimeoutMs) {
  // Windows 7 offers only SSL 3 and TLS 1.0 unless asked for more; systems
  // that do not know TLS 1.3 refuse the whole value.
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
  if (!::WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                          sizeof protocols)) {
    protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    ::WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
  }
  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
  ::WinHttpSetOption(session, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
  SetTimeouts(session, stallTimeoutMs);
}

// Hands a new handle to the transfer, where Cancel() can close it. Null when
// the transfer was cancelled meanwhile (the handle is closed then).
HINTERNET Adopt(Transfer& t, InternetHandle Transfer::*slot, InternetHandle handle) {
  ExclusiveLock lock(t.lock);
  if (t.cancelled) return nullptr;
  (t.*slot) = std::move(handle);
  return (t.*slot).get();
}

// Closes the transfer's connection and request, unless Cancel() already
// did, before the session they belong to is closed.
class TransferHandles {
 public:
  explicit TransferHandles(Transfer& t) : t_(t) {}
  TransferHandles(const TransferHandles&) = delete;
  TransferHandles& operator=(const TransferHandles&) = delete;
  ~TransferHandles() {
    ExclusiveLock lock(t_.lock);
    t_.request.reset();
    t_.connection.reset();
  }

 private:
  Transfer& t_;
};

// The result of a WinHTTP call that failed with `error`.
std::int32_t Failed(const Transfer& t, DWORD error) {
  return t.cancelled ? kEAbort : FromWinHttp(error);
}

// True when nothing arrived for the stall time since `since`. A receive
// that timed out does not always say so: Wine's WinHTTP can report it as
// the end of the data.
bool Stalled(ULONGLONG since, DWORD stallTimeoutMs) {
  return ::GetTickCount64() - since >= stallTimeoutMs - stallTimeoutMs / 10;
}

// The decimal Content-Length, or 0 with `known` false.
std::uint64_t ContentLength(HINTERNET request, bool& known) {
  known = false;
  wchar_t text[32];
  DWORD size = sizeof text;
  // A chunked body's length is what arrives, whatever else the headers say.
  DWORD ignored = 0;
  if (::WinHttpQueryHeaders(request, WINHTTP_QUERY_TRANSFER_ENCODING, WINHTTP_HEADER_NAME_BY_INDEX,
                            WINHTTP_NO_OUTPUT_BUFFER, &ignored, WINHTTP_NO_HEADER_INDEX) ||
      ::GetLastError() != ERROR_WINHTTP_HEADER_NOT_FOUND) {
    return 0;
  }
  if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &size, WINHTTP_NO_HEADER_INDEX)) {
    return 0;
  }
  std::uint64_t value = 0;
  const wchar_t* p = text;
  while (*p == L' ') ++p;
  if (*p < L'0' || *p > L'9') return 0;
  for (; *p >= L'0' && *p <= L'9'; ++p) {
    if (value > (UINT64_MAX - 9) / 10) return 0;
    value = value * 10 + static_cast<std::uint64_t>(*p - L'0');
  }
  while (*p == L' ') ++p;
  if (*p != L'\0') return 0;
  known = true;
  return value;
}

// The file being written; deleted again unless the transfer succeeded.
class PartialFile {
 public:
  explicit PartialFile(const std::wstring& path)
      : path_(ExtendedPath(path)),
        file_(::CreateFileW(path_.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {
    // Marked for deletion from the start, so the system removes it even when
    // the process ends in the middle of a transfer (the user closed the
    // window while the server stalled). Keep() takes the mark off.
    markedForDeletion_ = file_ && MarkForDeletion(true);
  }
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;
  ~PartialFile() {
    if (!file_ || kept_) return;
    if (markedForDeletion_) return;  // gone when the handle closes
    file_.reset();
    ::DeleteFileW(path_.c_str());
  }

  bool created() const { return static_cast<bool>(file_); }

  bool Write(const char* data, DWORD size) {
    while (size > 0) {
      DWORD written = 0;
      if (!::WriteFile(file_.get(), data, size, &written, nullptr)) return false;
      if (written == 0) {
        ::SetLastError(ERROR_WRITE_FAULT);
        return false;
      }
      data += written;
      size -= written;
    }
    return true;
  }

  bool Keep() {
    if (markedForDeletion_ && !MarkForDeletion(false)) return false;
    kept_ = true;
    // Closing can report a delayed write error on network drives.
    return ::CloseHandle(file_.release()) != FALSE;
  }

 private:
  bool MarkForDeletion(bool deleteOnClose) {
    // Through our own handle: this cannot hit a file of the same name that
    // someone else created after us.
    FILE_DISPOSITION_INFO dispose{};
    dispose.DeleteFile = deleteOnClose ? TRUE : FALSE;
    return ::SetFileInformationByHandle(file_.get(), FileDispositionInfo, &dispose,
                                        sizeof dispose) != FALSE;
  }

  std::wstring path_;
  FileHandle file_;
  bool markedForDeletion_ = false;
  bool kept_ = false;
};

void ReportProgress(const std::shared_ptr<Transfer>& t, std::uint64_t received,
                    std::uint64_t total) {
  if (!t->progress || t->cancelled) return;
  t->post([t, received, total] {
    if (!t->cancelled) t->progress(received, total);
  });
}

std::int32_t Fetch(const std::shared_ptr<Transfer>& shared) {
  Transfer& t = *shared;
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength =
      parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (t.url.empty() ||
      !::WinHttpCrackUrl(t.url.c_str(), static_cast<DWORD>(t.url.size()), 0, &parts)) {
    return kInetEInvalidUrl;
  }
  if ((parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) ||
      parts.dwHostNameLength == 0) {
    return kInetEInvalidUrl;
  }
  const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  const std::size_t fragment = path.find(L'#');  // never sent to the server
  if (fragment != std::wstring::npos) path.resize(fragment);
  if (path.empty()) path = L"/";

  ProxyChoice proxy;
  const InternetHandle session = OpenSession(t.url, host, proxy);
  if (!session) return Failed(t, ::GetLastError());
  ConfigureSession(session.get(), t.stallTimeoutMs);
  const TransferHandles closeBeforeSession(t);
  if (t.cancelled) return kEAbort;

  InternetHandle newConnection(::WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
  if (!newConnection) return Failed(t, ::GetLastError());
  const HINTERNET connection = Adopt(t, &Transfer::connection, std::move(newConnection));
  if (!connection) return kEAbort;

  InternetHandle newRequest(::WinHttpOpenRequest(
      connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
      WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_REFRESH | (secure ? WINHTTP_FLAG_SECURE : 0)));
  if (!newRequest) return Failed(t, ::GetLastError());
  const HINTERNET request = Adopt(t, &Transfer::request, std::move(newRequest));
  if (!request) return kEAbort;

  SetTimeouts(request, t.stallTimeoutMs);
  if (proxy.named) {
    WINHTTP_PROXY_INFO info{};
    info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    info.lpszProxy = proxy.proxy.data();
    info.lpszProxyBypass = proxy.bypass.empty() ? nullptr : proxy.bypass.data();
    ::WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof info);
  }
  // Always the server's current file, never a copy a cache kept.
  ::WinHttpAddRequestHeaders(request, kNoCacheHeaders, static_cast<DWORD>(-1),
                             WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);

  if (!::WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                            0, 0)) {
    return Failed(t, ::GetLastError());
  }
  const ULONGLONG sent = ::GetTickCount64();
  if (!::WinHttpReceiveResponse(request, nullptr)) {
    const DWORD error = ::GetLastError();
    if (!t.cancelled && Stalled(sent, t.stallTimeoutMs)) return kInetEConnectionTimeout;
    return Failed(t, error);
  }
  DWORD status = 0;
  DWORD statusSize = sizeof status;
  if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize,
                             WINHTTP_NO_HEADER_INDEX)) {
    return Failed(t, ::GetLastError());
  }
  t.httpStatus = status;
  if (status < 200 || status > 299) return t.cancelled ? kEAbort : FromStatus(status);

  bool lengthKnown = false;
  const std::uint64_t length = ContentLength(request, lengthKnown);
  if (t.cancelled) return kEAbort;
  PartialFile file(t.file);
  if (!file.created()) return HResultFromWin32(::GetLastError());

  const std::unique_ptr<char[]> buffer(new char[kBufferSize]);
  std::uint64_t received = 0;
  ULONGLONG lastReport = ::GetTickCount64();
  ULONGLONG lastByte = lastReport;
  ReportProgress(shared, 0, length);
  for (;;) {
    // Waiting for what is there, then reading just that, keeps each call
    // short: progress stays current and Cancel() is noticed soon.
    DWORD available = 0;
    const BOOL waited = ::WinHttpQueryDataAvailable(request, &available);
    const DWORD error = ::GetLastError();
    if (t.cancelled) return kEAbort;
    if (!waited || available == 0) {
      if (Stalled(lastByte, t.stallTimeoutMs)) return kInetEConnectionTimeout;
      if (!waited) return FromWinHttp(error);
      break;
    }
    DWORD got = 0;
    if (!::WinHttpReadData(request, buffer.get(), available < kBufferSize ? available : kBufferSize,
                           &got)) {
      return Failed(t, ::GetLastError());
    }
    if (t.cancelled) return kEAbort;
    if (got == 0) break;
    if (!file.Write(buffer.get(), got)) return HResultFromWin32(::GetLastError());
    received += got;
    const ULONGLONG now = ::GetTickCount64();
    lastByte = now;
    if (now - lastReport >= kProgressIntervalMs) {
      lastReport = now;
      ReportProgress(shared, received, length);
    }
  }
  if (lengthKnown && received != length) return kInetEDownloadFailure;
  if (!file.Keep()) return HResultFromWin32(::GetLastError());
  ReportProgress(shared, received, length);
  return 0;
}

DWORD WINAPI RunTransfer(void* parameter) {
  std::shared_ptr<Transfer>* owner = static_cast<std::shared_ptr<Transfer>*>(parameter);
  const std::shared_ptr<Transfer> t = std::move(*owner);
  delete owner;

  const std::int32_t result = Fetch(t);
  // Cancel() runs on the user-interface thread too, so checking there again
  // means `done` never runs once Cancel() has returned.
  if (!t->cancelled) {
    t->post([t, result] {
      if (!t->cancelled) t->done(result);
    });
  }
  return 0;
}

struct TransferHandlesToClose {
  InternetHandle connection;
  InternetHandle request;  // closed first
};

DWORD WINAPI CloseTransferHandles(void* parameter) {
  delete static_cast<TransferHandlesToClose*>(parameter);
  return 0;
}

}  // namespace

Win32Downloader::Win32Downloader(Post post, Progress progress, DWORD stallTimeoutMs)
    : post_(std::move(post)), progress_(std::move(progress)), stallTimeoutMs_(stallTimeoutMs) {}

Win32Downloader::~Win32Downloader() {
  Cancel();
  // A worker stuck in a call that does not return is left behind; it holds
  // its own share of the transfer and touches nothing of ours.
  WaitIdle(kWorkerExitWaitMs);
}

void Win32Downloader::Start(const std::wstring& url, const std::wstring& file, Done done) {
  if (worker_) {
    Cancel();
    WaitIdle(kWorkerExitWaitMs);
    worker_.reset();
  }
  auto transfer = std::make_shared<Transfer>();
  transfer->url = url;
  transfer->file = file;
  transfer->done = std::move(done);
  transfer->post = post_;
  transfer->progress = progress_;
  transfer->stallTimeoutMs = stallTimeoutMs_;
  transfer_ = transfer;

  auto* parameter = new std::shared_ptr<Transfer>(transfer);
  worker_.reset(::CreateThread(nullptr, 0, RunTransfer, parameter, 0, nullptr));
  if (!worker_) {
    const std::int32_t result = HResultFromWin32(::GetLastError());
    delete parameter;
    post_([transfer, result] {
      if (!transfer->cancelled) transfer->done(result);
    });
  }
}

std::uint32_t Win32Downloader::LastHttpStatus() const {
  return transfer_ ? transfer_->httpStatus.load() : 0;
}

void Win32Downloader::Cancel() {
  if (!transfer_) return;
  transfer_->cancelled = true;
  // Closing the request makes a WinHTTP call blocked on it return. Wine's
  // WinHTTP instead waits for that call to end, which a silent server drags
  // out to the stall timeout, so the handles are closed on a pool thread and
  // the user-interface thread never waits for them.
  auto* handles = new TransferHandlesToClose;
  {
    ExclusiveLock lock(transfer_->lock);
    handles->request = std::move(transfer_->request);
    handles->connection = std::move(transfer_->connection);
  }
  if (!::QueueUserWorkItem(CloseTransferHandles, handles, WT_EXECUTEDEFAULT)) delete handles;
}

bool Win32Downloader::WaitIdle(DWORD timeoutMs) {
  if (!worker_) return true;
  return ::WaitForSingleObject(worker_.get(), timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace zarvelo::win32
