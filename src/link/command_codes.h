// The controller's command bytes that the console, the simulator and the
// tests name; a reply carries the command byte as its frame type.
#pragma once

#include <cstdint>

namespace rolta::command {

inline constexpr std::uint8_t kParamRequest = 1;
inline constexpr std::uint8_t kParamWrite = 2;
inline constexpr std::uint8_t kVersion = 4;
inline constexpr std::uint8_t kTableBlockRead = 5;
inline constexpr std::uint8_t kTableBlockStore = 6;
inline constexpr std::uint8_t kChannelMapStore = 7;
inline constexpr std::uint8_t kStandby = 27;   // upgrade: controller runs again
inline constexpr std::uint8_t kStopTest = 28;  // "停止测试"; upgrade: stop for blocks
inline constexpr std::uint8_t kEmergencyStop = 29;
inline constexpr std::uint8_t kLiftUp = 30;    // "举升上"
inline constexpr std::uint8_t kLiftDown = 31;  // "举升下"
inline constexpr std::uint8_t kChannelMapRequest = 65;
inline constexpr std::uint8_t kRomBlock = 126;

}  // namespace rolta::command

namespace rolta {
// Numth of a reply to a command the controller refused.
inline constexpr std::int16_t kRejectedNumth = -6;
}  // namespace rolta
