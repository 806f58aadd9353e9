// Settings of the controller simulator, shared by the program's command line
// and by tests that run the simulator inside their own process.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "controller_model.h"

namespace rolta::sim {

// Every way the simulator can misbehave, chosen by name (--fault NAME).
enum class SimFault : std::uint8_t {
  Reject,       // every answer carries Numth -6
  BadChecksum,  // every answer carries a wrong checksum
  Truncated,    // every answer is cut short
  Garbage,      // random bytes (never 55 or AA) go out before every answer
  Silence,      // commands are read and logged, nothing is answered
  Hangup,       // the line goes dead: after hangupAfterMs, or after the first command
};

struct SimFaultName {
  SimFault fault;
  std::string_view name;
};
// The one list of fault names.
inline constexpr SimFaultName kSimFaultNames[] = {
    {SimFault::Reject, "reject"},   {SimFault::BadChecksum, "bad-checksum"}, {SimFault::Truncated, "truncated"},
    {SimFault::Garbage, "garbage"}, {SimFault::Silence, "silence"},          {SimFault::Hangup, "hangup"},
};

std::optional<SimFault> SimFaultFromName(std::string_view name);
std::string_view NameOf(SimFault fault);

// A set of faults as bits, copyable between threads as one integer.
class FaultSet {
 public:
  FaultSet() = default;
  FaultSet(std::initializer_list<SimFault> faults) {
    for (SimFault f : faults) Add(f);
  }
  void Add(SimFault f) { bits_ |= Bit(f); }
  void Remove(SimFault f) { bits_ &= static_cast<std::uint32_t>(~Bit(f)); }
  bool Has(SimFault f) const { return (bits_ & Bit(f)) != 0; }
  bool Empty() const { return bits_ == 0; }
  std::uint32_t Bits() const { return bits_; }
  static FaultSet FromBits(std::uint32_t bits) {
    FaultSet s;
    s.bits_ = bits;
    return s;
  }

 private:
  static std::uint32_t Bit(SimFault f) { return 1u << static_cast<unsigned>(f); }
  std::uint32_t bits_ = 0;
};

struct SimulatorOptions {
  std::string linkPath;  // stable symlink to the slave side; empty: none
  int baud = 0;          // 0: no byte timing; else 10 bits per byte at this rate
  int periodMs = 100;    // status period while a test runs
  FaultSet faults;
  int hangupAfterMs = 0;               // with Hangup: >0 after this long, 0 after the first command
  std::uint32_t seed = 1;              // noise and fault randomness
  std::string imageOutPath;            // firmware image written here when complete and at stop
  bool verbose = false;                // log received commands to stderr
  double timeScale = 1.0;              // simulated seconds per real second (bench physics)
  bool startInUpgradeProgram = false;  // answer as the controller's upgrade program
  int firmwareVersionX100 = 734;       // version answer, 7.34
  RoadLoadConfig roadLoad;             // the bench's losses, mass and speed noise while it coasts
  AppliedLoads appliedLoads;           // --apply-load: calibration references on the sensors
  std::string loadFilePath;            // --load-file: references read again whenever the file changes
};

// "FL=1500" puts 1500 on FL; "FL=off" takes the reference away. Lines of a
// load file are the same, "#" starts a comment. False with a message for a
// text it refuses; the loads are changed only when the whole text is good.
bool ParseAppliedLoad(std::string_view text, AppliedLoads& loads, std::string* error);
bool ParseLoadLines(std::string_view text, AppliedLoads& loads, std::string* error);

// Parses argv[1..]. False when the simulator is not to run: with a message
// in *error for options it refuses, or with an empty message and the text
// --help or --version asks for in *output.
bool ParseSimulatorArgs(int argc, const char* const* argv, SimulatorOptions& options, std::string* error,
                        std::string* output = nullptr);
// What --help shows.
std::string SimulatorUsage();
// What a paced line carries when the period asks for more status frames than
// that; empty when it carries them all or nothing paces it.
std::string LineCapacityWarning(const SimulatorOptions& options);

}  // namespace rolta::sim
