#include "console/console_settings.h"

#include <cstdlib>
#include <fstream>
#include <string>

#include "link/frames.h"

namespace rolta {
namespace {

std::int32_t InRangeOr(std::int32_t value, std::int32_t replacement) {
  return (value >= 0 && value <= kSettingsIndexMax) ? value : replacement;
}

}  // namespace

std::uint32_t BaudFromSpeedIndex(int position) {
  if (position >= 0 && position < static_cast<int>(kSpeedList.size())) {
    return kSpeedList[static_cast<std::size_t>(position)].baud;
  }
  return 115200;
}

std::filesystem::path ConfigHome() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) return config;
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : ".") / ".config";
}

std::filesystem::path SettingsFilePath() { return ConfigHome() / "QRX5000B.CFG"; }

std::optional<ConsoleSettings> LoadSettings(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::uint8_t bytes[kSettingsFileSize] = {};
  file.read(reinterpret_cast<char*>(bytes), sizeof bytes);
  const auto covered = static_cast<std::size_t>(file.gcount());
  // A field the file does not cover counts as out of range.
  auto field = [&](std::size_t offset, std::int32_t replacement) {
    if (covered < offset + 4) return replacement;
    return InRangeOr(static_cast<std::int32_t>(GetUInt32LE(bytes + offset)), replacement);
  };
  return ConsoleSettings{field(0, kOutOfRangeReplacements.portIndex),
                         field(4, kOutOfRangeReplacements.speedIndex),
                         field(8, kOutOfRangeReplacements.commandIndex)};
}

bool SaveSettings(const std::filesystem::path& path, const ConsoleSettings& settings) {
  std::uint8_t bytes[kSettingsFileSize];
  PutUInt32LE(bytes + 0, static_cast<std::uint32_t>(settings.portIndex));
  PutUInt32LE(bytes + 4, static_cast<std::uint32_t>(settings.speedIndex));
  PutUInt32LE(bytes + 8, static_cast<std::uint32_t>(settings.commandIndex));
  // A fresh account may not have its configuration folder yet.
  std::error_code ignored;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ignored);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file.write(reinterpret_cast<const char*>(bytes), sizeof bytes);
  file.close();
  return static_cast<bool>(file);
}

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
