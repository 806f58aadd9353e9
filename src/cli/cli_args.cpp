#include "cli/cli_args.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <sstream>

#include "cli/cli_calibrate.h"
#include "commands/catalogue.h"
#include "commands/input_checks.h"
#include "rolta_version.h"
#include "testline/testline_settings.h"

namespace rolta::cli {
namespace {

constexpr const char* kFooter =
    "Exit codes: 0 done, 2 bad usage or input, 3 time-out, 4 the controller refused,\n"
    "5 port error or line lost, 6 the output could not be written,\n"
    "7 calibrate: as left fails or the run did not complete, 8 service history unavailable,\n"
    "130 interrupted.\n"
    "Port and speed default to the console's settings file.";

// The speeds the console's speed list offers.
constexpr unsigned kBauds[] = {9600, 19200, 38400, 57600, 115200};

constexpr ExecOption kExecOptions[] = {
    {"--a", &CliRequest::paramA, CommandInput::ParamA},
    {"--b", &CliRequest::paramB, CommandInput::ParamB},
    {"--m", &CliRequest::paramM, CommandInput::ParamM},
    {"--c", &CliRequest::paramC, CommandInput::ParamC},
    {"--start-speed", &CliRequest::startSpeed, CommandInput::StartSpeed},
    {"--end-speed", &CliRequest::endSpeed, CommandInput::EndSpeed},
    {"--start-load", &CliRequest::startLoad, CommandInput::StartLoad},
    {"--end-load", &CliRequest::endLoad, CommandInput::EndLoad},
};

}  // namespace

std::span<const ExecOption> ExecOptions() { return kExecOptions; }

const ExecOption* ExecOptionOf(CommandInput input) {
  for (const ExecOption& option : kExecOptions) {
    if (option.input == input) return &option;
  }
  return nullptr;
}

std::optional<std::array<bool, 4>> ParseFlywheels(const std::string& text) {
  std::array<bool, 4> wheels{};
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string_view item(text.data() + start, comma - start);
    int number = 0;
    const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), number);
    if (item.empty() || error != std::errc{} || end != item.data() + item.size() || number < 1 || number > 4) {
      return std::nullopt;
    }
    wheels[static_cast<std::size_t>(number - 1)] = true;
    start = comma + 1;
  }
  return wheels;
}

