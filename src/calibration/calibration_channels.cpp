#include "calibration/calibration_channels.h"

#include <algorithm>
#include <cctype>

#include "commands/catalogue.h"

namespace rolta {
namespace {

// Command 100 answers temperature, humidity and air pressure voltages in
// Value1..Value3, once per request; the force channels' voltage commands run
// until stopped, the voltage in Value1.
constexpr CalibrationChannelRow kChannels[] = {
    {CalibChannel::TorqueFrontLeft, "FL", "daN", 33, 1, true, 95, "weights"},
    {CalibChannel::TorqueFrontRight, "FR", "daN", 110, 1, true, 101, "weights"},
    {CalibChannel::TorqueRearLeft, "RL", "daN", 112, 1, true, 107, "weights"},
    {CalibChannel::TorqueRearRight, "RR", "daN", 113, 1, true, 108, "weights"},
    {CalibChannel::Temperature, "TEMP", "°C", 100, 1, false, 0, "instrument"},
    {CalibChannel::Humidity, "HUM", "%", 100, 2, false, 0, "instrument"},
    {CalibChannel::AirPressure, "PRESS", "kPa", 100, 3, false, 0, "instrument"},
};

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::span<const CalibrationChannelRow> CalibrationChannels() { return kChannels; }

const CalibrationChannelRow* CalibrationChannelOf(CalibChannel channel) {
  for (const CalibrationChannelRow& row : kChannels) {
    if (row.channel == channel) return &row;
  }
  return nullptr;
}

const CalibrationChannelRow* CalibrationChannelByName(std::string_view name) {
  for (const CalibrationChannelRow& row : kChannels) {
    if (SameIgnoringCase(row.name, name) || CalibChannelInfo(row.channel).fetchCaption == name) return &row;
  }
  return nullptr;
}

std::optional<int> PositionOfShortCommand(std::uint8_t code) {
  const std::span<const CatalogueRow> catalogue = CommandCatalogue();
  for (std::size_t i = 0; i < catalogue.size(); ++i) {
    const CatalogueRow& row = catalogue[i];
    if (row.frame == FrameKind::Short && row.shortCount <= 1 && row.CommandCode() == code) return static_cast<int>(i);
  }
  return std::nullopt;
}

}  // namespace rolta
