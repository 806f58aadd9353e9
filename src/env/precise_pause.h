// Pauses that end on time. A sleeping thread wakes some tens of microseconds
// after its time (the timer slack, then the wake-up itself); where the pauses
// follow one another closely (a firmware upload takes two 1 ms pauses for
// every block), that lateness adds up.
#pragma once

#include <chrono>

namespace rolta {

// While one lives, the pauses of the thread that made it (PauseThread) end
// on time: the thread sleeps to shortly before the end with a fine timer
// slack and waits out the rest awake. One per thread at a time.
class PrecisePauses {
 public:
  PrecisePauses();
  ~PrecisePauses();
  PrecisePauses(const PrecisePauses&) = delete;
  PrecisePauses& operator=(const PrecisePauses&) = delete;

 private:
  int previousSlackNs_;
};

// Pauses the calling thread for `pause`; on time while a PrecisePauses lives
// on this thread, otherwise as the system's sleep does.
void PauseThread(std::chrono::nanoseconds pause);

}  // namespace rolta
