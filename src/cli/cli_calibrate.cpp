#include "cli/cli_calibrate.h"

#include <CLI/CLI.hpp>
#include <poll.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "calibration/calibration_assistant.h"
#include "calibration/calibration_math.h"
#include "calibration/calibration_settings.h"
#include "env/key_value_file.h"
#include "env/service_identity.h"
#include "history/history_recorder.h"
#include "link/command_codes.h"

namespace rolta::cli {
namespace {

using Clock = CalibrationAssistant::Clock;

// The program's own standard input; a caller that gives std::cin another
// buffer answers from that instead, and is read without waiting on the terminal.
std::streambuf* const kProcessInput = std::cin.rdbuf();

// A line (or the end of input) can be read without blocking.
bool AnswerWaiting() {
  if (std::cin.rdbuf()->in_avail() > 0) return true;
  pollfd input{STDIN_FILENO, POLLIN, 0};
  return ::poll(&input, 1, 0) != 0;  // readable, ended, or failed: the read says which
}

// The references of a loads file: one number a line, "#" starts a comment.
std::optional<std::vector<double>> ReadLoadsFile(CommandContext& cli, const std::string& path) {
  const std::optional<std::string> text = cli.ReadText(path);
  if (!text) return std::nullopt;
  std::vector<double> loads;
  std::istringstream lines(*text);
  std::string line;
  std::size_t number = 0;
  while (std::getline(lines, line)) {
    ++number;
    const std::string_view value = TrimSpace(std::string_view(line).substr(0, line.find('#')));
    if (value.empty()) continue;
    double load = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), load);
    if (error != std::errc{} || end != value.data() + value.size()) {
      cli.Invalid(path, DocumentError{Say(cli.texts, "line") + " " + std::to_string(number) + ": " +
                                      Say(cli.texts, "not a number")});
      return std::nullopt;
    }
    loads.push_back(load);
  }
  return loads;
}

std::string PointLine(const CalibrationPoint& p, bool assessed) {
  std::string line = "  " + FixedText(p.reference, 3) + "\t" + FixedText(p.voltageMean, 5) + "\t" +
                     FixedText(p.voltageSpread, 5) + "\t" + std::to_string(p.samples);
  if (assessed) {
    line += "\t" + FixedText(p.indicated, 3) + "\t" + FixedText(p.errorPercentFullScale, 3) + "\t" +
            FixedText(p.expandedUncertainty, 3) + "\t" + (p.pass ? "pass" : "FAIL");
  }
  return line;
}

void PrintPoints(CommandContext& cli, std::string_view title, const std::vector<CalibrationPoint>& points, bool pass,
                 const std::string& unit) {
  if (points.empty()) return;
  cli.out << Say(cli.texts, title) << ": " << (pass ? "pass" : "FAIL") << "\n";
  cli.out << "  " << Say(cli.texts, "reference") << " (" << unit << ")\tV\t" << Say(cli.texts, "spread") << " V\tn\t"
          << Say(cli.texts, "indicated") << "\t" << Say(cli.texts, "error % FS") << "\tU (k=2)\n";
  for (const CalibrationPoint& p : points) cli.out << PointLine(p, true) << "\n";
}

void PrintTable(CommandContext& cli, std::string_view title, const CalibTable& table) {
  cli.out << Say(cli.texts, title) << ":";
  for (std::size_t i = 0; i < table.PointCount(); ++i) {
    cli.out << " (" << FixedText(table.First(i), 5) << " V, " << FixedText(table.Second(i), 3) << ")";
  }
  cli.out << "\n";
}

void PrintRun(CommandContext& cli, const CalibrationRun& run, CalibFit fit) {
  cli.out << "calibrate " << CalibrationChannelOf(run.channel)->name << ": " << Say(cli.texts, "controller") << " "
          << run.controllerVersion << ", "
          << Say(cli.texts, fit == CalibFit::LeastSquares ? "least squares" : "piecewise linear") << ", "
          << Say(cli.texts, "full scale") << " " << FixedText(run.fullScale, 3) << " " << run.unit << ", "
          << Say(cli.texts, "tolerance") << " " << FixedText(run.tolerancePercentFullScale, 3) << " % FS\n";
  PrintTable(cli, "table before", run.tableBefore);
  PrintPoints(cli, "校前", run.asFound, run.asFoundPass, run.unit);
  if (run.tableAfter.PointCount() > 0) {
    PrintTable(cli, "new table", run.tableAfter);
    cli.out << Say(cli.texts, "linearity") << " " << FixedText(run.linearityPercentFullScale, 3) << " % FS\n";
  }
  if (run.tableStored) cli.out << Say(cli.texts, "stored and read back equal") << "\n";
  PrintPoints(cli, "校后", run.asLeft, run.asLeftPass, run.unit);
}

}  // namespace

