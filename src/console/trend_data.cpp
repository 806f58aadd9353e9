#include "console/trend_data.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "console/readouts.h"

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

}  // namespace

TrendStore::TrendStore(double keepSeconds) : keepSeconds_(keepSeconds), series_(RecordColumns().size()) {}

void TrendStore::AddRow(const RecordRow& row, double t) {
  const std::size_t count = std::min(row.values.size(), series_.size());
  for (std::size_t i = 0; i < count; ++i) {
    if (!std::isnan(row.values[i])) series_[i].push_back({t, row.values[i]});
  }
  types_.push_back({t, static_cast<double>(row.frameType)});
  // A run is unbroken coast-down frames at most kRunGapSeconds apart.
  const bool coast = IsCoastDownType(row.frameType);
  if (coast) {
    if (lastWasCoast_ && coastRun_ && t - coastRun_->second <= kRunGapSeconds) {
      coastRun_->second = t;
    } else {
      coastRun_ = std::pair{t, t};
    }
  }
  lastWasCoast_ = coast;
  if (keepSeconds_ > 0) Trim(t);
}

void TrendStore::AddFrame(const ControllerStatus& status, double t) {
  FillRecordRow(status, t * 1000.0, row_);
  AddRow(row_, t);
}

void TrendStore::Clear() {
  for (TrendSeries& series : series_) series.clear();
  types_.clear();
  coastRun_.reset();
  lastWasCoast_ = false;
  ++generation_;
}

void TrendStore::Trim(double now) {
  // In steps of a tenth of the span, so a trim is rare and moves many samples.
  const double oldest = now - keepSeconds_;
  if (types_.empty() || types_.front().t >= oldest - keepSeconds_ * 0.1) return;
  auto trim = [oldest](TrendSeries& series) { series.erase(series.begin(), FirstAtOrAfter(series, oldest)); };
  for (TrendSeries& series : series_) trim(series);
  trim(types_);
  // What is left of the run starts with the oldest frame kept.
  if (coastRun_ && (types_.empty() || coastRun_->second < types_.front().t)) {
    coastRun_.reset();
  } else if (coastRun_ && coastRun_->first < types_.front().t) {
    coastRun_->first = types_.front().t;
  }
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
  const auto run = LatestCoastRun(store);
  if (!run) return samples;
  const TrendSeries& speed = store.Series(static_cast<std::size_t>(kSpeedColumn));
  for (auto it = FirstAtOrAfter(speed, run->first); it != speed.end() && it->t <= run->second; ++it) {
    samples.push_back({it->t, it->v});
  }
  return samples;
}

std::optional<CoastDownResult> FindCoastDown(const TrendStore& store, double startKmh, double endKmh) {
  const auto run = LatestCoastRun(store);
  if (!run) return std::nullopt;
  const auto [runStart, runEnd] = *run;

  const TrendSeries& speed = store.Series(static_cast<std::size_t>(kSpeedColumn));
  const auto from = FirstAtOrAfter(speed, runStart);
  auto to = FirstAtOrAfter(speed, runEnd);
  if (to != speed.end() && to->t <= runEnd) ++to;
  if (from == to) return std::nullopt;

  const bool given = std::isfinite(startKmh) && std::isfinite(endKmh) && endKmh > 0 && startKmh > endKmh;
  if (!given) {
    startKmh = from->v;
    endKmh = std::prev(to)->v;
  }
  // The time the falling speed passed `level`, between the two samples around it.
  auto crossing = [&](double level) -> std::optional<double> {
    for (auto it = from; it != to; ++it) {
      if (it->v > level) continue;
      if (it == from) return it->t;
      const auto before = std::prev(it);
      const double drop = before->v - it->v;
      return drop > 0 ? before->t + (before->v - level) / drop * (it->t - before->t) : it->t;
    }
    return std::nullopt;
  };
  CoastDownResult result;
  result.marks.startSpeed = startKmh;
  result.marks.endSpeed = endKmh;
  // A run that began below the start speed is timed from its first frame.
  result.marks.startTime = crossing(startKmh).value_or(from->t);
  const std::optional<double> end = given ? crossing(endKmh) : std::optional<double>(std::prev(to)->t);
  result.reachedEnd = end.has_value();
  result.marks.endTime = end.value_or(std::prev(to)->t);
  return result;
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
