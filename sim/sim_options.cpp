#include "sim_options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "link/frames.h"
#include "rolta_version.h"

namespace rolta::sim {
namespace {

bool ParseLong(std::string_view text, long min, long max, long& out) {
  if (text.empty()) return false;
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(copy.c_str(), &end, 10);
  if (errno != 0 || end == copy.c_str() || *end != '\0') return false;
  if (value < min || value > max) return false;
  out = value;
  return true;
}

bool ParseDouble(std::string_view text, double min, double max, double& out) {
  if (text.empty()) return false;
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(copy.c_str(), &end);
  if (errno != 0 || end == copy.c_str() || *end != '\0' || !std::isfinite(value)) return false;
  if (value < min || value > max) return false;
  out = value;
  return true;
}

// The bench's road load must slow it at every speed it can run, or a
// coast-down would never end.
constexpr double kRoadLoadCheckTopKmh = 250.0;

// "F0,F1,F2": exactly three finite numbers.
bool ParseRoadLoad(std::string_view text, RoadLoadConfig& load) {
  double parts[3] = {};
  for (int i = 0; i < 3; ++i) {
    const std::size_t comma = text.find(',');
    if ((i < 2) != (comma != std::string_view::npos)) return false;
    if (!ParseDouble(text.substr(0, comma), -1e6, 1e6, parts[i])) return false;
    if (i < 2) text.remove_prefix(comma + 1);
  }
  for (double v = 1.0; v <= kRoadLoadCheckTopKmh; v += 1.0) {
    if (!(parts[0] + parts[1] * v + parts[2] * v * v > 0)) return false;
  }
  load.f0N = parts[0];
  load.f1 = parts[1];
  load.f2 = parts[2];
  return true;
}

// An option whose text one of the parsers above reads: every occurrence is
// checked, the last one counts, and a text it refuses ends the parse with
// `refusal` after the option's name.
CLI::Option* AddChecked(CLI::App& app, const std::string& name, const std::string& valueName, const std::string& help,
                        std::function<bool(const std::string&)> take, const std::string& refusal) {
  return app.add_option(name, CLI::callback_t{}, help)
      ->type_name(valueName)
      ->each([take = std::move(take), refusal](const std::string& text) {
        if (!take(text)) throw CLI::ValidationError(refusal);
      });
}

template <class Number>
std::function<bool(const std::string&)> WholeNumber(Number& target, long min, long max) {
  return [&target, min, max](const std::string& text) {
    long number = 0;
    if (!ParseLong(text, min, max, number)) return false;
    target = static_cast<Number>(number);
    return true;
  };
}

std::function<bool(const std::string&)> RealNumber(double& target, double min, double max) {
  return [&target, min, max](const std::string& text) { return ParseDouble(text, min, max, target); };
}

// NAME or hangup:MS, added to the options' faults.
void AddFault(std::string_view text, SimulatorOptions& options) {
  std::string_view name = text;
  std::string_view argument;
  const auto colon = text.find(':');
  if (colon != std::string_view::npos) {
    name = text.substr(0, colon);
    argument = text.substr(colon + 1);
  }
  const std::optional<SimFault> fault = SimFaultFromName(name);
  if (!fault) throw CLI::ValidationError("unknown fault '" + std::string(name) + "'");
  if (colon != std::string_view::npos) {
    long number = 0;
    if (*fault != SimFault::Hangup || !ParseLong(argument, 1, 86400000, number))
      throw CLI::ValidationError("fault '" + std::string(text) + "': only hangup takes :MS (1 or more)");
    options.hangupAfterMs = static_cast<int>(number);
  }
  options.faults.Add(*fault);
}

std::string FaultNames() {
  std::string names;
  for (const SimFaultName& row : kSimFaultNames) {
    if (!names.empty()) names += ", ";
    names += row.name;
  }
  return names;
}

std::string SensorNames() {
  std::string names;
  for (const SensorInputName& row : kSensorInputNames) {
    if (!names.empty()) names += ", ";
    names += std::string(row.name) + " (" + row.unit + ")";
  }
  return names;
}

// Every option, writing into `options` as it is read.
void DescribeOptions(CLI::App& app, SimulatorOptions& options) {
  app.name("qrx5000b-sim");
  app.description(
      "Simulates the QRX5000B controller on a pseudo-terminal and prints the\n"
      "slave device path on the first line of standard output.");
  // An option given twice takes its last value, as the program always did.
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.set_version_flag("--version", std::string("qrx5000b-sim ") + kRoltaVersion, "show the version");
  app.get_help_ptr()->description("show this text");

  const auto path = [](std::string& target) {
    return [&target](const std::string& text) {
      target = text;
      return !text.empty();
    };
  };
  AddChecked(app, "--link", "PATH", "also make PATH a symbolic link to the slave device", path(options.linkPath),
             "needs a path");
  AddChecked(app, "--baud", "N",
             "pace bytes as a line of N baud (9600..115200, 10 bits a byte);\n"
             "a status frame that finds the line busy is skipped (counted),\n"
             "answers go ahead of waiting status frames",
             WholeNumber(options.baud, 9600, 115200), "needs a number from 9600 to 115200");
  AddChecked(app, "--period", "MS", "status period while a test runs (1..10000, default 100)",
             WholeNumber(options.periodMs, 1, 10000), "needs milliseconds from 1 to 10000");
  AddChecked(app, "--speedup", "F", "run the bench physics F times faster (0.01..1000, default 1)",
             RealNumber(options.timeScale, 0.01, 1000.0), "needs a factor from 0.01 to 1000");
  app.add_option("--fault", CLI::callback_t{},
                 "inject a fault; repeatable. NAME is one of\n" + FaultNames() +
                     "\nhangup:MS goes dead MS ms after start, plain hangup after\n"
                     "the first command")
      ->type_name("NAME[:MS]")
      ->each([&options](const std::string& text) { AddFault(text, options); });
  AddChecked(
      app, "--road-load", "F0,F1,F2",
      "the bench's losses while it coasts, F(v) = F0 + F1*v + F2*v^2\n"
      "with v in km/h: F0 in N, F1 in N/(km/h), F2 in N/(km/h)^2;\n"
      "F(v) must be above 0 from 1 to 250 km/h (default 40,1.2,0)",
      [&options](const std::string& text) { return ParseRoadLoad(text, options.roadLoad); },
      "needs F0,F1,F2: three numbers (N, N/(km/h), N/(km/h)^2) whose force is above 0 "
      "from 1 to 250 km/h");
  AddChecked(app, "--mass", "KG",
             "effective mass the bench decelerates, 1..100000 kg\n"
             "(default: the rollers, 907 kg, plus the loaded flywheels)",
             RealNumber(options.roadLoad.massKg, 1.0, 100000.0), "needs kilograms from 1 to 100000");
  AddChecked(app, "--speed-noise", "KMH", "standard deviation of the reported speed, 0..10 km/h (default 0)",
             RealNumber(options.roadLoad.speedNoiseKmh, 0.0, 10.0), "needs km/h from 0 to 10");
  AddChecked(app, "--seed", "N", "seed of noise and fault randomness (default 1)",
             WholeNumber(options.seed, 0, std::numeric_limits<std::uint32_t>::max()), "needs a non-negative number");
  AddChecked(app, "--image-out", "PATH", "write the received firmware image to PATH", path(options.imageOutPath),
             "needs a path");
  app.add_flag("--upgrade-program", options.startInUpgradeProgram, "start as the controller's upgrade program");
  AddChecked(app, "--version-x100", "N", "firmware version answered, times 100 (default 734)",
             WholeNumber(options.firmwareVersionX100, 0, 65535), "needs a number from 0 to 65535");
  app.add_flag("-v,--verbose", options.verbose, "log every received command to standard error");
  app.add_option("--apply-load", CLI::callback_t{},
                 "put a calibration reference on a sensor; repeatable. NAME is one of\n" + SensorNames() +
                     ";\nits voltage command (33, 110, 112, 113; 100 for the\n"
                     "environment) then reads offset + gain*load + a slight bow + noise,\n"
                     "and its force or value readings (34, 114-116; 96) go through its\n"
                     "stored table as the parameter record's calibration mode says")
      ->type_name("NAME=VALUE")
      ->each([&options](const std::string& text) {
        std::string problem;
        if (!ParseAppliedLoad(text, options.appliedLoads, &problem)) throw CLI::ValidationError(problem);
      });
  AddChecked(app, "--load-file", "PATH",
             "read NAME=VALUE lines (NAME=off takes a reference away) from\n"
             "PATH at start and whenever it changes, while running",
             path(options.loadFilePath), "needs a path");
}

}  // namespace

bool ParseAppliedLoad(std::string_view text, AppliedLoads& loads, std::string* error) {
  const auto refuse = [&](const std::string& why) {
    if (error) *error = "'" + std::string(text) + "': " + why;
    return false;
  };
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) return refuse("needs NAME=VALUE");
  // Blanks around the name and the value are a person's typing, not part of them.
  const auto trimmed = [](std::string_view part) {
    while (!part.empty() && std::isspace(static_cast<unsigned char>(part.front()))) part.remove_prefix(1);
    while (!part.empty() && std::isspace(static_cast<unsigned char>(part.back()))) part.remove_suffix(1);
    return part;
  };
  const std::optional<SensorInput> input = SensorInputFromName(trimmed(text.substr(0, equals)));
  if (!input) return refuse("no sensor of that name; names: " + SensorNames());
  const std::string_view value = trimmed(text.substr(equals + 1));
  double load = 0;
  if (value == "off") {
    loads[static_cast<std::size_t>(*input)].reset();
  } else if (ParseDouble(value, -1e6, 1e6, load)) {
    loads[static_cast<std::size_t>(*input)] = load;
  } else {
    return refuse("needs a number from -1000000 to 1000000, or off");
  }
  return true;
}

