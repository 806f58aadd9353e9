// The calibration assistant's arithmetic as tables of cases: the settle rule,
// the table as the controller applies it in either mode, error and linearity
// in % of full scale, the expanded uncertainty, the new table from measured
// points, and the force of weights on the bench's arm.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <variant>
#include <vector>

#include "calib/calib_fit.h"
#include "calibration/calibration_math.h"
#include "calibration/calibration_settings.h"
#include "calibration/settle_window.h"
#include "temp_folder.h"

namespace rolta::test {
namespace {

TEST(SettleWindow, SettlesOnlyWhenFullAndWithinTheSpread) {
  struct Case {
    std::vector<double> samples;
    bool settled;
    double mean;
    double spread;
  };
  const Case cases[] = {
      {{1.000, 1.001, 1.002}, false, 1.001, 0.002},                  // not full yet
      {{1.000, 1.001, 1.0015, 1.001}, true, 1.000875, 0.0015},       // within the spread
      {{1.000, 1.001, 1.0031, 1.001}, false, 1.00128, 0.0031},       // one reading too far
      {{5.0, 1.000, 1.001, 1.0015, 1.000}, true, 1.000625, 0.0015},  // the old load has left the window
      {{1.0, 1.0, 1.0, std::nan(""), 1.0}, false, 1.0, 0.0},         // nothing settles across a bad reading
  };
  for (const Case& c : cases) {
    SettleWindow window(SettleRule{.samples = 4, .maxSpread = 0.002});
    for (double v : c.samples) window.Add(v);
    EXPECT_EQ(window.Settled(), c.settled) << c.samples.size();
    EXPECT_NEAR(window.Mean(), c.mean, 1e-5);
    EXPECT_NEAR(window.Spread(), c.spread, 1e-9);
  }
}

TEST(CalibFit, AppliesTheTableAsTheControllerDoes) {
  // Unsorted points with a bend at 2 V and a repeated first value.
  const std::vector<CalibPoint> table = {{2, 200}, {0, 0}, {4, 600}, {2, 250}};
  struct Case {
    CalibFit fit;
    double reading;
    double value;
  };
  const Case cases[] = {
      {CalibFit::PiecewiseLinear, 1, 100},    // first segment
      {CalibFit::PiecewiseLinear, 3, 400},    // second segment
      {CalibFit::PiecewiseLinear, -1, -100},  // below the table: first segment goes on
      {CalibFit::PiecewiseLinear, 5, 800},    // above: last segment goes on
      {CalibFit::LeastSquares, 2, 262.5},     // the line through all four points at their mean
  };
  for (const Case& c : cases) EXPECT_NEAR(ApplyCalibration(table, c.fit, c.reading), c.value, 1e-9) << c.reading;
  EXPECT_EQ(ApplyCalibration({}, CalibFit::PiecewiseLinear, 1), 0);
  const CalibPoint one[] = {{1, 7}};
  EXPECT_EQ(ApplyCalibration(one, CalibFit::LeastSquares, 3), 7);
  EXPECT_EQ(CalibFitFromRecord(0), CalibFit::PiecewiseLinear);
  EXPECT_EQ(CalibFitFromRecord(1), CalibFit::LeastSquares);
}

TEST(CalibrationMath, ErrorLinearityAndUncertainty) {
  EXPECT_DOUBLE_EQ(ErrorPercentFullScale(1010, 1000, 2000), 0.5);
  EXPECT_DOUBLE_EQ(ErrorPercentFullScale(990, 1000, 2000), -0.5);
  EXPECT_EQ(ErrorPercentFullScale(990, 1000, 0), 0);
  // A straight line is perfectly linear; one point 4 daN off the middle of
  // five moves the fit and leaves it 3.2 daN away: 0.16 % of 2000.
  const std::vector<CalibPoint> straight = {{0.5, 0}, {1.5, 500}, {2.5, 1000}, {3.5, 1500}, {4.5, 2000}};
  EXPECT_NEAR(LinearityPercentFullScale(straight, 2000), 0, 1e-9);
  std::vector<CalibPoint> bent = straight;
  bent[2].second = 1004;
  EXPECT_NEAR(LinearityPercentFullScale(bent, 2000), 0.16, 1e-9);
  EXPECT_NEAR(TableSensitivity(straight, CalibFit::PiecewiseLinear, 2.0), 500, 1e-6);
  // U = 2·sqrt((500·0.001/√12)² + (500·0.001/√12)² + (0.4/2)²).
  EXPECT_NEAR(ExpandedUncertainty({0.001, 0.001, 500, 0.4}), 2 * std::sqrt(2 * 0.25 / 12 + 0.04), 1e-12);
}

TEST(CalibrationMath, BuildsTheNewTableOrSaysWhichPointsAreRefused) {
  const std::vector<CalibPoint> good = {{0.5, 0}, {2.5, 1000}, {1.5, 500}};
  const auto built = BuildTable(good, 10);
  ASSERT_TRUE(std::holds_alternative<CalibTable>(built));
  const CalibTable& table = std::get<CalibTable>(built);
  EXPECT_EQ(table.Capacity(), 10u);
  EXPECT_EQ(table.Count(), 3);
  EXPECT_EQ(table.First(1), 1.5f);
  EXPECT_EQ(table.Second(2), 1000.0f);
  EXPECT_EQ(table.First(3), 0.0f);  // beyond the count

  struct Case {
    std::vector<CalibPoint> points;
    std::size_t capacity;
    const char* reason;
  };
  const Case refused[] = {
      {{{0.5, 0}, {1.5, 500}, {2.5, 1000}}, 2, "点数多于标定表容量"},
      {{{0.5, 0}, {0.5, 500}}, 10, "两点读数相同"},
      {{{0.5, 0}, {1.5, 0}}, 10, "两点参考值相同"},
      {{{1.5, 0}, {0.5, 500}}, 10, "载荷增大而读数下降"},
      {{{0.5, 0}, {std::numeric_limits<double>::infinity(), 500}}, 10, "有点不是数字"},
  };
  for (const Case& c : refused) {
    const auto result = BuildTable(c.points, c.capacity);
    ASSERT_TRUE(std::holds_alternative<TableRefusal>(result)) << c.reason;
    EXPECT_EQ(std::get<TableRefusal>(result).reason, c.reason);
  }
}

TEST(CalibrationSettings, WeightsOnTheArmAndTheFileRoundTrip) {
  CalibrationSettings settings;
  EXPECT_FALSE(ForceFromMassDaN(10, settings));  // no arm yet
  settings.armLengthM = 1.0;
  settings.rollerRadiusM = 0.25;
  settings.gravity = 10.0;
  EXPECT_DOUBLE_EQ(*ForceFromMassDaN(25, settings), 100.0);  // 25 kg · 10 · 1 / 0.25 = 1000 N
  settings.gravity = 9.81;

  TempFolder folder("rolta-calibration-settings");
  const auto path = folder.path() / "rolta" / "calibration.conf";
  settings.settle.samples = 12;
  ASSERT_TRUE(SaveCalibrationSettings(path, settings));
  const CalibrationSettingsResult read = LoadCalibrationSettings(path);
  EXPECT_EQ(read.problem, "");
  EXPECT_EQ(read.settings.settle.samples, 12u);
  EXPECT_DOUBLE_EQ(read.settings.rollerRadiusM, 0.25);

  std::ofstream(path) << "arm_length_m=-1\nsettle_samples=2.5\n";
  const CalibrationSettingsResult bad = LoadCalibrationSettings(path);
  EXPECT_EQ(bad.problem, "1: arm_length_m=-1");
  EXPECT_EQ(bad.settings.armLengthM, 0);
  EXPECT_EQ(bad.settings.settle.samples, 10u);
}

}  // namespace
}  // namespace rolta::test
