// rolta-cli's `exec`: one position of the console's command catalogue, with
// the console's checks of its inputs, and the answer decoded.
#pragma once

#include "cli/cli_command.h"

namespace rolta::cli {

int Exec(CommandContext& cli);

}  // namespace rolta::cli
