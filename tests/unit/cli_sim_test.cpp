// rolta-cli end to end against the simulated controller on a pseudo-terminal:
// every command group, a backup restored to a fresh controller, and the exit
// codes of bad input, a missing or busy port and a silent or refusing controller.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "cli/cli_runner.h"
#include "controller_simulator.h"
#include "link/comm_port.h"

namespace rolta::test {
namespace {

namespace fs = std::filesystem;

struct CliRun {
  int code;
  std::string out;
  std::string err;
};

class CliAgainstSimulator : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("rolta-cli-test-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
    previous_ = fs::current_path();
    fs::current_path(folder_);  // stab.qrx goes to the current folder, as the console puts it
    sim_ = StartSimulator();
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(folder_);
  }
  static std::unique_ptr<sim::ControllerSimulator> StartSimulator() {
    sim::SimulatorOptions options;
    options.periodMs = 20;
    auto simulator = std::make_unique<sim::ControllerSimulator>(options);
    EXPECT_TRUE(simulator->Start());
    return simulator;
  }
  CliRun Run(sim::ControllerSimulator& simulator, std::vector<std::string> args) {
    args.insert(args.begin(), {"rolta-cli", "--port", simulator.SlavePath(), "--timeout", "1"});
    std::ostringstream out;
    std::ostringstream err;
    const int code = cli::RunCli(args, out, err, interrupted_);
    return {code, out.str(), err.str()};
  }
  CliRun Run(std::vector<std::string> args) { return Run(*sim_, std::move(args)); }
  fs::path File(const std::string& name, const std::string& text) {
    std::ofstream(folder_ / name, std::ios::binary) << text;
    return folder_ / name;
  }
  static std::string Read(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }

