// A 256 KiB ROM uploaded to the controller simulator emulating a 115200-baud
// line over a pseudo-terminal, through the real channel and receive path.
// The stop-and-wait bound is one 232-byte block plus one 24-byte answer per
// 220 data bytes at 11,520 bytes per second; "vs_bound" is the measured time
// over that bound (1.0 = the line never idles).
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "upgrade/firmware_upgrade.h"
#include "controller_simulator.h"
#include "env/text_lookup.h"
#include "link/comm_port.h"
#include "session/controller_session.h"
#include "session_doubles.h"
#include "link/frame_sync.h"
#include "link/status_frames.h"

namespace {

using namespace rolta;

constexpr std::size_t kRomSize = 256 * 1024;
constexpr int kBaud = 115200;
constexpr double kBytesPerSecond = kBaud / 10.0;

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
  const auto rom = std::filesystem::temp_directory_path() / ("rolta_bench_" + std::to_string(::getpid()) + ".ROM");
  {
    std::ofstream file(rom, std::ios::binary);
    for (std::size_t k = 0; k < kRomSize; ++k) file.put(static_cast<char>(k * 37 + (k >> 9)));
  }
  const double blocks = static_cast<double>(RomBlockCount(kRomSize));
  const double boundSeconds = blocks * (RomBlockFrame::kLength + kStatusFrameLength) / kBytesPerSecond;

  double seconds = 0;
  bool ok = true;
  for (auto _ : state) {
    rolta::sim::SimulatorOptions options;
    options.baud = kBaud;
    rolta::sim::ControllerSimulator controller(options);
    if (!controller.Start()) {
      state.SkipWithError("simulator did not start");
      break;
    }
    HeadlessConsole console;
    console.rom = rom.string();
    console.session.Open(controller.SlavePath(), kBaud);
    console.session.Upgrade().SetHost(&console);
    const auto start = std::chrono::steady_clock::now();
    console.session.Upgrade().OnUpgrade();
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ok = ok && console.lastMessage == "更新成功" && controller.FirmwareComplete() &&
         controller.FirmwareImage().size() == kRomSize;
    controller.Stop();
  }
  std::filesystem::remove(rom);
  if (!ok) state.SkipWithError("upload did not complete");
  state.counters["seconds"] = seconds;
  state.counters["bound_s"] = boundSeconds;
  state.counters["vs_bound"] = seconds / boundSeconds;
  state.counters["KiB_per_s"] = kRomSize / 1024.0 / seconds;
}
BENCHMARK(BM_UploadRom256KiBAt115200)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
