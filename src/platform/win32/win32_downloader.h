// The URL download service on WinHTTP: one transfer at a time on a worker
// thread, results and progress handed back to the user-interface thread.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/downloader.h"
#include "platform/win32/handles.h"

namespace zarvelo::win32 {

namespace detail {
inline HINTERNET NullInternet() { return nullptr; }
inline void CloseInternet(HINTERNET h) { ::WinHttpCloseHandle(h); }
// What one transfer's worker shares with its downloader. It outlives the
// downloader when a worker that does not end in time is left behind.
struct DownloadTransfer;
}  // namespace detail

// WinHttpOpen, WinHttpConnect and WinHttpOpenRequest results.
using InternetHandle = UniqueHandle<HINTERNET, detail::CloseInternet, detail::NullInternet>;

class Win32Downloader : public Downloader {
 public:
  // Runs a task on the user-interface thread; callable from any thread.
  using Post = std::function<void(std::function<void()>)>;
  // Bytes received so far and the announced total (0 when unknown); called
  // on the user-interface thread.
  using Progress = std::function<void(std::uint64_t received, std::uint64_t total)>;

  explicit Win32Downloader(Post post, Progress progress = {}, DWORD stallTimeoutMs = 30000);
  ~Win32Downloader() override;
  Win32Downloader(const Win32Downloader&) = delete;
  Win32Downloader& operator=(const Win32Downloader&) = delete;

  // A transfer still running is cancelled first.
  void Start(const std::wstring& url, const std::wstring& file, Done done) override;
  std::uint32_t LastHttpStatus() const override;

  // Ends a running transfer: its partial file is deleted and its `done` is
  // never called.
  void Cancel();

  // True when no transfer is running (any more) within `timeoutMs`.
  bool WaitIdle(DWORD timeoutMs);

 private:
  Post post_;
  Progress progress_;
  DWORD stallTimeoutMs_;
  std::shared_ptr<detail::DownloadTransfer> transfer_;
  KernelHandle worker_;
};

}  // namespace zarvelo::win32
