// The arithmetic of a calibration: a table's error against the references in
// % of full scale, the linearity of the measured points, the new table built
// from them, and each point's expanded uncertainty.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "calib/calib_fit.h"
#include "calib/calib_table.h"
#include "calib/calibration_run.h"
#include "config/controller_params.h"  // FixedText

namespace rolta {

// (indicated - reference) / full scale × 100; 0 when the full scale is not above 0.
double ErrorPercentFullScale(double indicated, double reference, double fullScale);

// The largest distance of a point from the least-squares line through all of
// them, in % of full scale (first: reading, second: reference).
double LinearityPercentFullScale(std::span<const CalibPoint> points, double fullScale);

// The slope of what the table gives around a reading (value per volt).
double TableSensitivity(std::span<const CalibPoint> table, CalibFit fit, double reading);

// What one point's expanded uncertainty (k = 2) is made of.
struct UncertaintyInputs {
  double spreadVolts = 0;        // largest minus smallest reading over the settle window
  double resolutionVolts = 0;    // the reading's last digit
  double sensitivity = 0;        // value per volt of the table in force
  double referenceExpanded = 0;  // the reference's stated uncertainty, k = 2
};
// U = 2·sqrt((c·s/√12)² + (c·r/√12)² + (U_ref/2)²): the spread s and the
// resolution r each as a rectangular distribution of that full width, carried
// into the channel's unit by the sensitivity c, and the reference's standard
// uncertainty U_ref/2.
double ExpandedUncertainty(const UncertaintyInputs& inputs);

// A new table from measured points: sorted by reading, at most `capacity`
// points, each reading higher than the one before. The error says which two
// points are refused (equal readings, or a reading that did not rise with
// its load).
struct TableRefusal {
  std::string reason;     // passed through the lookup when shown
  std::size_t first = 0;  // indices into the points given
  std::size_t second = 0;
};
std::variant<CalibTable, TableRefusal> BuildTable(std::span<const CalibPoint> points, std::size_t capacity);

// Fills a point's indicated value, error, uncertainty and pass/fail from its
// mean, spread and reference through `table`.
void AssessPoint(CalibrationPoint& point, std::span<const CalibPoint> table, CalibFit fit, double fullScale,
                 double tolerancePercentFullScale, double resolutionVolts, double referenceExpanded);

}  // namespace rolta
