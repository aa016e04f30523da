#include "platform/win32/win32_worker.h"

#include <utility>

namespace zarvelo::win32 {

Win32Worker::Win32Worker(PostToUi post)
    : post_(std::move(post)), cancelled_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

Win32Worker::~Win32Worker() {
  Cancel();
  WaitIdle(INFINITE);
}

void Win32Worker::Run(std::function<void()> job, std::function<void()> done) {
  // The job before has posted its outcome already; its thread is ending.
  WaitIdle(INFINITE);
  thread_.reset();
  job_ = std::move(job);
  done_ = std::move(done);
  thread_.reset(::CreateThread(nullptr, 0, &Win32Worker::ThreadMain, this, 0, nullptr));
  if (thread_) return;
  // Without a thread the steps still run, only the window waits for them.
  job_();
  std::function<void()> finished = std::move(done_);
  finished();
}

DWORD WINAPI Win32Worker::ThreadMain(void* self) {
  auto* worker = static_cast<Win32Worker*>(self);
  worker->job_();
  worker->post_(std::move(worker->done_));
  return 0;
}

bool Win32Worker::Pause(std::uint32_t ms) {
  if (!cancelled_) {
    ::Sleep(ms);
    return true;
  }
  return ::WaitForSingleObject(cancelled_.get(), ms) == WAIT_TIMEOUT;
}

void Win32Worker::Cancel() {
  if (cancelled_) ::SetEvent(cancelled_.get());
}

bool Win32Worker::WaitIdle(DWORD timeoutMs) {
  return !thread_ || ::WaitForSingleObject(thread_.get(), timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace zarvelo::win32
