#include "config/controller_params.h"

#include <charconv>
#include <cmath>
#include <ctime>
#include <limits>
#include <variant>

#include "env/number_text.h"

namespace rolta {
namespace {

using U8 = std::uint8_t ControllerParams::*;
using S8 = std::int8_t ControllerParams::*;
using U16 = std::uint16_t ControllerParams::*;
using S16 = std::int16_t ControllerParams::*;
using F32 = float ControllerParams::*;

struct FieldAt {
  std::size_t frameOffset;
  std::variant<U8, S8, U16, S16, F32> member;
  bool fromController;  // filled by the controller, never written by the console
};

// The record's layout: one row per field, by frame offset.
constexpr FieldAt kFields[] = {
    {10, &ControllerParams::kernelVersion, true},       {12, &ControllerParams::hardwareVersion, true},
    {13, &ControllerParams::hardwareModel, true},       {14, &ControllerParams::rollerSize, false},
    {18, &ControllerParams::encoderTeeth, false},       {20, &ControllerParams::controllerPort, false},
    {21, &ControllerParams::baudDivisor, false},        {26, &ControllerParams::clockMinute, false},
    {27, &ControllerParams::clockHour, false},          {29, &ControllerParams::clockSecond, false},
    {30, &ControllerParams::clockYear, false},          {32, &ControllerParams::clockDay, false},
    {33, &ControllerParams::clockMonth, false},         {34, &ControllerParams::loadMode, false},
    {35, &ControllerParams::fuelOutputType, false},     {36, &ControllerParams::remoteStart, false},
    {37, &ControllerParams::zeroMode, false},           {48, &ControllerParams::autoRestoreSeconds, false},
    {50, &ControllerParams::clockMode, false},          {51, &ControllerParams::liftSpeed, false},
    {52, &ControllerParams::lugdownEndSpeed, false},    {53, &ControllerParams::stabilityBand, false},
    {57, &ControllerParams::liftModule, false},         {58, &ControllerParams::motorModule, false},
    {59, &ControllerParams::stabilityTime, false},      {60, &ControllerParams::retarderType, false},
    {61, &ControllerParams::coastStopSpeed, false},     {62, &ControllerParams::lossStopSpeed, false},
    {63, &ControllerParams::motorControl, false},       {64, &ControllerParams::lugdownScanMode, false},
    {65, &ControllerParams::engineSpeedInput, false},   {66, &ControllerParams::reserved66, false},
    {67, &ControllerParams::negativeLogic, false},      {68, &ControllerParams::testRetarderMask, false},
    {69, &ControllerParams::liftLock, false},           {70, &ControllerParams::coastRetarderMask, false},
    {71, &ControllerParams::powerModule, false},        {72, &ControllerParams::absorbDirection, false},
    {73, &ControllerParams::motoringTorqueTest, false}, {74, &ControllerParams::fuelTest, false},
    {75, &ControllerParams::benchCorrection, false},    {76, &ControllerParams::valveSettleTime, false},
    {77, &ControllerParams::remoteMonitor, false},      {78, &ControllerParams::transmitDelay, false},
    {79, &ControllerParams::calibFit, false},           {80, &ControllerParams::autoChannelConfig, false},
    {81, &ControllerParams::lugdownScanSpeed, false},   {82, &ControllerParams::dieselControlParam, false},
    {83, &ControllerParams::speedReadParam, false},     {84, &ControllerParams::smartLiftType, false},
    {85, &ControllerParams::speedThreshold, false},     {86, &ControllerParams::exitProtectSeconds, false},
    {87, &ControllerParams::exitWaitSeconds, false},    {88, &ControllerParams::liftLimitChecks, false},
    {89, &ControllerParams::scanReadParam, false},      {90, &ControllerParams::tachometerType, false},
};
constexpr std::size_t kWriteCodeOffset = 6;

struct Reader {
  const std::uint8_t* at;
  ControllerParams& to;
  void operator()(U8 m) const { to.*m = *at; }
  void operator()(S8 m) const { to.*m = static_cast<std::int8_t>(*at); }
  void operator()(U16 m) const { to.*m = GetUInt16LE(at); }
  void operator()(S16 m) const { to.*m = GetInt16LE(at); }
  void operator()(F32 m) const { to.*m = GetFloat32LE(at); }
};

struct Writer {
  std::uint8_t* at;
  const ControllerParams& from;
  void operator()(U8 m) const { *at = from.*m; }
  void operator()(S8 m) const { *at = static_cast<std::uint8_t>(from.*m); }
  void operator()(U16 m) const { PutUInt16LE(at, from.*m); }
  void operator()(S16 m) const { PutUInt16LE(at, static_cast<std::uint16_t>(from.*m)); }
  void operator()(F32 m) const { PutFloat32LE(at, from.*m); }
};

// Truncates toward zero into 64 bits; values beyond that range saturate, so
// an absurd text never reaches an undefined conversion. The rules then keep
// the low bits.
std::int64_t TruncateToInt64(double value) {
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (std::isnan(value)) return 0;
  if (value >= kLimit) return std::numeric_limits<std::int64_t>::max();
  if (value <= -kLimit) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(value);
}

std::uint8_t LowByte(std::int64_t value) { return static_cast<std::uint8_t>(value & 0xFF); }

}  // namespace

std::optional<LocalTime> SystemLocalClock::Now() const {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &local) == nullptr) {
    return std::nullopt;
  }
  return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

