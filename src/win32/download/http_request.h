// One transfer's WinHTTP handles in asynchronous mode. Only the thread that
// made an AsyncHttp calls it: that thread starts every operation, waits for
// its completion and closes the handles, so no thread ever uses a handle
// that another may be closing. WinHTTP's own threads only report back.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/error.h"
#include "win32/download/internet_handle.h"
#include "win32/download/proxy.h"
#include "win32/handles.h"

namespace zarvelo::win32 {

struct HttpTarget {
  std::wstring url;
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring path;  // with the query, without a fragment
  bool secure = false;
};

// False for anything but an http:// or https:// URL with a host.
bool ParseHttpUrl(const std::wstring& url, HttpTarget& target);

// How waiting for an operation ended.
enum class Wait { kDone, kCancelled, kTimedOut };

// An operation that was waited for: with kDone, `status` is its outcome (a
// failure carries WinHTTP's error) and `value` what it reports (the bytes
// available or read).
struct Completion {
  Wait wait = Wait::kDone;
  Status status;
  DWORD value = 0;

  bool done() const { return wait == Wait::kDone; }
};

class AsyncHttp {
 public:
  static constexpr DWORD kBufferSize = 256 * 1024;

  // Setting `cancel` (an event) ends any wait at once.
  explicit AsyncHttp(HANDLE cancel);
  // Closes the handles and waits until WinHTTP has let go of each.
  ~AsyncHttp();
  AsyncHttp(const AsyncHttp&) = delete;
  AsyncHttp& operator=(const AsyncHttp&) = delete;

  // The session and connection. A receive that waits longer than `stallMs`
  // fails.
  Status Open(const HttpTarget& target, DWORD stallMs);
  // A fresh GET request, the previous one closed.
  Status NewRequest();
  // Closes the request and waits until WinHTTP lets go of it, or until
  // cancelled.
  void CloseRequest();

  // Each starts one operation and waits at most `timeoutMs` for it.
  Completion Send(DWORD timeoutMs);
  // Tells the request to go without a client certificate when the server
  // asks for one; false when WinHTTP refused.
  bool DeclineClientCertificate();
  Completion Receive(DWORD timeoutMs);
  // Its value: how many bytes are there to read.
  Completion QueryAvailable(DWORD timeoutMs);
  // Reads at most `size` (up to kBufferSize) bytes into buffer(); its value:
  // how many. Ask for no more than is available: Wine waits for the whole
  // amount.
  Completion Read(DWORD size, DWORD timeoutMs);
  const char* buffer() const { return buffer_.get(); }

  HINTERNET request() const { return request_.get(); }
  // False when the session's proxy came from a lookup that failed: another
  // session may find it.
  bool proxySettled() const { return proxySettled_; }
  // The answer's status code, 0 if unknown.
  DWORD StatusCode() const;
  // A response header's value.
  std::optional<std::wstring> Header(DWORD query) const;

  // What WinHTTP's threads hand over; public for the callback only.
  struct Signals;

 private:
  // The operation started by a call that returned `started`.
  Completion Await(BOOL started, DWORD timeoutMs);
  Status Adopt(HINTERNET handle);
  // Stores an adopted `handle` in `slot`; otherwise closes it and returns
  // the failure of its opening or adoption.
  Status Keep(InternetHandle handle, InternetHandle& slot);
  // Until WinHTTP has let go of every closed handle; false when `cancel`
  // (if not null) was set first.
  bool WaitForClosings(HANDLE cancel);

  HANDLE cancel_;
  std::unique_ptr<Signals> signals_;
  std::unique_ptr<char[]> buffer_;
  HttpTarget target_;
  bool proxySettled_ = true;
  DWORD stallMs_ = 0;
  LONG adopted_ = 0;   // handles whose closing will be reported
  LONG closings_ = 0;  // of those, closings seen
  InternetHandle session_;
  InternetHandle connection_;
  InternetHandle request_;
};

}  // namespace zarvelo::win32
