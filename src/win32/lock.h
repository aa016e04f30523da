#pragma once

#include <windows.h>

namespace zarvelo::win32 {

// Holds a slim reader/writer lock exclusively for its lifetime. Used rather
// than std::mutex: it cannot fail, so no exception machinery comes with it.
class ExclusiveLock {
 public:
  explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
  ~ExclusiveLock() { ::ReleaseSRWLockExclusive(&lock_); }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;

 private:
  SRWLOCK& lock_;
};

}  // namespace zarvelo::win32
