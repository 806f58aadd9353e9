// What one run of the calibration assistant found, changed and left: the
// record the service history keeps and a certificate prints. Values are in
// the channel's own unit unless the name says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "calib/calib_table.h"

namespace rolta {

// What the engineer compared the channel against.
struct CalibrationReference {
  std::string kind;                // "weights", "instrument" or "typed"
  std::string description;         // e.g. the weight set and arm, or the instrument's name
  std::string certificate;         // the reference's own certificate number
  double expandedUncertainty = 0;  // as stated for the reference (k = 2)
};

// One reference load and what the channel read under it.
struct CalibrationPoint {
  double reference = 0;              // the applied load or the reference instrument's reading
  double voltageMean = 0;            // V, over the settle window
  double voltageSpread = 0;          // V, largest minus smallest over the settle window
  std::size_t samples = 0;           // readings in the settle window
  double indicated = 0;              // what the table in force makes of the mean voltage
  double errorPercentFullScale = 0;  // (indicated - reference) / full scale × 100
  double expandedUncertainty = 0;    // k = 2
  bool pass = false;
};

enum class CalibrationOutcome : std::uint8_t {
  Completed,  // as-left taken after the new table was stored
  Aborted,    // the engineer stopped it
  Failed,     // a step failed (see message)
};

struct CalibrationRun {
  std::string bench;
  std::string engineer;
  std::string port;
  std::string controllerVersion;
  CalibChannel channel = CalibChannel::TorqueFrontLeft;
  std::string unit;
  std::string sensorSerial;
  CalibrationReference reference;
  double fullScale = 0;
  double tolerancePercentFullScale = 0.5;
  std::int64_t startedAtUnixSeconds = 0;
  std::int64_t finishedAtUnixSeconds = 0;

  std::vector<CalibrationPoint> asFound;
  bool asFoundPass = false;
  CalibTable tableBefore;
  CalibTable tableAfter;
  bool tableStored = false;    // the new table was stored and read back equal
  bool tableRestored = false;  // an abort after storing put the fetched table back
  double linearityPercentFullScale = 0;
  std::vector<CalibrationPoint> asLeft;
  bool asLeftPass = false;

  CalibrationOutcome outcome = CalibrationOutcome::Completed;
  std::string message;       // why it failed or was aborted
  std::string traceability;  // the engineer's statement, from the settings
};

}  // namespace rolta
