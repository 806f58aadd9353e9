// rolta-cli's calibration tables: `calib get` and `calib set`, and the table
// transfers the backup and restore use too.
#pragma once

#include <cstddef>

#include "calib/calib_exchange.h"
#include "cli/cli_command.h"

namespace rolta::cli {

int CalibGet(CommandContext& cli);
int CalibSet(CommandContext& cli);

// Notes that a requested table has arrived.
struct TableWatch final : CalibView {
  void OnWorkingTableChanged() override { changed = true; }
  bool changed = false;
};

// The session's calibration exchange, watched for the tables that arrive
// while this lives.
struct CalibLink {
  explicit CalibLink(Line& line);
  ~CalibLink();
  CalibLink(const CalibLink&) = delete;
  CalibLink& operator=(const CalibLink&) = delete;
  CalibExchange& exchange;
  TableWatch watch;
  Line& line;
};

// Asks for one table; `points` is how many of its points the channel holds.
int ReadTable(CommandContext& cli, CalibLink& link, CalibChannel channel, CalibTable& table, std::size_t& points);

// Stores one table and reads it back to see it was taken bit for bit.
int WriteTable(CommandContext& cli, CalibLink& link, CalibChannel channel, const CalibTable& sent);

}  // namespace rolta::cli
