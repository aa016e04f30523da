// The URL download service on WinHTTP: each transfer on a worker thread of
// its own, results and progress handed back to the user-interface thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/downloader.h"
#include "win32/background_threads.h"
#include "win32/download/internet_handle.h"
#include "win32/handles.h"
#include "win32/ui_queue.h"

namespace zarvelo::win32 {

namespace detail {
// What one transfer's worker shares with its downloader. It outlives the
// downloader when a worker that does not end in time is left behind.
struct DownloadTransfer;
}  // namespace detail

class Win32Downloader : public Downloader {
 public:
  // The build's settings (ZARVELO_STALL_SECONDS,
  // ZARVELO_ATTEMPT_DEADLINE_SECONDS, ZARVELO_MAX_PLUGIN_BYTES).
  static const DWORD kDefaultStallTimeoutMs;
  static const DWORD kDefaultAttemptDeadlineMs;
  static const std::uint64_t kDefaultMaxBytes;

  // Bytes received so far and the announced total (0 when unknown); called
  // on the user-interface thread.
  using Progress = std::function<void(std::uint64_t received, std::uint64_t total)>;

  // Transfers run on threads of `threads`; its Cancel() ends them as
  // Cancel() here does. A transfer fails when nothing arrives for
  // `stallTimeoutMs`, when one attempt takes longer than `attemptDeadlineMs`
  // in all, and when the body is (or grows) longer than `maxBytes`.
  explicit Win32Downloader(BackgroundThreads& threads, PostToUi post, Progress progress = {},
                           DWORD stallTimeoutMs = kDefaultStallTimeoutMs,
                           DWORD attemptDeadlineMs = kDefaultAttemptDeadlineMs,
                           std::uint64_t maxBytes = kDefaultMaxBytes);
  // Cancels the running transfer; its thread is not waited for.
  ~Win32Downloader() override;
  Win32Downloader(const Win32Downloader&) = delete;
  Win32Downloader& operator=(const Win32Downloader&) = delete;

  // Whether transfers hash the bytes they receive (DownloadResult::sha256);
  // they do unless told otherwise.
  void HashBytes(bool hash) { hash_ = hash; }

  // A transfer still running is cancelled first; it is not waited for.
  void Start(const std::wstring& url, const std::wstring& file, Done done) override;
  std::uint32_t LastHttpStatus() const override;

  // Ends a running transfer at once: its partial file is deleted and its
  // `done` is never called. Never blocks: the transfer's thread closes its
  // own handles.
  void Cancel();

 private:
  BackgroundThreads& threads_;
  PostToUi post_;
  Progress progress_;
  DWORD stallTimeoutMs_;
  DWORD attemptDeadlineMs_;
  std::uint64_t maxBytes_;
  bool hash_ = true;
  std::shared_ptr<detail::DownloadTransfer> transfer_;
};

}  // namespace zarvelo::win32
