// What the simulated QRX5000B controller knows and does: the bench physics
// behind the status frames, the parameter record, the channel map, the
// calibration tables and the firmware upgrade. No I/O and no clock: the
// transport feeds it command frames and elapsed time and sends what it returns.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <string_view>
#include <vector>

#include "link/command_codes.h"

namespace rolta::sim {

using Frame = std::vector<std::uint8_t>;

inline constexpr std::size_t kParamRecordSize = 93;
inline constexpr std::size_t kChannelMapSize = 40;
inline constexpr std::size_t kVarTableImageSize = 402;
inline constexpr std::size_t kRomBlockData = 220;
inline constexpr std::int16_t kNumthRejected = kRejectedNumth;
inline constexpr std::int16_t kNumthParamsWritten = 102;

// Firmware-upgrade answers in Value1 of the type-28, type-126 and type-27 frames.
inline constexpr float kStopReadyForBlocks = 10.0f;
inline constexpr float kBlockAccepted = 100.0f;
inline constexpr float kBlockSendAgain = 101.0f;
inline constexpr float kBlockFinished = 102.0f;
inline constexpr float kRunningAgain = 100.0f;
inline constexpr float kVersionFromUpgradeProgram = 100.0f;

// The bench's losses while it coasts, F(v) = f0 + f1·v + f2·v² (N, v in
// km/h), the effective mass it decelerates, and noise on the reported speed,
// so a coast-down has known coefficients.
struct RoadLoadConfig {
  double f0N = 40.0;
  double f1 = 1.2;           // N/(km/h)
  double f2 = 0.0;           // N/(km/h)²
  double massKg = 0;         // 0: the rollers and the flywheels that are loaded
  double speedNoiseKmh = 0;  // standard deviation of the reported speed
};

// The sensors a calibration reference can be applied to: the four force
// channels and the three environment sensors.
enum class SensorInput : std::uint8_t {
  FrontLeft,
  FrontRight,
  RearLeft,
  RearRight,
  Temperature,
  Humidity,
  AirPressure
};
inline constexpr std::size_t kSensorInputCount = 7;

struct SensorInputName {
  SensorInput input;
  const char* name;  // as --apply-load and the load file spell it
  const char* unit;
};
inline constexpr SensorInputName kSensorInputNames[] = {
    {SensorInput::FrontLeft, "FL", "daN"},      {SensorInput::FrontRight, "FR", "daN"},
    {SensorInput::RearLeft, "RL", "daN"},       {SensorInput::RearRight, "RR", "daN"},
    {SensorInput::Temperature, "TEMP", "degC"}, {SensorInput::Humidity, "HUM", "%"},
    {SensorInput::AirPressure, "PRESS", "kPa"},
};
std::optional<SensorInput> SensorInputFromName(std::string_view name);

// A sensor's voltage under a load: offset + gain·load + curvature·load², with
// uniform noise of ±noise on every reading.
struct SensorTransfer {
  double offset;
  double gain;
  double curvature;
  double noise;
};
const SensorTransfer& TransferOf(SensorInput input);

// What is applied to each sensor; nothing: the sensor reads as it always did.
using AppliedLoads = std::array<std::optional<double>, kSensorInputCount>;

struct ModelConfig {
  std::uint32_t seed = 1;
  int firmwareVersionX100 = 734;
  bool startInUpgradeProgram = false;
  int baud = 0;  // shown in the parameter record's line speed when it is a standard rate
  RoadLoadConfig roadLoad;
  AppliedLoads appliedLoads;
};

// One calibration table of the controller: which request reads it and which
// store replaces it.
struct CalibSlot {
  std::uint8_t requestCode;
  std::uint8_t storeCode;
  std::size_t capacity;  // points
  // Factory table: point i is (firstStep * i, secondOffset + secondSlope * first).
  std::int16_t defaultCount;
  float firstStep;
  float secondOffset;
  float secondSlope;
};
std::span<const CalibSlot> CalibSlots();
inline std::size_t CalibImageSize(std::size_t capacity) { return 2 + 8 * capacity; }

class ControllerModel {
 public:
  explicit ControllerModel(const ModelConfig& config = {});

  // A command frame with a good checksum, received at nowMs (a monotonic
  // clock in milliseconds): the frames to answer with, in order.
  std::vector<Frame> HandleCommand(std::span<const std::uint8_t> frame, double nowMs);
  // A well-formed frame with a command byte the controller does not know.
  std::vector<Frame> HandleUnknown(std::span<const std::uint8_t> frame);
  // A known command whose checksum failed.
  std::vector<Frame> HandleBadChecksum(std::span<const std::uint8_t> frame);

  // Moves the bench on by this many simulated seconds.
  void Advance(double seconds);
  // The status frame of the running test, or the closing frame of a test
  // that just ended; nothing while idle. Called once per status period.
  std::optional<Frame> PeriodicFrame();
  bool TestRunning() const { return run_.active; }
  std::uint8_t RunningType() const { return run_.active ? run_.type : 0; }
  double Speed() const { return speed_; }

  const std::array<std::uint8_t, kParamRecordSize>& ParamRecord() const { return params_; }
  const std::array<std::uint8_t, kChannelMapSize>& ChannelMap() const { return channelMap_; }
  // The image of the table read by this request code (5 for the 50-point table).
  std::vector<std::uint8_t> CalibImage(std::uint8_t requestCode) const;
  // What a controller's memory may hold (an erased EEPROM, values no console
  // sends): for tests of what reads it back. False for an unknown code or an
  // image of the wrong size.
  void SetParamRecord(const std::array<std::uint8_t, kParamRecordSize>& record) { params_ = record; }
  bool SetCalibImage(std::uint8_t requestCode, std::span<const std::uint8_t> image);

