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
  // The first and last frame time of the latest run of coast-down frames,
  // kept up to date as frames arrive rather than looked for at each repaint.
  std::optional<std::pair<double, double>> CoastRun() const { return coastRun_; }
  // Changes whenever samples may have been replaced rather than appended or
  // trimmed (Clear), so reductions kept from before know to start again.
  std::uint64_t Generation() const { return generation_; }

 private:
  void Trim(double now);
  double keepSeconds_;
  std::vector<TrendSeries> series_;
  TrendSeries types_;
  RecordRow row_;
  std::optional<std::pair<double, double>> coastRun_;
  bool lastWasCoast_ = false;
  std::uint64_t generation_ = 0;
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

// The min/max buckets of one series kept from one repaint to the next.
// Bucket k covers [origin + k*width, origin + (k+1)*width); a window that
// moves on by whole buckets (the live window steps a pixel column at a time,
// a drag pans by whole pixels) reuses the buckets it still shows and reduces
// only the samples of the new ones and of the newest, still filling, bucket.
// A new store, column, generation, bucket width or a shift by a fraction of
// a bucket (zoom) starts again.
class MinMaxColumns {
 public:
  const std::vector<MinMaxBucket>& Reduce(const TrendStore& store, std::size_t column, double t0, double t1,
                                          std::size_t buckets);
  // Buckets the last Reduce computed from samples rather than reused.
  std::size_t LastReduced() const { return lastReduced_; }

 private:
  struct SeriesState {
    std::size_t size = 0;
    double first = 0;
    double last = 0;
  };
  const TrendStore* store_ = nullptr;
  std::size_t column_ = 0;
  std::uint64_t generation_ = 0;
  double origin_ = 0;
  double width_ = 0;
  long long firstIndex_ = 0;  // bucket index of out_[0]
  SeriesState seen_;
  std::vector<MinMaxBucket> out_;
  std::vector<MinMaxBucket> next_;
  std::vector<MinMaxBucket> scratch_;
  std::vector<char> have_;
  std::size_t lastReduced_ = 0;
};

// The latest value at or before t, if one lies within maxGap seconds of t.
std::optional<double> ValueAt(const TrendSeries& series, double t, double maxGap);

// Frame types that report a coast time: the coast-down tests.
bool IsCoastDownType(std::uint8_t frameType);

// A step between axis ticks: 1, 2 or 5 times a power of ten, near span / wanted.
double NiceTickStep(double span, double wanted);

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
