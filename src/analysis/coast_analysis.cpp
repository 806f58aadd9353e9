#include "analysis/coast_analysis.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "readouts/quantities.h"
#include "readouts/readouts.h"

namespace rolta {
namespace {

constexpr std::size_t kMinSamples = 20;
constexpr std::size_t kMinBands = 4;
constexpr double kBandWidthKmh = 10.0;
constexpr double kMinDropKmh = 10.0;
// Half-width of the speed window whose samples locate a crossing.
constexpr double kCrossingWindowKmh = 1.0;
// Speeds are scaled by this inside the solvers so F0, F1·S and F2·S² are all
// forces of similar size and the normal equations stay well conditioned.
constexpr double kSpeedScale = 100.0;
constexpr double kMaxStepSeconds = 0.05;
constexpr int kMaxIterations = 200;

// Solves the n×n system a·x = b in place (Gaussian elimination with partial
// pivoting); false when it is singular.
template <std::size_t N>
bool Solve(std::array<std::array<double, N>, N> a, std::array<double, N>& b) {
  for (std::size_t col = 0; col < N; ++col) {
    std::size_t pivot = col;
    for (std::size_t row = col + 1; row < N; ++row) {
      if (std::abs(a[row][col]) > std::abs(a[pivot][col])) pivot = row;
    }
    if (!(std::abs(a[pivot][col]) > 1e-300)) return false;
    std::swap(a[pivot], a[col]);
    std::swap(b[pivot], b[col]);
    for (std::size_t row = col + 1; row < N; ++row) {
      const double factor = a[row][col] / a[col][col];
      for (std::size_t k = col; k < N; ++k) a[row][k] -= factor * a[col][k];
      b[row] -= factor * b[col];
    }
  }
  for (std::size_t col = N; col-- > 0;) {
    double sum = b[col];
    for (std::size_t k = col + 1; k < N; ++k) sum -= a[col][k] * b[k];
    b[col] = sum / a[col][col];
    if (!std::isfinite(b[col])) return false;
  }
  return true;
}

// The time the falling speed passes `level`: a straight line t(v) through
// the samples within the window around it, which averages the noise of many
// samples; with fewer than three there, between the two samples around the
// first crossing.
std::optional<double> CrossingTime(std::span<const CoastSample> samples, double level) {
  double n = 0, sv = 0, st = 0, svv = 0, svt = 0;
  for (const CoastSample& s : samples) {
    if (std::abs(s.kmh - level) > kCrossingWindowKmh) continue;
    n += 1;
    sv += s.kmh;
    st += s.t;
    svv += s.kmh * s.kmh;
    svt += s.kmh * s.t;
  }
  const double det = n * svv - sv * sv;
  if (n >= 3 && det > 1e-12 * n * n) {
    const double slope = (n * svt - sv * st) / det;
    if (slope < 0) return (st - slope * sv) / n + slope * level;
  }
  for (std::size_t i = 1; i < samples.size(); ++i) {
    const CoastSample& a = samples[i - 1];
    const CoastSample& b = samples[i];
    if (a.kmh >= level && b.kmh <= level) {
      const double drop = a.kmh - b.kmh;
      return drop > 0 ? a.t + (a.kmh - level) / drop * (b.t - a.t) : a.t;
    }
  }
  return std::nullopt;
}

// The road load of the scaled parameters q = (F0, F1·S, F2·S²).
RoadLoad FromScaled(const std::array<double, 3>& q) {
  return {q[0], q[1] / kSpeedScale, q[2] / (kSpeedScale * kSpeedScale)};
}

// The speed and its derivatives by (F0, F1·S, F2·S², v0), integrated with
// classic Runge-Kutta from the first sample time.
struct Trajectory {
  std::vector<double> speed;
  std::vector<std::array<double, 4>> sensitivity;
};
Trajectory Integrate(const std::array<double, 4>& q, double massKg, std::span<const double> times) {
  const double k = 3.6 / massKg;        // km/h per second for one newton
  using State = std::array<double, 5>;  // v, dv/dq0, dv/dq1, dv/dq2, dv/dv0
  auto derivative = [&](const State& y) {
    const double u = y[0] / kSpeedScale;
    const double force = q[0] + q[1] * u + q[2] * u * u;
    const double dForceDv = (q[1] + 2 * q[2] * u) / kSpeedScale;
    const std::array<double, 3> dForceDq = {1.0, u, u * u};
    State d{};
    d[0] = -k * force;
    for (std::size_t p = 0; p < 3; ++p) d[1 + p] = -k * (dForceDv * y[1 + p] + dForceDq[p]);
    d[4] = -k * dForceDv * y[4];
    return d;
  };
  auto add = [](const State& y, const State& d, double h) {
    State r;
    for (std::size_t i = 0; i < r.size(); ++i) r[i] = y[i] + h * d[i];
    return r;
  };
  Trajectory out;
  out.speed.reserve(times.size());
  out.sensitivity.reserve(times.size());
  State y{q[3], 0, 0, 0, 1};
  double t = times.empty() ? 0 : times[0];
  for (const double target : times) {
    while (t < target) {
      const double h = std::min(kMaxStepSeconds, target - t);
      const State k1 = derivative(y);
      const State k2 = derivative(add(y, k1, h / 2));
      const State k3 = derivative(add(y, k2, h / 2));
      const State k4 = derivative(add(y, k3, h));
      for (std::size_t i = 0; i < y.size(); ++i) y[i] += h / 6 * (k1[i] + 2 * k2[i] + 2 * k3[i] + k4[i]);
      t += h;
    }
    out.speed.push_back(y[0]);
    out.sensitivity.push_back({y[1], y[2], y[3], y[4]});
  }
  return out;
}

double SumOfSquares(const Trajectory& model, std::span<const CoastSample> samples) {
  double sum = 0;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const double r = model.speed[i] - samples[i].kmh;
    sum += r * r;
  }
  return sum;
}

double MeanSpeed(std::span<const CoastSample> samples) {
  double sum = 0;
  for (const CoastSample& s : samples) sum += s.kmh;
  return sum / static_cast<double>(samples.size());
}

}  // namespace

