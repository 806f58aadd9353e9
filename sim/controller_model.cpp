#include "controller_model.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <numbers>

#include "calib/calib_fit.h"
#include "command_reader.h"
#include "link/command_codes.h"
#include "link/frames.h"
#include "param_defaults.h"

namespace rolta::sim {

// What a catalogue command does to the bench.
enum class ControllerModel::Action : std::uint8_t {
  Report,          // one frame, nothing changes
  StopTest,        // 28
  EmergencyStop,   // 29
  Standby,         // 27: the controller waits (and leaves its upgrade program)
  LoadFlywheel,    // 18: mask in byte 6
  UnloadFlywheel,  // 19
  LiftUp,
  LiftDown,
  MotorOn,
  LargeMotorOn,
  MotorOff,
  ClearMileage,
  Zero,
  // Tests and measurements: status frames every period until stopped.
  ConstantSpeed,    // set-point value = speed
  ConstantForce,    // set-point value = force; the vehicle holds its speed
  SpeedAndLoad,     // first value speed, second value load (kW)
  SpeedAndLoad3rd,  // first value speed, third value load (kW)
  ProfileSpeed,     // first value speed, no load
  PowerScan,        // speed from first to second value under the third value's load; ends
  Response,         // held at the first value, response times reported
  RoadLoad,         // a driving cycle against F = a + b v + c v^2 (first three values)
  Acceleration,     // full-throttle run to 60 km/h
  CoastNoLoad,      // from the first to the second value, rollers only; ends
  CoastForce,       // ... against the third value as force (daN); ends
  CoastPower,       // ... against the third value as power (kW); ends
  Measure,          // the readings of the readout, speed as it is
};

// How Value1..Value4 (and the special bytes) are filled.
enum class ControllerModel::Readout : std::uint8_t {
  Plain,           // force, speed, distance, 0
  Drive,           // force, speed, distance, roller rpm
  Fuel,            // force, speed, distance, fuel l/h
  Engine,          // force, speed, distance, engine rpm
  Coast,           // load force, speed, coast time, distance
  Voltage,         // sensor volts, speed, distance
  TorqueVoltage,   // force, speed, sensor volts
  SpeedCheck,      // pulse frequency, speed, distance, roller rpm
  Mileage,         // 0, speed, distance
  ZeroPoint,       // force, speed, zero point
  Channels,        // four channel voltages
  ChannelTorques,  // four channel forces
  Environment,     // temperature, humidity, air pressure
  Inputs,          // speed; five input states in bytes 17-21
  Accel,           // speed, distance; AccelMilli 18-19, Revolutions 20-21
  RoadLoad,        // force, speed, distance; AccelMilli 18-19
  Response,        // response ms, speed, response s
};

struct ControllerModel::Behaviour {
  std::uint8_t code;
  Action action;
  Readout readout;
};

namespace {

using A = ControllerModel;  // for the table below

constexpr double kBaseMassKg = 907.0;  // roller set inertia
constexpr double kFlywheelMassKg[4] = {227.0, 454.0, 680.0, 907.0};
constexpr double kIdleBrakeKmhPerS = 4.0;
constexpr double kVehicleCruiseKmh = 40.0;
constexpr double kMotorSpeedKmh = 30.0;
constexpr double kLargeMotorSpeedKmh = 60.0;
constexpr double kMaxSpeedKmh = 250.0;
constexpr double kDoubleStopWindowMs = 1000.0;  // two stops this close: the upgrade asks
constexpr std::size_t kMaxRomBlocks = 8192;
constexpr std::size_t kBlockReplyRoom = 205;

// Default channel map, as the controller leaves the factory.
constexpr std::uint8_t kFactoryChannelMap[kChannelMapSize] = {15, 3,  9,  0,  2,  4,  5,  6,  7,  8, 10, 12, 11, 14,
                                                              15, 14, 13, 12, 10, 11, 15, 7,  1,  2, 0,  1,  2,  3,
                                                              4,  0,  3,  2,  6,  4,  4,  10, 11, 0, 0,  0};

constexpr CalibSlot kCalibSlots[] = {
    // request, store, points, factory table
    {62, 9, 10, 6, 1.0f, -40.0f, 24.0f},    // temperature: volts -> degC
    {63, 10, 10, 6, 1.0f, 0.0f, 20.0f},     // humidity: volts -> %
    {64, 11, 10, 6, 1.0f, 50.0f, 12.0f},    // air pressure: volts -> kPa
    {61, 59, 10, 6, 500.0f, 0.0f, 0.02f},   // speed: Hz -> km/h
    {60, 8, 10, 6, 1.0f, 0.0f, 400.0f},     // torque front left: volts -> daN
    {120, 117, 10, 6, 1.0f, 0.0f, 400.0f},  // torque front right
    {121, 118, 10, 6, 1.0f, 0.0f, 400.0f},  // torque rear left
    {122, 119, 10, 6, 1.0f, 0.0f, 400.0f},  // torque rear right
    {78, 77, 20, 9, 10.0f, 2.0f, 0.05f},    // losses: km/h -> daN
};
constexpr CalibSlot kVarTableSlot = {5, 6, 50, 8, 0.5f, 1.0f, 3.0f};

constexpr ControllerModel::Behaviour kBehaviours[] = {
    {16, A::Action::ConstantSpeed, A::Readout::Drive},    {17, A::Action::ConstantForce, A::Readout::Drive},
    {18, A::Action::LoadFlywheel, A::Readout::Plain},     {19, A::Action::UnloadFlywheel, A::Readout::Plain},
    {20, A::Action::ConstantForce, A::Readout::Drive},    {21, A::Action::CoastNoLoad, A::Readout::Coast},
    {27, A::Action::Standby, A::Readout::Plain},          {28, A::Action::StopTest, A::Readout::Plain},
    {29, A::Action::EmergencyStop, A::Readout::Plain},    {30, A::Action::LiftUp, A::Readout::Plain},
    {31, A::Action::LiftDown, A::Readout::Plain},         {33, A::Action::Measure, A::Readout::Voltage},
    {34, A::Action::Measure, A::Readout::TorqueVoltage},  {35, A::Action::Measure, A::Readout::SpeedCheck},
    {36, A::Action::Measure, A::Readout::Mileage},        {37, A::Action::ConstantForce, A::Readout::Drive},
    {38, A::Action::MotorOn, A::Readout::Drive},          {39, A::Action::MotorOff, A::Readout::Mileage},
    {40, A::Action::Report, A::Readout::Plain},           {41, A::Action::Report, A::Readout::Plain},
    {42, A::Action::Report, A::Readout::Inputs},          {43, A::Action::Measure, A::Readout::Engine},
    {45, A::Action::ClearMileage, A::Readout::Mileage},   {49, A::Action::Report, A::Readout::Plain},
    {50, A::Action::CoastPower, A::Readout::Coast},       {52, A::Action::SpeedAndLoad, A::Readout::Drive},
    {53, A::Action::CoastForce, A::Readout::Coast},       {54, A::Action::CoastNoLoad, A::Readout::Coast},
    {55, A::Action::Report, A::Readout::Plain},           {56, A::Action::Report, A::Readout::Plain},
    {58, A::Action::Response, A::Readout::Response},      {66, A::Action::Measure, A::Readout::ChannelTorques},
    {67, A::Action::ConstantForce, A::Readout::Fuel},     {68, A::Action::CoastPower, A::Readout::Coast},
    {69, A::Action::ConstantSpeed, A::Readout::Fuel},     {70, A::Action::CoastPower, A::Readout::Coast},
    {71, A::Action::CoastForce, A::Readout::Coast},       {73, A::Action::CoastPower, A::Readout::Coast},
    {74, A::Action::CoastForce, A::Readout::Coast},       {75, A::Action::Acceleration, A::Readout::Accel},
    {76, A::Action::RoadLoad, A::Readout::RoadLoad},      {79, A::Action::CoastNoLoad, A::Readout::Coast},
    {80, A::Action::SpeedAndLoad, A::Readout::Drive},     {81, A::Action::SpeedAndLoad3rd, A::Readout::Drive},
    {82, A::Action::SpeedAndLoad, A::Readout::Drive},     {83, A::Action::SpeedAndLoad3rd, A::Readout::Drive},
    {84, A::Action::ConstantForce, A::Readout::Drive},    {85, A::Action::ConstantSpeed, A::Readout::Drive},
    {86, A::Action::SpeedAndLoad3rd, A::Readout::Drive},  {87, A::Action::SpeedAndLoad3rd, A::Readout::Drive},
    {88, A::Action::CoastPower, A::Readout::Coast},       {89, A::Action::PowerScan, A::Readout::Drive},
    {90, A::Action::PowerScan, A::Readout::Drive},        {91, A::Action::ProfileSpeed, A::Readout::Drive},
    {92, A::Action::SpeedAndLoad, A::Readout::Drive},     {93, A::Action::Report, A::Readout::Mileage},
    {94, A::Action::Report, A::Readout::Mileage},         {95, A::Action::Zero, A::Readout::ZeroPoint},
    {96, A::Action::Report, A::Readout::Environment},     {100, A::Action::Report, A::Readout::Environment},
    {101, A::Action::Zero, A::Readout::ZeroPoint},        {102, A::Action::Report, A::Readout::Plain},
    {103, A::Action::Report, A::Readout::Plain},          {104, A::Action::Report, A::Readout::Plain},
    {105, A::Action::Report, A::Readout::Plain},          {106, A::Action::Report, A::Readout::Plain},
    {107, A::Action::Zero, A::Readout::ZeroPoint},        {108, A::Action::Zero, A::Readout::ZeroPoint},
    {110, A::Action::Measure, A::Readout::Voltage},       {111, A::Action::LargeMotorOn, A::Readout::Drive},
    {112, A::Action::Measure, A::Readout::Voltage},       {113, A::Action::Measure, A::Readout::Voltage},
    {114, A::Action::Measure, A::Readout::TorqueVoltage}, {115, A::Action::Measure, A::Readout::TorqueVoltage},
    {116, A::Action::Measure, A::Readout::TorqueVoltage}, {123, A::Action::RoadLoad, A::Readout::RoadLoad},
    {124, A::Action::ConstantSpeed, A::Readout::Engine},  {125, A::Action::Measure, A::Readout::Channels},
    {127, A::Action::CoastPower, A::Readout::Coast},
};

// Command bytes whose answers are not 24-byte status frames.
using command::kParamRequest;
using command::kParamWrite;
using command::kVersion;
constexpr std::uint8_t kBlockRead = command::kTableBlockRead;
constexpr std::uint8_t kBlockStore = command::kTableBlockStore;
using command::kChannelMapRequest;
using command::kChannelMapStore;
using command::kRomBlock;
using command::kStandby;
constexpr std::uint8_t kStop = command::kStopTest;
constexpr std::uint8_t kEnvironmentVolts = 100;

float Finite(float v) { return std::isfinite(v) ? v : 0.0f; }
float ClampSpeed(float v) { return std::clamp(Finite(v), 0.0f, static_cast<float>(kMaxSpeedKmh)); }

double Approach(double value, double target, double gain, double maxRate, double h) {
  const double rate = std::clamp((target - value) * gain, -maxRate, maxRate);
  const double next = value + rate * h;
  // Never overshoot the target.
  if ((target - value) * (target - next) < 0) return target;
  return next;
}

// Rolling and bearing losses of the rollers, N.

std::vector<std::uint8_t> FactoryTable(const CalibSlot& slot) {
  std::vector<std::uint8_t> image(CalibImageSize(slot.capacity), 0);
  PutUInt16LE(image.data(), static_cast<std::uint16_t>(slot.defaultCount));
  for (std::size_t i = 0; i < static_cast<std::size_t>(slot.defaultCount); ++i) {
    const float first = slot.firstStep * static_cast<float>(i);
    PutFloat32LE(&image[2 + 4 * i], first);
    PutFloat32LE(&image[2 + 4 * slot.capacity + 4 * i], slot.secondOffset + slot.secondSlope * first);
  }
  return image;
}

// Each sensor's transfer, the table its readings go through (by request
// code), the commands that read its voltage and the value it reads without a
// reference (the environment's readings in its status frames).
struct SensorRow {
  SensorInput input;
  SensorTransfer transfer;
  std::uint8_t tableRequest;
  std::uint8_t voltageCommand;  // 0: the environment's voltages come with command 100
  std::uint8_t forceCommand;    // the torque test that shows force and voltage; 0: none
  double restingValue;
};
constexpr SensorRow kSensorRows[] = {
    // The force channels read about 0.5 V unloaded and 2 mV per daN, with a
    // slight bow, so no straight table fits them exactly.
    {SensorInput::FrontLeft, {0.5, 0.002, -4e-9, 0.0005}, 60, 33, 34, 0.0},
    {SensorInput::FrontRight, {0.5, 0.002, -4e-9, 0.0005}, 120, 110, 114, 0.0},
    {SensorInput::RearLeft, {0.5, 0.002, -4e-9, 0.0005}, 121, 112, 115, 0.0},
    {SensorInput::RearRight, {0.5, 0.002, -4e-9, 0.0005}, 122, 113, 116, 0.0},
    {SensorInput::Temperature, {1.0, 0.04, 0.0, 0.0005}, 62, 0, 0, 20.0},
    {SensorInput::Humidity, {0.2, 0.045, 0.0, 0.0005}, 63, 0, 0, 50.0},
    {SensorInput::AirPressure, {0.5, 0.04, 0.0, 0.0005}, 64, 0, 0, 101.3},
};
static_assert(std::size(kSensorRows) == kSensorInputCount);

const SensorRow& RowOf(SensorInput input) { return kSensorRows[static_cast<std::size_t>(input)]; }

std::optional<SensorInput> InputWithCommand(std::uint8_t code, std::uint8_t SensorRow::*command) {
  for (const SensorRow& row : kSensorRows) {
    if (row.*command == code) return row.input;
  }
  return std::nullopt;
}

}  // namespace

std::optional<SensorInput> SensorInputFromName(std::string_view name) {
  for (const SensorInputName& row : kSensorInputNames) {
    if (name == row.name) return row.input;
  }
  return std::nullopt;
}

const SensorTransfer& TransferOf(SensorInput input) { return RowOf(input).transfer; }

void ControllerModel::SetAppliedLoad(SensorInput input, std::optional<double> load) {
  if (load && !std::isfinite(*load)) load.reset();
  config_.appliedLoads[static_cast<std::size_t>(input)] = load;
}

float ControllerModel::SensorVolts(SensorInput input, double load) {
  const SensorTransfer& t = TransferOf(input);
  return static_cast<float>(t.offset + t.gain * load + t.curvature * load * load) + Noise(t.noise);
}

float ControllerModel::Calibrated(SensorInput input, double volts) const {
  const std::vector<std::uint8_t> image = CalibImage(RowOf(input).tableRequest);
  if (image.size() < 2) return 0.0f;
  const std::size_t capacity = (image.size() - 2) / 8;
  const std::int16_t count = GetInt16LE(image.data());
  const std::size_t points = count <= 0 ? 0 : std::min(static_cast<std::size_t>(count), capacity);
  std::vector<CalibPoint> table;
  for (std::size_t i = 0; i < points; ++i) {
    table.push_back({GetFloat32LE(&image[2 + 4 * i]), GetFloat32LE(&image[2 + 4 * capacity + 4 * i])});
  }
  const CalibFit fit = CalibFitFromRecord(params_[kCalibFitOffset - kPayloadOffset]);
  return static_cast<float>(ApplyCalibration(table, fit, volts));
}

std::optional<Frame> ControllerModel::EnvironmentUnderLoad(std::uint8_t type, bool calibrated) {
  constexpr SensorInput kEnvironment[] = {SensorInput::Temperature, SensorInput::Humidity, SensorInput::AirPressure};
  const bool loaded = std::any_of(std::begin(kEnvironment), std::end(kEnvironment),
                                  [this](SensorInput s) { return LoadOn(s).has_value(); });
  if (!loaded) return std::nullopt;
  float values[3] = {};
  for (std::size_t i = 0; i < 3; ++i) {
    const SensorInput input = kEnvironment[i];
    const double volts = SensorVolts(input, LoadOn(input).value_or(RowOf(input).restingValue));
    values[i] = calibrated ? Calibrated(input, volts) : static_cast<float>(volts);
  }
  return Status(type, values[0], values[1], values[2], 0);
}

std::span<const CalibSlot> CalibSlots() { return kCalibSlots; }

ControllerModel::ControllerModel(const ModelConfig& config)
    : config_(config), rng_(config.seed), upgradeProgram_(config.startInUpgradeProgram) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  params_ = FactoryParamRecord(config, local);

