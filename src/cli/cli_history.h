// rolta-cli's service history: its own changes written to it (every command
// on the line), and the history's commands: list, show, diff, export, the
// certificate of an assistant run and the report of a visit.
#pragma once

#include <memory>

#include "cli/cli_command.h"
#include "history/history_recorder.h"
#include "history/service_history.h"

namespace rolta::cli {

// The history a command on the line writes to.
struct CommandHistory {
  std::unique_ptr<ServiceHistory> history;
  std::unique_ptr<HistoryRecorder> recorder;
  bool failed = false;  // an entry could not be committed (said)
};

// True for the commands that change the controller: they are not run without
// a history to record them.
bool ChangesController(Command command);

// Opens the history for the request's command. A history that cannot be
// opened is said; it ends a command that changes the controller
// (kExitHistory) and leaves the others to run without it.
int OpenCommandHistory(CommandContext& cli, CommandHistory& opened);

int HistoryList(CommandContext& cli);
int HistoryShow(CommandContext& cli);
int HistoryDiff(CommandContext& cli);
int HistoryExport(CommandContext& cli);
int HistoryCertificate(CommandContext& cli);
int HistoryReport(CommandContext& cli);

}  // namespace rolta::cli
