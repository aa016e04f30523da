#include "platform/win32/win32_downloader.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "build_config.h"
#include "download/download_policy.h"
#include "download/http_fields.h"
#include "download/plugin_body.h"
#include "platform/error.h"
#include "platform/win32/http_request.h"
#include "platform/win32/partial_file.h"
#include "platform/win32/winhttp_api.h"
#include "platform/win32/winhttp_errors.h"

// A transfer is up to kMaxAttempts requests: transient faults are tried
// again after a wait (download/download_policy.h), everything else ends it.
// It succeeds when the server answered 2xx with something that is not a
// web page, neither encoded nor longer than the largest plug-in, and the
// whole body (= Content-Length, or a chunked body to its end) arrived
// within the attempt's deadline. Nothing is left behind otherwise: the file
// is made only once the server has answered 2xx with a body worth reading,
// and deleted again if the body does not arrive. LastHttpStatus() gives the
// status of the last attempt's final answer whatever the result (a 200
// whose body broke off, a 403 and a 404 alike).

namespace zarvelo::win32 {

namespace detail {

struct DownloadTransfer {
  std::wstring url;
  std::wstring file;
  Downloader::Done done;
  Win32Downloader::Post post;
  Win32Downloader::Progress progress;
  DWORD stallTimeoutMs = 0;
  DWORD attemptDeadlineMs = 0;
  std::uint64_t maxBytes = 0;

  // The status of the server's final answer in the latest attempt; 0 until
  // one arrived.
  std::atomic<DWORD> httpStatus{0};