  std::copy(std::begin(kFactoryChannelMap), std::end(kFactoryChannelMap), channelMap_.begin());
  for (const CalibSlot& slot : kCalibSlots) tables_.push_back(FactoryTable(slot));
  varTable_ = FactoryTable(kVarTableSlot);
}

const std::array<ControllerModel::Route, 256>& ControllerModel::Routes() {
  static const std::array<Route, 256> routes = [] {
    // The commands with a handler of their own.
    const struct {
      std::uint8_t code;
      Handler handler;
    } kCommandHandlers[] = {
        {kVersion, &ControllerModel::AnswerVersion},           {kParamRequest, &ControllerModel::SendParamRecord},
        {kParamWrite, &ControllerModel::StoreParamRecord},     {kChannelMapRequest, &ControllerModel::SendChannelMap},
        {kChannelMapStore, &ControllerModel::StoreChannelMap}, {kBlockRead, &ControllerModel::ReadVarTableBlock},
        {kBlockStore, &ControllerModel::StoreVarTableBlock},   {kRomBlock, &ControllerModel::TakeUpgradeBlock},
    };
    std::array<Route, 256> table{};
    // A code listed twice keeps its first handler: the commands above, then
    // the calibration tables, then the catalogue.
    auto add = [&table](std::uint8_t code, Handler handler, std::size_t row) {
      if (table[code].handler == nullptr) table[code] = {handler, row};
    };
    for (const auto& entry : kCommandHandlers) add(entry.code, entry.handler, 0);
    for (std::size_t i = 0; i < std::size(kCalibSlots); ++i) {
      add(kCalibSlots[i].requestCode, &ControllerModel::SendCalibTable, i);
      add(kCalibSlots[i].storeCode, &ControllerModel::StoreCalibTable, i);
    }
    for (std::size_t i = 0; i < std::size(kBehaviours); ++i)
      add(kBehaviours[i].code, &ControllerModel::RunCatalogue, i);
    return table;
  }();
  return routes;
}

