// rolta-cli's parameter record: `params get` and `params set`, and the read
// and checked write the backup and restore use too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/cli_command.h"
#include "cli/cli_documents.h"
#include "config/controller_params.h"

namespace rolta::cli {

int ParamsGet(CommandContext& cli, Line& line);
int ParamsSet(CommandContext& cli);

// Asks for the record and decodes the answer into `values`.
int ReadParams(CommandContext& cli, Line& line, ControllerParams& values);

// Writes the fields `document` names over the controller's record (its clock
// set to the PC's) and reads it back to see every field was taken.
int WriteParams(CommandContext& cli, Line& line, const std::string& document, ValueCheck check);

// The record a parameter reply frame of the full length carries.
ControllerParams DecodeParamsFrame(const std::vector<std::uint8_t>& frame);

}  // namespace rolta::cli
