// The line monitor window's own share of the window thread at the line's 480
// status frames a second: each iteration is one refresh period (250 ms), that
// is 120 frames reported through the tap, then the refresh that lists them,
// updates the counters and repaints the list. "cpu%@480" is the share of one
// core that costs. Argument: rows already kept (an empty list, and a full
// ring of 100000 rows where every new row pushes out the oldest).
#include <benchmark/benchmark.h>

#include "cpu_clock.h"
#include "offscreen_bench_main.h"

#include <QApplication>
#include <QTableView>

#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <memory>

#include "monitor/ui/line_monitor_dlg.h"
#include "env/text_lookup.h"
#include "link/frames.h"
#include "link/serial_link.h"
#include "session_doubles.h"

namespace {

using namespace rolta;
using rolta::bench::CpuSeconds;

void ui_MonitorAt480(benchmark::State& state) {
  constexpr int kFramesPerRefresh = 120;  // 480 a second, refreshed 4 times a second
  IdentityLookup lookup;
  // A link on which nothing arrives: the frames reach the monitor through its tap.
  test::RecordingView view;
  test::QuietServices services;
  ControllerSession session(lookup, view, services.Services(), std::make_unique<test::MemoryLink>());
  CLineMonitorDlg window(session, lookup, services);
  window.show();
  QCoreApplication::processEvents();
  std::uint8_t frame[24] = {0x55, 0xAA, 16, 0x10};
  auto report = [&](int i) {
    PutFloat32LE(frame + 10, 0.01f * static_cast<float>(i));
    PutUInt16LE(frame + 22, static_cast<std::uint16_t>(i));
    StoreChecksum(frame, sizeof frame);
    window.Monitor().OnFrameReceived(frame, true, LineClock::now());
  };
  for (std::int64_t i = 0; i < state.range(0); ++i) report(static_cast<int>(i));
  window.RefreshNow();
  QCoreApplication::processEvents();
  int n = 0;
  const double before = CpuSeconds();
  for (auto _ : state) {
    for (int i = 0; i < kFramesPerRefresh; ++i) report(n++);
    window.RefreshNow();
    window.View()->viewport()->repaint();
    QCoreApplication::processEvents();
  }
  const double perRefresh = (CpuSeconds() - before) / static_cast<double>(state.iterations());
  state.counters["cpu%@480"] = perRefresh * 4.0 * 100.0;
  state.counters["rows"] = static_cast<double>(window.Model().rowCount());
}
BENCHMARK(ui_MonitorAt480)->Arg(0)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return rolta::bench::RunOffscreenBenchmarks(argc, argv); }
