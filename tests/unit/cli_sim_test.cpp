// rolta-cli end to end against the simulated controller on a pseudo-terminal:
// every command group, a backup restored to a fresh controller, and the exit
// codes of bad input, a missing or busy port and a silent or refusing controller.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <cstring>
#include <random>

#include "cli/cli_args.h"
#include "cli/cli_documents.h"
#include "config/controller_params.h"
#include "controller_model.h"
#include "cli/cli_runner.h"
#include "cli_run.h"
#include "controller_simulator.h"
#include "link/command_codes.h"
#include "link/comm_port.h"

#include <csignal>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

namespace rolta::test {
namespace {

namespace fs = std::filesystem;

class CliAgainstSimulator : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("rolta-cli-test-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
    previous_ = fs::current_path();
    fs::current_path(folder_);
    // The safety limits are the defaults, whatever the user running the tests set.
    ::setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);  // stab.qrx goes to the current folder, as the console puts it
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
    if (std::find(args.begin(), args.end(), "--timeout") == args.end()) args.insert(args.begin(), {"--timeout", "1"});
    args.insert(args.begin(), {"rolta-cli", "--port", simulator.SlavePath()});
    return RunCliCaptured(args, interrupted_);
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
  EXPECT_EQ(received.back().frame,
            (std::vector<std::uint8_t>{0x55, 0xAA, 0x10, 0x05, 0x62, 0xFE, 0, 0, 0, 0x48, 0x42}));

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
  ASSERT_EQ(
      Run({"params", "set", File("p.json", R"({"settings": {"rollerSize": 218.5, "exitWaitSeconds": 42}})")}).code, 0);
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
      {{"params", "set", File("bad.json", "{\"settings\": {\"liftSpeed\": 9}}").string()},
       {},
       cli::kExitUsage,
       "liftSpeed"},
      {{"params", "set", File("broken.json", "{\"settings\": ").string()}, {}, cli::kExitUsage, "not valid JSON"},
      {{"channels", "set", File("bad-c.json", "{\"channels\": {\"涡流机\": 300}}").string()},
       {},
       cli::kExitUsage,
       "涡流机"},
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

TEST_F(CliAgainstSimulator, HostileInputIsRefusedBeforeAnythingIsSent) {
  std::string deep = "{\"channels\": {\"涡流机\": " + std::string(100000, '[') + std::string(100000, ']') + "}}";
  std::string unclosed = "{\"settings\": " + std::string(10 * 1024 * 1024, '[');
  fs::create_directory(folder_ / "d");
  ASSERT_EQ(::mkfifo((folder_ / "fifo").c_str(), 0600), 0);
  const std::string huge = File("unclosed.json", unclosed).string();
  struct Row {
    std::vector<std::string> args;
    int code;
    std::string errorHas;
  };
  const Row rows[] = {
      {{"params", "set", File("o.json", R"({"settings": {"rollerSize": 1e999}})").string()}, 2, "rollerSize"},
      {{"channels", "set", File("o-c.json", R"({"channels": {"涡流机": 1e999}})").string()}, 2, "涡流机"},
      {{"channels", "set", File("deep.json", deep).string()}, 2, "deep.json"},
      {{"params", "set", huge}, 2, "larger than"},
      {{"exec", "恒速测试", "--a", "abc"}, 2, "--a"},
      {{"exec", "恒速测试", "--a", "nan"}, 2, "--a"},
      {{"exec", "恒速测试", "--a", "inf"}, 2, "--a"},
      {{"exec", "恒速测试", "--a", "0x1A"}, 2, "--a"},
      {{"exec", "恒速测试", "--a", "12abc"}, 2, "--a"},
      {{"exec", "恒速测试", "--a", "1e400"}, 2, "--a"},
      {{"exec", "恒速测试", "--a", "1e39", "--confirm-limits"}, 2, "out of range"},
      {{"exec", "恒速测试", "--a", "250"}, 2, "--confirm-limits"},
      {{"calib", "set", "temperature", (folder_ / "d").string()}, 2, "folder"},
      {{"calib", "set", "speed", (folder_ / "fifo").string()}, 2, "not a regular file"},
      {{"calib", "set", "speed", "/dev/zero"}, 2, "not a regular file"},
      {{"calib", "set", "temperature", File("empty.csv", "first,second\n").string()}, 2, "--allow-empty"},
      {{"restore", (folder_ / "d").string()}, 2, "manifest.json"},
      // Positions whose console boxes point at its buttons name the commands instead.
      {{"exec", "22"}, 2, "calib set torque-fl"},
      {{"exec", "27"}, 2, "params set"},
  };
  for (const Row& row : rows) {
    sim_->ClearReceived();
    const CliRun run = Run(row.args);
    const std::string name = ::testing::PrintToString(row.args).substr(0, 120);
    EXPECT_EQ(run.code, row.code) << name << ": " << run.err;
    EXPECT_NE(run.err.find(row.errorHas), std::string::npos) << name << ": " << run.err;
    EXPECT_EQ(sim_->ReceivedCount(), 0u) << name << ": nothing may be sent";
  }
  EXPECT_FALSE(fs::exists(folder_ / "stab.qrx"));

  // Asked for explicitly, both go out.
  EXPECT_EQ(Run({"exec", "恒速测试", "--a", "250", "--confirm-limits"}).code, 0);
  EXPECT_EQ(Run({"calib", "set", "temperature", "--allow-empty", (folder_ / "empty.csv").string()}).code, 0);
}

TEST_F(CliAgainstSimulator, AHangUpEndsAWaitWithinASecond) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--timeout", "30", "exec", "空载滑行", "--wait"},
        std::vector<std::string>{"--timeout", "30", "monitor", "--duration", "30"}}) {
    sim::SimulatorOptions options;
    options.periodMs = 20;
    options.hangupAfterMs = 1;  // at once when the fault is switched on
    sim::ControllerSimulator simulator(options);
    ASSERT_TRUE(simulator.Start());
    simulator.SetFaults({sim::SimFault::Silence});
    std::thread hangUp([&simulator] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      simulator.SetFaults({sim::SimFault::Silence, sim::SimFault::Hangup});
    });
    const auto start = std::chrono::steady_clock::now();
    const CliRun run = Run(simulator, args);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    hangUp.join();
    EXPECT_EQ(run.code, cli::kExitPortError) << args[2] << ": " << run.err;
    EXPECT_NE(run.err.find("lost"), std::string::npos) << run.err;
    EXPECT_LT(seconds, 1.3) << args[2];
  }
}