ControllerParams DecodeParams(std::span<const std::uint8_t, kParamsPayloadLength> payload) {
  ControllerParams values;
  for (const FieldAt& field : kFields) {
    std::visit(Reader{payload.data() + (field.frameOffset - kPayloadOffset), values}, field.member);
  }
  return values;
}

void EncodeParams(const ControllerParams& values, const std::optional<LocalTime>& now, ParamWriteFrame& frame) {
  PutUInt32LE(frame.data() + kWriteCodeOffset, WriteCode(now));
  for (const FieldAt& field : kFields) {
    if (field.fromController) continue;
    std::visit(Writer{frame.data() + field.frameOffset, values}, field.member);
  }
}

std::uint32_t WriteCode(const std::optional<LocalTime>& now) {
  const LocalTime t = now.value_or(LocalTime{});
  const auto u = [](int v) { return static_cast<std::uint32_t>(v); };
  return (u(t.minute) + u(t.month)) * u(t.day) * u(t.year) + (u(t.minute) + u(t.hour)) * kWriteCodeMultiplier;
}

namespace param_rules {

std::uint8_t IntegerU8(std::string_view text) { return LowByte(TextToInt(text)); }

std::uint16_t IntegerU16(std::string_view text) { return static_cast<std::uint16_t>(TextToInt(text) & 0xFFFF); }

float RollerSize(std::string_view text) { return NarrowToFloat(TextToDouble(text)); }

float StabilityBand(std::string_view text) { return NarrowToFloat(TextToDouble(text)) / 100.0f; }

std::uint8_t Coefficient(std::string_view text) { return LowByte(TruncateToInt64(TextToDouble(text) * 100.0)); }

std::uint8_t SpeedThreshold(std::string_view text) {
  const std::uint8_t value = LowByte(TruncateToInt64(TextToDouble(text) * 10.0));
  if (value == 0) return 3;
  return value > 50 ? 50 : value;
}

std::uint8_t CappedSeconds(std::string_view text, std::uint8_t cap) {
  const std::uint8_t value = IntegerU8(text);
  return value > cap ? cap : value;
}

std::int8_t BenchCorrection(std::string_view text) {
  constexpr float kLimit = 12.7f;
  float value = NarrowToFloat(TextToDouble(text));
  if (value >= kLimit) value = kLimit;
  if (value <= -kLimit) value = -kLimit;
  // The tenths go through a six-decimal text and are read back as an
  // integer, so 0.29999998 becomes 3 rather than 2.
  const float tenths = static_cast<float>(static_cast<double>(value) * 10.0);
  return static_cast<std::int8_t>(LowByte(TextToInt(FixedText(tenths, 6))));
}

std::uint8_t ScanSpeed(std::string_view text) {
  float value = NarrowToFloat(TextToDouble(text) * 10.0);
  if (value < 0.0f) value = 0.0f;
  if (value > 200.0f) value = 200.0f;
  return static_cast<std::uint8_t>(value);
}

AutoRestore AutoRestoreSeconds(std::string_view text) {
  const auto value = static_cast<std::int16_t>(static_cast<std::uint16_t>(TextToInt(text) & 0xFFFF));
  if (value < kAutoRestoreMinimum) return {0, true};
  return {value, false};
}

std::uint8_t ValveSettleTime(int position) {
  if (position <= 0) return kMonostable;
  return position + 2 > 20 ? 20 : static_cast<std::uint8_t>(position + 2);
}

}  // namespace param_rules

std::string FixedText(double value, int decimals) {
  if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  // Room for the integral digits of DBL_MAX (309), a sign, a point and the decimals.
  char buffer[400];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (ec != std::errc{}) return {};
  return std::string(buffer, end);
}

}  // namespace rolta
