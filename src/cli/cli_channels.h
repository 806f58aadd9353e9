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

// Asks for the map; the answer lands in the session's channel map
// (line.Session().ChannelMap()).
int ReadChannels(CommandContext& cli, Line& line);

// Stores `values` (field -> byte) over the controller's map and reads it back
// to see every field was taken.
int WriteChannels(CommandContext& cli, Line& line, const std::map<std::size_t, std::uint8_t>& values);

}  // namespace rolta::cli