void AddCalibrateCommand(CLI::App& app, CliRequest& request, std::function<void()> chosen) {
  CalibrateOptions& o = request.calibrate;
  CLI::App* sub = app.add_subcommand(
      "calibrate", "guided calibration of FL, FR, RL, RR, TEMP, HUM or PRESS: as found, new table, as left");
  sub->callback(std::move(chosen));
  sub->add_option("channel", request.channel, "FL, FR, RL, RR, TEMP, HUM or PRESS")->required();
  sub->add_option("--load", o.loads, "a reference in the channel's unit (daN, °C, %, kPa); repeatable, lowest first");
  sub->add_option("--mass", o.masses, "a mass in kg on the bench's calibration arm; repeatable, lowest first");
  sub->add_option("--loads-file", o.loadsFile, "references, one a line");
  sub->add_option("--serial", o.sensorSerial, "the sensor's serial number");
  sub->add_option("--reference-kind", o.referenceKind, "weights, instrument or typed")
      ->check(CLI::IsMember({"weights", "instrument", "typed"}));
  sub->add_option("--reference", o.referenceDescription, "the weight set or the instrument");
  sub->add_option("--certificate", o.referenceCertificate, "the reference's certificate number");
  sub->add_option("--uncertainty", o.referenceUncertainty, "the reference's expanded uncertainty (k = 2)")
      ->check(CLI::Range(0.0, 1e9));
  sub->add_option("--tolerance", o.tolerance, "% of full scale (default: the bench's, else 0.5)")
      ->check(CLI::Range(0.001, 100.0));
  sub->add_option("--full-scale", o.fullScale, "in the channel's unit (default: the largest reference)")
      ->check(CLI::Range(0.0, 1e9));
  sub->add_option("--engineer", o.engineer, "who calibrates (default: the bench's settings)");
  sub->add_option("--bench", o.bench, "which bench (default: the bench's settings)");
}

