// What the trend window plots, without the window: every recorded column as
// a time series, reduced to one min/max pair per pixel column for drawing,
// read at a cursor time, and the coast-down between two speeds marked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

#include "console/coast_analysis.h"
#include "console/recording.h"
#include "link/status_frames.h"

namespace rolta {

struct TrendSample {
  double t = 0;  // seconds from the trend's origin
  double v = 0;
};
using TrendSeries = std::deque<TrendSample>;

class TrendStore {
 public:
  // keepSeconds > 0: samples older than that behind the newest are dropped
  // (live plots); 0 keeps everything (a recording opened from a file).
  explicit TrendStore(double keepSeconds = 0);

  void AddRow(const RecordRow& row, double t);
  void AddFrame(const ControllerStatus& status, double t);
  void Clear();

  std::size_t ColumnCount() const { return series_.size(); }
  const TrendSeries& Series(std::size_t column) const { return series_[column]; }
  bool Empty() const { return types_.empty(); }
  double FirstTime() const { return types_.empty() ? 0 : types_.front().t; }
  double LastTime() const { return types_.empty() ? 0 : types_.back().t; }
  // Frame types by time (v holds the type).
  const TrendSeries& FrameTypes() const { return types_; }

 private:
  void Trim(double now);
  double keepSeconds_;
  std::vector<TrendSeries> series_;
  TrendSeries types_;
  RecordRow row_;
};

struct MinMaxBucket {
  double min = 0;
  double max = 0;
  bool any = false;
};
// One bucket per equal slice of [t0, t1): the least and greatest finite value
// in it. Only the samples inside the range are visited.
void DecimateMinMax(const TrendSeries& series, double t0, double t1, std::size_t buckets,
                    std::vector<MinMaxBucket>& out);

// The latest value at or before t, if one lies within maxGap seconds of t.
std::optional<double> ValueAt(const TrendSeries& series, double t, double maxGap);

// Frame types that report a coast time: the coast-down tests.
bool IsCoastDownType(std::uint8_t frameType);

struct CoastDownMarks {
  double startTime = 0;
  double endTime = 0;
  double startSpeed = 0;
  double endSpeed = 0;
  double Seconds() const { return endTime - startTime; }
};
// The latest run of coast-down frames (gaps under two seconds) and the times
// its speed fell through startKmh and endKmh, interpolated between frames.
// Without usable speeds (not above zero, start not above end) the run's first
// and last speed stand in. Nothing without a run; no end mark while the speed
// has not reached endKmh yet (endTime is then the run's last frame).
struct CoastDownResult {
  CoastDownMarks marks;
  bool reachedEnd = false;
};
std::optional<CoastDownResult> FindCoastDown(const TrendStore& store, double startKmh, double endKmh);

// The first and last frame time of the latest run of coast-down frames.
std::optional<std::pair<double, double>> LatestCoastRun(const TrendStore& store);
// The speed samples of that run, for the coast-down analysis.
std::vector<CoastSample> LatestCoastDownSamples(const TrendStore& store);

}  // namespace rolta
