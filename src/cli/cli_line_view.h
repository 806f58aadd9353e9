// rolta-cli's `line`: every bench the test line's broker knows, as a table
// refreshed twice a second (or one JSON array a line with --json), until
// the time is up or Ctrl-C; then the live messages' delays on the way.
// Not the serial line (cli_line).
#pragma once

#include "cli/cli_command.h"

namespace rolta::cli {

int LineView(CommandContext& cli);

}  // namespace rolta::cli
