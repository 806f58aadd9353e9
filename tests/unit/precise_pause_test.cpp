#include "env/precise_pause.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <future>

namespace rolta {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Clock::duration TimeOf(std::chrono::nanoseconds pause) {
  const Clock::time_point start = Clock::now();
  PauseThread(pause);
  return Clock::now() - start;
}

// A prescribed pause must never end early, whether or not it is timed
// precisely; a zero or negative one returns at once.
TEST(PrecisePauseTest, PausesNeverEndEarly) {
  for (const auto pause : {1ms, 2ms}) {
    EXPECT_GE(TimeOf(pause), pause) << "plain";
    const PrecisePauses onTime;
    EXPECT_GE(TimeOf(pause), pause) << "precise";
    EXPECT_GE(TimeOf(100us), 100us) << "shorter than the awake tail";
  }
  EXPECT_LT(TimeOf(0ns), 1s);
  EXPECT_LT(TimeOf(-5ms), 1s);
}

// The fine timer slack belongs to the scope and to its thread: the thread's
// own slack comes back afterwards, and a thread already running keeps its own.
TEST(PrecisePauseTest, TimerSlackComesBackAndStaysOnItsThread) {
  const int before = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
  std::promise<void> scopeMade;
  std::future<int> otherThreadSlack = std::async(std::launch::async, [made = scopeMade.get_future()]() mutable {
    made.wait();
    return ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
  });
  {
    const PrecisePauses onTime;
    EXPECT_LT(::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), before);
    scopeMade.set_value();
    EXPECT_EQ(otherThreadSlack.get(), before);
  }
  EXPECT_EQ(::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), before);
}

}  // namespace
}  // namespace rolta
