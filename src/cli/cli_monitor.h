// rolta-cli's `monitor`: every frame the controller sends, good or refused,
// one row each as text, CSV or JSON lines, until the time is up or Ctrl-C.
#pragma once

#include "cli/cli_command.h"

namespace rolta::cli {

int Monitor(CommandContext& cli, Line& line);

}  // namespace rolta::cli
