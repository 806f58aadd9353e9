// The parameter record as the simulated controller leaves the factory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>

#include "controller_model.h"

namespace rolta::sim {

// Frame offsets (payload offset + 6) of the fields the model itself reads back.
inline constexpr std::size_t kRollerSizeOffset = 14;    // float, mm
inline constexpr std::size_t kEncoderTeethOffset = 18;  // uint16
inline constexpr std::size_t kCalibFitOffset = 79;      // uint8: 0 piecewise linear, else least squares

// The factory's record for this configuration, its clock at localNow.
std::array<std::uint8_t, kParamRecordSize> FactoryParamRecord(const ModelConfig& config, const std::tm& localNow);

}  // namespace rolta::sim