  // Set by Cancel(); every wait of the worker also waits for `cancel`.
  std::atomic<bool> cancelled{false};
  KernelHandle cancel{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

}  // namespace detail

namespace {

using Transfer = detail::DownloadTransfer;

constexpr ULONGLONG kProgressIntervalMs = 100;
constexpr DWORD kWorkerExitWaitMs = 2000;
// Connecting and sending have WinHTTP's own 30-second limits; this only
// guards against a completion that never comes.
constexpr DWORD kSendLimitMs = 70000;
// WinHTTP's receive limit is the stall time; ours comes a little later.
constexpr DWORD kStallGraceMs = 2000;

AttemptOutcome Ended(AttemptEnd end, std::int32_t result) {
  AttemptOutcome outcome;
  outcome.end = end;
  outcome.result = result;
  return outcome;
}

AttemptOutcome Stall() { return Ended(AttemptEnd::kStalled, kInetEConnectionTimeout); }
AttemptOutcome Aborted() { return Ended(AttemptEnd::kOther, kEAbort); }

AttemptOutcome Interrupted(Wait wait) {
  return wait == Wait::kCancelled ? Aborted() : Stall();
}

// True when nothing arrived for the stall time since `since`. A receive
// that timed out does not always say so: Wine's WinHTTP can report it as
// the end of the data.
bool Stalled(ULONGLONG since, DWORD stallTimeoutMs) {
  return ::GetTickCount64() - since >= stallTimeoutMs - stallTimeoutMs / 10;
}

DWORD Remaining(ULONGLONG since, DWORD limitMs) {
  const ULONGLONG spent = ::GetTickCount64() - since;
  return spent >= limitMs ? 0 : static_cast<DWORD>(limitMs - spent);
}

void ReportProgress(const std::shared_ptr<Transfer>& t, std::uint64_t received,
                    std::uint64_t total) {
  if (!t->progress || t->cancelled) return;
  t->post([t, received, total] {
    if (!t->cancelled) t->progress(received, total);
  });
}

SendAgainReason SendAgainReasonOf(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_RESEND_REQUEST:
      return SendAgainReason::kResendAsked;
    case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED:
      return SendAgainReason::kCertificateAsked;
    default:
      return SendAgainReason::kNone;
  }
}

// After a failed send or receive: true when the request goes out again, as
// WinHTTP asks when it has answered a proxy's or server's challenge itself,
// or when a server asks for a client certificate.
bool PrepareSendAgain(AsyncHttp& http, DWORD error, int& sentAgain) {
  const SendAgain decision = ChooseSendAgain(SendAgainReasonOf(error), sentAgain);
  if (decision == SendAgain::kNo) return false;
  if (decision == SendAgain::kWithoutCertificate && !http.DeclineClientCertificate()) return false;
  ++sentAgain;
  return true;
}

// Sends the request and waits for the answer's headers; a proxy that asks
// for the user's logon gets it once.
AttemptOutcome Ask(Transfer& t, AsyncHttp& http, DWORD& status) {
  bool answeredProxy = false;
  int sentAgain = 0;
  for (;;) {
    DWORD error = 0;
    Wait wait = http.Send(kSendLimitMs, error);
    if (wait != Wait::kDone) return Interrupted(wait);
    if (error != 0) {
      if (PrepareSendAgain(http, error, sentAgain)) continue;
      return WinHttpFailure(error);
    }
    const ULONGLONG sent = ::GetTickCount64();
    wait = http.Receive(t.stallTimeoutMs + kStallGraceMs, error);
    if (wait != Wait::kDone) return Interrupted(wait);
    if (error != 0) {
      if (Stalled(sent, t.stallTimeoutMs)) return Stall();
      if (PrepareSendAgain(http, error, sentAgain)) continue;
      return WinHttpFailure(error);
    }
    status = http.StatusCode();
    t.httpStatus = status;
    if (status != HTTP_STATUS_PROXY_AUTH_REQ || !AnswerProxyChallenge(http.request(), answeredProxy))
      return Ended(AttemptEnd::kComplete, 0);
    answeredProxy = true;
  }
}

// One request: on success `download` says which file the body is in and
// its hash.
AttemptOutcome Attempt(const std::shared_ptr<Transfer>& shared, AsyncHttp& http,
                       DownloadResult& download) {
  Transfer& t = *shared;
  t.httpStatus = 0;
  // However slowly the bytes come, the attempt ends by then.
  const ULONGLONG started = ::GetTickCount64();
  const DWORD opened = http.NewRequest();
  if (opened != 0) return WinHttpFailure(opened);
  DWORD status = 0;
  const AttemptOutcome asked = Ask(t, http, status);
  if (asked.end != AttemptEnd::kComplete) return asked;
  if (status < 200 || status > 299) {
    const std::optional<std::wstring> retryAfter = http.Header(WINHTTP_QUERY_RETRY_AFTER);
    const std::optional<std::int64_t> retryAfterMs =
        retryAfter ? ParseRetryAfterMs(*retryAfter) : std::nullopt;
    return HttpStatusOutcome(status, retryAfterMs.value_or(-1));
  }
  const AttemptOutcome notThePlugin = Ended(AttemptEnd::kNotThePlugin, kInetEDownloadFailure);
  BodyHeaders headers;
  headers.contentLength = http.Header(WINHTTP_QUERY_CONTENT_LENGTH);
  headers.transferEncoding = http.Header(WINHTTP_QUERY_TRANSFER_ENCODING);
  headers.contentEncoding = http.Header(WINHTTP_QUERY_CONTENT_ENCODING);
  headers.contentType = http.Header(WINHTTP_QUERY_CONTENT_TYPE);
  // Decided before any file is made.
  const BodyPlan plan = PlanBody(headers, t.maxBytes);
  if (plan.verdict != BodyVerdict::kTake) return notThePlugin;
  const std::optional<std::uint64_t> length = plan.length;

  PartialFile file(t.file);
  if (file.error() != 0) return FileFailure(file.error());
  WebPageSniffer sniffer;
  std::uint64_t received = 0;
  ULONGLONG lastReport = ::GetTickCount64();
  ULONGLONG lastByte = lastReport;
  ReportProgress(shared, 0, length.value_or(0));
  for (;;) {
    // Waiting for what is there, then reading just that, keeps each read
    // from waiting on the network.
    DWORD available = 0;
    DWORD error = 0;
    const DWORD left = Remaining(started, t.attemptDeadlineMs);
    const DWORD stallLeft = Remaining(lastByte, t.stallTimeoutMs);
    Wait wait = http.QueryAvailable(stallLeft < left ? stallLeft : left, available, error);
    if (wait != Wait::kDone) return Interrupted(wait);
    if (error != 0 || available == 0) {
      if (Stalled(lastByte, t.stallTimeoutMs)) return Stall();
      if (error != 0) return WinHttpFailure(error);
      break;
    }
    DWORD got = 0;
    wait = http.Read(available, t.stallTimeoutMs < left ? t.stallTimeoutMs : left, got, error);
    if (wait != Wait::kDone) return Interrupted(wait);
    if (error != 0) return WinHttpFailure(error);
    if (got == 0) break;
    // A body that grows past the largest plug-in is not one.
    if (got > t.maxBytes - received) return notThePlugin;
    sniffer.Feed(http.buffer(), got);
    if (sniffer.IsWebPage()) return notThePlugin;
    const Status written = file.Write(http.buffer(), got);
    if (!written.ok()) return FileFailure(written.error());
    received += got;
    const ULONGLONG now = ::GetTickCount64();
    lastByte = now;
    if (Remaining(started, t.attemptDeadlineMs) == 0) return Stall();
    if (now - lastReport >= kProgressIntervalMs) {
      lastReport = now;
      ReportProgress(shared, received, length.value_or(0));
    }
  }
  // The connection closed before the whole body was there.
  if (length && received != *length) return Ended(AttemptEnd::kDropped, kInetEDownloadFailure);
  const Result<Sha256Digest> kept = file.Keep();
  if (!kept.ok()) return FileFailure(kept.status().error());
  download.sha256 = kept.value();
  download.file = file.path();
  ReportProgress(shared, received, length.value_or(0));
  return Ended(AttemptEnd::kComplete, 0);
}

void Report(const std::shared_ptr<Transfer>& t, const DownloadResult& download) {
  // Cancel() runs on the user-interface thread too, so checking there again
  // means `done` never runs once Cancel() has returned.
  if (t->cancelled) return;
  t->post([t, download] {
    if (!t->cancelled) t->done(download);
  });
}

void Run(const std::shared_ptr<Transfer>& t) {
  DownloadResult download;
  if (WinHttp().loadError != 0) {
    download.result = HResultFromWin32(WinHttp().loadError);
    Report(t, download);
    return;
  }
  HttpTarget target;
  if (!ParseHttpUrl(t->url, target)) {
    download.result = kInetEInvalidUrl;
    Report(t, download);
    return;
  }
  // Declared before the attempts' files: its handles are closed, and
  // waited for, only after those are gone.
  AsyncHttp http(t->cancel.get());
  const DWORD opened = http.Open(target, t->stallTimeoutMs);
  if (opened != 0) {
    download.result = WinHttpFailure(opened).result;
    Report(t, download);
    return;
  }
  for (int attempt = 1;; ++attempt) {
    const AttemptOutcome outcome = Attempt(t, http, download);
    if (t->cancelled) return;
    const std::int64_t wait = RetryWaitMs(outcome, attempt);
    if (outcome.end == AttemptEnd::kComplete || wait == kNoRetry) {
      download.result = outcome.result;
      download.localFile = outcome.end == AttemptEnd::kLocalFile;
      break;
    }
    // The status line keeps saying the download runs; Cancel() ends the
    // wait at once.
    http.CloseRequest();
    if (::WaitForSingleObject(t->cancel.get(), static_cast<DWORD>(wait)) != WAIT_TIMEOUT) return;
  }
  Report(t, download);
}

DWORD WINAPI RunTransfer(void* parameter) {
  std::shared_ptr<Transfer>* owner = static_cast<std::shared_ptr<Transfer>*>(parameter);
  const std::shared_ptr<Transfer> t = std::move(*owner);
  delete owner;
  Run(t);
  return 0;
}

}  // namespace

const DWORD Win32Downloader::kDefaultAttemptDeadlineMs = ZARVELO_ATTEMPT_DEADLINE_SECONDS * 1000u;
const std::uint64_t Win32Downloader::kDefaultMaxBytes = ZARVELO_MAX_PLUGIN_BYTES;

Win32Downloader::Win32Downloader(Post post, Progress progress, DWORD stallTimeoutMs,
                                 DWORD attemptDeadlineMs, std::uint64_t maxBytes)
    : post_(std::move(post)),
      progress_(std::move(progress)),
      stallTimeoutMs_(stallTimeoutMs),
      attemptDeadlineMs_(attemptDeadlineMs),
      maxBytes_(maxBytes) {}

Win32Downloader::~Win32Downloader() {
  Cancel();
  // A worker whose handles WinHTTP does not let go of in time is left
  // behind; it holds its own share of the transfer and touches nothing of
  // ours.
  WaitIdle(kWorkerExitWaitMs);
}

void Win32Downloader::Start(const std::wstring& url, const std::wstring& file, Done done) {
  Cancel();
  // Forget the workers that have ended.
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (::WaitForSingleObject(it->get(), 0) == WAIT_OBJECT_0) {
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
  auto transfer = std::make_shared<Transfer>();
  transfer->url = url;
  transfer->file = file;
  transfer->done = std::move(done);
  transfer->post = post_;
  transfer->progress = progress_;
  transfer->stallTimeoutMs = stallTimeoutMs_;
  transfer->attemptDeadlineMs = attemptDeadlineMs_;
  transfer->maxBytes = maxBytes_;
  transfer_ = transfer;

  std::int32_t failure = 0;
  if (!transfer->cancel) {
    failure = HResultFromWin32(::GetLastError());
  } else {
    auto* parameter = new std::shared_ptr<Transfer>(transfer);
    KernelHandle worker(::CreateThread(nullptr, 0, RunTransfer, parameter, 0, nullptr));
    if (worker) {
      workers_.push_back(std::move(worker));
      return;
    }
    failure = HResultFromWin32(::GetLastError());
    delete parameter;
  }
  post_([transfer, failure] {
    DownloadResult download;
    download.result = failure;
    if (!transfer->cancelled) transfer->done(download);
  });
}

std::uint32_t Win32Downloader::LastHttpStatus() const {
  return transfer_ ? transfer_->httpStatus.load() : 0;
}

void Win32Downloader::Cancel() {
  if (!transfer_) return;
  transfer_->cancelled = true;
  if (transfer_->cancel) ::SetEvent(transfer_->cancel.get());
}

bool Win32Downloader::WaitIdle(DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (const KernelHandle& worker : workers_) {
    const ULONGLONG now = ::GetTickCount64();
    const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    if (::WaitForSingleObject(worker.get(), left) != WAIT_OBJECT_0) return false;
  }
  return true;
}

}  // namespace zarvelo::win32
