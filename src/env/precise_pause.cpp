#include "env/precise_pause.h"

#include <sys/prctl.h>

#include <thread>

namespace rolta {
namespace {

using namespace std::chrono_literals;

constexpr unsigned long kFineSlackNs = 1'000;
// Longer than a wake-up is late on a busy machine, short enough that the
// awake wait costs little.
constexpr auto kAwakeTail = 150us;

thread_local bool pausesArePrecise = false;

}  // namespace

PrecisePauses::PrecisePauses() : previousSlackNs_(::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0)) {
  if (previousSlackNs_ > 0) ::prctl(PR_SET_TIMERSLACK, kFineSlackNs, 0, 0, 0);
  pausesArePrecise = true;
}

PrecisePauses::~PrecisePauses() {
  pausesArePrecise = false;
  if (previousSlackNs_ > 0) ::prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(previousSlackNs_), 0, 0, 0);
}

void PauseThread(std::chrono::nanoseconds pause) {
  if (pause <= 0ns) return;
  if (!pausesArePrecise) {
    std::this_thread::sleep_for(pause);
    return;
  }
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + pause;
  if (pause > kAwakeTail) std::this_thread::sleep_until(end - kAwakeTail);
  while (Clock::now() < end) std::this_thread::yield();
}

}  // namespace rolta
