#include "win32/background_threads.h"

#include <memory>
#include <utility>

#include "win32/last_error.h"

namespace zarvelo::win32 {
namespace {

// How long the owner waits at its end for threads that were cancelled;
// one stuck in a call that does not notice is left behind.
constexpr DWORD kLeaveBehindMs = 2000;

DWORD WINAPI RunBody(void* parameter) {
  const std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(parameter));
  (*body)();
  return 0;
}

}  // namespace

BackgroundThreads::~BackgroundThreads() {
  Cancel();
  WaitIdle(kLeaveBehindMs);
}

Status BackgroundThreads::Start(std::function<void()> body, HANDLE cancel) {
  // Forget the threads that have ended.
  for (auto it = threads_.begin(); it != threads_.end();) {
    if (::WaitForSingleObject(it->thread.get(), 0) == WAIT_OBJECT_0) {
      it = threads_.erase(it);
    } else {
      ++it;
    }
  }
  // Our own handle to the event: its owner may close its handle while we
  // still hold the thread's.
  HANDLE ownCancel = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), cancel, ::GetCurrentProcess(), &ownCancel, 0,
                         FALSE, DUPLICATE_SAME_ACCESS))
    return LastError();
  KernelHandle cancelHandle(ownCancel);
  auto* parameter = new std::function<void()>(std::move(body));
  KernelHandle thread(::CreateThread(nullptr, 0, RunBody, parameter, 0, nullptr));
  if (!thread) {
    const Status failure = LastError();
    delete parameter;
    return failure;
  }
  threads_.push_back({std::move(thread), std::move(cancelHandle)});
  return Status::Ok();
}

void BackgroundThreads::Cancel() {
  for (const Thread& t : threads_) ::SetEvent(t.cancel.get());
}

bool BackgroundThreads::WaitIdle(DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (const Thread& t : threads_) {
    const ULONGLONG now = ::GetTickCount64();
    const DWORD left = timeoutMs == INFINITE ? INFINITE
                       : now >= deadline     ? 0
                                             : static_cast<DWORD>(deadline - now);
    if (::WaitForSingleObject(t.thread.get(), left) != WAIT_OBJECT_0) return false;
  }
  return true;
}

}  // namespace zarvelo::win32