// Everything in a folder, by name, for comparing two states of it.
std::map<std::string, std::string> FolderContents(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    std::ifstream file(entry.path(), std::ios::binary);
    files[entry.path().filename().string()] = std::string(std::istreambuf_iterator<char>(file), {});
  }
  return files;
}

TEST_F(CliAgainstSimulator, ABackupIsWrittenWholeOrNotAtAll) {
  const fs::path first = folder_ / "first";
  ASSERT_EQ(Run({"backup", first.string()}).code, 0);
  const auto good = FolderContents(first);
  EXPECT_EQ(good.size(), 13u);

  ASSERT_EQ(Run({"params", "set", File("p.json", R"({"settings": {"encoderTeeth": 720}})")}).code, 0);
  CliRun run = Run({"backup", first.string()});
  EXPECT_EQ(run.code, cli::kExitUsage);
  EXPECT_NE(run.err.find("--force"), std::string::npos) << run.err;
  EXPECT_EQ(FolderContents(first), good);

  // A disk that takes no more than a few hundred bytes a file.
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit previous{};
  ::getrlimit(RLIMIT_FSIZE, &previous);
  rlimit tight = previous;
  tight.rlim_cur = 300;
  ::setrlimit(RLIMIT_FSIZE, &tight);
  const CliRun full = Run({"backup", (folder_ / "second").string()});
  const CliRun fullForced = Run({"backup", "--force", first.string()});
  ::setrlimit(RLIMIT_FSIZE, &previous);
  EXPECT_EQ(full.code, cli::kExitUsage) << full.err;
  EXPECT_NE(full.err.find("could not be written"), std::string::npos) << full.err;
  EXPECT_NE(fullForced.code, 0);
  EXPECT_FALSE(fs::exists(folder_ / "second"));
  EXPECT_EQ(FolderContents(first), good) << "a failed backup never touches an existing one";
  for (const auto& entry : fs::directory_iterator(folder_)) {
    EXPECT_NE(entry.path().filename().string().front(), '.') << "left behind: " << entry.path();
  }

  std::ofstream(first / "notes.txt") << "an operator's own file";
  run = Run({"backup", "--force", first.string()});
  EXPECT_EQ(run.code, 0) << run.err;
  const auto replaced = FolderContents(first);
  EXPECT_EQ(replaced.count("notes.txt"), 0u) << "replaced whole";
  EXPECT_NE(replaced.at("params.json").find("\"encoderTeeth\": 720"), std::string::npos);
}