std::vector<std::uint8_t>* ControllerModel::TableForRequest(std::uint8_t code) {
  for (std::size_t i = 0; i < std::size(kCalibSlots); ++i) {
    if (kCalibSlots[i].requestCode == code) return &tables_[i];
  }
  return nullptr;
}

std::vector<std::uint8_t> ControllerModel::CalibImage(std::uint8_t requestCode) const {
  if (requestCode == kVarTableSlot.requestCode) return varTable_;
  for (std::size_t i = 0; i < std::size(kCalibSlots); ++i) {
    if (kCalibSlots[i].requestCode == requestCode) return tables_[i];
  }
  return {};
}

bool ControllerModel::SetCalibImage(std::uint8_t requestCode, std::span<const std::uint8_t> image) {
  std::vector<std::uint8_t>* table =
      requestCode == kVarTableSlot.requestCode ? &varTable_ : TableForRequest(requestCode);
  if (table == nullptr || table->size() != image.size()) return false;
  table->assign(image.begin(), image.end());
  return true;
}

std::int16_t ControllerModel::NextNumth() {
  numth_ = static_cast<std::int16_t>(numth_ >= 32767 ? 1 : numth_ + 1);
  return numth_;
}

float ControllerModel::Noise(double amplitude) {
  std::uniform_real_distribution<double> d(-amplitude, amplitude);
  return static_cast<float>(d(rng_));
}

