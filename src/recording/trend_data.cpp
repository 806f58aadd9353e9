#include "recording/trend_data.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "readouts/readouts.h"

namespace rolta {
namespace {

auto FirstAtOrAfter(const TrendSeries& series, double t) {
  return std::lower_bound(series.begin(), series.end(), t,
                          [](const TrendSample& sample, double time) { return sample.t < time; });
}

const int kSpeedColumn = RecordColumnIndex("speed");
const int kCoastTimeColumn = RecordColumnIndex("coast_time");

// Which types report a coast time, read from the readout rows once.
const std::array<bool, 256> kCoastTypes = [] {
  std::array<bool, 256> coast{};
  for (int type = 0; type < 256; ++type) {
    ControllerStatus status;
    status.FrameType = static_cast<std::uint8_t>(type);
    const RecordRow row = MakeRecordRow(status, 0);
    coast[static_cast<std::size_t>(type)] = !std::isnan(row.values[static_cast<std::size_t>(kCoastTimeColumn)]);
  }
  return coast;
}();

constexpr double kRunGapSeconds = 2.0;
// How far below its start speed the first frame of a coast-down may come.
constexpr double kStartToleranceKmh = 1.0;

}  // namespace

TrendStore::TrendStore(double keepSeconds)
    : keepSeconds_(keepSeconds),
      series_(RecordColumns().size()),
      watchedFrom_(-std::numeric_limits<double>::infinity()) {}

void TrendStore::AddRow(const RecordRow& row, double t) {
  const std::size_t count = std::min(row.values.size(), series_.size());
  for (std::size_t i = 0; i < count; ++i) {
    if (!std::isnan(row.values[i])) series_[i].push_back({t, row.values[i]});
  }
  const bool hadFrames = !types_.empty();
  const double lastTime = LastTime();
  types_.push_back({t, static_cast<double>(row.frameType)});
  // A run is unbroken coast-down frames at most kRunGapSeconds apart.
  const bool coast = IsCoastDownType(row.frameType);
  if (coast) {
    if (lastWasCoast_ && coastRun_ && t - coastRun_->second <= kRunGapSeconds) {
      coastRun_->second = t;
    } else {
      coastRun_ = std::pair{t, t};
      coastSpeed_.clear();
      // Seen begin: the frame before it was watched and of another kind, or
      // the line was watched without a coast frame for longer than a gap.
      const bool lastWatched = hadFrames && lastTime >= watchedFrom_;
      coastStartSeen_ = (lastWatched && !lastWasCoast_) || t - (lastWatched ? lastTime : watchedFrom_) > kRunGapSeconds;
    }
    if (static_cast<std::size_t>(kSpeedColumn) < count) {
      const double kmh = row.values[static_cast<std::size_t>(kSpeedColumn)];
      if (!std::isnan(kmh)) coastSpeed_.push_back({t, kmh});
    }
    // A run longer than anyone analyses keeps its latest part; its start is gone.
    if (!coastSpeed_.empty() && coastSpeed_.front().t < t - kMaxCoastSeconds) {
      coastSpeed_.erase(coastSpeed_.begin(), FirstAtOrAfter(coastSpeed_, t - kMaxCoastSeconds));
      coastStartSeen_ = false;
    }
  }
  lastWasCoast_ = coast;
  // A coast-down over for longer than the session remembers is no longer the latest one.
  if (coastRun_ && t - coastRun_->second > kMaxCoastSeconds) {
    coastRun_.reset();
    coastSpeed_.clear();
  }
  if (keepSeconds_ > 0) Trim(t);
}

void TrendStore::AddFrame(const ControllerStatus& status, double t) {
  FillRecordRow(status, t * 1000.0, row_);
  AddRow(row_, t);
}

void TrendStore::MarkWatchStart(double t) { watchedFrom_ = t; }

void TrendStore::Clear() {
  for (TrendSeries& series : series_) series.clear();
  types_.clear();
  coastRun_.reset();
  coastSpeed_.clear();
  coastStartSeen_ = false;
  lastWasCoast_ = false;
  watchedFrom_ = -std::numeric_limits<double>::infinity();
  ++generation_;
}

void TrendStore::Trim(double now) {
  // In steps of a tenth of the span, so a trim is rare and moves many samples.
  // The latest coast-down's speeds are kept apart and stay.
  const double oldest = now - keepSeconds_;
  if (types_.empty() || types_.front().t >= oldest - keepSeconds_ * 0.1) return;
  auto trim = [oldest](TrendSeries& series) { series.erase(series.begin(), FirstAtOrAfter(series, oldest)); };
  for (TrendSeries& series : series_) trim(series);
  trim(types_);
}

void DecimateMinMax(const TrendSeries& series, double t0, double t1, std::size_t buckets,
                    std::vector<MinMaxBucket>& out) {
  out.assign(buckets, MinMaxBucket{});
  if (buckets == 0 || !(t1 > t0)) return;
  const double scale = static_cast<double>(buckets) / (t1 - t0);
  for (auto it = FirstAtOrAfter(series, t0); it != series.end() && it->t < t1; ++it) {
    if (!std::isfinite(it->v)) continue;
    const auto index = std::min(buckets - 1, static_cast<std::size_t>((it->t - t0) * scale));
    MinMaxBucket& bucket = out[index];
    if (!bucket.any) {
      bucket = {it->v, it->v, true};
    } else {
      bucket.min = std::min(bucket.min, it->v);
      bucket.max = std::max(bucket.max, it->v);
    }
  }
}

const std::vector<MinMaxBucket>& MinMaxColumns::Reduce(const TrendStore& store, std::size_t column, double t0,
                                                       double t1, std::size_t buckets) {
  lastReduced_ = 0;
  if (buckets == 0 || !(t1 > t0) || column >= store.ColumnCount()) {
    out_.assign(buckets, MinMaxBucket{});
    store_ = nullptr;
    return out_;
  }
  const TrendSeries& series = store.Series(column);
  const double width = (t1 - t0) / static_cast<double>(buckets);
  const double shift = store_ == &store ? (t0 - origin_) / width_ : 0;
  const bool sameGrid = store_ == &store && column_ == column && generation_ == store.Generation() &&
                        std::abs(width - width_) <= width_ * 1e-9 && std::abs(shift - std::round(shift)) < 1e-6 &&
                        std::abs(shift) < 1e15;
  const SeriesState now{series.size(), series.empty() ? 0 : series.front().t, series.empty() ? 0 : series.back().t};
  // The buckets whose samples may have changed since: from the one that held
  // the newest sample on (samples were appended), up to the one that holds
  // the oldest sample now (older ones were trimmed).
  long long staleFrom = std::numeric_limits<long long>::max();
  long long staleUpTo = std::numeric_limits<long long>::min();
  if (sameGrid && (now.size != seen_.size || now.first != seen_.first || now.last != seen_.last)) {
    auto indexOf = [&](double t) { return static_cast<long long>(std::floor((t - origin_) / width_)); };
    const bool appended = now.last > seen_.last;
    const bool trimmed = now.first > seen_.first;
    if (seen_.size == 0 || now.size == 0 || (!appended && !trimmed) || now.last < seen_.last ||
        now.first < seen_.first) {
      staleUpTo = std::numeric_limits<long long>::max();
    } else {
      if (appended) staleFrom = indexOf(seen_.last);
      if (trimmed) staleUpTo = indexOf(now.first);
    }
  }
  long long first = 0;
  if (sameGrid) {
    first = static_cast<long long>(std::llround(shift));
  } else {
    store_ = &store;
    column_ = column;
    generation_ = store.Generation();
    origin_ = t0;
    width_ = width;
    out_.clear();
    firstIndex_ = 0;
  }
  seen_ = now;

  next_.assign(buckets, MinMaxBucket{});
  have_.assign(buckets, 0);
  for (std::size_t i = 0; i < buckets; ++i) {
    const long long k = first + static_cast<long long>(i);
    const long long at = k - firstIndex_;
    if (at < 0 || at >= static_cast<long long>(out_.size()) || k >= staleFrom || k <= staleUpTo) continue;
    next_[i] = out_[static_cast<std::size_t>(at)];
    have_[i] = 1;
  }
  // Each run of missing buckets from the samples in its own time range: every
  // sample lands in exactly one bucket.
  for (std::size_t i = 0; i < buckets;) {
    if (have_[i]) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < buckets && !have_[end]) ++end;
    const double from = origin_ + static_cast<double>(first + static_cast<long long>(i)) * width_;
    const double to = origin_ + static_cast<double>(first + static_cast<long long>(end)) * width_;
    DecimateMinMax(series, from, to, end - i, scratch_);
    std::copy(scratch_.begin(), scratch_.end(), next_.begin() + static_cast<std::ptrdiff_t>(i));
    lastReduced_ += end - i;
    i = end;
  }
  out_.swap(next_);
  firstIndex_ = first;
  return out_;
}