std::vector<double> IntegrateCoastDown(const RoadLoad& load, double massKg, double v0Kmh,
                                       std::span<const double> times) {
  const std::array<double, 4> q = {load.f0, load.f1 * kSpeedScale, load.f2 * kSpeedScale * kSpeedScale, v0Kmh};
  return Integrate(q, massKg, times).speed;
}

std::string CoastAnalysisCsv(const CoastAnalysis& analysis, double massKg) {
  std::string out = "quantity,interval,direct,unit\r\n";
  auto line = [&](const char* name, double interval, double direct, const char* unit) {
    out += name;
    out += ',';
    out += FormatFixed(interval, 6);
    out += ',';
    out += FormatFixed(direct, 6);
    out += ',';
    out += unit;
    out += "\r\n";
  };
  const RoadLoad& i = analysis.interval.load;
  const RoadLoad& d = analysis.direct.load;
  line("mass", massKg, massKg, "kg");
  line("F0", i.f0, d.f0, "N");
  line("F1", i.f1, d.f1, "N/(km/h)");
  line("F2", i.f2, d.f2, "N/(km/h)^2");
  line("rms", analysis.interval.rms, analysis.direct.rms, "N | km/h");
  line("power_50", i.PowerKw(50), d.PowerKw(50), "kW");
  line("power_80", i.PowerKw(80), d.PowerKw(80), "kW");
  // The band columns name their units from the quantity table: the speed
  // and coast time as recorded, the fitted road-load force in newtons.
  const std::string& kmh = UnitOf(static_cast<std::size_t>(QuantityIndex("speed")));
  out += "\r\n" + NameWithUnit("band_high", kmh) + ',' + NameWithUnit("band_low", kmh) + ',' +
         NameWithUnit("coast_time", UnitOf(static_cast<std::size_t>(QuantityIndex("coast_time")))) + ',' +
         NameWithUnit(kRoadLoadColumn, kRoadLoadUnit) + "\r\n";
  for (const CoastBand& band : analysis.bands) {
    out += FormatFixed(band.highKmh, 1) + ',' + FormatFixed(band.lowKmh, 1) + ',' + FormatFixed(band.seconds, 3) + ',' +
           FormatFixed(band.forceN, 2) + "\r\n";
  }
  return out;
}

const char* CoastAnalysisErrorKey(CoastAnalysisError error) {
  switch (error) {
    case CoastAnalysisError::BadMass: return "等效质量必须是正数";
    case CoastAnalysisError::TooFewSamples: return "滑行数据太少，无法拟合";
    case CoastAnalysisError::SpeedNotFalling: return "滑行数据中速度没有下降";
    case CoastAnalysisError::BandsMissing: return "滑行数据不足四个完整的10 km/h速度区间";
    case CoastAnalysisError::FitFailed: return "滑行曲线拟合没有收敛";
  }
  return "";
}

