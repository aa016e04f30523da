#include "install/file_retry.h"

namespace zarvelo {
namespace {

// Short pauses first: most holds end within a few milliseconds.
constexpr std::uint32_t kPauses[] = {50, 100, 200, 400, 500, 500, 500, 500, 250};

constexpr std::uint32_t Total() {
  std::uint32_t total = 0;
  for (std::uint32_t pause : kPauses) total += pause;
  return total;
}
static_assert(Total() == kHeldFileRetryMs);

}  // namespace

bool IsHeld(Status status) {
  return status.error() == kErrorSharingViolation || status.error() == kErrorLockViolation ||
         status.error() == kErrorAccessDenied;
}

namespace {

Status Retry(Worker& worker, const std::function<Status()>& step, std::uint32_t closingMs) {
  Status status = step();
  for (std::uint32_t pause : kPauses) {
    if (!IsHeld(status)) break;
    if (!worker.Pause(pause)) {
      if (pause > closingMs) break;
      closingMs -= pause;
      worker.PauseWhileClosing(pause);
    }
    status = step();
  }
  return status;
}

}  // namespace

Status RetryWhileHeld(Worker& worker, const std::function<Status()>& step) {
  return Retry(worker, step, 0);
}

Status RetryUntilClosed(Worker& worker, const std::function<Status()>& step) {
  return Retry(worker, step, kClosingRetryMs);
}

}  // namespace zarvelo
