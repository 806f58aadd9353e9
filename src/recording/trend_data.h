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

#include "analysis/coast_analysis.h"
#include "recording/frame_history.h"
#include "readouts/quantities.h"
#include "recording/recording.h"
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
  // (live plots); 0 keeps everything (a recording opened from a file). The
  // speeds of the latest coast-down are kept apart from that, whole, for
  // its marks and its analysis (up to kMaxCoastSeconds).
  explicit TrendStore(double keepSeconds = 0);
  static constexpr double kMaxCoastSeconds = 30 * 60;

  void AddRow(const RecordRow& row, double t);
  void AddFrame(const ControllerStatus& status, double t);
  void Clear();
  // From t on every frame of the line reaches the store (the port opened,
  // the recording started); what came before it was not seen. Without a
  // mark the store has seen every frame there was.
  void MarkWatchStart(double t);
  // The units the data were written with (a recording's header), or the
  // bench's for live data.
  void SetUnits(BenchUnits units) { units_ = units; }
  BenchUnits Units() const { return units_; }

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
  // The speed samples of that run, all of them whatever the live span.
  const TrendSeries& CoastSpeed() const { return coastSpeed_; }
  // Whether the store saw the run begin: it watched the line for longer
  // than a gap between runs before the run's first frame, or saw a frame
  // of another kind just before it.
  bool CoastStartSeen() const { return coastStartSeen_; }
  // Changes whenever samples may have been replaced rather than appended or
  // trimmed (Clear), so reductions kept from before know to start again.
  std::uint64_t Generation() const { return generation_; }

 private:
  void Trim(double now);
  double keepSeconds_;
  std::vector<TrendSeries> series_;
  TrendSeries types_;
  RecordRow row_;
  BenchUnits units_;
  std::optional<std::pair<double, double>> coastRun_;
  TrendSeries coastSpeed_;
  bool coastStartSeen_ = false;
  bool lastWasCoast_ = false;
  double watchedFrom_;
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
// The start counts as seen when a sample at or above startKmh was kept, or
// when the store saw the run begin or its first frame came within 1 km/h
// below startKmh (a coast-down begins at its start speed; the first frame
// comes a little below it): the time is then from the run's first frame. Otherwise (a window opened or a recording
// started mid-coast) there is no coast-down time, only the speeds from where the data begin.
struct CoastDownResult {
  CoastDownMarks marks;
  bool reachedEnd = false;
  bool startSeen = false;
  // The time from start to end is a result: both ends lie within the data.
  bool Complete() const { return reachedEnd && startSeen; }
};
std::optional<CoastDownResult> FindCoastDown(const TrendStore& store, double startKmh, double endKmh);

// The first frame of the history from `from` on that a live store keeping
// keepSeconds needs: those within keepSeconds of the newest and the latest
// coast-down run with the gap before it (which tells whether its start was
// seen); older ones would only be trimmed again.
std::uint64_t FirstFrameWorthTaking(const FrameHistory& history, std::uint64_t from, double keepSeconds);

// The first and last frame time of the latest run of coast-down frames.
std::optional<std::pair<double, double>> LatestCoastRun(const TrendStore& store);
// The speed samples of that run, for the coast-down analysis.
std::vector<CoastSample> LatestCoastDownSamples(const TrendStore& store);

}  // namespace rolta
