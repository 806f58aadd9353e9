#include "console/console_settings.h"

#include <fstream>

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
  return ConsoleSettings{field(0, kOutOfRangeReplacements.portIndex), field(4, kOutOfRangeReplacements.speedIndex),
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

}  // namespace rolta
