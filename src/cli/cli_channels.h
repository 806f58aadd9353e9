// rolta-cli's channel map: `channels get` and `channels set`, and the read and
// checked store the backup and restore use too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

#include "cli/cli_command.h"
#include "config/channel_map.h"

namespace rolta::cli {

int ChannelsGet(CommandContext& cli, Line& line);
int ChannelsSet(CommandContext& cli);

// The editor of the controller's channel map on this line; every command
// that reads or stores the map gets its editor here.
ChannelMapEditor NewChannelMapEditor(Line& line);

// Asks for the map and puts the answer into `editor`.
int ReadChannels(CommandContext& cli, Line& line, ChannelMapEditor& editor);

// Stores `values` (field -> byte) over the controller's map and reads it back
// to see every field was taken.
int WriteChannels(CommandContext& cli, Line& line, const std::map<std::size_t, std::uint8_t>& values);

}  // namespace rolta::cli
