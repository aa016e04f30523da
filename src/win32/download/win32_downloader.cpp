#include "win32/download/win32_downloader.h"

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
#include "win32/download/http_request.h"
#include "win32/download/partial_file.h"
#include "win32/download/winhttp_api.h"
#include "win32/download/winhttp_errors.h"
#include "win32/last_error.h"

// A transfer is up to kMaxAttempts requests: transient faults are tried
// again after a wait (download/download_policy.h), everything else ends it.
// It succeeds when the server answered 200 with something that is not a
// web page, neither encoded nor longer than the largest plug-in, and the
// whole body (= Content-Length) arrived within the attempt's deadline.
// Nothing is left behind otherwise: the file is made only once the server
// has answered 200 with a body worth reading,
// and deleted again if the body does not arrive. LastHttpStatus() gives the
// status of the last attempt's final answer whatever the result (a 200
// whose body broke off, a 403 and a 404 alike).

namespace zarvelo::win32 {

namespace detail {

struct DownloadTransfer {
  std::wstring url;
  std::wstring file;
  Downloader::Done done;
  PostToUi post;
  Win32Downloader::Progress progress;
  DWORD stallTimeoutMs = 0;
  DWORD attemptDeadlineMs = 0;
  std::uint64_t maxBytes = 0;
  bool hash = true;

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
// Connecting and sending have WinHTTP's own 30-second limits; this only
// guards against a completion that never comes.
constexpr DWORD kSendLimitMs = 70000;
// WinHTTP's receive limit is the stall time; ours comes a little later.
constexpr DWORD kStallGraceMs = 2000;

AttemptOutcome Stall() { return {AttemptEnd::kStalled, kInetEConnectionTimeout}; }
AttemptOutcome Aborted() { return {AttemptEnd::kOther, kEAbort}; }

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

SendAgainReason SendAgainReasonOf(Status failure) {
  switch (failure.error()) {
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
bool PrepareSendAgain(AsyncHttp& http, Status failure, int& sentAgain) {
  const SendAgain decision = ChooseSendAgain(SendAgainReasonOf(failure), sentAgain);
  if (decision == SendAgain::kNo) return false;
  if (decision == SendAgain::kWithoutCertificate && !http.DeclineClientCertificate()) return false;
  ++sentAgain;
  return true;
}

// Sends the request and waits for the answer's headers; a proxy that asks
// for the user's logon gets it once per host, and again with every send
// that follows.
AttemptOutcome Ask(Transfer& t, AsyncHttp& http, DWORD& status) {
  ProxyLogonState proxyLogon;
  int sentAgain = 0;
  for (;;) {
    RenewProxyCredentials(http.request(), proxyLogon);
    const Completion send = http.Send(kSendLimitMs);
    if (!send.done()) return Interrupted(send.wait);
    if (!send.status.ok()) {
      if (PrepareSendAgain(http, send.status, sentAgain)) continue;
      return WinHttpFailure(send.status);
    }
    const ULONGLONG sent = ::GetTickCount64();
    const Completion answer = http.Receive(t.stallTimeoutMs + kStallGraceMs);
    if (!answer.done()) return Interrupted(answer.wait);
    if (!answer.status.ok()) {
      if (Stalled(sent, t.stallTimeoutMs)) return Stall();
      if (PrepareSendAgain(http, answer.status, sentAgain)) continue;
      return WinHttpFailure(answer.status);
    }
    status = http.StatusCode();
    t.httpStatus = status;
    if (status != HTTP_STATUS_PROXY_AUTH_REQ || !AnswerProxyChallenge(http.request(), proxyLogon))
      return {AttemptEnd::kComplete, 0};
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
  const Status opened = http.NewRequest();
  if (!opened.ok()) return WinHttpFailure(opened);
  DWORD status = 0;
  const AttemptOutcome asked = Ask(t, http, status);
  if (asked.end != AttemptEnd::kComplete) return asked;
  if (status != kPluginStatus) {
    const std::optional<std::wstring> retryAfter = http.Header(WINHTTP_QUERY_RETRY_AFTER);
    const std::optional<std::int64_t> retryAfterMs =
        retryAfter ? ParseRetryAfterMs(*retryAfter) : std::nullopt;
    return HttpStatusOutcome(status, retryAfterMs.value_or(-1));
  }
  const AttemptOutcome notThePlugin{AttemptEnd::kNotThePlugin, kInetEDownloadFailure};
  BodyHeaders headers;
  headers.contentLength = http.Header(WINHTTP_QUERY_CONTENT_LENGTH);
  headers.transferEncoding = http.Header(WINHTTP_QUERY_TRANSFER_ENCODING);
  headers.contentEncoding = http.Header(WINHTTP_QUERY_CONTENT_ENCODING);
  headers.contentType = http.Header(WINHTTP_QUERY_CONTENT_TYPE);
  // Decided before any file is made.
  const BodyPlan plan = PlanBody(headers, t.maxBytes);
  if (plan.verdict != BodyVerdict::kTake) return notThePlugin;
  const std::optional<std::uint64_t> length = plan.length;

  PartialFile file(t.hash);
  const Status created = file.Create(t.file);
  if (!created.ok()) return FileFailure(created);
  WebPageSniffer sniffer;
  std::uint64_t received = 0;
  ULONGLONG lastReport = ::GetTickCount64();
  ULONGLONG lastByte = lastReport;
  ReportProgress(shared, 0, length.value_or(0));
  ReadPacing pacing(AsyncHttp::kBufferSize, lastByte);
  for (;;) {
    const DWORD left = Remaining(started, t.attemptDeadlineMs);
    DWORD size = AsyncHttp::kBufferSize;
    if (!pacing.WholeBuffers()) {
      // Waiting for what is there, then reading just that, keeps the read
      // from waiting on the network.
      const DWORD stallLeft = Remaining(lastByte, t.stallTimeoutMs);
      const Completion available = http.QueryAvailable(stallLeft < left ? stallLeft : left);
      if (!available.done()) return Interrupted(available.wait);
      if (!available.status.ok() || available.value == 0) {
        if (Stalled(lastByte, t.stallTimeoutMs)) return Stall();
        if (!available.status.ok()) return WinHttpFailure(available.status);
        break;
      }
      size = available.value;
    }
    const ULONGLONG readAsked = ::GetTickCount64();
    const Completion read = http.Read(size, t.stallTimeoutMs < left ? t.stallTimeoutMs : left);
    if (!read.done()) return Interrupted(read.wait);
    if (!read.status.ok()) return WinHttpFailure(read.status);
    const DWORD got = read.value;
    if (got == 0) {
      if (Stalled(lastByte, t.stallTimeoutMs)) return Stall();
      break;
    }
    pacing.Read(got, readAsked, ::GetTickCount64());
    // A body that grows past the largest plug-in is not one.
    if (got > t.maxBytes - received) return notThePlugin;
    sniffer.Feed(http.buffer(), got);
    if (sniffer.IsWebPage()) return notThePlugin;
    const Status written = file.Write(http.buffer(), got);
    if (!written.ok()) return FileFailure(written);
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
  if (length && received != *length) return {AttemptEnd::kDropped, kInetEDownloadFailure};
  const Result<std::shared_ptr<HeldFile>> kept = file.Keep(download.sha256);
  if (!kept.ok()) return FileFailure(kept.status());
  download.file = kept.value();
  ReportProgress(shared, received, length.value_or(0));
  return {AttemptEnd::kComplete, 0};
}

void Report(const std::shared_ptr<Transfer>& t, DownloadResult download) {
  // Cancel() runs on the user-interface thread too, so checking there again
  // means `done` never runs once Cancel() has returned. `done` gets the one
  // hold on the file.
  if (t->cancelled) return;
  t->post([t, download = std::move(download)]() mutable {
    if (!t->cancelled) t->done(std::move(download));
  });
}

void Run(const std::shared_ptr<Transfer>& t) {
  DownloadResult download;
  if (WinHttp().loadError != 0) {
    download.result = SystemFailureResult(Status(WinHttp().loadError));
    Report(t, download);
    return;
  }
  HttpTarget target;
  if (!ParseHttpUrl(t->url, target)) {
    download.result = kInetEInvalidUrl;
    Report(t, download);
    return;
  }
  std::unique_ptr<AsyncHttp> http;
  for (int attempt = 1;; ++attempt) {
    // A session whose proxy lookup failed is opened anew: the lookup may
    // succeed this time.
    if (!http || !http->proxySettled()) {
      http.reset();
      http.reset(new AsyncHttp(t->cancel.get()));
      const Status opened = http->Open(target, t->stallTimeoutMs);
      if (!opened.ok()) {
        download.result = WinHttpFailure(opened).result;
        break;
      }
    }
    const AttemptOutcome outcome = Attempt(t, *http, download);
    if (t->cancelled) return;
    const std::int64_t wait = RetryWaitMs(outcome, attempt);
    if (outcome.end == AttemptEnd::kComplete || wait == kNoRetry) {
      download.result = outcome.result;
      download.localFile = outcome.end == AttemptEnd::kLocalFile;
      break;
    }
    // The status line keeps saying the download runs; Cancel() ends the
    // wait at once.
    http->CloseRequest();
    if (::WaitForSingleObject(t->cancel.get(), static_cast<DWORD>(wait)) != WAIT_TIMEOUT) return;
  }
  Report(t, std::move(download));
}

}  // namespace

const DWORD Win32Downloader::kDefaultStallTimeoutMs = ZARVELO_STALL_SECONDS * 1000u;
const DWORD Win32Downloader::kDefaultAttemptDeadlineMs = ZARVELO_ATTEMPT_DEADLINE_SECONDS * 1000u;
const std::uint64_t Win32Downloader::kDefaultMaxBytes = ZARVELO_MAX_PLUGIN_BYTES;

Win32Downloader::Win32Downloader(BackgroundThreads& threads, PostToUi post, Progress progress,
                                 DWORD stallTimeoutMs, DWORD attemptDeadlineMs,
                                 std::uint64_t maxBytes)
    : threads_(threads),
      post_(std::move(post)),
      progress_(std::move(progress)),
      stallTimeoutMs_(stallTimeoutMs),
      attemptDeadlineMs_(attemptDeadlineMs),
      maxBytes_(maxBytes) {}

// A transfer's thread holds its own share of the transfer and touches
// nothing of ours, so it may outlive us.
Win32Downloader::~Win32Downloader() { Cancel(); }

void Win32Downloader::Start(const std::wstring& url, const std::wstring& file, Done done) {
  Cancel();
  auto transfer = std::make_shared<Transfer>();
  transfer->url = url;
  transfer->file = file;
  transfer->done = std::move(done);
  transfer->post = post_;
  transfer->progress = progress_;
  transfer->stallTimeoutMs = stallTimeoutMs_;
  transfer->attemptDeadlineMs = attemptDeadlineMs_;
  transfer->maxBytes = maxBytes_;
  transfer->hash = hash_;
  transfer_ = transfer;

  std::int32_t failure = 0;
  if (!transfer->cancel) {
    failure = SystemFailureResult(LastError());
  } else {
    const Status started = threads_.Start([transfer] { Run(transfer); }, transfer->cancel.get());
    if (started.ok()) return;
    failure = SystemFailureResult(started);
  }
  post_([transfer, failure] {
    DownloadResult download;
    download.result = failure;
    if (!transfer->cancelled) transfer->done(std::move(download));
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

}  // namespace zarvelo::win32
