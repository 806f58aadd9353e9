// The channels the calibration assistant calibrates: the four force channels
// and the three environment sensors, each with the commands that read its
// voltage and zero it, and where its voltage comes in the answer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "calib/calib_table.h"

namespace rolta {

struct CalibrationChannelRow {
  CalibChannel channel;
  std::string_view name;           // as rolta-cli takes it: FL, FR, RL, RR, TEMP, HUM, PRESS
  std::string_view unit;           // of the reference and the table's second column
  std::uint8_t voltageCommand;     // answered with the voltage in `voltageValue`
  int voltageValue;                // 1..4: Value1..Value4 of the answer
  bool voltageStreams;             // the controller repeats the answer until stopped; else it is asked again
  std::uint8_t zeroCommand;        // 0: the channel has none
  std::string_view referenceHint;  // what is applied: weights on the arm, or an instrument's reading
};

std::span<const CalibrationChannelRow> CalibrationChannels();
// nullptr for a table the assistant does not calibrate.
const CalibrationChannelRow* CalibrationChannelOf(CalibChannel channel);
// By name (any case) or by the workbench's fetch caption.
const CalibrationChannelRow* CalibrationChannelByName(std::string_view name);

// The catalogue position that sends this short command; nullopt when none does.
std::optional<int> PositionOfShortCommand(std::uint8_t code);

}  // namespace rolta
