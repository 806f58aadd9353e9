// The controller's parameter record: the 93-byte payload of a type-1 reply
// and of the command-2 write, its fields, and the rules by which the
// operator's texts and choices become field values.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "link/command_codes.h"
#include "link/frames.h"

namespace rolta {

inline constexpr std::size_t kParamsPayloadLength = 93;
inline constexpr std::size_t kParamsReplyLength = kHeaderLength + kParamsPayloadLength + 2;  // 101
inline constexpr std::size_t kParamWriteFrameLength = kHeaderLength + kParamsPayloadLength;  // 99

using ParamsPayload = std::array<std::uint8_t, kParamsPayloadLength>;

struct ControllerParams {
  std::uint32_t writeCode = 0;       // write only: built at send time, never read from a reply
  std::uint16_t kernelVersion = 0;   // controller: x100
  std::uint8_t hardwareVersion = 0;  // controller: high nibble major, low minor
  std::uint8_t hardwareModel = 0;    // controller: 1 QRX .. 5 MASM
  float rollerSize = 0;
  std::uint16_t encoderTeeth = 0;
  std::uint8_t controllerPort = 0;
  std::uint8_t baudDivisor = 0;
  std::uint8_t clockMinute = 0;
  std::uint8_t clockHour = 0;
  std::uint8_t clockSecond = 0;
  std::uint16_t clockYear = 0;
  std::uint8_t clockDay = 0;
  std::uint8_t clockMonth = 0;
  std::uint8_t loadMode = 0;
  std::uint8_t fuelOutputType = 0;
  std::uint8_t remoteStart = 0;
  std::uint8_t zeroMode = 0;
  std::int16_t autoRestoreSeconds = 0;
  std::uint8_t clockMode = 0;
  std::uint8_t liftSpeed = 0;
  std::uint8_t lugdownEndSpeed = 0;
  float stabilityBand = 0;
  std::uint8_t liftModule = 0;
  std::uint8_t motorModule = 0;
  std::uint8_t stabilityTime = 0;
  std::uint8_t retarderType = 0;
  std::uint8_t coastStopSpeed = 0;
  std::uint8_t lossStopSpeed = 0;
  std::uint8_t motorControl = 0;
  std::uint8_t lugdownScanMode = 0;
  std::uint8_t engineSpeedInput = 0;
  std::uint8_t reserved66 = 0;  // no control; see ParamsExchange::Byte66ForWrite
  std::uint8_t negativeLogic = 0;
  std::uint8_t testRetarderMask = 0;
  std::uint8_t liftLock = 0;
  std::uint8_t coastRetarderMask = 0;
  std::uint8_t powerModule = 0;
  std::uint8_t absorbDirection = 0;
  std::uint8_t motoringTorqueTest = 0;
  std::uint8_t fuelTest = 0;
  std::int8_t benchCorrection = 0;   // tenths
  std::uint8_t valveSettleTime = 0;  // 0xFF monostable
  std::uint8_t remoteMonitor = 0;
  std::uint8_t transmitDelay = 0;
  std::uint8_t calibFit = 0;
  std::uint8_t autoChannelConfig = 0;
  std::uint8_t lugdownScanSpeed = 0;    // 0.1 km/h
  std::uint8_t dieselControlParam = 0;  // x100
  std::uint8_t speedReadParam = 0;      // x100
  std::uint8_t smartLiftType = 0;
  std::uint8_t speedThreshold = 0;  // 0.1 km/h
  std::uint8_t exitProtectSeconds = 0;
  std::uint8_t exitWaitSeconds = 0;
  std::uint8_t liftLimitChecks = 0;
  std::uint8_t scanReadParam = 0;  // x100
  std::uint8_t tachometerType = 0;