Frame ControllerModel::Reply(std::uint8_t type, std::span<const std::uint8_t> payload,
                             std::optional<std::int16_t> numth) {
  const std::size_t length = ControllerFrameLength(type);
  Frame f(length, 0);
  f[0] = kSync1;
  f[1] = kSync2;
  f[kCommandCodeOffset] = type;
  f[kPayloadLengthOffset] = static_cast<std::uint8_t>(length - kHeaderLength);
  const std::size_t room = length - kHeaderLength - 2;
  std::copy_n(payload.begin(), std::min(room, payload.size()), f.begin() + kPayloadOffset);
  PutUInt16LE(&f[length - 2], static_cast<std::uint16_t>(numth ? *numth : NextNumth()));
  StoreChecksum(f.data(), length);
  return f;
}

Frame ControllerModel::Status(std::uint8_t type, float v1, float v2, float v3, float v4,
                              std::optional<std::int16_t> numth) {
  std::uint8_t payload[16];
  PutFloat32LE(&payload[0], v1);
  PutFloat32LE(&payload[4], v2);
  PutFloat32LE(&payload[8], v3);
  PutFloat32LE(&payload[12], v4);
  // Long-reply types are never status frames; a rejection of one is a 24-byte
  // frame only when its length class says so, which Reply handles.
  return Reply(type, payload, numth);
}

double ControllerModel::ParasiticN(double kmh) const {
  const RoadLoadConfig& load = config_.roadLoad;
  return kmh > 0.01 ? load.f0N + load.f1 * kmh + load.f2 * kmh * kmh : 0.0;
}

float ControllerModel::ReportedSpeed() {
  const double sigma = config_.roadLoad.speedNoiseKmh;
  if (!(sigma > 0) || speed_ <= 0.01 || closing_) return static_cast<float>(speed_);
  std::normal_distribution<double> noise(0.0, sigma);
  return static_cast<float>(speed_ + noise(rng_));
}

double ControllerModel::Mass() const {
  if (config_.roadLoad.massKg > 0) return config_.roadLoad.massKg;
  double m = kBaseMassKg;
  for (int i = 0; i < 4; ++i) {
    if (flywheels_ & (1u << i)) m += kFlywheelMassKg[i];
  }
  return m;
}

