// rolta-cli calibrate CHANNEL: the calibration assistant on the command
// line. The references come from the options, the engineer confirms each
// load on standard input, and the as-found and as-left tables are printed.
#pragma once

#include <functional>

#include "cli/cli_command.h"

namespace CLI {
class App;
}

namespace rolta::cli {

// The subcommand and its options, filling `request.calibrate`.
void AddCalibrateCommand(CLI::App& app, CliRequest& request, std::function<void()> chosen);

int Calibrate(CommandContext& cli);

}  // namespace rolta::cli
