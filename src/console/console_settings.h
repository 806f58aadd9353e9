// The three list selections kept between runs (QRX5000B.CFG, 12 bytes,
// little-endian) and the speed list they index.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "env/config_home.h"

namespace rolta {

struct ConsoleSettings {
  std::int32_t portIndex = 0;
  std::int32_t speedIndex = 4;
  std::int32_t commandIndex = 26;

  bool operator==(const ConsoleSettings&) const = default;
};

inline constexpr std::size_t kSettingsFileSize = 12;
// A stored index is accepted when it lies in 0..1000, whatever the list length.
inline constexpr std::int32_t kSettingsIndexMax = 1000;
inline constexpr ConsoleSettings kDefaultSettings{0, 4, 26};
// Replacements for out-of-range values; the port's is 4, not 0.
inline constexpr ConsoleSettings kOutOfRangeReplacements{4, 4, 26};

struct SpeedChoice {
  std::string_view text;
  std::uint32_t baud;
};
inline constexpr std::array<SpeedChoice, 5> kSpeedList{{
    {"9.6K", 9600},
    {"19.2K", 19200},
    {"38.4K", 38400},
    {"57.6K", 57600},
    {"115.2K", 115200},
}};
// No selection or any position outside the list: 115200.
std::uint32_t BaudFromSpeedIndex(int position);

// $XDG_CONFIG_HOME/QRX5000B.CFG, or ~/.config/QRX5000B.CFG.
std::filesystem::path SettingsFilePath();

// Reads the file: nullopt when it cannot be opened (the caller uses the
// defaults); otherwise each value in range is kept and each value out of
// range, or not covered by a short file, is replaced.
std::optional<ConsoleSettings> LoadSettings(const std::filesystem::path& path);
// Writes the 12 bytes; false when the file cannot be written (not reported to the operator).
bool SaveSettings(const std::filesystem::path& path, const ConsoleSettings& settings);

}  // namespace rolta
