#include "win32/win32_worker.h"

#include <utility>

namespace zarvelo::win32 {

Win32Worker::Win32Worker(BackgroundThreads& threads, PostToUi post)
    : threads_(threads),
      post_(std::move(post)),
      cancelled_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      idle_(::CreateEventW(nullptr, TRUE, TRUE, nullptr)) {}

Win32Worker::~Win32Worker() {
  if (cancelled_) ::SetEvent(cancelled_.get());
  if (idle_) ::WaitForSingleObject(idle_.get(), INFINITE);
}

void Win32Worker::Run(std::function<void()> job, std::function<void()> done) {
  // One job at a time: the one before has posted its outcome already.
  if (idle_) ::WaitForSingleObject(idle_.get(), INFINITE);
  if (cancelled_ && idle_) {
    ::ResetEvent(idle_.get());
    const HANDLE idle = idle_.get();
    const Status started = threads_.Start(
        [job, done, post = post_, idle] {
          job();
          post(done);
          ::SetEvent(idle);
        },
        cancelled_.get());
    if (started.ok()) return;
    ::SetEvent(idle_.get());
  }
  // Without a thread the steps still run, only the window waits for them.
  job();
  done();
}

bool Win32Worker::Pause(std::uint32_t ms) {
  if (!cancelled_) {
    ::Sleep(ms);
    return true;
  }
  return ::WaitForSingleObject(cancelled_.get(), ms) == WAIT_TIMEOUT;
}

}  // namespace zarvelo::win32
