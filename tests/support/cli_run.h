// rolta-cli run in the test's process with its two streams captured.
#pragma once

#include <atomic>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_runner.h"

namespace rolta::test {

struct CliRun {
  int code;
  std::string out;
  std::string err;
};

inline CliRun RunCliCaptured(const std::vector<std::string>& args, const std::atomic<bool>& interrupted) {
  std::ostringstream out;
  std::ostringstream err;
  const int code = cli::RunCli(args, out, err, interrupted);
  return {code, out.str(), err.str()};
}

}  // namespace rolta::test