ParseResult ParseCliArgs(const std::vector<std::string>& args, const TextLookup* texts) {
  const auto label = [texts](std::string_view text) {
    return texts != nullptr ? texts->Lookup(text) : std::string(text);
  };
  CliRequest request;
  CLI::App app{"Runs the QRX5000B controller's operations from the command line.",
               args.empty() ? "rolta-cli" : args[0]};
  app.footer(kFooter);
  app.set_version_flag("--version", std::string("rolta-cli ") + kRoltaVersion);
  app.require_subcommand(1);
  app.fallthrough();
  app.add_option("--port", request.port, "serial port (a name without / means /dev/NAME)");
  app.add_option("--baud", request.baud, "line speed")
      ->check(CLI::IsMember(std::vector<unsigned>(std::begin(kBauds), std::end(kBauds))));
  app.add_option("--timeout", request.timeoutSeconds, "seconds to wait for each answer (default 3)")
      ->check(CLI::Range(0.1, 3600.0));

  Command chosen = Command::None;
  auto on = [&chosen](Command command) { return [&chosen, command] { chosen = command; }; };

  app.add_subcommand("ports", "list the serial ports as the console shows them")->callback(on(Command::Ports));
  app.add_subcommand("version", "ask the controller for its firmware version")->callback(on(Command::Version));

  std::string flywheels;
  CLI::App* exec = app.add_subcommand("exec", "execute a position of the command catalogue");
  exec->callback(on(Command::Exec));
  exec->add_option("position", request.position, "list position 0..90 or its caption")->required();
  for (const ExecOption& option : kExecOptions) {
    exec->add_option(std::string(option.flag), request.*option.value, label(InputFieldOf(option.input)->label));
  }
  exec->add_option("--flywheels", flywheels, "flywheels to load, e.g. 1,3");
  exec->add_flag("--wait", request.wait, "print the controller's first answer of the command's type");
  exec->add_flag("--confirm-limits", request.confirmLimits,
                 "send a speed, force or power set-point above its safety limit");

  app.add_subcommand("estop", "emergency stop")->callback(on(Command::EmergencyStop));

  bool json = false;
  bool csv = false;
  bool jsonl = false;
  auto addJson = [&json](CLI::App* sub) { sub->add_flag("--json", json, "print JSON"); };

  CLI::App* params = app.add_subcommand("params", "the controller's parameter record");
  params->require_subcommand(1);
  addJson(params->add_subcommand("get", "read the record")->callback(on(Command::ParamsGet)));
  CLI::App* paramsSet = params->add_subcommand("set", "write fields from a JSON file, read back");
  paramsSet->callback(on(Command::ParamsSet));
  paramsSet->add_option("file", request.path, "JSON file")->required();

  CLI::App* channels = app.add_subcommand("channels", "the hardware channel map");
  channels->require_subcommand(1);
  addJson(channels->add_subcommand("get", "read the map")->callback(on(Command::ChannelsGet)));
  CLI::App* channelsSet = channels->add_subcommand("set", "store fields from a JSON file, read back");
  channelsSet->callback(on(Command::ChannelsSet));
  channelsSet->add_option("file", request.path, "JSON file")->required();

  CLI::App* calib = app.add_subcommand("calib", "the calibration tables");
  calib->require_subcommand(1);
  CLI::App* calibGet = calib->add_subcommand("get", "read one table");
  calibGet->callback(on(Command::CalibGet));
  calibGet->add_option("channel", request.channel, "table name or caption")->required();
  calibGet->add_flag("--csv", csv, "print CSV with exact values");
  CLI::App* calibSet = calib->add_subcommand("set", "store one table from a CSV file, read back");
  calibSet->callback(on(Command::CalibSet));
  calibSet->add_option("channel", request.channel, "table name or caption")->required();
  calibSet->add_option("file", request.path, "CSV file")->required();
  calibSet->add_flag("--allow-empty", request.allowEmpty, "a file with no points erases the table");

  CLI::App* backup = app.add_subcommand("backup", "parameters, channel map and every table into a new folder");
  backup->callback(on(Command::Backup));
  backup->add_option("dir", request.path, "folder")->required();
  backup->add_flag("--force", request.force, "replace an existing backup folder whole");
  CLI::App* restore = app.add_subcommand(
      "restore", "check a backup folder whole, back up the controller's current state beside it, then send it");
  restore->callback(on(Command::Restore));
  restore->add_option("dir", request.path, "folder")->required();
  restore->add_flag("--no-safety-backup", request.noSafetyBackup,
                    "do not back up the controller's current state first");
  app.add_subcommand("upgrade", "load controller firmware; Ctrl-C cancels")
      ->callback(on(Command::Upgrade))
      ->add_option("file", request.path, "ROM file")
      ->required();

  CLI::App* monitor = app.add_subcommand("monitor", "print the controller's frames as they arrive");
  monitor->callback(on(Command::Monitor));
  monitor->add_flag("--csv", csv, "one CSV line a frame");
  monitor->add_flag("--jsonl", jsonl, "one JSON object a line");
  monitor->add_option("--duration", request.durationSeconds, "seconds (default: until Ctrl-C)")
      ->check(CLI::Range(0.0, 1e7));
  monitor->add_flag("--mqtt", request.mqtt, "publish state, readouts and events on the test line (MQTT)");
  monitor->add_option("--bench", request.bench, "the bench's name on the test line (default: the settings')")
      ->check([](const std::string& name) {
        return IsValidBenchName(name) ? std::string() : std::string("a bench name has no '/', '+' or '#'");
      });

  CLI::App* lineView = app.add_subcommand("line", "every bench of the test line as a live table");
  lineView->callback(on(Command::LineView));
  addJson(lineView);
  lineView->add_option("--duration", request.durationSeconds, "seconds (default: until Ctrl-C)")
      ->check(CLI::Range(0.0, 1e7));

  AddCalibrateCommand(app, request, on(Command::Calibrate));

  CLI::App* history = app.add_subcommand("history", "the service history of changes, certificates and reports");
  history->require_subcommand(1);
  const auto addFilter = [&request](CLI::App* sub) {
    sub->add_option("--kind", request.historyKind,
                    "connect, params, channels, calib, upgrade, calibration, coast-down");
    sub->add_option("--bench", request.historyBench, "bench name");
    sub->add_option("--from", request.historyFrom, "from this time, UTC: YYYY-MM-DD[ HH:MM[:SS]]");
    sub->add_option("--to", request.historyTo, "up to this time, UTC");
  };
  CLI::App* historyList = history->add_subcommand("list", "one line per entry");
  historyList->callback(on(Command::HistoryList));
  addFilter(historyList);
  CLI::App* historyShow = history->add_subcommand("show", "one entry with its fields");
  historyShow->callback(on(Command::HistoryShow));
  historyShow->add_option("id", request.entryIds, "entry")->required()->expected(1);
  CLI::App* historyDiff = history->add_subcommand("diff", "the fields that differ between two entries");
  historyDiff->callback(on(Command::HistoryDiff));
  historyDiff->add_option("ids", request.entryIds, "two entries")->required()->expected(2);
  CLI::App* historyExport = history->add_subcommand("export", "the entries as CSV");
  historyExport->callback(on(Command::HistoryExport));
  historyExport->add_option("file", request.path, "CSV file")->required();
  addFilter(historyExport);
  CLI::App* certificate = history->add_subcommand("certificate", "the calibration certificate of an assistant run");
  certificate->callback(on(Command::HistoryCertificate));
  certificate->add_option("id", request.entryIds, "entry")->required()->expected(1);
  certificate->add_option("--out", request.outPath, "PDF file")->required();
  CLI::App* report = history->add_subcommand("report", "the service report of every change between two times");
  report->callback(on(Command::HistoryReport));
  report->add_option("--from", request.historyFrom, "from this time, UTC: YYYY-MM-DD[ HH:MM[:SS]]")->required();
  report->add_option("--to", request.historyTo, "up to this time, UTC")->required();
  report->add_option("--bench", request.historyBench, "bench name");
  report->add_option("--out", request.outPath, "PDF file")->required();

  ParseResult result;
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  if (!reversed.empty()) reversed.pop_back();
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    std::ostringstream out;
    std::ostringstream err;
    const int code = app.exit(error, out, err);
    result.output = out.str();
    result.error = err.str();
    result.exitCode = code == 0 ? kExitDone : kExitUsage;
    return result;
  }
  if (csv && jsonl) {
    result.error = "monitor: --csv and --jsonl exclude each other\n";
    result.exitCode = kExitUsage;
    return result;
  }
  if (!flywheels.empty() || exec->count("--flywheels") > 0) {
    const std::optional<std::array<bool, 4>> wheels = ParseFlywheels(flywheels);
    if (!wheels) {
      result.error = "exec: --flywheels takes numbers 1 to 4 separated by commas, not \"" + flywheels + "\"\n";
      result.exitCode = kExitUsage;
      return result;
    }
    request.flywheels = *wheels;
  }
  request.format = json    ? OutputFormat::Json
                   : csv   ? OutputFormat::Csv
                   : jsonl ? OutputFormat::JsonLines
                           : OutputFormat::Text;
  request.command = chosen;
  result.request = request;
  return result;
}

}  // namespace rolta::cli
