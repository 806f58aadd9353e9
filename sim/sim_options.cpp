#include "sim_options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "link/frames.h"

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

}  // namespace

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

std::string SimulatorUsage(std::string_view program) {
  std::string names;
  for (const SimFaultName& row : kSimFaultNames) {
    if (!names.empty()) names += ", ";
    names += row.name;
  }
  std::string text;
  text += "Usage: ";
  text += program;
  text +=
      " [options]\n"
      "Simulates the QRX5000B controller on a pseudo-terminal and prints the\n"
      "slave device path on the first line of standard output.\n"
      "\n"
      "  --link PATH        also make PATH a symbolic link to the slave device\n"
      "  --baud N           pace bytes as a line of N baud (9600..115200, 10 bits a byte);\n"
      "                     a status frame that finds the line busy is skipped (counted),\n"
      "                     answers go ahead of waiting status frames\n"
      "  --period MS        status period while a test runs (1..10000, default 100)\n"
      "  --speedup F        run the bench physics F times faster (0.01..1000, default 1)\n"
      "  --fault NAME[:MS]  inject a fault; repeatable. NAME is one of\n"
      "                     ";
  text += names;
  text +=
      "\n"
      "                     hangup:MS goes dead MS ms after start, plain hangup after\n"
      "                     the first command\n"
      "  --road-load F0,F1,F2\n"
      "                     the bench's losses while it coasts, F(v) = F0 + F1*v + F2*v^2\n"
      "                     with v in km/h: F0 in N, F1 in N/(km/h), F2 in N/(km/h)^2;\n"
      "                     F(v) must be above 0 from 1 to 250 km/h (default 40,1.2,0)\n"
      "  --mass KG          effective mass the bench decelerates, 1..100000 kg\n"
      "                     (default: the rollers, 907 kg, plus the loaded flywheels)\n"
      "  --speed-noise KMH  standard deviation of the reported speed, 0..10 km/h (default 0)\n"
      "  --seed N           seed of noise and fault randomness (default 1)\n"
      "  --image-out PATH   write the received firmware image to PATH\n"
      "  --upgrade-program  start as the controller's upgrade program\n"
      "  --version-x100 N   firmware version answered, times 100 (default 734)\n"
      "  --verbose          log every received command to standard error\n"
      "  --help             show this text\n"
      "  --version          show the version\n";
  return text;
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

bool ParseSimulatorArgs(int argc, const char* const* argv, SimulatorOptions& options,
                        std::string* error, bool* helpRequested) {
  auto fail = [&](std::string message) {
    if (error) *error = std::move(message);
    return false;
  };
  if (helpRequested) *helpRequested = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i] ? argv[i] : "";
    auto value = [&](std::string_view& out) {
      if (i + 1 >= argc || argv[i + 1] == nullptr) return false;
      out = argv[++i];
      return true;
    };
    std::string_view v;
    long number = 0;
    if (arg == "--help" || arg == "-h") {
      if (helpRequested) *helpRequested = true;
      if (error) error->clear();
      return false;
    } else if (arg == "--verbose" || arg == "-v") {
      options.verbose = true;
    } else if (arg == "--upgrade-program") {
      options.startInUpgradeProgram = true;
    } else if (arg == "--link") {
      if (!value(v) || v.empty()) return fail("--link needs a path");
      options.linkPath = std::string(v);
    } else if (arg == "--image-out") {
      if (!value(v) || v.empty()) return fail("--image-out needs a path");
      options.imageOutPath = std::string(v);
    } else if (arg == "--baud") {
      if (!value(v) || !ParseLong(v, 9600, 115200, number))
        return fail("--baud needs a number from 9600 to 115200");
      options.baud = static_cast<int>(number);
    } else if (arg == "--period") {
      if (!value(v) || !ParseLong(v, 1, 10000, number))
        return fail("--period needs milliseconds from 1 to 10000");
      options.periodMs = static_cast<int>(number);
    } else if (arg == "--seed") {
      if (!value(v) || !ParseLong(v, 0, std::numeric_limits<std::uint32_t>::max(), number))
        return fail("--seed needs a non-negative number");
      options.seed = static_cast<std::uint32_t>(number);
    } else if (arg == "--version-x100") {
      if (!value(v) || !ParseLong(v, 0, 65535, number))
        return fail("--version-x100 needs a number from 0 to 65535");
      options.firmwareVersionX100 = static_cast<int>(number);
    } else if (arg == "--speedup") {
      double scale = 0;
      if (!value(v) || !ParseDouble(v, 0.01, 1000.0, scale))
        return fail("--speedup needs a factor from 0.01 to 1000");
      options.timeScale = scale;
    } else if (arg == "--road-load") {
      if (!value(v) || !ParseRoadLoad(v, options.roadLoad))
        return fail("--road-load needs F0,F1,F2: three numbers (N, N/(km/h), N/(km/h)^2) whose force "
                    "is above 0 from 1 to 250 km/h");
    } else if (arg == "--mass") {
      if (!value(v) || !ParseDouble(v, 1.0, 100000.0, options.roadLoad.massKg))
        return fail("--mass needs kilograms from 1 to 100000");
    } else if (arg == "--speed-noise") {
      if (!value(v) || !ParseDouble(v, 0.0, 10.0, options.roadLoad.speedNoiseKmh))
        return fail("--speed-noise needs km/h from 0 to 10");
    } else if (arg == "--fault") {
      if (!value(v)) return fail("--fault needs a name");
      std::string_view name = v;
      std::string_view argument;
      if (const auto colon = v.find(':'); colon != std::string_view::npos) {
        name = v.substr(0, colon);
        argument = v.substr(colon + 1);
      }
      const std::optional<SimFault> fault = SimFaultFromName(name);
      if (!fault) return fail("unknown fault '" + std::string(name) + "'");
      if (!argument.empty() || v.find(':') != std::string_view::npos) {
        if (*fault != SimFault::Hangup || !ParseLong(argument, 1, 86400000, number))
          return fail("fault '" + std::string(v) + "': only hangup takes :MS (1 or more)");
        options.hangupAfterMs = static_cast<int>(number);
      }
      options.faults.Add(*fault);
    } else {
      return fail("unknown option '" + std::string(arg) + "'");
    }
  }
  return true;
}

}  // namespace rolta::sim