std::optional<double> ValueAt(const TrendSeries& series, double t, double maxGap) {
  auto it = std::upper_bound(series.begin(), series.end(), t,
                             [](double time, const TrendSample& sample) { return time < sample.t; });
  if (it == series.begin()) return std::nullopt;
  --it;
  if (t - it->t > maxGap) return std::nullopt;
  return it->v;
}

bool IsCoastDownType(std::uint8_t frameType) { return kCoastTypes[frameType]; }

std::optional<std::pair<double, double>> LatestCoastRun(const TrendStore& store) { return store.CoastRun(); }

std::vector<CoastSample> LatestCoastDownSamples(const TrendStore& store) {
  std::vector<CoastSample> samples;
  if (!store.CoastRun()) return samples;
  samples.reserve(store.CoastSpeed().size());
  for (const TrendSample& sample : store.CoastSpeed()) samples.push_back({sample.t, sample.v});
  return samples;
}

std::optional<CoastDownResult> FindCoastDown(const TrendStore& store, double startKmh, double endKmh) {
  if (!store.CoastRun()) return std::nullopt;
  const TrendSeries& speed = store.CoastSpeed();
  if (speed.empty()) return std::nullopt;
  const auto from = speed.begin();
  const auto to = speed.end();

  const bool given = std::isfinite(startKmh) && std::isfinite(endKmh) && endKmh > 0 && startKmh > endKmh;
  if (!given) {
    startKmh = from->v;
    endKmh = std::prev(to)->v;
  }
  // The time the falling speed passed `level`, between the two samples
  // around it; nothing when the first sample is already below it.
  auto crossing = [&](double level) -> std::optional<double> {
    for (auto it = from; it != to; ++it) {
      if (it->v > level) continue;
      if (it == from) {
        if (it->v < level) return std::nullopt;
        return it->t;
      }
      const auto before = std::prev(it);
      const double drop = before->v - it->v;
      return drop > 0 ? before->t + (before->v - level) / drop * (it->t - before->t) : it->t;
    }
    return std::nullopt;
  };
  CoastDownResult result;
  result.marks.startSpeed = startKmh;
  result.marks.endSpeed = endKmh;
  const std::optional<double> start = given ? crossing(startKmh) : std::nullopt;
  // A run that begins below the start speed is timed from its first frame
  // when that frame was the run's first, or came just below the start speed
  // as the first frame after the release does.
  result.startSeen = start.has_value() || store.CoastStartSeen() || (given && from->v >= startKmh - kStartToleranceKmh);
  result.marks.startTime = start.value_or(from->t);
  const std::optional<double> end = given ? crossing(endKmh) : std::optional<double>(std::prev(to)->t);
  result.reachedEnd = end.has_value();
  result.marks.endTime = end.value_or(std::prev(to)->t);
  return result;
}