CoastAnalysisResult AnalyseCoastDown(std::span<const CoastSample> input, double massKg) {
  auto fail = [](CoastAnalysisError error) { return CoastAnalysisResult{std::nullopt, error}; };
  if (!std::isfinite(massKg) || massKg <= 0) return fail(CoastAnalysisError::BadMass);
  std::vector<CoastSample> samples;
  samples.reserve(input.size());
  for (const CoastSample& s : input) {
    if (std::isfinite(s.t) && std::isfinite(s.kmh)) samples.push_back(s);
  }
  std::stable_sort(samples.begin(), samples.end(),
                   [](const CoastSample& a, const CoastSample& b) { return a.t < b.t; });
  // Two samples at one time carry no time between them.
  samples.erase(std::unique(samples.begin(), samples.end(),
                            [](const CoastSample& a, const CoastSample& b) { return a.t == b.t; }),
                samples.end());
  if (samples.size() < kMinSamples) return fail(CoastAnalysisError::TooFewSamples);
  const std::size_t edge = std::max<std::size_t>(1, samples.size() / 20);
  const std::span<const CoastSample> all(samples);
  if (MeanSpeed(all.first(edge)) - MeanSpeed(all.last(edge)) < kMinDropKmh) {
    return fail(CoastAnalysisError::SpeedNotFalling);
  }

  // The interval method: every whole 10 km/h band the samples pass through.
  CoastAnalysis analysis;
  double high = -INFINITY, low = INFINITY;
  for (const CoastSample& s : samples) {
    high = std::max(high, s.kmh);
    low = std::min(low, s.kmh);
  }
  for (double top = std::floor(high / kBandWidthKmh) * kBandWidthKmh; top - kBandWidthKmh >= low;
       top -= kBandWidthKmh) {
    const double bottom = top - kBandWidthKmh;
    if (bottom < 0) break;
    const std::optional<double> enter = CrossingTime(all, top);
    const std::optional<double> leave = CrossingTime(all, bottom);
    if (!enter || !leave) continue;
    const double seconds = *leave - *enter;
    if (!(seconds > 0)) return fail(CoastAnalysisError::SpeedNotFalling);
    const double decel = kBandWidthKmh / 3.6 / seconds;  // m/s²
    analysis.bands.push_back({top, bottom, (top + bottom) / 2, seconds, massKg * decel});
  }
  if (analysis.bands.size() < kMinBands) return fail(CoastAnalysisError::BandsMissing);

  // Least squares F = F0 + F1·v + F2·v² through the band points, in scaled speed.
  std::array<std::array<double, 3>, 3> normal{};
  std::array<double, 3> rhs{};
  for (const CoastBand& band : analysis.bands) {
    const double u = band.midKmh / kSpeedScale;
    const std::array<double, 3> row = {1.0, u, u * u};
    for (std::size_t i = 0; i < 3; ++i) {
      for (std::size_t j = 0; j < 3; ++j) normal[i][j] += row[i] * row[j];
      rhs[i] += row[i] * band.forceN;
    }
  }
  if (!Solve(normal, rhs)) return fail(CoastAnalysisError::BandsMissing);
  analysis.interval.load = FromScaled(rhs);
  double squares = 0;
  for (const CoastBand& band : analysis.bands) {
    const double r = analysis.interval.load.ForceN(band.midKmh) - band.forceN;
    squares += r * r;
  }
  analysis.interval.rms = std::sqrt(squares / static_cast<double>(analysis.bands.size()));

  // The direct fit, from the interval method's curve and the first speed.
  std::vector<double> times(samples.size());
  std::transform(samples.begin(), samples.end(), times.begin(), [](const CoastSample& s) { return s.t; });
  std::array<double, 4> q = {rhs[0], rhs[1], rhs[2], MeanSpeed(all.first(std::min<std::size_t>(3, samples.size())))};
  Trajectory model = Integrate(q, massKg, times);
  double cost = SumOfSquares(model, all);
  double lambda = 1e-3;
  bool converged = false;
  int iteration = 0;
  for (; iteration < kMaxIterations && !converged; ++iteration) {
    std::array<std::array<double, 4>, 4> jtj{};
    std::array<double, 4> jtr{};
    for (std::size_t i = 0; i < samples.size(); ++i) {
      const double r = model.speed[i] - samples[i].kmh;
      const auto& s = model.sensitivity[i];
      for (std::size_t a = 0; a < 4; ++a) {
        jtr[a] -= s[a] * r;
        for (std::size_t b = 0; b < 4; ++b) jtj[a][b] += s[a] * s[b];
      }
    }
    // Marquardt's damping: larger steps as the fit improves, shorter ones when it does not.
    bool improved = false;
    while (!improved && lambda < 1e12) {
      auto damped = jtj;
      for (std::size_t a = 0; a < 4; ++a) damped[a][a] += lambda * std::max(jtj[a][a], 1e-12);
      std::array<double, 4> step = jtr;
      if (!Solve(damped, step)) {
        lambda *= 10;
        continue;
      }
      std::array<double, 4> next = q;
      for (std::size_t a = 0; a < 4; ++a) next[a] += step[a];
      Trajectory trial = Integrate(next, massKg, times);
      const double trialCost = SumOfSquares(trial, all);
      if (std::isfinite(trialCost) && trialCost <= cost) {
        double largest = 0;
        for (std::size_t a = 0; a < 4; ++a) largest = std::max(largest, std::abs(step[a]) / (std::abs(q[a]) + 1.0));
        converged = largest < 1e-9 || cost - trialCost <= 1e-12 * cost;
        q = next;
        model = std::move(trial);
        cost = trialCost;
        lambda = std::max(lambda / 3, 1e-12);
        improved = true;
      } else {
        lambda *= 4;
      }
    }
    // No step lowers the cost any more: it is at its least.
    if (!improved) converged = true;
  }
  for (const double value : q) {
    if (!std::isfinite(value)) return fail(CoastAnalysisError::FitFailed);
  }
  if (!converged) return fail(CoastAnalysisError::FitFailed);
  analysis.direct.load = FromScaled({q[0], q[1], q[2]});
  analysis.direct.rms = std::sqrt(cost / static_cast<double>(samples.size()));
  analysis.directStartKmh = q[3];
  analysis.directIterations = iteration;
  return {std::move(analysis), std::nullopt};
}

}  // namespace rolta
