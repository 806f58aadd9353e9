// rolta-cli: the controller's operations from the command line.
#include <atomic>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "env/rotating_log.h"
#ifdef ROLTA_CLI_PDF
#include "history/pdf/service_pdf.h"
#endif
#include "rolta_version.h"

namespace {

std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int) { interrupted.store(true); }

}  // namespace

int main(int argc, char* argv[]) {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  rolta::ProgramLog log("rolta-cli", rolta::kRoltaVersion);
  const std::vector<std::string> args(argv, argv + argc);
#ifdef ROLTA_CLI_PDF
  const rolta::PdfServiceDocuments documents;
  const int exitCode = rolta::cli::RunCli(args, std::cout, std::cerr, interrupted, &documents);
#else
  const int exitCode = rolta::cli::RunCli(args, std::cout, std::cerr, interrupted);
#endif
  log.Finish(exitCode);
  return exitCode;
}
