// rolta-cli's own changes in the service history, end to end against the
// simulated controller: a parameter write and a calibration store become
// entries that `history show`, `diff` and `export` give back, and a change
// is not sent when its history cannot be written.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>

#include "cli/cli_runner.h"
#include "cli_run.h"
#include "controller_simulator.h"
#include "temp_folder.h"

namespace rolta::test {
namespace {

namespace fs = std::filesystem;

class HistoryCli : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("XDG_DATA_HOME", (folder_.path() / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (folder_.path() / "config").c_str(), 1);
    fs::create_directories(folder_.path() / "config" / "rolta");
    std::ofstream(folder_.path() / "config" / "rolta" / "service.conf") << "bench=Bench 7\nengineer=Li Wei\n";
    previous_ = fs::current_path();
    fs::current_path(folder_.path());  // stab.qrx
    sim::SimulatorOptions options;
    options.periodMs = 20;
    sim_ = std::make_unique<sim::ControllerSimulator>(options);
    ASSERT_TRUE(sim_->Start());
  }
  void TearDown() override { fs::current_path(previous_); }

  CliRun Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"rolta-cli", "--port", sim_->SlavePath(), "--timeout", "1"});
    return RunCliCaptured(args, interrupted_);
  }
  fs::path File(const std::string& name, const std::string& text) {
    std::ofstream(folder_.path() / name, std::ios::binary) << text;
    return folder_.path() / name;
  }

  TempFolder folder_;
  fs::path previous_;
  std::unique_ptr<sim::ControllerSimulator> sim_;
  std::atomic<bool> interrupted_{false};
};

TEST_F(HistoryCli, WritesAndStoresBecomeEntriesThatComeBack) {
  CliRun run = Run({"params", "set", File("p.json", R"({"settings": {"rollerSize": 220}})")});
  ASSERT_EQ(run.code, 0) << run.err;
  run = Run({"calib", "set", "前左力矩", File("a.csv", "first,second\n0,0\n1,100\n")});
  ASSERT_EQ(run.code, 0) << run.err;
  run = Run({"calib", "set", "前左力矩", File("b.csv", "first,second\n0,0\n1,101.5\n")});
  ASSERT_EQ(run.code, 0) << run.err;

  run = Run({"history", "list"});
  ASSERT_EQ(run.code, 0) << run.err;
  // A connect before each change.
  EXPECT_NE(run.out.find("connect  Bench 7  Li Wei"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("2  "), std::string::npos) << run.out;
  run = Run({"history", "list", "--kind", "params"});
  ASSERT_EQ(run.code, 0) << run.err;
  const std::string paramsId = run.out.substr(0, run.out.find(' '));
  run = Run({"history", "show", paramsId});
  EXPECT_NE(run.out.find("changed.1: 滚筒尺寸：216.00 → 滚筒尺寸：220.00"), std::string::npos) << run.out;

  run = Run({"history", "list", "--kind", "calib"});
  std::istringstream lines(run.out);
  std::string first;
  std::string second;
  std::getline(lines, first);
  std::getline(lines, second);
  run = Run({"history", "diff", first.substr(0, first.find(' ')), second.substr(0, second.find(' '))});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("after.2: 1  100 → 1  101.5"), std::string::npos) << run.out;
  run = Run({"history", "show", second.substr(0, second.find(' '))});
  EXPECT_NE(run.out.find("before.2: 1  100\n"), std::string::npos) << run.out;  // the table it replaced

  run = Run({"history", "export", (folder_.path() / "h.csv").string(), "--kind", "calib"});
  ASSERT_EQ(run.code, 0) << run.err;
  std::ifstream csv(folder_.path() / "h.csv");
  const std::string text((std::istreambuf_iterator<char>(csv)), {});
  EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 3) << text;
  EXPECT_EQ(Run({"history", "show", "999"}).code, cli::kExitUsage);
  EXPECT_EQ(Run({"history", "list", "--from", "yesterday"}).code, cli::kExitUsage);
}

TEST_F(HistoryCli, AChangeIsNotSentWhenTheHistoryIsDamaged) {
  const fs::path path = folder_.path() / "data" / "rolta" / "history.sqlite";
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << std::string(1024, 'x');
  const std::size_t received = sim_->ReceivedCount();
  const CliRun run = Run({"calib", "set", "前左力矩", File("a.csv", "first,second\n0,0\n1,100\n")});
  EXPECT_EQ(run.code, cli::kExitHistory);
  EXPECT_NE(run.err.find(path.string()), std::string::npos) << run.err;
  EXPECT_EQ(sim_->ReceivedCount(), received);
  EXPECT_EQ(Run({"history", "list"}).code, cli::kExitHistory);
  EXPECT_EQ(Run({"version"}).code, 0);  // reading goes on without it
  EXPECT_EQ(fs::file_size(path), 1024u);
}

}  // namespace
}  // namespace rolta::test
