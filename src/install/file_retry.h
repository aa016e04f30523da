// How long a file step waits for another program to let go of a file. Virus
// scanners and indexers open every new file for a moment; a copy, move or
// delete that runs into one is tried again before it counts as failed.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/error.h"
#include "platform/worker.h"

namespace zarvelo {

// Sharing, lock and access-denied errors: what another program holding the
// file (or one being deleted) gives.
bool IsHeld(Status status);

// About this long in all between the first try and the last.
inline constexpr std::uint32_t kHeldFileRetryMs = 3000;

// Runs `step`, and again after pauses of `worker` while it fails with a
// held error, for up to kHeldFileRetryMs; returns the last outcome. Call it
// from a job of `worker`, never on the user-interface thread.
Status RetryWhileHeld(Worker& worker, const std::function<Status()>& step);

// The same for a step that undoes one: once the program is closing it goes
// on trying for up to kClosingRetryMs, within the time a closing program is
// given.
inline constexpr std::uint32_t kClosingRetryMs = 750;
Status RetryUntilClosed(Worker& worker, const std::function<Status()>& step);

}  // namespace zarvelo
