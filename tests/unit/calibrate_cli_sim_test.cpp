// rolta-cli calibrate against the simulated controller: the engineer's Enter
// on standard input is played by a stream that applies the next reference to
// the simulator first. The factory table is wrong for the simulator's force
// sensor, so as found fails; the new table recovers the transfer and as left
// passes. An engineer who stops after the store gets the fetched table back;
// a reading that never settles stores nothing, and neither does a run whose
// line is lost while it waits for a reading.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_runner.h"
#include "cli_run.h"
#include "history/history_records.h"
#include "history/service_history.h"
#include "controller_simulator.h"
#include "link/command_codes.h"
#include "link/frames.h"
#include "temp_folder.h"

namespace rolta::test {
namespace {

// Standard input whose every line first runs `beforeLine` with the line's
// number; past `lines` lines it is at its end.
class EngineerInput final : public std::streambuf {
 public:
  EngineerInput(std::size_t lines, std::function<void(std::size_t)> beforeLine)
      : lines_(lines), beforeLine_(std::move(beforeLine)) {}

 protected:
  int_type underflow() override {
    if (given_ >= lines_) return traits_type::eof();
    beforeLine_(given_++);
    setg(&newline_, &newline_, &newline_ + 1);
    return traits_type::to_int_type(newline_);
  }

 private:
  std::size_t lines_;
  std::size_t given_ = 0;
  std::function<void(std::size_t)> beforeLine_;
  char newline_ = '\n';
};

class CalibrateCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);
    ::setenv("XDG_DATA_HOME", config_.path().c_str(), 1);
    sim::SimulatorOptions options;
    options.periodMs = 5;
    sim_ = std::make_unique<sim::ControllerSimulator>(options);
    ASSERT_TRUE(sim_->Start());
    factoryTable_ = sim_->CalibImage(60);
  }
  void TearDown() override {
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_DATA_HOME");
  }

  // The engineer unloads for the zero, then applies each load of `loads`
  // (as found, then as left) before pressing Enter; `enters` Enter presses
  // in all before standard input ends. `alsoBeforeLine` runs after each load
  // is applied.
  CliRun Calibrate(const std::vector<double>& loads, std::size_t enters,
                   const std::function<void(std::size_t)>& alsoBeforeLine = {}) {
    EngineerInput input(enters, [this, loads, &alsoBeforeLine](std::size_t line) {
      const double load = line == 0 ? 0.0 : loads[(line - 1) % loads.size()];
      sim_->SetAppliedLoad(sim::SensorInput::FrontLeft, load);
      if (alsoBeforeLine) alsoBeforeLine(line);
    });
    std::streambuf* previous = std::cin.rdbuf(&input);
    std::vector<std::string> args = {"rolta-cli", "--port", sim_->SlavePath(), "calibrate", "FL", "--serial", "LC-7"};
    for (double load : loads) args.insert(args.end(), {"--load", std::to_string(load)});
    CliRun run = RunCliCaptured(args, interrupted_);
    std::cin.rdbuf(previous);
    return run;
  }

  std::unique_ptr<ServiceHistory> OpenHistory() const {
    auto opened = ServiceHistory::Open(config_.path() / "rolta" / "history.sqlite", ServiceIdentity{});
    auto* history = std::get_if<std::unique_ptr<ServiceHistory>>(&opened);
    return history != nullptr ? std::move(*history) : nullptr;
  }
  static HistoryFilter Kind(HistoryKind kind) {
    HistoryFilter filter;
    filter.kind = kind;
    return filter;
  }

  TempFolder config_{"rolta-calibrate"};
  std::unique_ptr<sim::ControllerSimulator> sim_;
  std::vector<std::uint8_t> factoryTable_;
  std::atomic<bool> interrupted_{false};
};

const std::vector<double> kLoads = {0, 500, 1000, 1500, 2000};

