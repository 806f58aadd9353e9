#include "readouts/bench_settings.h"

#include <fstream>
#include <string>

#include "env/config_home.h"

namespace rolta {

std::filesystem::path BenchSettingsPath() { return ConfigHome() / "rolta" / "bench.conf"; }

BenchSettingsResult LoadBenchSettings(const std::filesystem::path& path) {
  BenchSettingsResult result;
  std::ifstream file(path, std::ios::binary);
  if (!file) return result;
  std::string line;
  std::size_t number = 0;
  auto note = [&](const std::string& text) {
    if (result.problem.empty()) result.problem = std::to_string(number) + ": " + text;
  };
  // A settings file is a few lines; a long one is not ours.
  while (number < 1000 && std::getline(file, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) {
      note(line);
      continue;
    }
    auto trim = [](std::string_view text) {
      const std::size_t from = text.find_first_not_of(" \t");
      if (from == std::string_view::npos) return std::string_view();
      return text.substr(from, text.find_last_not_of(" \t") - from + 1);
    };
    const std::string_view key = trim(std::string_view(line).substr(0, equals));
    const std::string_view value = trim(std::string_view(line).substr(equals + 1));
    if (key != kDistanceUnitKey) continue;  // a later console's setting
    const int choice = DistanceUnitIndex(value);
    if (choice < 0) {
      note(line);
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
