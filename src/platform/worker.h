// Runs work that may have to wait (a file step held up by another program)
// off the user-interface thread, so the window keeps answering meanwhile.
#pragma once

#include <cstdint>
#include <functional>

namespace zarvelo {

class Worker {
 public:
  virtual ~Worker() = default;

  // Runs `job` on another thread, then `done` on the user-interface thread.
  // One job at a time: the next Run waits for the job before.
  virtual void Run(std::function<void()> job, std::function<void()> done) = 0;

  // Called from a job: waits `ms` milliseconds. False, at once, when the
  // program is ending: the job then finishes without waiting any more.
  virtual bool Pause(std::uint32_t ms) = 0;

  // Called from a job: waits `ms` milliseconds even while the program is
  // ending, to undo a step within the time it is given.
  virtual void PauseWhileClosing(std::uint32_t ms) = 0;
};

}  // namespace zarvelo