  // A calibration reference on a sensor (nothing takes it off): its voltage
  // readings follow its transfer, and the readings the controller makes of
  // that voltage go through the sensor's stored table.
  void SetAppliedLoad(SensorInput input, std::optional<double> load);
  const AppliedLoads& Loads() const { return config_.appliedLoads; }
  std::optional<double> LoadOn(SensorInput input) const { return Loads()[static_cast<std::size_t>(input)]; }

  bool InUpgradeProgram() const { return upgradeProgram_; }
  bool ReadyForBlocks() const { return upgradeReady_ || upgradeProgram_; }
  // The bytes received so far; exact file length once complete.
  const std::vector<std::uint8_t>& FirmwareImage() const { return image_; }
  bool FirmwareComplete() const { return imageComplete_; }
  // Counts completed images, so the transport knows when to write the file.
  std::uint32_t FirmwareGeneration() const { return imageGeneration_; }

  // The behaviour table of the catalogue commands (defined with the model).
  enum class Action : std::uint8_t;
  enum class Readout : std::uint8_t;
  struct Behaviour;

 private:
  struct Run {
    bool active = false;
    std::uint8_t type = 0;
    Action action{};
    Readout readout{};
    std::array<float, 4> p{};
    double elapsed = 0;
  };

  // A command of its own length as its handler takes it; `row` is the
  // calibration slot or catalogue behaviour its code names.
  struct Received {
    std::span<const std::uint8_t> frame;
    double nowMs;
    std::size_t row;
  };
  using Handler = std::vector<Frame> (ControllerModel::*)(const Received&);
  struct Route {
    Handler handler = nullptr;
    std::size_t row = 0;
  };
  // By command code; no handler: a code the controller does not know.
  static const std::array<Route, 256>& Routes();

  std::vector<Frame> AnswerVersion(const Received&);
  std::vector<Frame> SendParamRecord(const Received&);
  std::vector<Frame> StoreParamRecord(const Received& command);
  std::vector<Frame> SendChannelMap(const Received&);
  std::vector<Frame> StoreChannelMap(const Received& command);
  std::vector<Frame> ReadVarTableBlock(const Received& command);
  std::vector<Frame> StoreVarTableBlock(const Received& command);
  std::vector<Frame> SendCalibTable(const Received& command);
  std::vector<Frame> StoreCalibTable(const Received& command);
  std::vector<Frame> TakeUpgradeBlock(const Received& command);
  std::vector<Frame> RunCatalogue(const Received& command);
  Frame BlockAnswer(float status, float index, std::int16_t numth);
  void StartRun(const Behaviour& b, std::span<const std::uint8_t> frame);
  void StopRun();
  void FinishRun();
  void Step(double h);
  double Mass() const;
  double ParasiticN(double kmh) const;
  float ReportedSpeed();
  double RollerDiameter() const;
  double RollerRpm() const;
  double LoadForceDaN() const;
  Frame StatusFor(std::uint8_t type, Readout readout);
  Frame Status(std::uint8_t type, float v1, float v2, float v3, float v4,
               std::optional<std::int16_t> numth = std::nullopt);
  Frame Reply(std::uint8_t type, std::span<const std::uint8_t> payload,
              std::optional<std::int16_t> numth = std::nullopt);
  std::int16_t NextNumth();
  float Noise(double amplitude);
  std::vector<std::uint8_t>* TableForRequest(std::uint8_t code);
  // The sensor's voltage under its applied load, noise included.
  float SensorVolts(SensorInput input, double load);
  // What the sensor's stored table makes of a voltage, in the record's fit.
  float Calibrated(SensorInput input, double volts) const;
  // The environment's three readings (voltages, or their calibrated values)
  // once a reference is applied to any of its sensors.
  std::optional<Frame> EnvironmentUnderLoad(std::uint8_t type, bool calibrated);

  ModelConfig config_;
  std::mt19937 rng_;
  std::int16_t numth_ = 0;

  // Bench.
  Run run_;
  std::optional<Frame> finalFrame_;  // the closing frame of a run that ended
  bool closing_ = false;             // the closing frame is being made: the speed it reports is exact
  double speed_ = 0;                 // km/h
  double distance_ = 0;              // m
  double forceDaN_ = 0;              // measured force
  double accel_ = 0;                 // m/s^2
  std::uint8_t flywheels_ = 0;
  bool liftUp_ = false;
  int motor_ = 0;  // 0 off, 1 motoring motor, 2 large motoring
  double zeroPoint_ = 2048;

  // Stored data.
  std::array<std::uint8_t, kParamRecordSize> params_{};
  std::array<std::uint8_t, kChannelMapSize> channelMap_{};
  std::vector<std::vector<std::uint8_t>> tables_;  // by CalibSlots() index
  std::vector<std::uint8_t> varTable_;

  // Firmware upgrade.
  double lastStopMs_ = -1e18;
  bool upgradeReady_ = false;
  bool upgradeProgram_ = false;
  std::vector<std::uint8_t> image_;
  std::vector<bool> blockReceived_;
  std::size_t blockCount_ = 0;
  std::size_t imageSize_ = 0;
  bool imageComplete_ = false;
  std::uint32_t imageGeneration_ = 0;
};

}  // namespace rolta::sim
