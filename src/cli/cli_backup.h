// rolta-cli's backup and restore: the controller's parameter record, channel
// map and calibration tables as one folder of documents, and that folder
// written back.
#pragma once

#include "cli/cli_command.h"

namespace rolta::cli {

int Backup(CommandContext& cli);
int Restore(CommandContext& cli);

}  // namespace rolta::cli
