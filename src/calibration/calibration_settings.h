// The bench's calibration settings (rolta/calibration.conf beside bench.conf):
// the calibration arm that turns weights into a force, the tolerance and the
// settle rule. Who calibrates where, and the traceability statement, are the
// service identity's (service.conf). key=value lines, "#" starts a comment, e.g.
//   arm_length_m=0.5
//   roller_radius_m=0.1095
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

#include "calibration/settle_window.h"

namespace rolta {

inline constexpr double kStandardGravity = 9.80665;  // m/s²

struct CalibrationSettings {
  // The arm the weights hang on and the roller the force acts at: a mass m
  // gives m·g·arm / radius at the roller.
  double armLengthM = 0;
  double rollerRadiusM = 0;
  double gravity = kStandardGravity;
  double tolerancePercentFullScale = 0.5;
  double resolutionVolts = 0.001;  // the voltage readout's last digit ("%.3f")
  SettleRule settle;
};

std::filesystem::path CalibrationSettingsPath();

struct CalibrationSettingsResult {
  CalibrationSettings settings;
  // Empty when read whole or missing; else the first line not taken,
  // "<line>: <text>", its default standing.
  std::string problem;
};
CalibrationSettingsResult LoadCalibrationSettings(const std::filesystem::path& path);
// Written through a temporary file renamed into place.
bool SaveCalibrationSettings(const std::filesystem::path& path, const CalibrationSettings& settings);

// The force at the roller in daN of a mass in kg on the bench's arm; nothing
// while the arm or the radius is not set.
std::optional<double> ForceFromMassDaN(double massKg, const CalibrationSettings& settings);

}  // namespace rolta