TEST_F(CliAgainstSimulator, ARestoreBacksUpTheStateItReplacesAndSaysWhereItStopped) {
  const fs::path source = folder_ / "source";
  ASSERT_EQ(Run({"backup", source.string()}).code, 0);
  ASSERT_EQ(Run({"params", "set", File("p.json", R"({"settings": {"encoderTeeth": 720}})")}).code, 0);

  // The controller stops answering half-way through the restore: once the
  // parameter record was written and its read-back asked for (that answer
  // may still get out, or not).
  sim_->ClearReceived();
  std::atomic<bool> done{false};
  std::thread silence([this, &done] {
    while (!done.load()) {
      const auto log = sim_->ReceivedCommands();
      const auto write = std::find_if(log.begin(), log.end(),
                                      [](const sim::ReceivedCommand& c) { return c.code == command::kParamWrite; });
      if (write != log.end() && write + 1 != log.end()) {
        sim_->SetFaults({sim::SimFault::Silence});
        return;
      }
      std::this_thread::yield();
    }
  });
  CliRun run = Run({"restore", source.string()});
  done.store(true);
  silence.join();
  sim_->SetFaults({});
  EXPECT_EQ(run.code, cli::kExitTimeOut) << run.err;
  // Where it stopped depends on how fast the silence came; what it says
  // about each part must follow from that.
  std::vector<std::string> steps = {"params", "channels"};
  for (const cli::CalibName& name : cli::CalibNames()) steps.push_back("calib " + std::string(name.name));
  const auto list = [&steps](std::size_t from, std::size_t to) {
    std::string text;
    for (std::size_t i = from; i < to; ++i) text += (text.empty() ? "" : ", ") + steps[i];
    return text.empty() ? std::string("-") : text;
  };
  std::size_t stopped = 0;
  while (stopped < steps.size() &&
         run.err.find("The restore stopped at " + steps[stopped] + ".\n") == std::string::npos) {
    ++stopped;
  }
  ASSERT_LT(stopped, steps.size()) << run.err;
  EXPECT_NE(run.err.find("now holding the backup's values: " + list(0, stopped) + "\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("unknown, the write failed: " + steps[stopped] + "\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("still holding the previous values: " + list(stopped + 1, steps.size()) + "\n"),
            std::string::npos)
      << run.err;
  const std::size_t command = run.err.find("rolta-cli --port");
  ASSERT_NE(command, std::string::npos) << run.err;

  fs::path safety;
  for (const auto& entry : fs::directory_iterator(folder_)) {
    if (entry.path().filename().string().starts_with("source.before-")) safety = entry.path();
  }
  ASSERT_FALSE(safety.empty());
  EXPECT_NE(run.err.find(safety.filename().string(), command), std::string::npos) << run.err;
  EXPECT_NE(FolderContents(safety).at("params.json").find("\"encoderTeeth\": 720"), std::string::npos);

  // The printed command puts the previous state back.
  run = Run({"restore", "--no-safety-backup", safety.string()});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(Run({"params", "get", "--json"}).out.find("\"encoderTeeth\": 720"), std::string::npos);
}

// A controller whose memory holds anything at all: random bytes, with the
// floats set to what an erased or damaged one holds.
void FillWithRandomRecords(sim::ControllerSimulator& peer, std::mt19937& random, std::uint32_t specialBits) {
  std::array<std::uint8_t, sim::kParamRecordSize> record{};
  for (auto& byte : record) byte = static_cast<std::uint8_t>(random());
  const auto put = [&record](std::size_t frameOffset, std::uint32_t bits) {
    std::memcpy(&record[frameOffset - kPayloadOffset], &bits, 4);
  };
  put(14, specialBits);  // rollerSize
  put(53, 0xFFFFFFFF);   // stabilityBand, erased
  peer.SetParamRecord(record);
  for (const sim::CalibSlot& slot : sim::CalibSlots()) {
    std::vector<std::uint8_t> image(sim::CalibImageSize(slot.capacity));
    for (auto& byte : image) byte = static_cast<std::uint8_t>(random());
    const auto count = static_cast<std::int16_t>(random() % (slot.capacity + 1));
    std::memcpy(image.data(), &count, 2);
    std::memcpy(image.data() + 2, &specialBits, 4);
    ASSERT_TRUE(peer.SetCalibImage(slot.requestCode, image));
  }
}

TEST_F(CliAgainstSimulator, RandomRecordsWithNonFiniteValuesComeBackBitForBit) {
  std::mt19937 random(20261209);
  const std::uint32_t specials[] = {0xFFFFFFFF, 0x7F800000, 0xFF800000, 0x7F7FFFFF, 0x80000000, 0x7FC00001};
  for (std::uint32_t special : specials) {
    auto original = StartSimulator();
    FillWithRandomRecords(*original, random, special);
    const fs::path folder = folder_ / ("random-" + std::to_string(special));
    CliRun run = Run(*original, {"backup", folder.string()});
    ASSERT_EQ(run.code, 0) << run.err;

    auto fresh = StartSimulator();
    run = Run(*fresh, {"restore", "--no-safety-backup", folder.string()});
    ASSERT_EQ(run.code, 0) << std::hex << special << ": " << run.err;
    const auto decoded = [](const std::array<std::uint8_t, sim::kParamRecordSize>& record) {
      return DecodeParams(std::span<const std::uint8_t, kParamsPayloadLength>(record.data(), record.size()));
    };
    EXPECT_EQ(cli::ParamsDifferences(decoded(original->ParamRecord()), decoded(fresh->ParamRecord())),
              std::vector<std::string>{});
    for (const sim::CalibSlot& slot : sim::CalibSlots()) {
      const auto image = original->CalibImage(slot.requestCode);
      std::int16_t count = 0;
      std::memcpy(&count, image.data(), 2);
      // The count, then the first column's points, then the second's.
      const auto back = fresh->CalibImage(slot.requestCode);
      const auto points = [&slot, count](const std::vector<std::uint8_t>& table) {
        std::vector<std::uint8_t> used(table.begin(), table.begin() + 2 + 4 * count);
        const auto second = table.begin() + 2 + 4 * static_cast<std::ptrdiff_t>(slot.capacity);
        used.insert(used.end(), second, second + 4 * count);
        return used;
      };
      EXPECT_EQ(points(image), points(back)) << "table " << int(slot.requestCode) << " with " << std::hex << special;
    }
  }
}

TEST_F(CliAgainstSimulator, OutputThatCannotBeWrittenIsAnError) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"params", "get", "--json"}, std::vector<std::string>{"calib", "get", "loss"},
        std::vector<std::string>{"monitor", "--duration", "1"}}) {
    std::vector<std::string> full = args;
    full.insert(full.begin(), {"rolta-cli", "--port", sim_->SlavePath(), "--timeout", "1"});
    std::ostream unwritable(nullptr);  // every write fails, as on a full disk
    std::ostringstream err;
    EXPECT_EQ(cli::RunCli(full, unwritable, err, interrupted_), cli::kExitOutputFailed) << args[0] << err.str();
    EXPECT_NE(err.str().find("could not be written"), std::string::npos) << err.str();
  }
}

}  // namespace
}  // namespace rolta::test
