#include "cli/cli_line_view.h"

#include <unistd.h>

#include <chrono>
#include <iostream>
#include <ostream>
#include <thread>

#include "readouts/readouts.h"
#include "testline/line_subscriber.h"
#include "testline/testline_messages.h"

namespace rolta::cli {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRefresh = std::chrono::milliseconds(500);
constexpr auto kSlice = std::chrono::milliseconds(50);

}  // namespace

int LineView(CommandContext& cli) {
  const TestLineSettings settings = LoadTestLineSettingsWithPassword();
  LineSubscriber subscriber(settings);
  if (std::string error; !subscriber.Start(&error)) {
    return cli.Fail(kExitUsage, Say(cli.texts, "line: the test line cannot be used:") + " " + error);
  }
  const bool json = cli.request.format == OutputFormat::Json;
  // A terminal sees one table redrawn in place; a file or pipe every table in turn.
  const bool redraw = !json && &cli.out == &std::cout && ::isatty(STDOUT_FILENO) == 1;
  const auto start = Clock::now();
  const auto end = cli.request.durationSeconds > 0
                       ? start + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(cli.request.durationSeconds))
                       : Clock::time_point::max();
  bool everConnected = false;
  auto nextRefresh = start + kRefresh;
  while (!cli.environment.interrupted.load() && Clock::now() < end && cli.out) {
    std::this_thread::sleep_for(kSlice);
    everConnected = everConnected || subscriber.Connected();
    if (Clock::now() < nextRefresh) continue;
    nextRefresh += kRefresh;
    const std::int64_t now = WallClockMs();
    const std::vector<BenchRow> rows = subscriber.Rows();
    if (json) {
      cli.out << LineTableJson(rows, now) << "\n";
    } else {
      if (redraw) cli.out << "\x1b[H\x1b[2J";
      cli.out << LineTableText(rows, now, cli.texts) << (redraw ? "" : "\n");
    }
    cli.out.flush();
  }
  const DelayFigures delays = subscriber.Delays();
  cli.err << "line: " << delays.count << " " << Say(cli.texts, "live messages") << ", "
          << Say(cli.texts, "delay median") << " " << FormatFixed(delays.medianMs, 1) << " ms, p99 "
          << FormatFixed(delays.p99Ms, 1) << " ms\n";
  if (!cli.out) return kExitOutputFailed;
  if (!everConnected) {
    return cli.Fail(kExitPortError, Say(cli.texts, "line: the broker was not reached at") + " " + settings.host + ":" +
                                        std::to_string(settings.port));
  }
  if (cli.environment.interrupted.load() && cli.request.durationSeconds > 0) return kExitInterrupted;
  return kExitDone;
}

}  // namespace rolta::cli
