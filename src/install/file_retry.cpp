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

Status RetryWhileHeld(Worker& worker, const std::function<Status()>& step) {
  Status status = step();
  for (std::uint32_t pause : kPauses) {
    if (!IsHeld(status) || !worker.Pause(pause)) break;
    status = step();
  }
  return status;
}

}  // namespace zarvelo
