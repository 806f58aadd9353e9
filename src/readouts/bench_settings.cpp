#include "readouts/bench_settings.h"

#include <fstream>
#include <string>

#include "env/config_home.h"
#include "env/key_value_file.h"

namespace rolta {

std::filesystem::path BenchSettingsPath() { return ConfigHome() / "rolta" / "bench.conf"; }

BenchSettingsResult LoadBenchSettings(const std::filesystem::path& path) {
  BenchSettingsResult result;
  // A missing or unreadable file leaves the defaults, and so does what stands
  // past the reader's limits: a long file is not ours.
  for (const KeyValueLine& line : ReadKeyValueFile(path).lines) {
    if (line.hasEquals && line.key != kDistanceUnitKey) continue;  // a later console's setting
    const int choice = line.hasEquals ? DistanceUnitIndex(line.value) : -1;
    if (choice < 0) {
      if (result.problem.empty()) result.problem = std::to_string(line.number) + ": " + line.text;
      continue;
    }
    result.units.distance = static_cast<std::uint8_t>(choice);
  }
  return result;
}

bool SaveBenchSettings(const std::filesystem::path& path, BenchUnits units) {
  std::error_code ignored;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ignored);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  const std::size_t distance = units.distance < DistanceUnitChoices().size() ? units.distance : 0;
  file << "# ROLTA bench settings\n" << kDistanceUnitKey << '=' << DistanceUnitChoices()[distance] << '\n';
  file.close();
  return static_cast<bool>(file);
}

}  // namespace rolta
