// One repaint of the trend window's plot with a full 5-minute window of the
// line's 480 frames a second in view (three lanes, 900 pixel columns):
// decimation and drawing, offscreen. The window repaints at most 30 times a
// second; "cpu%@30" is the share of one core that costs.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <time.h>

#include <fstream>

#include "console/recording.h"
#include "console/ui/rolta_dlg.h"
#include "console/ui/trend_dlg.h"
#include "fake_environment.h"

namespace {

using namespace rolta;

void BM_TrendRepaint5Min(benchmark::State& state) {
  QTemporaryDir dir;
  const QString path = QDir(dir.path()).filePath(QStringLiteral("five-minutes.csv"));
  {
    std::ofstream out(path.toStdString(), std::ios::binary);
    std::string text = RecordHeader();
    for (int i = 0; i < 300 * 480; ++i) {
      ControllerStatus status;
      status.FrameType = 16;
      status.Value1 = 100.0f + static_cast<float>(i % 480) / 10.0f;
      status.Value2 = 50.0f + static_cast<float>(i % 960) / 100.0f;
      status.Value4 = 2000.0f;
      AppendRecordRow(text, "2026-01-01T00:00:00.000+00:00", MakeRecordRow(status, i * 1000.0 / 480.0));
    }
    out << text;
  }
  test::FakeEnvironment environment;
  CRoltaDlg console(environment);
  console.Recorder()->OpenTrendWindow();
  CTrendDlg* trend = console.Recorder()->TrendWindow();
  trend->resize(1172, 620);
  if (!trend->OpenRecording(path)) {
    state.SkipWithError("recording did not open");
    return;
  }
  QImage image(trend->Plot()->size(), QImage::Format_RGB32);
  timespec before{}, after{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
  std::int64_t paints = 0;
  for (auto _ : state) {
    trend->Refresh();
    trend->Plot()->render(&image);
    ++paints;
  }
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
  const double cpu = static_cast<double>(after.tv_sec - before.tv_sec) + static_cast<double>(after.tv_nsec - before.tv_nsec) * 1e-9;
  const double perPaint = paints > 0 ? cpu / static_cast<double>(paints) : 0.0;
  state.counters["columns"] = static_cast<double>(trend->Plot()->width());
  state.counters["cpu_us/paint"] = perPaint * 1e6;
  state.counters["cpu%@30"] = perPaint * 30.0 * 100.0;
}
BENCHMARK(BM_TrendRepaint5Min)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
