// rolta-cli's commands on one controller session (cli_line.h), each group in
// a file of its own; every command ends with one of the exit codes.
#pragma once

#include <atomic>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "env/text_lookup.h"
#include "history/service_documents.h"

namespace rolta::cli {

// Where the program's defaults come from.
struct CliEnvironment {
  const TextLookup& texts;
  // The port list as the console shows it; empty when the environment library is missing.
  std::vector<std::string> ports;
  bool portsAvailable = false;
  // Set by Ctrl-C: ends a monitor or the repeat-send loop, cancels an upgrade like Escape.
  const std::atomic<bool>& interrupted;
  // The speed-list position and port-list position of the console's settings.
  int settingsPortIndex = 0;
  int settingsSpeedIndex = 4;
  // Draws the history's PDF documents; nullptr in a program without the Qt layer.
  const ServiceDocuments* documents = nullptr;
};

int RunCommand(const CliRequest& request, const CliEnvironment& environment, std::ostream& out, std::ostream& err);

// The whole program: parses args, loads the environment library for texts
// and ports, runs the command. `documents` draws the history's PDFs when
// the program has them.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const std::atomic<bool>& interrupted, const ServiceDocuments* documents = nullptr);

}  // namespace rolta::cli
