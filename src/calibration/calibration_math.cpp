#include "calibration/calibration_math.h"

#include <algorithm>
#include <cmath>

namespace rolta {

double ErrorPercentFullScale(double indicated, double reference, double fullScale) {
  if (!(fullScale > 0)) return 0.0;
  return (indicated - reference) / fullScale * 100.0;
}

double LinearityPercentFullScale(std::span<const CalibPoint> points, double fullScale) {
  if (points.size() < 3 || !(fullScale > 0)) return 0.0;
  const StraightLine line = LeastSquaresLine(points);
  double largest = 0;
  for (const CalibPoint& p : points) largest = std::max(largest, std::abs(p.second - line.At(p.first)));
  return largest / fullScale * 100.0;
}

double TableSensitivity(std::span<const CalibPoint> table, CalibFit fit, double reading) {
  // A millivolt either side: small against any segment, large against float rounding.
  constexpr double kStep = 1e-3;
  return (ApplyCalibration(table, fit, reading + kStep) - ApplyCalibration(table, fit, reading - kStep)) / (2 * kStep);
}

double ExpandedUncertainty(const UncertaintyInputs& in) {
  const double rectangular = std::sqrt(12.0);
  const double fromSpread = in.sensitivity * in.spreadVolts / rectangular;
  const double fromResolution = in.sensitivity * in.resolutionVolts / rectangular;
  const double fromReference = in.referenceExpanded / 2.0;
  return 2.0 * std::sqrt(fromSpread * fromSpread + fromResolution * fromResolution + fromReference * fromReference);
}

std::variant<CalibTable, TableRefusal> BuildTable(std::span<const CalibPoint> points, std::size_t capacity) {
  if (points.size() > capacity || points.size() > CalibTable::kMaxCapacity) {
    return TableRefusal{"点数多于标定表容量", 0, 0};
  }
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (!std::isfinite(points[i].first) || !std::isfinite(points[i].second)) return TableRefusal{"有点不是数字", i, i};
  }
  // In the order of their references each reading must be higher than the
  // one before: a sensor that does not rise with its load cannot be a table.
  std::vector<std::size_t> order(points.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return points[a].second < points[b].second; });
  for (std::size_t k = 1; k < order.size(); ++k) {
    const CalibPoint& before = points[order[k - 1]];
    const CalibPoint& after = points[order[k]];
    if (before.second == after.second) return TableRefusal{"两点参考值相同", order[k - 1], order[k]};
    const float low = static_cast<float>(before.first);
    const float high = static_cast<float>(after.first);
    if (low == high) return TableRefusal{"两点读数相同", order[k - 1], order[k]};
    if (low > high) return TableRefusal{"载荷增大而读数下降", order[k - 1], order[k]};
  }
  CalibTable table(capacity);
  for (std::size_t k = 0; k < order.size(); ++k) {
    table.SetFirst(k, static_cast<float>(points[order[k]].first));
    table.SetSecond(k, static_cast<float>(points[order[k]].second));
  }
  table.SetCount(static_cast<std::int16_t>(order.size()));
  return table;
}

void AssessPoint(CalibrationPoint& point, std::span<const CalibPoint> table, CalibFit fit, double fullScale,
                 double tolerancePercentFullScale, double resolutionVolts, double referenceExpanded) {
  point.indicated = ApplyCalibration(table, fit, point.voltageMean);
  point.errorPercentFullScale = ErrorPercentFullScale(point.indicated, point.reference, fullScale);
  point.expandedUncertainty =
      ExpandedUncertainty({point.voltageSpread, resolutionVolts,
                           std::abs(TableSensitivity(table, fit, point.voltageMean)), referenceExpanded});
  point.pass =
      std::isfinite(point.errorPercentFullScale) && std::abs(point.errorPercentFullScale) <= tolerancePercentFullScale;
}

}  // namespace rolta
