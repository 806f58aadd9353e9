#include "calib/calib_fit.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace rolta {

StraightLine LeastSquaresLine(std::span<const CalibPoint> points) {
  if (points.empty()) return {};
  const auto n = static_cast<double>(points.size());
  double meanX = 0;
  double meanY = 0;
  for (const CalibPoint& p : points) {
    meanX += p.first;
    meanY += p.second;
  }
  meanX /= n;
  meanY /= n;
  // Centred sums keep the fit exact for readings far from zero.
  double sxx = 0;
  double sxy = 0;
  for (const CalibPoint& p : points) {
    sxx += (p.first - meanX) * (p.first - meanX);
    sxy += (p.first - meanX) * (p.second - meanY);
  }
  if (!(sxx > 0)) return {meanY, 0};
  const double slope = sxy / sxx;
  return {meanY - slope * meanX, slope};
}

double ApplyCalibration(std::span<const CalibPoint> points, CalibFit fit, double reading) {
  if (points.empty()) return 0;
  if (points.size() == 1) return points.front().second;
  if (fit == CalibFit::LeastSquares) return LeastSquaresLine(points).At(reading);

  std::vector<CalibPoint> sorted(points.begin(), points.end());
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const CalibPoint& a, const CalibPoint& b) { return a.first < b.first; });
  // Points of one first value make no segment: the first of them stands.
  sorted.erase(std::unique(sorted.begin(), sorted.end(),
                           [](const CalibPoint& a, const CalibPoint& b) { return a.first == b.first; }),
               sorted.end());
  if (sorted.size() == 1) return sorted.front().second;
  // The segment whose upper end is the first point above the reading; the
  // end segments reach on beyond the table.
  auto upper = std::upper_bound(sorted.begin() + 1, sorted.end() - 1, reading,
                                [](double x, const CalibPoint& p) { return x < p.first; });
  const CalibPoint& a = *(upper - 1);
  const CalibPoint& b = *upper;
  return a.second + (b.second - a.second) * (reading - a.first) / (b.first - a.first);
}

}  // namespace rolta