double ControllerModel::RollerDiameter() const {
  const float size = GetFloat32LE(&params_[kRollerSizeOffset - kPayloadOffset]);
  if (std::isfinite(size) && size > 50.0f && size < 2000.0f) return size / 1000.0;  // mm
  return 0.216;
}

double ControllerModel::RollerRpm() const { return speed_ / 3.6 / (std::numbers::pi * RollerDiameter()) * 60.0; }

// The retarder's load force of the running test, daN.
double ControllerModel::LoadForceDaN() const {
  if (!run_.active) return 0.0;
  auto fromPower = [this](float kw) {
    const double v = std::max(speed_, 5.0);
    return std::min(3600.0 * std::max(0.0f, kw) / v, 30000.0) / 10.0;
  };
  switch (run_.action) {
    case Action::SpeedAndLoad: return fromPower(run_.p[1]);
    case Action::SpeedAndLoad3rd:
    case Action::PowerScan:
    case Action::CoastPower: return fromPower(run_.p[2]);
    case Action::CoastForce: return std::clamp(run_.p[2], 0.0f, 3000.0f);
    default: return 0.0;
  }
}

void ControllerModel::Advance(double seconds) {
  if (!(seconds > 0)) return;
  seconds = std::min(seconds, 3600.0);
  while (seconds > 0) {
    const double h = std::min(seconds, 0.01);
    Step(h);
    seconds -= h;
  }
}

void ControllerModel::Step(double h) {
  const double before = speed_;
  const double m = Mass();
  double holdForceDaN = ParasiticN(speed_) / 10.0;
  bool finished = false;
  if (run_.active) {
    run_.elapsed += h;
    const auto& p = run_.p;
    switch (run_.action) {
      case Action::ConstantSpeed:
      case Action::SpeedAndLoad:
      case Action::SpeedAndLoad3rd:
      case Action::ProfileSpeed:
      case Action::Response: speed_ = Approach(speed_, ClampSpeed(p[0]), 1.5, 6.0, h); break;
      case Action::ConstantForce:
        speed_ = Approach(speed_, kVehicleCruiseKmh, 1.0, 4.0, h);
        holdForceDaN = std::clamp(Finite(p[0]), -5000.0f, 5000.0f);
        break;
      case Action::PowerScan: {
        const double target = ClampSpeed(p[1]);
        speed_ = Approach(speed_, target, 1e9, 1.0, h);
        finished = speed_ == target;
        break;
      }
      case Action::RoadLoad: {
        const double t = run_.elapsed;
        speed_ = 25.0 * (1.0 - std::cos(2.0 * std::numbers::pi * t / 40.0));
        const double v = speed_;
        holdForceDaN = Finite(p[0]) + Finite(p[1]) * v + Finite(p[2]) * v * v;
        break;
      }
      case Action::Acceleration: speed_ = std::min(60.0, speed_ + 4.32 * h); break;
      case Action::CoastNoLoad:
      case Action::CoastForce:
      case Action::CoastPower: {
        const double forceN = LoadForceDaN() * 10.0 + ParasiticN(speed_);
        speed_ -= 3.6 * forceN / m * h;
        const double end = ClampSpeed(p[1]);
        if (speed_ <= end) {
          speed_ = end;
          finished = true;
        }
        break;
      }
      default: break;
    }
  }
  if (!run_.active || run_.action == Action::Measure) {
    if (motor_ != 0) {
      speed_ = Approach(speed_, motor_ == 2 ? kLargeMotorSpeedKmh : kMotorSpeedKmh, 1.0, 5.0, h);
    } else {
      speed_ = std::max(0.0, speed_ - kIdleBrakeKmhPerS * h);
    }
  }
  speed_ = std::clamp(speed_, 0.0, kMaxSpeedKmh);
  distance_ += (before + speed_) / 2.0 / 3.6 * h;
  accel_ = (speed_ - before) / 3.6 / h;
  const bool coasting = run_.active && (run_.action == Action::CoastNoLoad || run_.action == Action::CoastForce ||
                                        run_.action == Action::CoastPower);
  double target = coasting ? LoadForceDaN() : holdForceDaN + LoadForceDaN();
  if (run_.active && run_.action != Action::RoadLoad && !coasting && speed_ > 0.01)
    target += m * accel_ / 10.0;  // the force that accelerates the rollers
  if (speed_ <= 0.01 && !run_.active) target = 0;
  forceDaN_ += (target - forceDaN_) * (1.0 - std::exp(-h / 0.3));
  if (finished) FinishRun();
}

void ControllerModel::FinishRun() {
  // The closing frame carries the values at the end point, whatever the
  // rollers do afterwards.
  // A coast-down ends when the measured speed reaches the end speed, so its
  // closing frame says that speed, not the speed plus measurement noise.
  closing_ = true;
  finalFrame_ = StatusFor(run_.type, run_.readout);
  closing_ = false;
  run_.active = false;
}

void ControllerModel::StartRun(const Behaviour& b, std::span<const std::uint8_t> frame) {
  run_ = Run{};
  run_.active = true;
  run_.type = b.code;
  run_.action = b.action;
  run_.readout = b.readout;
  finalFrame_.reset();
  if (frame.size() == SetpointFrame::kLength) {
    run_.p[0] = Finite(GetFloat32LE(&frame[7]));
  } else if (frame.size() == ProfileFrame::kLength) {
    for (int i = 0; i < 4; ++i) run_.p[i] = Finite(GetFloat32LE(&frame[6 + 4 * i]));
  }
  switch (b.action) {
    case Action::CoastNoLoad:
    case Action::CoastForce:
    case Action::CoastPower:
      // The motor has brought the rollers up to the start speed; they are
      // released here and coast from it.
      motor_ = 0;
      speed_ = ClampSpeed(run_.p[0]);
      if (speed_ <= ClampSpeed(run_.p[1])) FinishRun();
      break;
    case Action::PowerScan: speed_ = ClampSpeed(run_.p[0]); break;
    case Action::Acceleration:
    case Action::RoadLoad: speed_ = 0; break;
    default: break;
  }
}

