// The trend's reductions kept between repaints (reused columns equal a fresh
// reduction), the latest coast-down run kept as frames arrive and whether its
// start was seen, and the session's history the live trend is fed from.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "recording/frame_history.h"
#include "recording/trend_data.h"

namespace rolta::test {
namespace {

ControllerStatus Frame(std::uint8_t type, double speed) {
  ControllerStatus status;
  status.FrameType = type;
  status.Value2 = static_cast<float>(speed);
  return status;
}

const std::size_t kSpeed = static_cast<std::size_t>(RecordColumnIndex("speed"));

// Frames every 1/32 s and columns of 1/8 s: every time is exact in binary,
// so a fresh reduction puts each sample into the same column as the kept one.
TEST(TrendColumnsTest, KeptColumnsEqualAFreshReductionAsTheWindowMoves) {
  TrendStore live(10);
  MinMaxColumns kept;
  int frame = 0;
  auto feed = [&](int count, double base) {
    for (int i = 0; i < count; ++i, ++frame) {
      // A spike every 37 frames, which a min/max column must keep.
      const double speed = frame % 37 == 0 ? base + 500 : base + (frame % 5);
      live.AddFrame(Frame(16, speed), frame / 32.0);
    }
  };
  struct Step {
    int frames;        // added before the repaint
    double base;       // speed level of those frames
    double shift;      // of the window start from the followed position, seconds
    double span;       // seconds shown in 64 columns
    bool clear;        // the store emptied first
    std::size_t most;  // at most this many columns reduced from samples
  };
  const Step steps[] = {
      {300, 10, 0, 8, false, 64},         // first paint: everything
      {4, 10, 0, 8, false, 2},            // one new column and the one still filling
      {0, 10, 0, 8, false, 0},            // nothing new: all reused
      {40, 20, 0, 8, false, 11},          // ten new columns
      {400, 30, 0, 8, false, 64},         // trimmed past the window: all new
      {8, 30, 0.05, 8, false, 64},        // moved by a fraction of a column
      {0, 30, 0.05 + 0.25, 8, false, 2},  // then by two whole ones (a drag)
      {0, 30, 0, 4, false, 64},           // another column width (zoom)
      {200, 40, 0, 4, true, 64},          // new data of the same length
  };
  for (const Step& step : steps) {
    if (step.clear) {
      live.Clear();
      frame -= 200;
    }
    feed(step.frames, step.base);
    const double column = step.span / 64;
    const double end = std::max(step.span, (std::floor(live.LastTime() / column) + 1) * column);
    const double t0 = end - step.span + step.shift;
    const std::vector<MinMaxBucket> reused = kept.Reduce(live, kSpeed, t0, t0 + step.span, 64);
    std::vector<MinMaxBucket> fresh;
    DecimateMinMax(live.Series(kSpeed), t0, t0 + step.span, 64, fresh);
    ASSERT_EQ(reused.size(), fresh.size());
    for (std::size_t i = 0; i < fresh.size(); ++i) {
      EXPECT_EQ(reused[i].any, fresh[i].any) << "frame " << frame << " column " << i;
      if (!fresh[i].any) continue;
      EXPECT_EQ(reused[i].min, fresh[i].min) << "frame " << frame << " column " << i;
      EXPECT_EQ(reused[i].max, fresh[i].max) << "frame " << frame << " column " << i;
    }
    EXPECT_LE(kept.LastReduced(), step.most) << "frame " << frame;
  }
}

TEST(TrendColumnsTest, LatestCoastRunFollowsTheFrames) {
  // 54 is a coast-down type, 16 is not.
  struct Case {
    const char* what;
    std::vector<std::pair<std::uint8_t, double>> frames;  // type, time
    double keep;
    std::optional<std::pair<double, double>> run;
  };
  const Case cases[] = {
      {"no coast frames", {{16, 0}, {16, 1}}, 0, std::nullopt},
      {"one run after constant speed", {{16, 0}, {54, 1}, {54, 2}, {54, 3.5}, {16, 4}}, 0, std::pair{1.0, 3.5}},
      {"a gap over two seconds starts a new run", {{54, 0}, {54, 1}, {54, 3.5}, {54, 4}}, 0, std::pair{3.5, 4.0}},
      {"a gap of two seconds does not", {{54, 0}, {54, 2}}, 0, std::pair{0.0, 2.0}},
      {"another frame between starts a new run", {{54, 0}, {54, 1}, {16, 1.5}, {54, 2}}, 0, std::pair{2.0, 2.0}},
      {"trimmed: what is left of it", {{54, 0}, {54, 10}, {54, 11}, {54, 12}, {54, 13}}, 5, std::pair{10.0, 13.0}},
      {"kept past the live span", {{54, 0}, {16, 10}, {16, 11}, {16, 20}}, 5, std::pair{0.0, 0.0}},
      {"forgotten after half an hour", {{54, 0}, {16, 10}, {16, 1801}}, 5, std::nullopt},
  };
  for (const Case& c : cases) {
    TrendStore store(c.keep);
    for (const auto& [type, t] : c.frames) store.AddFrame(Frame(type, 50), t);
    EXPECT_EQ(LatestCoastRun(store), c.run) << c.what;
    store.Clear();
    EXPECT_FALSE(LatestCoastRun(store)) << c.what;
  }
}

TEST(TrendColumnsTest, ACoastDownTimeNeedsTheStartInTheData) {
  // Coast-downs (type 54) falling 1 km/h a tenth of a second, timed from 100 to 10 km/h.
  struct Case {
    const char* what;
    std::optional<double> watchedFrom;
    std::optional<double> constantBefore;  // a type-16 frame at this time
    double firstSpeed;                     // at t = 5
    bool seen;
  };
  const Case cases[] = {
      {"watched long before the run", 0.0, std::nullopt, 99.7, true},
      {"watched just before, first frame just below the start", 4.9, std::nullopt, 99.7, true},
      {"opened mid-coast", 4.9, std::nullopt, 27, false},
      {"opened mid-coast above the start speed", 4.9, std::nullopt, 105, true},
      {"another frame just before the run", 4.9, 4.95, 60, true},
      {"recording started mid-coast", 4.999, std::nullopt, 60, false},
  };
  for (const Case& c : cases) {
    TrendStore store(330);
    if (c.watchedFrom) store.MarkWatchStart(*c.watchedFrom);
    if (c.constantBefore) store.AddFrame(Frame(16, 100), *c.constantBefore);
    for (int i = 0; c.firstSpeed - i > 5; ++i) store.AddFrame(Frame(54, c.firstSpeed - i), 5 + 0.1 * i);
    const auto coast = FindCoastDown(store, 100, 10);
    ASSERT_TRUE(coast) << c.what;
    EXPECT_EQ(coast->startSeen, c.seen) << c.what;
    EXPECT_EQ(coast->Complete(), c.seen) << c.what;
    EXPECT_NEAR(coast->marks.endTime, 5 + 0.1 * (c.firstSpeed - 10), 1e-6) << c.what;
  }
  // A run longer than the live span keeps every speed for its time and analysis.
  TrendStore live(10);
  for (int i = 0; i <= 900; ++i) live.AddFrame(Frame(54, 100 - 0.1 * i), 0.1 * i);
  EXPECT_EQ(LatestCoastDownSamples(live).size(), 901u);
  EXPECT_TRUE(FindCoastDown(live, 100, 20)->Complete());
}

TEST(TrendColumnsTest, HistoryKeepsItsSpanWithinItsCapacity) {
  using namespace std::chrono;
  const auto t0 = steady_clock::now();
  // By age: 20 s at 100 frames a second with a span of 10 s.
  FrameHistory byAge(seconds(10), 100);
  byAge.MarkOpened(t0);
  for (int i = 0; i < 2000; ++i) byAge.Add(Frame(16, i), t0 + milliseconds(10 * i));
  EXPECT_EQ(byAge.End(), 2000u);
  EXPECT_EQ(byAge.End() - byAge.Begin(), 1001u);
  EXPECT_EQ(byAge.At(byAge.Begin()).status.Value2, 999.0f);
  EXPECT_EQ(byAge.Openings().size(), 1u);  // the opening before the oldest frame says since when
  // By count: a burst faster than the line's rate keeps the newest, in order.
  FrameHistory byCount(seconds(1), 100);
  ASSERT_EQ(byCount.Capacity(), FrameHistory::kBlockFrames);
  byCount.MarkOpened(t0);
  for (int i = 0; i < 10000; ++i) byCount.Add(Frame(16, i), t0);
  byCount.MarkOpened(t0 + seconds(1));
  EXPECT_EQ(byCount.End() - byCount.Begin(), FrameHistory::kBlockFrames);
  for (std::uint64_t n = byCount.Begin(); n < byCount.End(); ++n) ASSERT_EQ(byCount.At(n).status.Value2, n);
  byCount.Add(Frame(16, 0), t0 + seconds(3));  // the span drops the burst
  EXPECT_EQ(byCount.End() - byCount.Begin(), 1u);
  EXPECT_EQ(byCount.Openings().size(), 1u);
  EXPECT_LE(byCount.BytesInUse(), byCount.BytesAtCapacity() + sizeof(void*));

  // A live store keeping 330 s takes the newest 330 s and the latest
  // coast-down (100-150 s) with the seconds before it, nothing older.
  for (const bool coast : {true, false}) {
    FrameHistory history(seconds(1800), 10);
    for (int i = 0; i < 10000; ++i) {
      history.Add(Frame(coast && i >= 1000 && i <= 1500 ? 54 : 16, 50), t0 + milliseconds(100 * i));
    }
    const std::uint64_t first = FirstFrameWorthTaking(history, 0, 330);
    EXPECT_EQ(first, coast ? 960u : 6699u);  // 999.9 s - 330 s
    EXPECT_EQ(FirstFrameWorthTaking(history, 9990, 330), 9990u);
  }
}

}  // namespace
}  // namespace rolta::test
