#include "cli/cli_runner.h"

#include <ostream>

#include "cli/cli_backup.h"
#include "cli/cli_basic.h"
#include "cli/cli_calib.h"
#include "cli/cli_calibrate.h"
#include "cli/cli_channels.h"
#include "cli/cli_command.h"
#include "cli/cli_exec.h"
#include "cli/cli_line_view.h"
#include "cli/cli_history.h"
#include "cli/cli_monitor.h"
#include "cli/cli_params.h"
#include "cli/cli_upgrade.h"
#include "console/console_settings.h"
#include "env/env_library.h"

namespace rolta::cli {
namespace {

// The command the request names, each on its own group's functions.
int Dispatch(CommandContext& cli) {
  const auto onLine = [&cli](int (*command)(CommandContext&, Line&)) {
    return cli.WithLine([&cli, command](Line& line) { return command(cli, line); });
  };
  switch (cli.request.command) {
    case Command::Ports: return Ports(cli);
    case Command::Version: return onLine(Version);
    case Command::Exec: return Exec(cli);
    case Command::EmergencyStop: return onLine(EmergencyStop);
    case Command::ParamsGet: return onLine(ParamsGet);
    case Command::ParamsSet: return ParamsSet(cli);
    case Command::ChannelsGet: return onLine(ChannelsGet);
    case Command::ChannelsSet: return ChannelsSet(cli);
    case Command::CalibGet: return CalibGet(cli);
    case Command::CalibSet: return CalibSet(cli);
    case Command::Backup: return Backup(cli);
    case Command::Restore: return Restore(cli);
    case Command::Upgrade: return Upgrade(cli);
    case Command::Monitor: return onLine(Monitor);
    case Command::LineView: return LineView(cli);
    case Command::Calibrate: return Calibrate(cli);
    case Command::HistoryList: return HistoryList(cli);
    case Command::HistoryShow: return HistoryShow(cli);
    case Command::HistoryDiff: return HistoryDiff(cli);
    case Command::HistoryExport: return HistoryExport(cli);
    case Command::HistoryCertificate: return HistoryCertificate(cli);
    case Command::HistoryReport: return HistoryReport(cli);
    case Command::None: break;
  }
  cli.err << Say(cli.texts, "No command given; see --help.") << "\n";
  return kExitUsage;
}

}  // namespace

int RunCommand(const CliRequest& request, const CliEnvironment& environment, std::ostream& out, std::ostream& err) {
  CommandContext cli(request, environment, out, err);
  const int code = Dispatch(cli);
  // What was printed must have reached its file: a full disk is an error
  // of its own, not a success.
  out.flush();
  if (!out) {
    err << Say(environment.texts, "The output could not be written.") << "\n";
    return kExitOutputFailed;
  }
  return code;
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const std::atomic<bool>& interrupted, const ServiceDocuments* documents) {
  EnvLibrary library;
  const bool loaded = library.Load(1) == kEnvLoadOk;
  const IdentityLookup identity;
  const EnvTextLookup envTexts(library);
  const TextLookup& texts = loaded ? static_cast<const TextLookup&>(envTexts) : identity;
  const ParseResult parsed = ParseCliArgs(args, &texts);
  out << parsed.output;
  err << parsed.error;
  if (!parsed.request) {
    if (!out.flush()) {
      err << texts.Lookup("The output could not be written.") << "\n";
      return kExitOutputFailed;
    }
    return parsed.exitCode;
  }
  std::vector<std::string> ports;
  if (loaded) {
    PortList list;
    library.GetSerialPortInfo(list);
    ports = PortNames(list);
  }
  const ConsoleSettings settings = LoadSettings(SettingsFilePath()).value_or(kDefaultSettings);
  const CliEnvironment environment{texts,    ports, loaded, interrupted, settings.portIndex, settings.speedIndex,
                                   documents};
  return RunCommand(*parsed.request, environment, out, err);
}

}  // namespace rolta::cli
