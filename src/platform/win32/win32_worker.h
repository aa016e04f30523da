// The file worker: one thread per job, so an install's file steps can wait
// for a scanner without freezing the window; the outcome is handed back to
// the user-interface thread.
#pragma once

#include <windows.h>

#include <functional>

#include "platform/win32/handles.h"
#include "platform/win32/ui_queue.h"
#include "platform/worker.h"

namespace zarvelo::win32 {

class Win32Worker : public Worker {
 public:
  explicit Win32Worker(PostToUi post);
  ~Win32Worker() override;
  Win32Worker(const Win32Worker&) = delete;
  Win32Worker& operator=(const Win32Worker&) = delete;

  void Run(std::function<void()> job, std::function<void()> done) override;
  bool Pause(std::uint32_t ms) override;

  // The program is ending: pauses end at once and no longer wait.
  void Cancel();
  // True when no job is running (any more) within `timeoutMs`.
  bool WaitIdle(DWORD timeoutMs);

 private:
  static DWORD WINAPI ThreadMain(void* self);

  PostToUi post_;
  KernelHandle cancelled_;
  KernelHandle thread_;
  std::function<void()> job_, done_;
};

}  // namespace zarvelo::win32
