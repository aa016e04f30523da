// The file worker: each job on a thread of its own, so an install's file
// steps can wait for a scanner without freezing the window; the outcome is
// handed back to the user-interface thread.
#pragma once

#include <windows.h>

#include <functional>

#include "win32/background_threads.h"
#include "win32/handles.h"
#include "win32/ui_queue.h"
#include "platform/worker.h"

namespace zarvelo::win32 {

class Win32Worker : public Worker {
 public:
  // Jobs run on threads of `threads`; its Cancel() makes their pauses end
  // at once.
  Win32Worker(BackgroundThreads& threads, PostToUi post);
  // Waits for the job that runs: it may still call Pause.
  ~Win32Worker() override;
  Win32Worker(const Win32Worker&) = delete;
  Win32Worker& operator=(const Win32Worker&) = delete;

  void Run(std::function<void()> job, std::function<void()> done) override;
  bool Pause(std::uint32_t ms) override;
  void PauseWhileClosing(std::uint32_t ms) override { ::Sleep(ms); }

 private:
  BackgroundThreads& threads_;
  PostToUi post_;
  KernelHandle cancelled_;  // set once the program is ending
  KernelHandle idle_;       // set while no job runs
};

}  // namespace zarvelo::win32
