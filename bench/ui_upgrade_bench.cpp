// The firmware upload through the console window ("升级"), against the
// controller simulator pacing a 115200-baud line: the upgrade's own 1 ms
// pauses and event pumping, the window's receive handler with its pause
// after each frame, the monitor thread's notifications through the event
// loop. rom_upload.h says what the counters mean.
#include <benchmark/benchmark.h>

#include <QPushButton>

#include <chrono>

#include "console_rig.h"
#include "offscreen_bench_main.h"
#include "rom_upload.h"
#include "scripted_services.h"
#include "upgrade/ui/qt_upgrade_host.h"

namespace {

using namespace rolta;

void ui_UploadRom256KiBAt115200(benchmark::State& state) {
  const bench::TestRom rom;
  for (auto _ : state) {
    test::ScriptedServices services;
    test::ConsoleRig rig(services.Host(), bench::PacedSimulator());
    if (!rig.controller->IsRunning() || !test::Connect(*rig)) {
      state.SkipWithError("could not connect the console to the simulator");
      break;
    }
    rig->UpgradeHost().chooseFile = [&](const RomFileDialog&) { return rom.Path().string(); };
    const auto start = std::chrono::steady_clock::now();
    rig->Buttons().upgrade->click();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool ok = rig.controller->FirmwareComplete() && rig.controller->FirmwareImage().size() == bench::kRomSize;
    if (!ok) {
      state.SkipWithError("upload did not complete");
      break;
    }
    bench::ReportUpload(state, seconds, *rig.controller);
  }
}
BENCHMARK(ui_UploadRom256KiBAt115200)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  const rolta::bench::ScratchSettingsFolder settings;
  return rolta::bench::RunOffscreenBenchmarks(argc, argv);
}