  fs::path folder_;
  fs::path previous_;
  std::unique_ptr<sim::ControllerSimulator> sim_;
  std::atomic<bool> interrupted_{false};
};

TEST_F(CliAgainstSimulator, VersionExecEstopAndMonitor) {
  CliRun run = Run({"version"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("Ver7.34"), std::string::npos) << run.out;

  run = Run({"exec", "恒速测试", "--a", "50", "--wait"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find(" 16\t"), std::string::npos) << run.out;  // "Numth: n 16"
  const std::vector<sim::ReceivedCommand> received = sim_->ReceivedCommands();
  ASSERT_FALSE(received.empty());
  // The console's frame for 50 into position 0: 55 AA 10 05 ... 00 00 48 42.
  EXPECT_EQ(received.back().frame, (std::vector<std::uint8_t>{0x55, 0xAA, 0x10, 0x05, 0x62, 0xFE, 0, 0, 0, 0x48, 0x42}));

  run = Run({"monitor", "--jsonl", "--duration", "0.3"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("\"type\":16"), std::string::npos) << run.out;

  run = Run({"estop"});
  EXPECT_EQ(run.code, 0) << run.err;
  ASSERT_TRUE(sim_->WaitForReceived(received.size() + 1, std::chrono::seconds(2)));
  EXPECT_EQ(sim_->ReceivedCommands().back().code, 29);
}

TEST_F(CliAgainstSimulator, ParamsChannelsAndTablesAreWrittenAndReadBack) {
  CliRun run = Run({"params", "set", File("p.json", R"({"settings": {"encoderTeeth": 720, "liftSpeed": 5}})")});
  EXPECT_EQ(run.code, 0) << run.err;
  run = Run({"params", "get", "--json"});
  EXPECT_NE(run.out.find("\"encoderTeeth\": 720,"), std::string::npos) << run.out;

  run = Run({"channels", "set", File("c.json", R"({"channels": {"涡流机": 7, "升限位": 200}})")});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(sim_->ChannelMap()[0], 7);
  EXPECT_EQ(sim_->ChannelMap()[18], 200);  // both copies of the limit switch
  EXPECT_EQ(sim_->ChannelMap()[35], 200);

  run = Run({"calib", "set", "speed", File("s.csv", "first,second\n0,0\n1.5,2.25\n")});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(Run({"calib", "get", "speed", "--csv"}).out, "first,second\n0,0\n1.5,2.25\n");
  EXPECT_EQ(fs::file_size(folder_ / "stab.qrx"), 82u);

  std::string fifty = "first,second\n";
  for (int i = 0; i < 50; ++i) fifty += std::to_string(i) + "," + std::to_string(i * 3) + ".5\n";
  run = Run({"calib", "set", "VarTab", File("v.csv", fifty)});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(Run({"calib", "get", "var", "--csv"}).out, fifty);
}

TEST_F(CliAgainstSimulator, BackupRestoredToAFreshControllerGivesTheSameBackup) {
  ASSERT_EQ(Run({"params", "set", File("p.json", R"({"settings": {"rollerSize": 218.5, "exitWaitSeconds": 42}})")}).code, 0);
  ASSERT_EQ(Run({"calib", "set", "loss", File("l.csv", "1,2\n3,4\n5,6\n")}).code, 0);
  CliRun run = Run({"backup", (folder_ / "one").string()});
  ASSERT_EQ(run.code, 0) << run.err;

  auto fresh = StartSimulator();
  run = Run(*fresh, {"restore", (folder_ / "one").string()});
  ASSERT_EQ(run.code, 0) << run.err;
  ASSERT_EQ(Run(*fresh, {"backup", (folder_ / "two").string()}).code, 0);
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(folder_ / "one")) {
    EXPECT_EQ(Read(entry.path()), Read(folder_ / "two" / entry.path().filename())) << entry.path();
    ++files;
  }
  EXPECT_EQ(files, 13u);

  // A restore checks every file first: one bad table sends nothing at all.
  std::ofstream(folder_ / "one" / "calib-var.csv", std::ios::app) << "x,1\n";
  auto third = StartSimulator();
  run = Run(*third, {"restore", (folder_ / "one").string()});
  EXPECT_EQ(run.code, 2);
  EXPECT_NE(run.err.find("calib-var.csv"), std::string::npos) << run.err;
  EXPECT_EQ(third->ReceivedCount(), 0u);
}

TEST_F(CliAgainstSimulator, UpgradeLoadsTheRomFile) {
  std::string rom(1000, '\0');
  for (std::size_t i = 0; i < rom.size(); ++i) rom[i] = static_cast<char>(i * 7);
  const CliRun run = Run({"upgrade", File("new.ROM", rom).string()});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(sim_->FirmwareComplete());
  EXPECT_EQ(sim_->FirmwareImage(), std::vector<std::uint8_t>(rom.begin(), rom.end()));
}

TEST_F(CliAgainstSimulator, ExitCodesOfBadInputPortsAndControllers) {
  struct Row {
    std::vector<std::string> args;
    sim::FaultSet faults;
    int code;
    std::string errorHas;
  };
  const Row rows[] = {
      {{"exec", "91"}, {}, cli::kExitUsage, "no catalogue position"},
      {{"exec", "没有这个"}, {}, cli::kExitUsage, "no catalogue position"},
      {{"exec", "9"}, {}, cli::kExitUsage, "external program"},
      {{"params", "set", File("bad.json", "{\"settings\": {\"liftSpeed\": 9}}").string()}, {}, cli::kExitUsage, "liftSpeed"},
      {{"params", "set", File("broken.json", "{\"settings\": ").string()}, {}, cli::kExitUsage, "not valid JSON"},
      {{"channels", "set", File("bad-c.json", "{\"channels\": {\"涡流机\": 300}}").string()}, {}, cli::kExitUsage, "涡流机"},
      {{"calib", "set", "speed", File("bad.csv", "1,2\nfoo\n").string()}, {}, cli::kExitUsage, "line 2"},
      {{"calib", "get", "nothing"}, {}, cli::kExitUsage, "no table"},
      {{"params", "set", "/no/such/file.json"}, {}, cli::kExitUsage, "/no/such/file.json"},
      {{"upgrade", "/no/such/file.ROM"}, {}, cli::kExitUsage, "/no/such/file.ROM"},
      {{"version"}, {sim::SimFault::Silence}, cli::kExitTimeOut, "did not answer"},
      {{"calib", "get", "var"}, {sim::SimFault::Silence}, cli::kExitTimeOut, "calib var"},
      {{"exec", "0", "--a", "50", "--wait"}, {sim::SimFault::Reject}, cli::kExitRefused, "refused"},
      {{"params", "get"}, {sim::SimFault::Reject}, cli::kExitRefused, "refused"},
  };
  for (const Row& row : rows) {
    sim_->SetFaults(row.faults);
    sim_->ClearReceived();
    const CliRun run = Run(row.args);
    const std::string name = ::testing::PrintToString(row.args);
    EXPECT_EQ(run.code, row.code) << name << ": " << run.err;
    EXPECT_NE(run.err.find(row.errorHas), std::string::npos) << name << ": " << run.err;
    if (row.code == cli::kExitUsage) {
      EXPECT_EQ(sim_->ReceivedCount(), 0u) << name << ": nothing may be sent";
    }
  }
  sim_->SetFaults({});

  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(cli::RunCli({"rolta-cli", "--port", (folder_ / "missing").string(), "version"}, out, err, interrupted_),
            cli::kExitPortError);
  EXPECT_NE(err.str().find("missing"), std::string::npos) << err.str();

  CCommPort holder;  // another program holds the line
  ASSERT_EQ(holder.Open(sim_->SlavePath(), 8, 0, 0, 115200), 1);
  EXPECT_EQ(Run({"version"}).code, cli::kExitPortError);
}

}  // namespace
}  // namespace rolta::test
