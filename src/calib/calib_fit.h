// How the controller turns a sensor reading into its value through a
// calibration table: piecewise-linear interpolation between the points, or
// the least-squares line through them, as its parameter "标定模式" says. The
// console's calibration assistant and the simulated controller share it.
// Nothing of ours is included, so the simulator may use it on its own.
#pragma once

#include <cstdint>
#include <span>

namespace rolta {

enum class CalibFit : std::uint8_t { PiecewiseLinear, LeastSquares };

// The parameter record's byte: 0 piecewise linear, anything else least squares.
constexpr CalibFit CalibFitFromRecord(std::uint8_t calibFit) {
  return calibFit == 0 ? CalibFit::PiecewiseLinear : CalibFit::LeastSquares;
}

struct CalibPoint {
  double first = 0;   // the sensor's reading (volts)
  double second = 0;  // the value it stands for
};

struct StraightLine {
  double offset = 0;
  double slope = 0;
  double At(double x) const { return offset + slope * x; }
};

// The least-squares line through the points. One point, or points that all
// share one first value, give the horizontal line through their mean.
StraightLine LeastSquaresLine(std::span<const CalibPoint> points);

// The value the table gives for `reading`. Piecewise linear: the points are
// taken in order of their first values; a reading outside them follows the
// nearest end segment; points with equal first values add no segment. No
// points give 0; one point gives its second value.
double ApplyCalibration(std::span<const CalibPoint> points, CalibFit fit, double reading);

}  // namespace rolta
