// CPU time as the benchmarks count it: the calling thread's, or the whole
// process's with CLOCK_PROCESS_CPUTIME_ID.
#pragma once

#include <time.h>

namespace rolta::bench {

inline double CpuSeconds(clockid_t clock = CLOCK_THREAD_CPUTIME_ID) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace rolta::bench