std::uint64_t FirstFrameWorthTaking(const FrameHistory& history, std::uint64_t from, double keepSeconds) {
  from = std::max(from, history.Begin());
  if (from >= history.End()) return from;
  using Seconds = std::chrono::duration<double>;
  const auto newest = history.At(history.End() - 1).at;
  // The latest coast frame, then back to its run's first one.
  std::uint64_t n = history.End();
  while (n > from && !IsCoastDownType(history.At(n - 1).status.FrameType)) --n;
  std::optional<FrameHistory::Clock::time_point> runStart;
  if (n > from) {
    runStart = history.At(n - 1).at;
    for (--n; n > from; --n) {
      const FrameHistory::Entry& previous = history.At(n - 1);
      if (!IsCoastDownType(previous.status.FrameType) || Seconds(*runStart - previous.at).count() > kRunGapSeconds)
        break;
      runStart = previous.at;
    }
  }
  // From the earlier of the two, with twice the gap before the run.
  auto cut = newest - std::chrono::duration_cast<FrameHistory::Clock::duration>(Seconds(keepSeconds));
  if (runStart) {
    cut = std::min(cut,
                   *runStart - std::chrono::duration_cast<FrameHistory::Clock::duration>(Seconds(2 * kRunGapSeconds)));
  }
  std::uint64_t first = history.End();
  while (first > from && history.At(first - 1).at >= cut) --first;
  return first;
}

double NiceTickStep(double span, double wanted) {
  const double raw = span / std::max(1.0, wanted);
  if (!(raw > 0) || !std::isfinite(raw)) return 1.0;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double m : {1.0, 2.0, 5.0}) {
    if (raw <= m * power) return m * power;
  }
  return 10 * power;
}

}  // namespace rolta
