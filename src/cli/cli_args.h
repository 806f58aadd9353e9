// The command line of rolta-cli: global options, one command with its own
// options, and the exit codes every command reports.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "env/text_lookup.h"

namespace rolta {
enum class CommandInput : std::uint8_t;  // console/catalogue.h
}

namespace rolta::cli {

// What the program tells its caller.
inline constexpr int kExitDone = 0;
inline constexpr int kExitUsage = 2;          // bad usage or bad input (files, values, positions)
inline constexpr int kExitTimeOut = 3;        // the controller did not answer in time
inline constexpr int kExitRefused = 4;        // the controller refused a command or did not take a value
inline constexpr int kExitPortError = 5;      // the port could not be opened or was lost
inline constexpr int kExitOutputFailed = 6;   // the output could not be written (a full disk, a closed pipe)
inline constexpr int kExitHistory = 8;        // the service history could not be opened or written
inline constexpr int kExitInterrupted = 130;  // Ctrl-C, the shell's convention

// calibrate: as left fails, or the run failed or was aborted.
inline constexpr int kExitCalibrationFailed = 7;

enum class Command {
  None,
  Ports,
  Version,
  Exec,
  EmergencyStop,
  ParamsGet,
  ParamsSet,
  ChannelsGet,
  ChannelsSet,
  CalibGet,
  CalibSet,
  Backup,
  Restore,
  Upgrade,
  Monitor,
  LineView,
  Calibrate,
  HistoryList,
  HistoryShow,
  HistoryDiff,
  HistoryExport,
  HistoryCertificate,
  HistoryReport,
};

// calibrate: the references and who calibrates against what.
struct CalibrateOptions {
  std::vector<double> loads;   // in the channel's unit
  std::vector<double> masses;  // kg on the bench's calibration arm
  std::string loadsFile;       // one reference a line
  std::string sensorSerial;
  std::string referenceKind;  // weights, instrument or typed; default from how the loads are given
  std::string referenceDescription;
  std::string referenceCertificate;
  double referenceUncertainty = 0;  // k = 2, in the channel's unit
  double tolerance = 0;             // % FS; 0: the bench's setting
  double fullScale = 0;             // 0: the largest reference
  std::string engineer;             // empty: the bench's setting
  std::string bench;
};

enum class OutputFormat { Text, Json, Csv, JsonLines };

struct CliRequest {
  Command command = Command::None;
  // Empty / 0: from the console's settings file.
  std::string port;
  unsigned baud = 0;
  double timeoutSeconds = 3.0;
  OutputFormat format = OutputFormat::Text;
  // exec
  std::string position;  // a number 0..90 or a caption
  std::optional<std::string> paramA, paramB, paramM, paramC;
  std::optional<std::string> startSpeed, endSpeed, startLoad, endLoad;
  std::array<bool, 4> flywheels{};
  bool wait = false;
  // A set-point above its safety limit is sent only with this.
  bool confirmLimits = false;
  // calib
  std::string channel;
  // calib set: a table file with no points erases the table only with this.
  bool allowEmpty = false;
  // backup: an existing non-empty folder is replaced whole only with this.
  bool force = false;
  // restore: no backup of the controller's current state first.
  bool noSafetyBackup = false;
  // params set, channels set, calib set, upgrade: the file; backup, restore: the folder.
  std::string path;
  // monitor, line; 0 runs until Ctrl-C.
  double durationSeconds = 0.0;
  // monitor: publish on the test line as well; under this bench name when given.
  bool mqtt = false;
  std::string bench;
  CalibrateOptions calibrate;
  // history: the entries named (show, diff, certificate), the filter (list,
  // export, report: times as "YYYY-MM-DD[ HH:MM[:SS]]" UTC) and the PDF file.
  std::vector<std::int64_t> entryIds;
  std::string historyKind;
  std::string historyBench;
  std::string historyFrom;
  std::string historyTo;
  std::string outPath;
};

struct ParseResult {
  std::optional<CliRequest> request;  // empty when the program ends at once
  int exitCode = kExitDone;
  std::string output;  // help or version text for standard output
  std::string error;   // message for standard error
};

// The options of `exec` that fill the console's input fields.
struct ExecOption {
  std::string_view flag;
  std::optional<std::string> CliRequest::*value;
  CommandInput input;
};
std::span<const ExecOption> ExecOptions();
const ExecOption* ExecOptionOf(CommandInput input);

// args[0] is the program name. The console's field labels in the help pass
// through `texts` when given.
ParseResult ParseCliArgs(const std::vector<std::string>& args, const TextLookup* texts = nullptr);

// "1,3" -> flywheels 1 and 3; nothing on a number outside 1..4 or bad text.
std::optional<std::array<bool, 4>> ParseFlywheels(const std::string& text);

}  // namespace rolta::cli