  bool operator==(const ControllerParams&) const = default;
};

// The 99-byte write: 55 AA 02 5D, checksum, payload. One per console; bytes
// no field covers stay 0, and a field the form leaves alone keeps what the
// previous write put there.
class ParamWriteFrame : public FrameBuffer<kParamWriteFrameLength> {
 public:
  ParamWriteFrame() { SetCommand(command::kParamWrite); }
  std::span<const std::uint8_t> Payload() const { return {bytes_.data() + kPayloadOffset, kParamsPayloadLength}; }
};

// The PC's local time as the record's clock and the write code take it.
struct LocalTime {
  int year = 0;   // four digits
  int month = 0;  // 1-12
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// Where the current local time comes from; tests give a fixed one.
class LocalClock {
 public:
  virtual ~LocalClock() = default;
  // Empty when the time cannot be read.
  virtual std::optional<LocalTime> Now() const = 0;
};
class SystemLocalClock final : public LocalClock {
 public:
  std::optional<LocalTime> Now() const override;
};

// Every field at its frame offset (payload offset + 6), except writeCode.
ControllerParams DecodeParams(std::span<const std::uint8_t, kParamsPayloadLength> payload);
// Writes writeCode (from `now`) and every field the console sends into the
// frame's payload; the controller's fields (bytes 10-13) and reserved bytes
// are left as the frame holds them. Does not seal the frame.
void EncodeParams(const ControllerParams& values, const std::optional<LocalTime>& now, ParamWriteFrame& frame);

// The console's multiplier of the write code.
inline constexpr std::uint32_t kWriteCodeMultiplier = 7193;
// (minute + month) * day * year + (minute + hour) * M, 32-bit wrap-around.
// A time that cannot be read counts as all zero.
std::uint32_t WriteCode(const std::optional<LocalTime>& now);

// The conversion rules from the operator's texts and choices.
namespace param_rules {

// Rule 1: atoi, narrowed by keeping the low bits.
std::uint8_t IntegerU8(std::string_view text);
std::uint16_t IntegerU16(std::string_view text);
// Rule 3.
float RollerSize(std::string_view text);
float StabilityBand(std::string_view text);
// Rule 4: the three diesel-test coefficients.
std::uint8_t Coefficient(std::string_view text);
// Rule 5.
std::uint8_t SpeedThreshold(std::string_view text);
// Rule 6: exitProtectSeconds (cap 30) and exitWaitSeconds (cap 60).
inline constexpr std::uint8_t kExitProtectCap = 30;
inline constexpr std::uint8_t kExitWaitCap = 60;
std::uint8_t CappedSeconds(std::string_view text, std::uint8_t cap);
// Rule 7.
std::int8_t BenchCorrection(std::string_view text);
// Rule 8.
std::uint8_t ScanSpeed(std::string_view text);
// Rule 9: `refused` when the value was replaced by 0 (the form then says so).
struct AutoRestore {
  std::int16_t seconds;
  bool refused;
};
inline constexpr std::int16_t kAutoRestoreMinimum = 120;
AutoRestore AutoRestoreSeconds(std::string_view text);
// Rule 10: the settle-time selector's position (-1: none).
inline constexpr std::uint8_t kMonostable = 0xFF;
std::uint8_t ValveSettleTime(int position);

}  // namespace param_rules

// A double as printf's "%.<decimals>f" would print it in the C locale: the
// record's texts never take the desktop's decimal comma.
std::string FixedText(double value, int decimals);

// The hint shown before the parameter record is requested for editing and
// before it is written; shown untranslated.
inline constexpr std::string_view kParamRecordHint =
    "1.设置QRX参数以后，等待状态栏显示”Numth: 102 2”。\r\n"
    "\r\n"
    "2.如果设置了控制器通讯参数，需要根据控制器通讯参数重新设定ROLTA通讯参数！\r\n"
    "  例如：如果控制器通讯速度为57.6K，那么ROLTA的通讯速度也必须为57.6K！\r\n"
    "  注意：ROLTA通讯口必须和工控机机本身连接控制器的串口一致，而控制器串口只和控制器本身自带串口一致！\r\n"
    "\r\n"
    "3.需要重新启动QRX5000B控制器！";

}  // namespace rolta
