// Coast-down analysis: road-load coefficients recovered from coast-downs of the
// simulated bench with known losses and noise, and the refusals of unsuitable data.
#include "analysis/coast_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "controller_model.h"
#include "link/frames.h"

namespace rolta::test {
namespace {

// A no-load coast-down ("空载滑行", command 54) from `from` to `to` km/h,
// sampled from the status frames every `period` seconds.
std::vector<CoastSample> SimulatedCoastDown(const sim::RoadLoadConfig& load, float from, float to,
                                            double period = 0.02) {
  sim::ModelConfig config;
  config.roadLoad = load;
  config.seed = 7;
  sim::ControllerModel model(config);
  std::vector<std::uint8_t> frame(22, 0);
  frame[0] = 0x55;
  frame[1] = 0xAA;
  frame[2] = 54;
  frame[3] = 16;
  PutFloat32LE(&frame[6], from);
  PutFloat32LE(&frame[10], to);
  StoreChecksum(frame.data(), frame.size());
  model.HandleCommand(frame, 0);
  std::vector<CoastSample> samples;
  double t = 0;
  for (int step = 0; step < 200'000 && model.TestRunning(); ++step) {
    model.Advance(period);
    t += period;
    if (const auto status = model.PeriodicFrame(); status && (*status)[2] == 54) {
      samples.push_back({t, GetFloat32LE(status->data() + 10)});
    }
  }
  return samples;
}

// The largest difference of the fitted force from the true one at 20-100 km/h.
double WorstForceError(const RoadLoad& fit, const RoadLoad& truth) {
  double worst = 0;
  for (double v = 20; v <= 100; v += 1) worst = std::max(worst, std::abs(fit.ForceN(v) - truth.ForceN(v)));
  return worst;
}

TEST(CoastAnalysisTest, RecoversTheSimulatorsRoadLoad) {
  struct Case {
    sim::RoadLoadConfig load;
    double massKg;  // as the operator enters it
  };
  const Case cases[] = {
      {{120.0, 0.9, 0.032, 1800.0, 0.05}, 1800.0},  // a car on the rollers, noisy speed
      {{40.0, 1.2, 0.0, 0.0, 0.0}, 907.0},          // the bare rollers, the default losses
      {{250.0, 2.5, 0.05, 3500.0, 0.1}, 3500.0},    // a van, noisier
  };
  for (const Case& c : cases) {
    const std::vector<CoastSample> samples = SimulatedCoastDown(c.load, 102, 10);
    ASSERT_GT(samples.size(), 200u);
    const CoastAnalysisResult result = AnalyseCoastDown(samples, c.massKg);
    ASSERT_TRUE(result.analysis) << CoastAnalysisErrorKey(*result.error);
    const CoastAnalysis& a = *result.analysis;
    const RoadLoad truth{c.load.f0N, c.load.f1, c.load.f2};
    const double range = truth.ForceN(100);  // the force range at 20-100 km/h, from zero
    EXPECT_LT(WorstForceError(a.direct.load, truth), 0.02 * range)
        << a.direct.load.f0 << " " << a.direct.load.f1 << " " << a.direct.load.f2;
    EXPECT_LT(WorstForceError(a.interval.load, truth), 0.05 * range)
        << a.interval.load.f0 << " " << a.interval.load.f1 << " " << a.interval.load.f2;
    for (const double v : {50.0, 80.0})
      EXPECT_NEAR(a.direct.load.PowerKw(v), truth.PowerKw(v), 0.02 * truth.PowerKw(v));
    // Nine bands from 100-90 down to 20-10: the first frame comes after the
    // start, so the coast starts above the top band.
    ASSERT_EQ(a.bands.size(), 9u);
    EXPECT_EQ(a.bands.front().highKmh, 100);
    EXPECT_EQ(a.bands.back().lowKmh, 10);
    EXPECT_LT(a.direct.rms, 3 * c.load.speedNoiseKmh + 0.01);
  }
}

TEST(CoastAnalysisTest, UnsuitableDataGivesTheReasonNotANumber) {
  const std::vector<CoastSample> good = SimulatedCoastDown({120.0, 0.9, 0.032, 1800.0, 0.0}, 100, 10, 0.1);
  auto constant = std::vector<CoastSample>(100);
  for (std::size_t i = 0; i < constant.size(); ++i) constant[i] = {0.1 * static_cast<double>(i), 50.0};
  auto rising = good;
  for (CoastSample& s : rising) s.kmh = 110 - s.kmh;
  const std::vector<CoastSample> shortCoast = SimulatedCoastDown({120.0, 0.9, 0.032, 1800.0, 0.0}, 40, 15, 0.1);
  auto withGaps = good;
  for (std::size_t i = 0; i < withGaps.size(); i += 7) withGaps[i].kmh = std::nan("");
  struct Case {
    const char* what;
    std::vector<CoastSample> samples;
    double mass;
    std::optional<CoastAnalysisError> error;
  };
  const Case cases[] = {
      {"no mass", good, 0.0, CoastAnalysisError::BadMass},
      {"mass not a number", good, std::nan(""), CoastAnalysisError::BadMass},
      {"ten samples", std::vector<CoastSample>(good.begin(), good.begin() + 10), 1800.0,
       CoastAnalysisError::TooFewSamples},
      {"constant speed", constant, 1800.0, CoastAnalysisError::SpeedNotFalling},
      {"speed rising", rising, 1800.0, CoastAnalysisError::SpeedNotFalling},
      {"40 to 15 km/h: two bands", shortCoast, 1800.0, CoastAnalysisError::BandsMissing},
      {"unreadable samples left out", withGaps, 1800.0, std::nullopt},
  };
  for (const Case& c : cases) {
    const CoastAnalysisResult result = AnalyseCoastDown(c.samples, c.mass);
    EXPECT_EQ(result.error, c.error) << c.what;
    EXPECT_EQ(result.analysis.has_value(), !c.error.has_value()) << c.what;
  }
}

TEST(CoastAnalysisTest, BandsOnlyWhereTheDataHoldBothEnds) {
  // Data from the middle of a coast-down (a window opened late): no band
  // above the first sample, none below the last.
  std::vector<CoastSample> samples = SimulatedCoastDown({120.0, 0.9, 0.032, 1800.0, 0.0}, 102, 10, 0.1);
  std::erase_if(samples, [](const CoastSample& s) { return s.kmh > 67 || s.kmh < 13; });
  const CoastAnalysisResult result = AnalyseCoastDown(samples, 1800);
  ASSERT_TRUE(result.analysis);
  ASSERT_EQ(result.analysis->bands.size(), 4u);
  EXPECT_EQ(result.analysis->bands.front().highKmh, 60);
  EXPECT_EQ(result.analysis->bands.back().lowKmh, 20);
}

}  // namespace
}  // namespace rolta::test
