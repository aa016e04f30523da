// Hands work from other threads (the download and file workers) to the
// user-interface thread: a task is queued and the window is poked with a
// message, on whose arrival the window runs what is queued.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>

namespace zarvelo::win32 {

// Runs a task on the user-interface thread; callable from any thread. The
// services that work off that thread report back through one.
using PostToUi = std::function<void(std::function<void()>)>;

// Safe to call from any thread; a no-op once the window is gone.
class UiQueue {
 public:
  // Tasks are announced to `window` with `message`; its handler calls
  // RunPending.
  void Attach(HWND window, UINT message);
  // Drops what is queued; later posts are ignored.
  void Detach();
  void Post(std::function<void()> task);
  // On the user-interface thread: runs the queued tasks in order.
  void RunPending();

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
  HWND window_ = nullptr;
  UINT message_ = 0;
  std::deque<std::function<void()>> tasks_;
};

}  // namespace zarvelo::win32
