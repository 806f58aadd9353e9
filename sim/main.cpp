// qrx5000b-sim: the QRX5000B controller on a pseudo-terminal. Prints the
// slave device path, then answers the console until SIGINT or SIGTERM (or
// until the hangup fault has taken the line down). SIGUSR1 and the end print
// what was sent and what the line could not carry.
#include <signal.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include "controller_simulator.h"
#include "sim_options.h"

namespace {

// The load file's references, taken again whenever its text changes; a file
// that is missing or refused leaves the references as they are.
class LoadFile {
 public:
  explicit LoadFile(std::string path) : path_(std::move(path)) {}
  void Apply(rolta::sim::ControllerSimulator& simulator) {
    if (path_.empty()) return;
    std::ifstream file(path_, std::ios::binary);
    if (!file) return;
    std::ostringstream text;
    text << file.rdbuf();
    if (text.str() == last_) return;
    last_ = text.str();
    rolta::sim::AppliedLoads loads = simulator.Loads();
    std::string error;
    if (!rolta::sim::ParseLoadLines(last_, loads, &error)) {
      std::fprintf(stderr, "qrx5000b-sim: %s: %s\n", path_.c_str(), error.c_str());
      return;
    }
    for (const rolta::sim::SensorInputName& row : rolta::sim::kSensorInputNames) {
      const std::optional<double> load = loads[static_cast<std::size_t>(row.input)];
      if (load == simulator.Loads()[static_cast<std::size_t>(row.input)]) continue;
      simulator.SetAppliedLoad(row.input, load);
      if (load) {
        std::fprintf(stderr, "qrx5000b-sim: %s = %g %s\n", row.name, *load, row.unit);
      } else {
        std::fprintf(stderr, "qrx5000b-sim: %s off\n", row.name);
      }
    }
  }

 private:
  std::string path_;
  std::string last_;
};

}  // namespace

int main(int argc, char** argv) {
  rolta::sim::SimulatorOptions options;
  std::string error;
  std::string output;
  if (!rolta::sim::ParseSimulatorArgs(argc, argv, options, &error, &output)) {
    if (error.empty()) {
      std::fputs(output.c_str(), stdout);
      return 0;
    }
    std::fprintf(stderr, "qrx5000b-sim: %s\n%s", error.c_str(), rolta::sim::SimulatorUsage().c_str());
    return 2;
  }
  if (const std::string warning = rolta::sim::LineCapacityWarning(options); !warning.empty())
    std::fprintf(stderr, "qrx5000b-sim: %s\n", warning.c_str());

  // Block the stop signals and SIGUSR1 before the simulator's thread exists,
  // so only the wait below receives them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  rolta::sim::ControllerSimulator simulator(options);
  if (!simulator.Start(&error)) {
    std::fprintf(stderr, "qrx5000b-sim: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", simulator.SlavePath().c_str());
  std::fflush(stdout);

  LoadFile loadFile(options.loadFilePath);
  loadFile.Apply(simulator);
  const timespec poll{0, 200 * 1000 * 1000};
  while (simulator.IsRunning()) {
    loadFile.Apply(simulator);
    const int signal = sigtimedwait(&signals, nullptr, &poll);
    if (signal == SIGUSR1) {
      std::fprintf(stderr, "qrx5000b-sim: %s\n", rolta::sim::CountersText(simulator.Counters()).c_str());
    } else if (signal > 0) {
      break;
    }
  }
  simulator.Stop();
  std::fprintf(stderr, "qrx5000b-sim: %s\n", rolta::sim::CountersText(simulator.Counters()).c_str());
  return 0;
}
