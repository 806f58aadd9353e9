// rolta-cli's small commands: the port list, the controller's version and the
// emergency stop.
#pragma once

#include "cli/cli_command.h"

namespace rolta::cli {

int Ports(CommandContext& cli);
int Version(CommandContext& cli, Line& line);

// Done only when the controller confirmed it; otherwise the operator is
// told to use the bench's own stop, as the console does.
int EmergencyStop(CommandContext& cli, Line& line);

}  // namespace rolta::cli