void ControllerModel::StopRun() {
  run_.active = false;
  finalFrame_.reset();
}

Frame ControllerModel::StatusFor(std::uint8_t type, Readout readout) {
  const float v = ReportedSpeed();
  const float dist = static_cast<float>(distance_);
  const float force = static_cast<float>(forceDaN_) + (speed_ > 0.01 ? Noise(0.2) : 0.0f);
  switch (readout) {
    case Readout::Plain: return Status(type, force, v, dist, 0);
    case Readout::Drive: return Status(type, force, v, dist, static_cast<float>(RollerRpm()));
    case Readout::Fuel: {
      const double kw = std::abs(forceDaN_ * speed_ / 360.0);
      return Status(type, force, v, dist, static_cast<float>(0.8 + 0.25 * kw) + Noise(0.02));
    }
    case Readout::Engine: return Status(type, force, v, dist, static_cast<float>(750.0 + 32.0 * speed_) + Noise(3));
    case Readout::Coast: {
      const float coastTime = run_.active ? static_cast<float>(run_.elapsed) : 0.0f;
      return Status(type, force, v, coastTime, dist);
    }
    case Readout::Voltage: {
      const std::optional<SensorInput> input = InputWithCommand(type, &SensorRow::voltageCommand);
      if (input && LoadOn(*input)) return Status(type, SensorVolts(*input, *LoadOn(*input)), v, dist, 0);
      return Status(type, static_cast<float>(2.5 + 0.01 * speed_) + Noise(0.002), v, dist, 0);
    }
    case Readout::TorqueVoltage: {
      const std::optional<SensorInput> input = InputWithCommand(type, &SensorRow::forceCommand);
      if (input && LoadOn(*input)) {
        const float volts = SensorVolts(*input, *LoadOn(*input));
        return Status(type, Calibrated(*input, volts), v, volts, 0);
      }
      return Status(type, force, v, static_cast<float>(0.5 + 0.002 * forceDaN_) + Noise(0.002), 0);
    }
    case Readout::SpeedCheck: {
      const double rps = RollerRpm() / 60.0;
      const double teeth = GetUInt16LE(&params_[kEncoderTeethOffset - kPayloadOffset]);
      // Metres, as every other frame's distance: the console's default bench unit.
      return Status(type, static_cast<float>(rps * teeth), v, dist, static_cast<float>(RollerRpm()));
    }
    case Readout::Mileage: return Status(type, 0, v, dist, 0);
    case Readout::ZeroPoint: return Status(type, force, v, static_cast<float>(zeroPoint_), 0);
    case Readout::Channels:
      return Status(type, 1.0f + Noise(0.002), 1.5f + Noise(0.002), 2.0f + Noise(0.002), 2.5f + Noise(0.002));
    case Readout::ChannelTorques: {
      const float quarter = static_cast<float>(forceDaN_ / 4.0);
      return Status(type, quarter + Noise(0.1), quarter + Noise(0.1), quarter + Noise(0.1), quarter + Noise(0.1));
    }
    case Readout::Environment:
      // Command 100 reads the sensors' voltages, 96 their calibrated values.
      if (std::optional<Frame> loaded = EnvironmentUnderLoad(type, type != kEnvironmentVolts)) return *loaded;
      return Status(type, 20.0f + Noise(0.3), 50.0f + Noise(1.0), 101.3f + Noise(0.2), 0);
    case Readout::Inputs: {
      Frame f = Status(type, 0, v, 0, 0);
      const std::uint8_t inputs[5] = {
          static_cast<std::uint8_t>(liftUp_ ? 1 : 0),       // lift up limit
          static_cast<std::uint8_t>(liftUp_ ? 0 : 1),       // lift down limit
          0,                                                // remote control
          static_cast<std::uint8_t>(speed_ > 0.5 ? 1 : 0),  // vehicle on the rollers
          static_cast<std::uint8_t>(motor_ != 0 ? 1 : 0),   // motor contactor
      };
      std::copy(std::begin(inputs), std::end(inputs), f.begin() + 17);
      StoreChecksum(f.data(), f.size());
      return f;
    }
    case Readout::Accel: {
      Frame f = Status(type, 0, v, dist, 0);
      const double accelMilli = std::clamp(accel_ * 1000.0, -32768.0, 32767.0);
      PutUInt16LE(&f[18], static_cast<std::uint16_t>(static_cast<std::int16_t>(accelMilli)));
      const auto revolutions = static_cast<std::int64_t>(distance_ / (std::numbers::pi * RollerDiameter()));
      PutUInt16LE(&f[20], static_cast<std::uint16_t>(revolutions & 0x7FFF));
      StoreChecksum(f.data(), f.size());
      return f;
    }
    case Readout::RoadLoad: {
      Frame f = Status(type, force, v, dist, 0);
      const double accelMilli = std::clamp(accel_ * 1000.0, -32768.0, 32767.0);
      PutUInt16LE(&f[18], static_cast<std::uint16_t>(static_cast<std::int16_t>(accelMilli)));
      StoreChecksum(f.data(), f.size());
      return f;
    }
    case Readout::Response: {
      const float ms = 150.0f + Noise(10.0);
      return Status(type, ms, v, ms / 1000.0f, 0);
    }
  }
  return Status(type, force, v, dist, 0);
}

