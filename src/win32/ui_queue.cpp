#include "win32/ui_queue.h"

#include <utility>

#include "win32/lock.h"

namespace zarvelo::win32 {

void UiQueue::Attach(HWND window, UINT message) {
  ExclusiveLock guard(lock_);
  window_ = window;
  message_ = message;
}

void UiQueue::Detach() {
  ExclusiveLock guard(lock_);
  window_ = nullptr;
  tasks_.clear();
}

void UiQueue::Post(std::function<void()> task) {
  ExclusiveLock guard(lock_);
  if (!window_) return;
  tasks_.push_back(std::move(task));
  ::PostMessageW(window_, message_, 0, 0);
}

void UiQueue::RunPending() {
  for (;;) {
    std::function<void()> task;
    {
      ExclusiveLock guard(lock_);
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

}  // namespace zarvelo::win32
