// Repaints of the trend window's plot with a full 5-minute window of the
// line's 480 frames a second in view (three lanes, about 900 pixel columns),
// offscreen. The window repaints at most 30 times a second; "cpu%@30" is the
// share of one core that would cost.
//
//   BM_TrendRepaint5Min        a recording's 5 minutes painted again with the
//                              same range (cursor moves, exposes): the reduced
//                              columns are reused.
//   BM_TrendRepaint5MinZoomed  the same with the range widened by a fraction
//                              of a column each time (zooming): every column
//                              is reduced from its samples again.
//   BM_TrendLive60sShown       the live 60 s window as the operator has it:
//                              shown, each iteration adds one pixel column's
//                              frames and lets the window repaint (scrolled,
//                              or whole when a scale changed).
//   BM_TrendLive5Min           the live window following the line: each
//                              iteration adds the frames of one pixel column
//                              (the window repaints when the newest frame has
//                              moved on by one) and repaints; "cpu%" is the
//                              share of one core at that pace, frames included.
#include <benchmark/benchmark.h>

#include "cpu_clock.h"
#include "offscreen_bench_main.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>

#include "recording/recording.h"
#include "console/ui/rolta_dlg.h"
#include "env/ui/qt_services.h"
#include "recording/ui/trend_dlg.h"
#include "fake_environment.h"

namespace {

using namespace rolta;
using rolta::bench::CpuSeconds;

ControllerStatus Frame(int i) {
  ControllerStatus status;
  status.FrameType = 16;
  status.Value1 = 100.0f + static_cast<float>(i % 480) / 10.0f;
  status.Value2 = 50.0f + static_cast<float>(i % 960) / 100.0f;
  status.Value4 = 2000.0f;
  return status;
}

void Report(benchmark::State& state, CTrendDlg& trend, double cpu, std::int64_t paints) {
  const double perPaint = paints > 0 ? cpu / static_cast<double>(paints) : 0.0;
  state.counters["columns"] = static_cast<double>(trend.Plot()->Columns());
  state.counters["cpu_us/paint"] = perPaint * 1e6;
  state.counters["cpu%@30"] = perPaint * 30.0 * 100.0;
  state.counters["reduced/paint"] = static_cast<double>(trend.Plot()->LastReduced());
}

// Argument: 0 the same range each time, 1 a slightly wider one each time.
void RepaintRecording(benchmark::State& state, bool zoom) {
  QTemporaryDir dir;
  const QString path = QDir(dir.path()).filePath(QStringLiteral("five-minutes.csv"));
  {
    std::ofstream out(path.toStdString(), std::ios::binary);
    std::string text = RecordHeader();
    for (int i = 0; i < 300 * 480; ++i) {
      AppendRecordRow(text, "2026-01-01T00:00:00.000+00:00", MakeRecordRow(Frame(i), i * 1000.0 / 480.0));
    }
    out << text;
  }
  test::FakeEnvironment environment;
  QtServices services;
  CRoltaDlg console(environment, services.Host());
  console.Recorder()->OpenTrendWindow();
  CTrendDlg* trend = console.Recorder()->TrendWindow();
  trend->resize(1172, 620);
  if (!trend->OpenRecording(path)) {
    state.SkipWithError("recording did not open");
    return;
  }
  QImage image(trend->Plot()->size(), QImage::Format_RGB32);
  const double t0 = trend->Plot()->RangeStart();
  const double t1 = trend->Plot()->RangeEnd();
  // The first paint reduces every column and loads the fonts.
  trend->Plot()->render(&image);
  const double before = CpuSeconds();
  std::int64_t paints = 0;
  for (auto _ : state) {
    if (zoom) trend->ShowRange(t0, t1 + 0.01 * static_cast<double>(paints % 7 + 1));
    trend->Refresh();
    trend->Plot()->render(&image);
    ++paints;
  }
  Report(state, *trend, CpuSeconds() - before, paints);
}
void BM_TrendRepaint5Min(benchmark::State& state) { RepaintRecording(state, false); }
void BM_TrendRepaint5MinZoomed(benchmark::State& state) { RepaintRecording(state, true); }
BENCHMARK(BM_TrendRepaint5Min)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TrendRepaint5MinZoomed)->Unit(benchmark::kMicrosecond);

// The live window of `span` seconds following the line, from a full window
// on: painted into an image (the whole plot each time), or shown and left to
// repaint itself as the operator sees it.
void FollowLine(benchmark::State& state, double span, bool shown) {
  test::FakeEnvironment environment;
  QtServices services;
  CRoltaDlg console(environment, services.Host());
  console.Recorder()->OpenTrendWindow();
  CTrendDlg* trend = console.Recorder()->TrendWindow();
  trend->resize(1172, 620);
  trend->SetSpan(span);
  trend->ShowLive();
  if (shown) trend->show();
  const auto origin = trend->LiveOrigin();
  int frame = 0;
  auto addFrames = [&](int count) {
    for (int i = 0; i < count; ++i, ++frame) {
      trend->AddLiveFrame(Frame(frame), origin + std::chrono::microseconds(frame * 1'000'000LL / 480));
    }
  };
  QImage image(trend->Plot()->size(), QImage::Format_RGB32);
  auto repaint = [&] {
    trend->Refresh();
    if (shown)
      QCoreApplication::processEvents();
    else
      trend->Plot()->render(&image);
  };
  addFrames(static_cast<int>(span) * 480);
  repaint();
  const double secondsPerColumn = span / static_cast<double>(std::max<std::size_t>(1, trend->Plot()->Columns()));
  const int framesPerColumn = static_cast<int>(std::ceil(secondsPerColumn * 480));
  const double before = CpuSeconds();
  std::int64_t paints = 0;
  for (auto _ : state) {
    addFrames(framesPerColumn);
    repaint();
    ++paints;
  }
  const double cpu = CpuSeconds() - before;
  Report(state, *trend, cpu, paints);
  const double perSecond = std::min(30.0, 1.0 / secondsPerColumn);
  state.counters["paints/s"] = perSecond;
  state.counters["cpu%"] = paints > 0 ? cpu / static_cast<double>(paints) * perSecond * 100.0 : 0.0;
}
void BM_TrendLive5Min(benchmark::State& state) { FollowLine(state, 300, false); }
void BM_TrendLive60sShown(benchmark::State& state) { FollowLine(state, 60, true); }
BENCHMARK(BM_TrendLive5Min)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TrendLive60sShown)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) { return rolta::bench::RunOffscreenBenchmarks(argc, argv); }
