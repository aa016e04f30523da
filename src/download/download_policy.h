// What the download service decides on its own, without the network: which
// TLS versions it asks for, which failed requests are worth another try and
// how long to wait first, which are sent again at once, which proxy a
// download goes through where Windows does not pick it, whether a proxy
// that asks who the user is gets the user's logon, and how the body is read.
#pragma once

#include <cstdint>

namespace zarvelo {

// How one request to the server ended.
enum class AttemptEnd {
  kComplete,         // 200 and the whole body
  kHttpStatus,       // the server's final answer was not 200
  kRefused,          // no one took the connection
  kDropped,          // reset or closed before the whole body arrived
  kNameNotResolved,  // the server's name did not resolve
  kStalled,          // nothing arrived for the stall time
  kSecurity,         // certificate or TLS failure
  kRedirectRefused,  // a redirect from https to http
  kNotThePlugin,     // a web page where the plug-in should be
  kOther,            // a bad address, anything else
  kLocalFile,        // the file in TEMP could not be made or written
};

struct AttemptOutcome {
  AttemptEnd end = AttemptEnd::kOther;
  // What the download reports when this attempt is the last: 0 or a
  // negative HRESULT (platform/error.h).
  std::int32_t result = 0;
  unsigned httpStatus = 0;         // with kHttpStatus
  std::int64_t retryAfterMs = -1;  // the answer's Retry-After; -1 without one
};

// The one status whose body is the plug-in. No range is ever asked for: a
// 206 (or any other 2xx) is not the whole file.
inline constexpr unsigned kPluginStatus = 200;

// The outcome of a final answer that is not kPluginStatus.
AttemptOutcome HttpStatusOutcome(unsigned status, std::int64_t retryAfterMs = -1);

inline constexpr int kMaxAttempts = 3;
inline constexpr std::int64_t kNoRetry = -1;
// A server that asks for a longer pause is not waited for.
inline constexpr std::int64_t kLongestRetryAfterMs = 10000;

// How long to wait before another try after the `attemptsMade`-th attempt
// ended as `outcome`, or kNoRetry.
std::int64_t RetryWaitMs(const AttemptOutcome& outcome, int attemptsMade);

// The TLS versions a session asks Windows for. Nothing older than TLS 1.2
// is ever used: a download that cannot have it fails before a byte is sent.
enum class TlsVersions { kTls12And13, kTls12, kNone };

// What to ask for after Windows refused `refused`. Windows 7 and Windows 10
// before TLS 1.3 refuse the 1.3 flag; a system where TLS 1.2 is switched
// off refuses 1.2 too.
TlsVersions TlsFallback(TlsVersions refused);

// Why WinHTTP asks for a request to be sent again: it answered an
// authentication challenge itself (ERROR_WINHTTP_RESEND_REQUEST), or the
// server asked for a client certificate, which the installer has none of
// (ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED).
enum class SendAgainReason { kNone, kResendAsked, kCertificateAsked };
enum class SendAgain { kNo, kAsItIs, kWithoutCertificate };

inline constexpr int kMaxSendsAgain = 3;

// Whether a request whose send or answer failed for `reason` goes out
// again, after `sentAgain` repeats of it in this attempt.
SendAgain ChooseSendAgain(SendAgainReason reason, int sentAgain);

// Answering a proxy's 407: the schemes it offers and whether this request
// already answered one.
enum class ProxyLogon { kNone, kNegotiate, kNtlm };
struct ProxyChallenge {
  bool negotiate = false;
  bool ntlm = false;
  bool answeredBefore = false;
};

// The scheme that sends the logged-on user's credentials to the proxy, or
// kNone: then the 407 is a download failure. Only the integrated schemes
// get them, and only once: a second 407 means they were not good enough.
ProxyLogon ChooseProxyLogon(const ProxyChallenge& challenge);

// Where Windows cannot pick the proxy itself (Windows 7): what the user's
// settings and WinHTTP's own default (netsh, Group Policy) say, and which
// one the session is opened with.
enum class ProxyLookup {
  kNone,      // the user asks for neither a configuration script nor detection
  kProxy,     // the script names a proxy
  kDirect,    // the script says "go direct"
  kFailed,    // no script was found or it could not be run
};
struct ProxySettings {
  ProxyLookup lookup = ProxyLookup::kNone;
  bool manual = false;          // the user entered a proxy by hand
  bool winHttpDefault = false;  // WinHTTP's default names a proxy
};
enum class ProxySource { kDirect, kLookup, kManual, kWinHttpDefault };
struct ProxyPlan {
  ProxySource source = ProxySource::kDirect;
  // False when the next attempt should look again: a lookup that failed
  // may well succeed a moment later (the network came up).
  bool remember = true;
};

// As Windows' own programs decide: the script first, the manual proxy when
// there is no script or it failed, and WinHTTP's default when the user's
// settings name no proxy at all.
ProxyPlan ChooseProxy(const ProxySettings& settings);

// How the body is read. WinHTTP's read waits until it has filled what it
// was asked for or the body ends, so on a slow link a read larger than what
// has arrived can outlast the stall limit: there the download asks what is
// available first and reads just that. That costs a second round trip per
// read, which on a fast link takes longer than the reads, so once a whole buffer arrived
// within a second, whole buffers are read without asking, until one takes
// longer than that.
class ReadPacing {
 public:
  static constexpr std::uint64_t kWholeBufferMs = 1000;

  ReadPacing(std::uint32_t bufferSize, std::uint64_t nowMs);

  // Whether the next read asks for a whole buffer without asking first.
  bool WholeBuffers() const { return whole_; }
  // A read asked for at `askedMs` brought `bytes` at `nowMs`.
  void Read(std::uint32_t bytes, std::uint64_t askedMs, std::uint64_t nowMs);

 private:
  std::uint64_t bufferSize_;
  std::uint64_t since_;      // the start of the second watched
  std::uint64_t bytes_ = 0;  // what came since then
  bool whole_ = false;
};

}  // namespace zarvelo
