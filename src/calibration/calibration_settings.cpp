#include "calibration/calibration_settings.h"

#include <charconv>
#include <cmath>
#include <sstream>
#include <string_view>

#include "calib/calib_exchange.h"
#include "env/config_home.h"
#include "env/key_value_file.h"

namespace rolta {
namespace {

bool ReadNumber(std::string_view text, double low, double high, double& out) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value) || value < low ||
      value > high) {
    return false;
  }
  out = value;
  return true;
}

// Each key once, with what it takes; a key of a later console is passed over.
bool Take(CalibrationSettings& s, const std::string& key, const std::string& value) {
  double number = 0;
  if (key == "arm_length_m") return ReadNumber(value, 0, 100, s.armLengthM);
  if (key == "roller_radius_m") return ReadNumber(value, 0, 10, s.rollerRadiusM);
  if (key == "gravity") return ReadNumber(value, 9.7, 9.9, s.gravity);
  if (key == "tolerance_percent_fs") return ReadNumber(value, 0.001, 100, s.tolerancePercentFullScale);
  if (key == "resolution_v") return ReadNumber(value, 0, 1, s.resolutionVolts);
  if (key == "settle_spread_v") return ReadNumber(value, 1e-6, 10, s.settle.maxSpread);
  if (key == "settle_timeout_s") return ReadNumber(value, 1, 3600, s.settle.timeoutSeconds);
  if (key == "settle_samples") {
    if (!ReadNumber(value, 2, 1000, number) || number != std::floor(number)) return false;
    s.settle.samples = static_cast<std::size_t>(number);
    return true;
  }
  return true;
}

}  // namespace

std::filesystem::path CalibrationSettingsPath() { return ConfigHome() / "rolta" / "calibration.conf"; }

CalibrationSettingsResult LoadCalibrationSettings(const std::filesystem::path& path) {
  CalibrationSettingsResult result;
  for (const KeyValueLine& line : ReadKeyValueFile(path).lines) {
    if (line.hasEquals && Take(result.settings, line.key, line.value)) continue;
    if (result.problem.empty()) result.problem = std::to_string(line.number) + ": " + line.text;
  }
  return result;
}

bool SaveCalibrationSettings(const std::filesystem::path& path, const CalibrationSettings& s) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text.precision(10);
  text << "# ROLTA calibration settings of this bench\n"
       << "arm_length_m=" << s.armLengthM << "\nroller_radius_m=" << s.rollerRadiusM << "\ngravity=" << s.gravity
       << "\ntolerance_percent_fs=" << s.tolerancePercentFullScale << "\nresolution_v=" << s.resolutionVolts
       << "\nsettle_samples=" << s.settle.samples << "\nsettle_spread_v=" << s.settle.maxSpread
       << "\nsettle_timeout_s=" << s.settle.timeoutSeconds << "\n";
  const std::string bytes = text.str();
  std::error_code ignored;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ignored);
  return ReplaceFileAtomically(
      path, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::optional<double> ForceFromMassDaN(double massKg, const CalibrationSettings& settings) {
  if (!(settings.armLengthM > 0) || !(settings.rollerRadiusM > 0) || !std::isfinite(massKg)) return std::nullopt;
  return massKg * settings.gravity * settings.armLengthM / settings.rollerRadiusM / 10.0;
}

}  // namespace rolta
