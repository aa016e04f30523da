#include "download/download_policy.h"

#include "platform/error.h"

namespace zarvelo {
namespace {

// A moment for a dropped link or a busy server to recover, then longer.
constexpr std::int64_t kWaitsMs[kMaxAttempts - 1] = {1000, 3000};

bool IsTransientStatus(unsigned status) {
  switch (status) {
    case 408:  // request timeout
    case 429:  // too many requests
    case 500:
    case 502:
    case 503:
    case 504:
      return true;
    default:
      return false;
  }
}

bool IsTransient(const AttemptOutcome& outcome) {
  switch (outcome.end) {
    case AttemptEnd::kRefused:
    case AttemptEnd::kDropped:
    case AttemptEnd::kNameNotResolved:
      return true;
    case AttemptEnd::kHttpStatus:
      return IsTransientStatus(outcome.httpStatus);
    default:
      return false;
  }
}

}  // namespace

AttemptOutcome HttpStatusOutcome(unsigned status, std::int64_t retryAfterMs) {
  AttemptOutcome outcome;
  outcome.end = AttemptEnd::kHttpStatus;
  outcome.httpStatus = status;
  outcome.retryAfterMs = retryAfterMs;
  if (status == 404 || status == 410) {
    outcome.result = kInetEResourceNotFound;
  } else if (status >= 300 && status < 400) {
    // Redirects are followed before this; one left over is one refused.
    outcome.result = kInetERedirectFailed;
  } else {
    outcome.result = kInetEDownloadFailure;
  }
  return outcome;
}

std::int64_t RetryWaitMs(const AttemptOutcome& outcome, int attemptsMade) {
  if (attemptsMade < 1 || attemptsMade >= kMaxAttempts || !IsTransient(outcome)) return kNoRetry;
  const std::int64_t wait = kWaitsMs[attemptsMade - 1];
  if (outcome.retryAfterMs < 0) return wait;
  // Coming back before the server asked is pointless; after a pause longer
  // than the user should sit through, it is not worth it.
  if (outcome.retryAfterMs > kLongestRetryAfterMs) return kNoRetry;
  return outcome.retryAfterMs > wait ? outcome.retryAfterMs : wait;
}

TlsVersions TlsFallback(TlsVersions refused) {
  return refused == TlsVersions::kTls12And13 ? TlsVersions::kTls12 : TlsVersions::kNone;
}

SendAgain ChooseSendAgain(SendAgainReason reason, int sentAgain) {
  // A server or proxy that keeps asking is not asked forever.
  if (sentAgain >= kMaxSendsAgain) return SendAgain::kNo;
  switch (reason) {
    case SendAgainReason::kResendAsked:
      return SendAgain::kAsItIs;
    case SendAgainReason::kCertificateAsked:
      return SendAgain::kWithoutCertificate;
    default:
      return SendAgain::kNo;
  }
}

ProxyLogon ChooseProxyLogon(const ProxyChallenge& challenge) {
  if (challenge.answeredBefore) return ProxyLogon::kNone;
  if (challenge.negotiate) return ProxyLogon::kNegotiate;
  if (challenge.ntlm) return ProxyLogon::kNtlm;
  return ProxyLogon::kNone;
}

ProxyPlan ChooseProxy(const ProxySettings& settings) {
  ProxyPlan plan;
  plan.remember = settings.lookup != ProxyLookup::kFailed;
  if (settings.lookup == ProxyLookup::kProxy) {
    plan.source = ProxySource::kLookup;
  } else if (settings.lookup == ProxyLookup::kDirect) {
    plan.source = ProxySource::kDirect;
  } else if (settings.manual) {
    plan.source = ProxySource::kManual;
  } else if (settings.winHttpDefault) {
    plan.source = ProxySource::kWinHttpDefault;
  }
  return plan;
}

ReadPacing::ReadPacing(std::uint32_t bufferSize, std::uint64_t nowMs)
    : bufferSize_(bufferSize), since_(nowMs) {}

void ReadPacing::Read(std::uint32_t bytes, std::uint64_t askedMs, std::uint64_t nowMs) {
  if (whole_) {
    // The link slowed down.
    if (nowMs - askedMs > kWholeBufferMs) {
      whole_ = false;
      since_ = nowMs;
      bytes_ = 0;
    }
    return;
  }
  if (nowMs - since_ > kWholeBufferMs) {
    since_ = askedMs;
    bytes_ = 0;
  }
  bytes_ += bytes;
  whole_ = bytes_ >= bufferSize_;
}

}  // namespace zarvelo
