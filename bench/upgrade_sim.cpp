// A 256 KiB ROM uploaded to the controller simulator emulating a 115200-baud
// line over a pseudo-terminal, through the real channel and receive path
// (rom_upload.h says what the counters mean; "vs_bound" is the whole upload
// over the stop-and-wait bound, 1.0 = the line never idles).
//
//   BM_UploadRom256KiBAt115200     a session pumped by the upgrade itself,
//                                  its receive handler run at every pump
//   BM_CliUploadRom256KiBAt115200  `rolta-cli upgrade`, in this process
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "upgrade/firmware_upgrade.h"
#include "cli/cli_runner.h"
#include "controller_simulator.h"
#include "rom_upload.h"
#include "env/text_lookup.h"
#include "link/comm_port.h"
#include "session/controller_session.h"
#include "session_doubles.h"
#include "link/frame_sync.h"
#include "link/status_frames.h"

namespace {

using namespace rolta;

using bench::kRomSize;
using bench::kUploadBaud;

// A console without windows: a controller session whose receive path runs
// at every pump, pauses are real, no box is ever shown.
class HeadlessConsole : public UpgradeHost, private MessageBoxService {
 public:
  HeadlessConsole() = default;
  ~HeadlessConsole() override { session.Close(); }

  void SendShort(std::uint8_t code) override { session.Executor().SendShort(code); }
  void SetStatusLine(const std::string&) override {}
  void SetUpgradeRunning(bool) override {}
  void SetProgress(int) override {}
  std::optional<std::string> ChooseRomFile(const RomFileDialog&) override { return rom; }
  MessageAnswer ShowMessage(const MessageRequest& request) override { return Show(request); }
  void ProcessPendingEvents() override { session.OnCommNotify(FrameReceiver::kCharactersReceived); }
  void SleepMilliseconds(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
  bool IsEscapeHeld() const override { return false; }
  std::uint32_t TickCount() const override {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
  }

  IdentityLookup lookup;
  std::string rom;
  std::string lastMessage;
  test::RecordingView view;
  test::QuietServices quiet;
  ControllerSession session{lookup, view, {*this, quiet, quiet}};

 private:
  MessageAnswer Show(const MessageRequest& request) override {
    lastMessage = request.text;
    return MessageAnswer::Ok;
  }
};

void BM_UploadRom256KiBAt115200(benchmark::State& state) {
  const bench::TestRom rom;
  for (auto _ : state) {
    rolta::sim::ControllerSimulator controller(bench::PacedSimulator());
    if (!controller.Start()) {
      state.SkipWithError("simulator did not start");
      break;
    }
    HeadlessConsole console;
    console.rom = rom.Path().string();
    console.session.Open(controller.SlavePath(), kUploadBaud);
    console.session.Upgrade().SetHost(&console);
    const auto start = std::chrono::steady_clock::now();
    console.session.Upgrade().OnUpgrade();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool ok = console.lastMessage == "更新成功" && controller.FirmwareComplete() &&
                    controller.FirmwareImage().size() == kRomSize;
    controller.Stop();
    if (!ok) {
      state.SkipWithError("upload did not complete");
      break;
    }
    bench::ReportUpload(state, seconds, controller);
  }
}
BENCHMARK(BM_UploadRom256KiBAt115200)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_CliUploadRom256KiBAt115200(benchmark::State& state) {
  const bench::TestRom rom;
  const std::atomic<bool> interrupted{false};
  for (auto _ : state) {
    rolta::sim::ControllerSimulator controller(bench::PacedSimulator());
    if (!controller.Start()) {
      state.SkipWithError("simulator did not start");
      break;
    }
    std::ostringstream out;
    std::ostringstream err;
    const auto start = std::chrono::steady_clock::now();
    const int code = cli::RunCli({"rolta-cli", "--port", controller.SlavePath(), "upgrade", rom.Path().string()}, out,
                                 err, interrupted);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool ok = code == 0 && controller.FirmwareComplete() && controller.FirmwareImage().size() == kRomSize;
    controller.Stop();
    if (!ok) {
      state.SkipWithError(("rolta-cli upgrade failed: " + err.str()).c_str());
      break;
    }
    bench::ReportUpload(state, seconds, controller);
  }
}
BENCHMARK(BM_CliUploadRom256KiBAt115200)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