bool ParseLoadLines(std::string_view text, AppliedLoads& loads, std::string* error) {
  AppliedLoads changed = loads;
  std::size_t number = 0;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    ++number;
    line = line.substr(0, line.find('#'));
    if (line.find_first_not_of(" \t\r\v\f") == std::string_view::npos) continue;
    std::string problem;
    if (!ParseAppliedLoad(line, changed, &problem)) {
      if (error) *error = "line " + std::to_string(number) + ": " + problem;
      return false;
    }
  }
  loads = changed;
  return true;
}

std::optional<SimFault> SimFaultFromName(std::string_view name) {
  for (const SimFaultName& row : kSimFaultNames) {
    if (row.name == name) return row.fault;
  }
  return std::nullopt;
}

std::string_view NameOf(SimFault fault) {
  for (const SimFaultName& row : kSimFaultNames) {
    if (row.fault == fault) return row.name;
  }
  return "?";
}

std::string LineCapacityWarning(const SimulatorOptions& options) {
  // A status frame takes 10 bits a byte on the line.
  constexpr long long kBitsPerFrame = 10 * static_cast<long long>(kStatusFrameLength);
  if (options.baud <= 0 || options.periodMs <= 0 ||
      static_cast<long long>(options.periodMs) * options.baud >= 1000 * kBitsPerFrame)
    return {};
  const double asked = 1000.0 / options.periodMs;
  const double carried = options.baud / static_cast<double>(kBitsPerFrame);
  char text[200];
  std::snprintf(text, sizeof text,
                "period %d ms asks for %.4g frames/s; a %d baud line carries %.4g of them: "
                "status frames that find the line busy are skipped (counted)",
                options.periodMs, asked, options.baud, carried);
  return text;
}

bool ParseSimulatorArgs(int argc, const char* const* argv, SimulatorOptions& options, std::string* error,
                        std::string* output) {
  if (error) error->clear();
  if (output) output->clear();
  CLI::App app;
  DescribeOptions(app, options);
  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed;
  for (int i = argc - 1; i >= 1; --i) reversed.emplace_back(argv[i] ? argv[i] : "");
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    if (output) *output = app.help();
    return false;
  } catch (const CLI::CallForVersion& version) {
    if (output) *output = std::string(version.what()) + "\n";
    return false;
  } catch (const CLI::ParseError& failure) {
    if (error) *error = failure.what();
    return false;
  }
  return true;
}

std::string SimulatorUsage() {
  CLI::App app;
  SimulatorOptions unused;
  DescribeOptions(app, unused);
  return app.help();
}

}  // namespace rolta::sim
