// The bench's own settings file (rolta/bench.conf).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "readouts/quantities.h"

namespace rolta {

// The units that belong to the bench rather than to the controller's frames,
// as key=value lines ("#" starts a comment), e.g.
//   distance_unit=km
// A missing file or key keeps the default (the simulator's units too).
std::filesystem::path BenchSettingsPath();
inline constexpr std::string_view kDistanceUnitKey = "distance_unit";
struct BenchSettingsResult {
  BenchUnits units;
  // Empty when the file was read whole or is missing; otherwise the first
  // line that was not taken, "<line>: <text>", and the default stands for it.
  std::string problem;
};
BenchSettingsResult LoadBenchSettings(const std::filesystem::path& path);
bool SaveBenchSettings(const std::filesystem::path& path, BenchUnits units);

}  // namespace rolta