std::optional<Frame> ControllerModel::PeriodicFrame() {
  if (run_.active) return StatusFor(run_.type, run_.readout);
  std::optional<Frame> f = std::move(finalFrame_);
  finalFrame_.reset();
  return f;
}

std::vector<Frame> ControllerModel::HandleUnknown(std::span<const std::uint8_t> frame) {
  if (frame.size() <= kCommandCodeOffset) return {};
  const std::uint8_t code = frame[kCommandCodeOffset];
  if (ControllerFrameLength(code) != kStatusFrameLength) return {};
  return {Status(code, 0, static_cast<float>(speed_), 0, 0, kNumthRejected)};
}

std::vector<Frame> ControllerModel::HandleBadChecksum(std::span<const std::uint8_t> frame) {
  // A corrupted firmware block is asked for again; other commands are lost.
  if (frame.size() == 232 && frame[kCommandCodeOffset] == kRomBlock && ReadyForBlocks())
    return {BlockAnswer(kBlockSendAgain, GetUInt16LE(&frame[8]), NextNumth())};
  return {};
}

Frame ControllerModel::BlockAnswer(float status, float index, std::int16_t numth) {
  return Status(kRomBlock, status, index, 0, 0, numth);
}

std::vector<Frame> ControllerModel::TakeUpgradeBlock(const Received& command) {
  const std::span<const std::uint8_t> frame = command.frame;
  if (!ReadyForBlocks()) return {BlockAnswer(0, 0, kNumthRejected)};
  upgradeProgram_ = true;
  const std::size_t count = GetUInt16LE(&frame[6]);
  const std::size_t index = GetUInt16LE(&frame[8]);
  const std::size_t length = GetUInt16LE(&frame[10]);
  const auto indexValue = static_cast<float>(index);
  const bool valid = count >= 1 && count <= kMaxRomBlocks && index < count && length >= 1 && length <= kRomBlockData &&
                     (length == kRomBlockData || index == count - 1);
  if (!valid) return {BlockAnswer(kBlockSendAgain, indexValue, NextNumth())};

  const bool anyReceived = std::find(blockReceived_.begin(), blockReceived_.end(), true) != blockReceived_.end();
  if (index == 0 && (count != blockCount_ || imageComplete_ || !anyReceived)) {
    // The first block of a new upload.
    blockCount_ = count;
    blockReceived_.assign(count, false);
    image_.assign(count * kRomBlockData, 0);
    imageSize_ = 0;
    imageComplete_ = false;
  } else if (count != blockCount_ || blockReceived_.empty()) {
    return {BlockAnswer(kBlockSendAgain, indexValue, NextNumth())};
  } else if (imageComplete_) {
    return {BlockAnswer(kBlockFinished, indexValue, NextNumth())};
  }
  if (image_.size() < count * kRomBlockData) image_.resize(count * kRomBlockData);
  std::copy_n(frame.begin() + 12, length, image_.begin() + static_cast<std::ptrdiff_t>(index * kRomBlockData));
  blockReceived_[index] = true;
  if (index == count - 1) imageSize_ = index * kRomBlockData + length;
  if (std::all_of(blockReceived_.begin(), blockReceived_.end(), [](bool b) { return b; })) {
    image_.resize(imageSize_);
    imageComplete_ = true;
    ++imageGeneration_;
  }
  return {BlockAnswer(kBlockAccepted, indexValue, NextNumth())};
}

std::vector<Frame> ControllerModel::HandleCommand(std::span<const std::uint8_t> frame, double nowMs) {
  if (frame.size() < kHeaderLength) return {};
  const std::uint8_t code = frame[kCommandCodeOffset];
  // Every handler reads its fields at fixed offsets: only frames of the
  // command's own length are taken.
  if (const std::size_t expected = CommandFrameLength(code); expected == 0 || frame.size() != expected) {
    return HandleUnknown(frame);
  }

  // The upgrade program knows only the upgrade dialogue and the version query.
  if (upgradeProgram_ && code != kVersion && code != kStop && code != kStandby && code != kRomBlock) {
    if (ControllerFrameLength(code) != kStatusFrameLength) return {};
    return {Status(code, 0, 0, 0, 0, kNumthRejected)};
  }
  if (code != kVersion && code != kStop && code != kRomBlock) upgradeReady_ = false;

  const Route& route = Routes()[code];
  if (route.handler == nullptr) return HandleUnknown(frame);
  return (this->*route.handler)(Received{frame, nowMs, route.row});
}

std::vector<Frame> ControllerModel::AnswerVersion(const Received&) {
  return {Status(kVersion, upgradeProgram_ ? kVersionFromUpgradeProgram : 0.0f,
                 static_cast<float>(config_.firmwareVersionX100), 0, 0)};
}

std::vector<Frame> ControllerModel::SendParamRecord(const Received&) {
  std::array<std::uint8_t, kParamRecordSize> reply = params_;
  std::fill_n(reply.begin(), 4, 0);  // write code: never kept
  return {Reply(kParamRequest, reply)};
}

std::vector<Frame> ControllerModel::StoreParamRecord(const Received& command) {
  // Bytes 0-3 are the console's date code, 4-7 the controller's own
  // version and model: both stay the controller's.
  std::copy(command.frame.begin() + kPayloadOffset + 8, command.frame.begin() + kPayloadOffset + kParamRecordSize,
            params_.begin() + 8);
  return {Status(kParamWrite, 0, static_cast<float>(speed_), 0, 0, kNumthParamsWritten)};
}

std::vector<Frame> ControllerModel::SendChannelMap(const Received&) { return {Reply(kChannelMapRequest, channelMap_)}; }

