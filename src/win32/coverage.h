// Coverage builds (tools/coverage) write their line counters when the
// program ends through exit. A program that ends itself with
// TerminateProcess writes them first with this; other builds do nothing.
#pragma once

#ifdef ZARVELO_COVERAGE
extern "C" void __gcov_dump(void);
#endif

namespace zarvelo::win32 {

inline void WriteCoverageCounters() {
#ifdef ZARVELO_COVERAGE
  __gcov_dump();
#endif
}

}  // namespace zarvelo::win32
