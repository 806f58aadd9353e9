// rolta-cli's command line: commands, options, bad usage and its exit codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_args.h"

namespace rolta::test {
namespace {

using cli::Command;
using cli::OutputFormat;

struct ArgsRow {
  std::vector<std::string> args;
  int exitCode;     // when no request comes back
  Command command;  // when one does
  std::string errorHas;
};

TEST(CliArgs, CommandsOptionsAndBadUsage) {
  const ArgsRow rows[] = {
      {{"ports"}, 0, Command::Ports, ""},
      {{"--port", "ttyS1", "--baud", "57600", "version"}, 0, Command::Version, ""},
      {{"exec", "0", "--a", "50", "--wait"}, 0, Command::Exec, ""},
      {{"exec", "加载飞轮", "--flywheels", "1,3"}, 0, Command::Exec, ""},
      {{"estop"}, 0, Command::EmergencyStop, ""},
      {{"params", "get", "--json"}, 0, Command::ParamsGet, ""},
      {{"params", "set", "p.json"}, 0, Command::ParamsSet, ""},
      {{"channels", "set", "c.json"}, 0, Command::ChannelsSet, ""},
      {{"calib", "get", "var", "--csv"}, 0, Command::CalibGet, ""},
      {{"calib", "set", "speed", "s.csv"}, 0, Command::CalibSet, ""},
      {{"backup", "dir"}, 0, Command::Backup, ""},
      {{"restore", "dir"}, 0, Command::Restore, ""},
      {{"upgrade", "a.ROM"}, 0, Command::Upgrade, ""},
      {{"monitor", "--jsonl", "--duration", "2.5"}, 0, Command::Monitor, ""},
      {{"monitor", "--mqtt", "--bench", "B7"}, 0, Command::Monitor, ""},
      {{"line", "--json", "--duration", "1"}, 0, Command::LineView, ""},
      // Bad usage: code 2, and the message says what.
      {{}, 2, Command::None, "subcommand"},
      {{"frobnicate"}, 2, Command::None, "subcommand"},
      {{"--baud", "4800", "version"}, 2, Command::None, "4800"},
      {{"--timeout", "0", "version"}, 2, Command::None, "timeout"},
      {{"params"}, 2, Command::None, "subcommand"},
      {{"params", "set"}, 2, Command::None, "file"},
      {{"calib", "get"}, 2, Command::None, "channel"},
      {{"exec", "0", "--flywheels", "1,5"}, 2, Command::None, "--flywheels"},
      {{"exec", "0", "--flywheels", ""}, 2, Command::None, "--flywheels"},
      {{"monitor", "--csv", "--jsonl"}, 2, Command::None, "exclude"},
      {{"exec", "0", "--a"}, 2, Command::None, "--a"},
      {{"monitor", "--mqtt", "--bench", "a/b"}, 2, Command::None, "bench"},
      // Help and version end the program with 0.
      {{"--help"}, 0, Command::None, ""},
      {{"params", "set", "--help"}, 0, Command::None, ""},
      {{"--version"}, 0, Command::None, ""},
  };
  for (const ArgsRow& row : rows) {
    std::vector<std::string> args{"rolta-cli"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const cli::ParseResult result = cli::ParseCliArgs(args);
    const std::string name = ::testing::PrintToString(row.args);
    if (row.command == Command::None) {
      EXPECT_FALSE(result.request) << name;
      EXPECT_EQ(result.exitCode, row.exitCode) << name;
      EXPECT_NE(result.error.find(row.errorHas), std::string::npos) << name << ": " << result.error;
      if (row.exitCode == 0) {
        EXPECT_FALSE(result.output.empty()) << name;
      }
    } else {
      ASSERT_TRUE(result.request) << name << ": " << result.error;
      EXPECT_EQ(result.request->command, row.command) << name;
    }
  }
}

TEST(CliArgs, ExecValuesReachTheRequest) {
  const cli::ParseResult result =
      cli::ParseCliArgs({"rolta-cli", "--port", "/dev/x", "--timeout", "1.5", "exec", "8", "--start-speed", "100",
                         "--end-speed", " 10", "--m", "abc", "--flywheels", "4,1", "--wait"});
  ASSERT_TRUE(result.request);
  const cli::CliRequest& r = *result.request;
  EXPECT_EQ(r.port, "/dev/x");
  EXPECT_EQ(r.timeoutSeconds, 1.5);
  EXPECT_EQ(r.position, "8");
  EXPECT_EQ(r.startSpeed, "100");
  EXPECT_EQ(r.endSpeed, " 10");  // the console's conversion rules see the text as typed
  EXPECT_EQ(r.paramM, "abc");
  EXPECT_FALSE(r.paramA);
  EXPECT_EQ(r.flywheels, (std::array<bool, 4>{true, false, false, true}));
  EXPECT_TRUE(r.wait);
  EXPECT_EQ(cli::ParseCliArgs({"rolta-cli", "--version"}).output.rfind("rolta-cli ", 0), 0u);
}

}  // namespace
}  // namespace rolta::test
