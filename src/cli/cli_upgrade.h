// rolta-cli's firmware upgrade: a ROM file sent to the controller with the
// console's upgrade sequence, its progress drawn on the terminal.
#pragma once

#include "cli/cli_command.h"

namespace rolta::cli {

int Upgrade(CommandContext& cli);

}  // namespace rolta::cli