TEST_F(CalibrateCliTest, AsFoundFailsTheNewTableIsStoredAndAsLeftPasses) {
  const CliRun run = Calibrate(kLoads, 1 + 2 * kLoads.size());
  EXPECT_EQ(run.code, 0) << run.out << run.err;
  // The factory table reads 400 daN a volt; the sensor gives 0.5 V unloaded.
  EXPECT_NE(run.out.find("校前: FAIL"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("校后: pass"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("stored and read back equal"), std::string::npos) << run.out;
  // The run is in the service history, whole, with the store it made.
  const auto history = OpenHistory();
  ASSERT_TRUE(history);
  EXPECT_EQ(history->List(Kind(HistoryKind::CalibStore)).size(), 1u);
  const std::vector<HistoryEntry> runs = history->List(Kind(HistoryKind::CalibrationRun));
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_NE(run.out.find("history certificate " + std::to_string(runs[0].id)), std::string::npos) << run.out;
  // The stored table maps the sensor's voltages onto the loads.
  const std::vector<std::uint8_t> stored = sim_->CalibImage(60);
  ASSERT_EQ(stored.size(), factoryTable_.size());
  EXPECT_EQ(GetInt16LE(stored.data()), 5);
  EXPECT_NEAR(GetFloat32LE(&stored[2]), 0.5, 0.002);            // first voltage
  EXPECT_NEAR(GetFloat32LE(&stored[2 + 4 * 4]), 4.484, 0.002);  // 2000 daN with the bow
  EXPECT_FLOAT_EQ(GetFloat32LE(&stored[2 + 40 + 4 * 4]), 2000.0f);
  // The channel was zeroed, its voltage read and the reading stopped (the
  // stop may still be on its way when the program has ended).
  const auto received = [this](std::uint8_t code) {
    for (const sim::ReceivedCommand& c : sim_->ReceivedCommands()) {
      if (c.code == code) return true;
    }
    return false;
  };
  for (std::uint8_t code : {95, 33, 8}) EXPECT_TRUE(received(code)) << int(code);
  for (int wait = 0; wait < 100 && !received(28); ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(received(28));
}

TEST_F(CalibrateCliTest, StoppingAfterTheStoreRestoresTheFetchedTable) {
  // Standard input ends at the first as-left load.
  const CliRun run = Calibrate(kLoads, 1 + kLoads.size());
  EXPECT_EQ(run.code, cli::kExitCalibrationFailed) << run.out << run.err;
  EXPECT_NE(run.err.find("已恢复原标定表"), std::string::npos) << run.err;
  EXPECT_EQ(sim_->CalibImage(60), factoryTable_);
}

TEST_F(CalibrateCliTest, RefusedSetupsAndAReadingThatNeverSettlesStoreNothing) {
  std::filesystem::create_directories(config_.path() / "rolta");
  std::ofstream(config_.path() / "rolta" / "calibration.conf") << "settle_spread_v=0.000001\nsettle_timeout_s=1\n";
  CliRun run = Calibrate({0, 1000, 500}, 10);
  EXPECT_EQ(run.code, 2) << run.err;
  EXPECT_NE(run.err.find("参考载荷顺序有误"), std::string::npos) << run.err;

  run = Calibrate(kLoads, 10);
  EXPECT_EQ(run.code, cli::kExitCalibrationFailed) << run.out << run.err;
  EXPECT_NE(run.err.find("读数未稳定"), std::string::npos) << run.err;
  EXPECT_EQ(sim_->CalibImage(60), factoryTable_);
}

TEST_F(CalibrateCliTest, ALineLostWhileAReadingSettlesEndsTheRunAndStoresNothing) {
  // The reading could only end by the line: it never settles, and its time-out
  // is far beyond the run.
  std::filesystem::create_directories(config_.path() / "rolta");
  std::ofstream(config_.path() / "rolta" / "calibration.conf") << "settle_spread_v=0.000001\nsettle_timeout_s=600\n";
  // The simulator goes while the first as-found reading is being taken.
  std::thread pull;
  const CliRun run = Calibrate(kLoads, 2, [this, &pull](std::size_t line) {
    if (line != 1) return;
    pull = std::thread([this] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      sim_->Stop();
    });
  });
  if (pull.joinable()) pull.join();

  EXPECT_EQ(run.code, cli::kExitCalibrationFailed) << run.out << run.err;
  EXPECT_NE(run.err.find("与控制器的连接已断开。"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("控制器的标定表保持不变。"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("读数未稳定"), std::string::npos) << run.err;
  EXPECT_EQ(run.out.find("标定完成"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("stored and read back equal"), std::string::npos) << run.out;
  // The history keeps the failed run as it was, and no store.
  const auto history = OpenHistory();
  ASSERT_TRUE(history);
  EXPECT_TRUE(history->List(Kind(HistoryKind::CalibStore)).empty());
  const std::vector<HistoryEntry> runs = history->List(Kind(HistoryKind::CalibrationRun));
  ASSERT_EQ(runs.size(), 1u);
  const std::optional<HistoryEntry> entry = history->Get(runs[0].id);
  ASSERT_TRUE(entry);
  const std::optional<CalibrationRun> recorded = CalibrationRunOf(*entry);
  ASSERT_TRUE(recorded);
  EXPECT_EQ(recorded->outcome, CalibrationOutcome::Failed);
  EXPECT_FALSE(recorded->tableStored);
  EXPECT_TRUE(recorded->asFound.empty());
  EXPECT_NE(recorded->message.find("与控制器的连接已断开。"), std::string::npos) << recorded->message;
}

TEST_F(CalibrateCliTest, ALineLostWhileTheEngineerWorksEndsTheRunWithoutAnEnter) {
  // Standard input is a terminal-like pipe nobody types into; only a line
  // watched during the wait can end the run. Should the wait not watch it,
  // the pipe closes after a few seconds and the run ends another way.
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  const int savedInput = ::dup(STDIN_FILENO);
  ASSERT_GE(savedInput, 0);
  ASSERT_EQ(::dup2(pipeEnds[0], STDIN_FILENO), STDIN_FILENO);
  ::close(pipeEnds[0]);
  std::thread pull([this] {
    // The zero reading is awaited by then.
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    sim_->Stop();
  });
  std::atomic<bool> ended{false};
  std::thread safety([&ended, writeEnd = pipeEnds[1]] {
    for (int wait = 0; wait < 100 && !ended.load(); ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::close(writeEnd);
  });
  std::vector<std::string> args = {"rolta-cli", "--port", sim_->SlavePath(), "calibrate", "FL", "--serial", "LC-7"};
  for (double load : kLoads) args.insert(args.end(), {"--load", std::to_string(load)});
  const CliRun run = RunCliCaptured(args, interrupted_);
  ended = true;
  pull.join();
  safety.join();
  ::dup2(savedInput, STDIN_FILENO);
  ::close(savedInput);
  std::cin.clear();
  ::clearerr(stdin);

  EXPECT_EQ(run.code, cli::kExitCalibrationFailed) << run.out << run.err;
  EXPECT_NE(run.err.find("与控制器的连接已断开。"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("控制器的标定表保持不变。"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("No answer on standard input."), std::string::npos) << run.err;
}

}  // namespace
}  // namespace rolta::test
