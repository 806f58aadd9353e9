// The simulated sensors under a calibration reference: the options and the
// load file that apply one, the voltage its command reads, and the readings
// that go through the stored table in the record's calibration mode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controller_model.h"
#include "link/frames.h"
#include "param_defaults.h"
#include "sim_options.h"

namespace rolta::sim {
namespace {

float Answer(ControllerModel& model, std::uint8_t code, int value) {
  ShortFrame command;
  command.SetCommand(code);
  const std::vector<Frame> answers = model.HandleCommand(command.Seal(), 0);
  EXPECT_EQ(answers.size(), 1u);
  return GetFloat32LE(&answers.at(0)[6 + 4 * (value - 1)]);
}

TEST(SimSensors, ReferencesAreAppliedByOptionAndByLoadFile) {
  SimulatorOptions o;
  std::string error;
  const char* args[] = {"qrx5000b-sim", "--apply-load", "FL=1500", "--apply-load", "TEMP=-5.5"};
  ASSERT_TRUE(ParseSimulatorArgs(5, args, o, &error)) << error;
  EXPECT_EQ(o.appliedLoads[static_cast<std::size_t>(SensorInput::FrontLeft)], 1500.0);
  EXPECT_EQ(o.appliedLoads[static_cast<std::size_t>(SensorInput::Temperature)], -5.5);
  EXPECT_FALSE(o.appliedLoads[static_cast<std::size_t>(SensorInput::RearRight)]);

  for (const char* bad : {"XX=1", "FL", "FL=abc", "FL=1e9"}) {
    SimulatorOptions refused;
    const char* badArgs[] = {"qrx5000b-sim", "--apply-load", bad};
    EXPECT_FALSE(ParseSimulatorArgs(3, badArgs, refused, &error)) << bad;
  }

  AppliedLoads loads = o.appliedLoads;
  ASSERT_TRUE(ParseLoadLines("# bench 3\nFL=off\n  RR = 200 \n\nHUM=40 # humid\n", loads, &error)) << error;
  EXPECT_FALSE(loads[static_cast<std::size_t>(SensorInput::FrontLeft)]);
  EXPECT_EQ(loads[static_cast<std::size_t>(SensorInput::RearRight)], 200.0);
  EXPECT_EQ(loads[static_cast<std::size_t>(SensorInput::Humidity)], 40.0);
  // A line it refuses leaves every reference as it was.
  const AppliedLoads before = loads;
  EXPECT_FALSE(ParseLoadLines("RR=300\nPRESS=x\n", loads, &error));
  EXPECT_NE(error.find("line 2"), std::string::npos) << error;
  EXPECT_EQ(loads, before);
}

TEST(SimSensors, VoltageFollowsTheTransferAndReadingsTheStoredTable) {
  ControllerModel model;
  const float unloaded = Answer(model, 33, 1);
  model.SetAppliedLoad(SensorInput::FrontLeft, 1500);
  const SensorTransfer& t = TransferOf(SensorInput::FrontLeft);
  const double volts = t.offset + t.gain * 1500 + t.curvature * 1500 * 1500;
  EXPECT_NEAR(Answer(model, 33, 1), volts, t.noise);
  EXPECT_GT(std::abs(unloaded - volts), 0.1);  // the old reading without a reference
  // The torque test's force is the factory table (400 daN a volt) of its voltage.
  EXPECT_NEAR(Answer(model, 34, 1), 400 * volts, 400 * t.noise);

  // A two-point table that bends nowhere: both modes give the same line.
  std::vector<std::uint8_t> image(CalibImageSize(10), 0);
  PutUInt16LE(image.data(), 3);
  const float first[] = {0, 1, 4};
  const float second[] = {0, 100, 1000};  // 100 daN/V, then 300 daN/V
  for (int i = 0; i < 3; ++i) {
    PutFloat32LE(&image[2 + 4 * i], first[i]);
    PutFloat32LE(&image[2 + 40 + 4 * i], second[i]);
  }
  ASSERT_TRUE(model.SetCalibImage(60, image));
  EXPECT_NEAR(Answer(model, 34, 1), 100 + 300 * (volts - 1), 300 * t.noise);
  auto record = model.ParamRecord();
  record[kCalibFitOffset - kPayloadOffset] = 1;  // least squares: 1000/4 is no longer the slope
  model.SetParamRecord(record);
  const double slope =
      (0 * (0 - 5.0 / 3) + 100 * (1 - 5.0 / 3) + 1000 * (4 - 5.0 / 3)) / ((25.0 / 9) + (4.0 / 9) + (49.0 / 9));
  EXPECT_NEAR(Answer(model, 34, 1), 1100.0 / 3 + slope * (volts - 5.0 / 3), slope * t.noise);

  // The environment: 100 the voltages, 96 the tables' values, once any of its sensors has a reference.
  EXPECT_NEAR(Answer(model, 100, 1), 20, 1.0);  // still the old readings
  model.SetAppliedLoad(SensorInput::Humidity, 40);
  const SensorTransfer& h = TransferOf(SensorInput::Humidity);
  EXPECT_NEAR(Answer(model, 100, 2), h.offset + h.gain * 40, h.noise);
  EXPECT_NEAR(Answer(model, 96, 2), 20 * (h.offset + h.gain * 40), 20 * h.noise);  // factory: 20 % a volt
}

}  // namespace
}  // namespace rolta::sim