int Calibrate(CommandContext& cli) {
  const CalibrationChannelRow* channel = CalibrationChannelByName(cli.request.channel);
  if (channel == nullptr) {
    std::string names;
    for (const CalibrationChannelRow& row : CalibrationChannels()) names.append(" ").append(row.name);
    return cli.Fail(kExitUsage, Say(cli.texts, "calibrate: no such channel") + " \"" + cli.request.channel + "\"; " +
                                    Say(cli.texts, "channels:") + names);
  }
  const CalibrateOptions& o = cli.request.calibrate;
  const CalibrationSettingsResult bench = LoadCalibrationSettings(CalibrationSettingsPath());
  if (!bench.problem.empty()) {
    cli.err << CalibrationSettingsPath().string() << ": " << bench.problem << " ("
            << Say(cli.texts, "the default stands") << ")\n";
  }
  const CalibrationSettings& settings = bench.settings;

  CalibrationSetup setup;
  setup.channel = channel->channel;
  std::string kind = o.referenceKind;
  const int sources = (o.loads.empty() ? 0 : 1) + (o.masses.empty() ? 0 : 1) + (o.loadsFile.empty() ? 0 : 1);
  if (sources != 1)
    return cli.Fail(kExitUsage,
                    Say(cli.texts, "calibrate: give the references one way: --load, --mass or --loads-file"));
  if (!o.masses.empty()) {
    for (double mass : o.masses) {
      const std::optional<double> force = ForceFromMassDaN(mass, settings);
      if (!force) {
        return cli.Fail(kExitUsage, Say(cli.texts, "calibrate: --mass needs arm_length_m and roller_radius_m in") +
                                        " " + CalibrationSettingsPath().string());
      }
      setup.references.push_back(*force);
    }
    if (kind.empty()) kind = "weights";
  } else if (!o.loadsFile.empty()) {
    const std::optional<std::vector<double>> loads = ReadLoadsFile(cli, o.loadsFile);
    if (!loads) return kExitUsage;
    setup.references = *loads;
  } else {
    setup.references = o.loads;
  }
  if (kind.empty()) kind = channel->referenceHint == "instrument" ? "instrument" : "typed";
  setup.fullScale = o.fullScale;
  setup.tolerancePercentFullScale = o.tolerance > 0 ? o.tolerance : settings.tolerancePercentFullScale;
  setup.resolutionVolts = settings.resolutionVolts;
  setup.settle = settings.settle;
  setup.answerTimeoutSeconds = cli.request.timeoutSeconds;
  CalibrationRun& id = setup.identity;
  const ServiceIdentity service = LoadServiceIdentity(ServiceIdentityPath());
  id.bench = o.bench.empty() ? service.bench : o.bench;
  id.engineer = o.engineer.empty() ? service.engineer : o.engineer;
  id.traceability = service.traceability;
  id.sensorSerial = o.sensorSerial;
  id.reference = {kind, o.referenceDescription, o.referenceCertificate, o.referenceUncertainty};

  return cli.WithLine([&](Line& line) {
    id.port = line.PortName();
    CalibrationAssistant assistant(line.Session(), cli.texts);
    std::optional<CalibrationRun> finished;
    assistant.SetRunObserver([&finished](const CalibrationRun& run) { finished = run; });
    if (std::optional<std::string> refused = assistant.Start(setup, Clock::now())) {
      return cli.Fail(kExitUsage, "calibrate: " + *refused);
    }
    bool abortAsked = false;
    std::size_t printed = 0;
    while (!finished) {
      const auto awaiting = [&assistant] {
        return assistant.Step() == CalibrationStep::AwaitingLoad ||
               assistant.Step() == CalibrationStep::AwaitingUnloaded;
      };
      const WaitResult result = line.WaitUntil(
          [&] {
            assistant.Tick(Clock::now());
            return finished.has_value() || awaiting();
          },
          1.0);
      if (result == WaitResult::Interrupted) {
        if (!abortAsked) assistant.Abort(Clock::now());
        abortAsked = true;
        line.Pump().SleepMilliseconds(10);
      } else if (result == WaitResult::LineLost) {
        assistant.Tick(Clock::now());
      }
      // Each point as it is taken.
      const CalibrationRun& run = assistant.Run();
      const std::size_t taken = run.asFound.size() + run.asLeft.size();
      for (; printed < taken; ++printed) {
        const bool left = printed >= run.asFound.size();
        const CalibrationPoint& p = left ? run.asLeft[printed - run.asFound.size()] : run.asFound[printed];
        cli.err << Say(cli.texts, left ? "校后" : "校前") << PointLine(p, false) << "\n";
      }
      if (finished || !awaiting() || abortAsked) continue;
      cli.err << assistant.Instruction() << " [" << Say(cli.texts, "Enter") << "] " << std::flush;
      if (std::cin.rdbuf() == kProcessInput) {
        // The line is watched while the engineer works: a line lost meanwhile
        // ends the run at once instead of at the next Enter.
        WaitResult waited = WaitResult::TimeOut;
        while (waited == WaitResult::TimeOut) waited = line.WaitUntil(AnswerWaiting, 1.0);
        if (waited != WaitResult::Done) {
          cli.err << "\n";
          if (waited == WaitResult::Interrupted) {
            assistant.Abort(Clock::now());
            abortAsked = true;
          } else {
            assistant.Tick(Clock::now());
          }
          continue;
        }
      }
      std::string answer;
      if (!std::getline(std::cin, answer)) {
        cli.err << "\n" << Say(cli.texts, "No answer on standard input.") << "\n";
        assistant.Abort(Clock::now());
        abortAsked = true;
        continue;
      }
      // What arrived while the engineer worked belongs to the load before.
      line.Pump().ProcessPendingEvents();
      assistant.Continue(Clock::now());
    }
    // The stop that ended the voltage readings goes out before the port closes:
    // its answer says it arrived.
    if (channel->voltageStreams && line.Session().IsOpen()) {
      line.WaitUntil([&line] { return line.Session().Status().FrameType == command::kStopTest; }, 1.0);
    }
    PrintRun(cli, *finished, assistant.Fit());
    // Kept before the outcome is reported; its id names the certificate.
    if (cli.historyRecorder) {
      if (const std::optional<std::int64_t> entry = cli.historyRecorder->RecordCalibrationRun(*finished)) {
        cli.out << Say(cli.texts, "服务记录") << " #" << *entry << ": rolta-cli history certificate " << *entry
                << " --out FILE.pdf\n";
      }
    }
    if (finished->outcome != CalibrationOutcome::Completed) {
      if (cli.environment.interrupted.load()) return cli.Fail(kExitInterrupted, finished->message);
      return cli.Fail(kExitCalibrationFailed, finished->message);
    }
    cli.out << Say(cli.texts, finished->asLeftPass ? "标定完成：校后合格。" : "标定完成：校后不合格。") << "\n";
    return finished->asLeftPass ? kExitDone : kExitCalibrationFailed;
  });
}

}  // namespace rolta::cli
