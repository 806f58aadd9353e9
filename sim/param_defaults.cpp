#include "param_defaults.h"

#include <span>
#include <string_view>

#include "link/frames.h"

namespace rolta::sim {
namespace {

enum class ParamFieldType : std::uint8_t { U8, U16, F32 };

constexpr std::size_t FieldSize(ParamFieldType type) {
  switch (type) {
    case ParamFieldType::U8: return 1;
    case ParamFieldType::U16: return 2;
    case ParamFieldType::F32: return 4;
  }
  return 0;
}

// What a controller knows when it starts: its firmware, its line speed and
// its clock.
struct StartFacts {
  double firmwareVersionX100 = 0;
  double baudDivisor = 0;
  double minute = 0;
  double hour = 0;
  double second = 0;
  double year = 0;
  double day = 0;
  double month = 0;
};

// One field the factory fills, named as the console's parameter record names
// it, at its frame offset.
struct ParamDefault {
  std::string_view name;
  std::size_t frameOffset;
  ParamFieldType type;
  double value;                        // the default, unless `from` is set
  double StartFacts::*from = nullptr;  // the default is this start fact
};

using T = ParamFieldType;
using F = StartFacts;

constexpr ParamDefault kParamDefaults[] = {
    {"kernelVersion", 10, T::U16, 0, &F::firmwareVersionX100},
    {"hardwareVersion", 12, T::U8, 0x21},  // 2.1
    {"hardwareModel", 13, T::U8, 1},       // QRX
    {"rollerSize", kRollerSizeOffset, T::F32, 216},
    {"encoderTeeth", kEncoderTeethOffset, T::U16, 600},
    {"controllerPort", 20, T::U8, 0},  // COM1
    {"baudDivisor", 21, T::U8, 0, &F::baudDivisor},
    {"clockMinute", 26, T::U8, 0, &F::minute},
    {"clockHour", 27, T::U8, 0, &F::hour},
    {"clockSecond", 29, T::U8, 0, &F::second},
    {"clockYear", 30, T::U16, 0, &F::year},
    {"clockDay", 32, T::U8, 0, &F::day},
    {"clockMonth", 33, T::U8, 0, &F::month},
    {"loadMode", 34, T::U8, 10},    // constant-load mode 1
    {"zeroMode", 37, T::U8, 1},     // dynamic zero
    {"clockMode", 50, T::U8, 100},  // high-precision timer
    {"liftSpeed", 51, T::U8, 3},    // lift protection speed
    {"lugdownEndSpeed", 52, T::U8, 10},
    {"stabilityBand", 53, T::F32, 0.02},
    {"liftModule", 57, T::U8, 10},
    {"motorModule", 58, T::U8, 10},
    {"stabilityTime", 59, T::U8, 5},
    {"retarderType", 60, T::U8, 10},  // KLOFT
    {"coastStopSpeed", 61, T::U8, 8},
    {"lossStopSpeed", 62, T::U8, 10},
    {"motorControl", 63, T::U8, 11},
    {"lugdownScanMode", 64, T::U8, 10},
    {"reserved66", 66, T::U8, 1},
    {"testRetarderMask", 68, T::U8, 1},
    {"coastRetarderMask", 70, T::U8, 1},
    {"absorbDirection", 72, T::U8, 1},
    {"valveSettleTime", 76, T::U8, 5},
    {"transmitDelay", 78, T::U8, 10},
    {"autoChannelConfig", 80, T::U8, 1},
    {"lugdownScanSpeed", 81, T::U8, 20},
    {"dieselControlParam", 82, T::U8, 100},
    {"speedReadParam", 83, T::U8, 100},
    {"speedThreshold", 85, T::U8, 3},
    {"exitProtectSeconds", 86, T::U8, 10},
    {"exitWaitSeconds", 87, T::U8, 20},
    {"liftLimitChecks", 88, T::U8, 3},
    {"scanReadParam", 89, T::U8, 100},
};

// The rates the record's divisor can express (115200 / divisor); any other
// rate leaves the factory's 9600.
constexpr int kDivisorRates[] = {9600, 19200, 38400, 57600, 115200};
constexpr int kDivisorBase = 115200;
constexpr double kFactoryDivisor = 12;

constexpr bool FitsTheRecord(std::span<const ParamDefault> fields) {
  for (const ParamDefault& field : fields) {
    if (field.frameOffset < kPayloadOffset ||
        field.frameOffset - kPayloadOffset + FieldSize(field.type) > kParamRecordSize)
      return false;
  }
  return true;
}
static_assert(FitsTheRecord(kParamDefaults));

// Integers keep their low bits, as a narrowing of the int they come from.
void Put(std::uint8_t* at, ParamFieldType type, double value) {
  switch (type) {
    case ParamFieldType::U8: *at = static_cast<std::uint8_t>(static_cast<std::int64_t>(value)); return;
    case ParamFieldType::U16: PutUInt16LE(at, static_cast<std::uint16_t>(static_cast<std::int64_t>(value))); return;
    case ParamFieldType::F32: PutFloat32LE(at, static_cast<float>(value)); return;
  }
}

StartFacts StartFactsOf(const ModelConfig& config, const std::tm& localNow) {
  StartFacts facts;
  facts.firmwareVersionX100 = config.firmwareVersionX100;
  facts.baudDivisor = kFactoryDivisor;
  for (int rate : kDivisorRates) {
    if (config.baud == rate) facts.baudDivisor = kDivisorBase / rate;
  }
  facts.minute = localNow.tm_min;
  facts.hour = localNow.tm_hour;
  facts.second = localNow.tm_sec;
  facts.year = localNow.tm_year + 1900;
  facts.day = localNow.tm_mday;
  facts.month = localNow.tm_mon + 1;
  return facts;
}

}  // namespace

std::array<std::uint8_t, kParamRecordSize> FactoryParamRecord(const ModelConfig& config, const std::tm& localNow) {
  const StartFacts facts = StartFactsOf(config, localNow);
  std::array<std::uint8_t, kParamRecordSize> record{};
  for (const ParamDefault& field : kParamDefaults) {
    Put(&record[field.frameOffset - kPayloadOffset], field.type, field.from ? facts.*field.from : field.value);
  }
  return record;
}

}  // namespace rolta::sim
