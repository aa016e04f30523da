// The threads that work off the user-interface thread: downloads and the
// install's file steps. One owner for all of them, so closing the window
// stops one thing.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "platform/error.h"
#include "win32/handles.h"

namespace zarvelo::win32 {

// Used from the user-interface thread only. A thread's body must hold what
// it uses itself: a thread that does not end in time is left behind.
class BackgroundThreads {
 public:
  BackgroundThreads() = default;
  // Cancels, and waits a little for the threads to end.
  ~BackgroundThreads();
  BackgroundThreads(const BackgroundThreads&) = delete;
  BackgroundThreads& operator=(const BackgroundThreads&) = delete;

  // Runs `body` on a new thread; `cancel` (an event) is set by Cancel()
  // while the thread runs. A failure when no thread could be made.
  Status Start(std::function<void()> body, HANDLE cancel);

  // Sets the cancel event of every thread still running. Never blocks.
  void Cancel();

  // True when every thread has ended within `timeoutMs`.
  bool WaitIdle(DWORD timeoutMs);

 private:
  struct Thread {
    KernelHandle thread;
    KernelHandle cancel;  // our own handle to the thread's cancel event
  };
  std::vector<Thread> threads_;
};

}  // namespace zarvelo::win32