std::vector<Frame> ControllerModel::StoreChannelMap(const Received& command) {
  std::copy_n(command.frame.begin() + kPayloadOffset, kChannelMapSize, channelMap_.begin());
  return {Status(kChannelMapStore, 0, static_cast<float>(speed_), 0, 0)};
}

std::vector<Frame> ControllerModel::ReadVarTableBlock(const Received& command) {
  const float offsetValue = GetFloat32LE(&command.frame[6]);
  const float lengthValue = GetFloat32LE(&command.frame[10]);
  if (!std::isfinite(offsetValue) || !std::isfinite(lengthValue) || offsetValue < 0 ||
      offsetValue >= static_cast<float>(kVarTableImageSize) || lengthValue < 1) {
    return {Reply(kBlockRead, {}, kNumthRejected)};
  }
  const auto offset = static_cast<std::size_t>(offsetValue);
  const std::size_t length = std::min(
      {static_cast<std::size_t>(std::min(lengthValue, 1000.0f)), kBlockReplyRoom, kVarTableImageSize - offset});
  std::vector<std::uint8_t> payload(6 + length);
  PutUInt16LE(&payload[0], static_cast<std::uint16_t>(kVarTableImageSize));
  PutUInt16LE(&payload[2], static_cast<std::uint16_t>(offset));
  PutUInt16LE(&payload[4], static_cast<std::uint16_t>(length));
  std::copy_n(varTable_.begin() + static_cast<std::ptrdiff_t>(offset), length, payload.begin() + 6);
  return {Reply(kBlockRead, payload)};
}

std::vector<Frame> ControllerModel::StoreVarTableBlock(const Received& command) {
  const std::int16_t total = GetInt16LE(&command.frame[6]);
  const std::int16_t offset = GetInt16LE(&command.frame[8]);
  const std::int16_t length = GetInt16LE(&command.frame[10]);
  if (total != static_cast<std::int16_t>(kVarTableImageSize) || offset < 0 || length < 1 ||
      static_cast<std::size_t>(length) > kBlockReplyRoom ||
      static_cast<std::size_t>(offset) + static_cast<std::size_t>(length) > kVarTableImageSize) {
    return {Status(kBlockStore, 0, static_cast<float>(speed_), 0, 0, kNumthRejected)};
  }
  std::copy_n(command.frame.begin() + 12, length, varTable_.begin() + offset);
  return {Status(kBlockStore, offset, length, 0, 0)};
}

std::vector<Frame> ControllerModel::SendCalibTable(const Received& command) {
  return {Reply(kCalibSlots[command.row].requestCode, tables_[command.row])};
}

std::vector<Frame> ControllerModel::StoreCalibTable(const Received& command) {
  const CalibSlot& slot = kCalibSlots[command.row];
  const std::size_t size = CalibImageSize(slot.capacity);
  if (command.frame.size() < kHeaderLength + size) return HandleUnknown(command.frame);
  const std::int16_t count = GetInt16LE(&command.frame[kPayloadOffset]);
  if (count < 0 || static_cast<std::size_t>(count) > slot.capacity)
    return {Status(slot.storeCode, 0, static_cast<float>(speed_), 0, 0, kNumthRejected)};
  tables_[command.row].assign(command.frame.begin() + kPayloadOffset, command.frame.begin() + kPayloadOffset + size);
  return {Status(slot.storeCode, count, static_cast<float>(speed_), 0, 0)};
}

std::vector<Frame> ControllerModel::RunCatalogue(const Received& command) {
  const Behaviour& b = kBehaviours[command.row];
  const std::span<const std::uint8_t> frame = command.frame;
  const double nowMs = command.nowMs;
  switch (b.action) {
    case Action::StopTest: {
      const bool wasRunning = run_.active;
      StopRun();
      motor_ = 0;
      // The upgrade repeats "stop" until the controller says it is ready for
      // blocks; a stop repeated on a stopped bench is that request.
      const bool upgradeAsks = !wasRunning && nowMs - lastStopMs_ <= kDoubleStopWindowMs;
      lastStopMs_ = nowMs;
      if (upgradeAsks || upgradeProgram_) upgradeReady_ = true;
      const float v1 = upgradeReady_ ? kStopReadyForBlocks : static_cast<float>(forceDaN_);
      return {Status(b.code, v1, static_cast<float>(speed_), static_cast<float>(distance_), 0)};
    }
    case Action::Standby:
      StopRun();
      upgradeReady_ = false;
      upgradeProgram_ = false;
      return {Status(b.code, kRunningAgain, static_cast<float>(speed_), 0, 0)};
    case Action::EmergencyStop:
      StopRun();
      motor_ = 0;
      break;
    case Action::LoadFlywheel: flywheels_ = frame.size() > 6 ? (frame[6] & 0x0F) : 0; break;
    case Action::UnloadFlywheel: flywheels_ = 0; break;
    case Action::LiftUp: liftUp_ = true; break;
    case Action::LiftDown: liftUp_ = false; break;
    case Action::MotorOn: motor_ = 1; break;
    case Action::LargeMotorOn: motor_ = 2; break;
    case Action::MotorOff: motor_ = 0; break;
    case Action::ClearMileage: distance_ = 0; break;
    case Action::Zero: zeroPoint_ = 2048.0 + Noise(3.0); break;
    case Action::Report: break;
    default:
      StartRun(b, frame);
      if (!run_.active && finalFrame_) {
        // A coast-down that is over before it starts: one closing frame.
        return {*PeriodicFrame()};
      }
      return {StatusFor(b.code, b.readout)};
  }
  return {StatusFor(b.code, b.readout)};
}

}  // namespace rolta::sim
