// What recording and the trend's data cost, without the window system.
//
//   BM_RecorderRowsPerSecond  the writer thread: a burst of frames queued at
//                             once, timed until every row is on the file
//                             (formatting, write; fdatasync left on). The
//                             counter rows/s is what it can sustain.
//   BM_RecorderAdd            the receive path's share per frame: one queue append.
//   BM_TrendAddFrame          the trend window's share per frame: the frame's
//                             row into the live store.
//   BM_TrendDecimate5Min      one repaint's data work: three series of a full
//                             5-minute window at 480 frames/s to 900 pixel columns.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "recording/frame_recorder.h"
#include "recording/recording.h"
#include "recording/trend_data.h"

namespace {

using namespace rolta;

ControllerStatus Frame(int i) {
  ControllerStatus status;
  status.FrameType = 16;
  status.Value1 = 123.4f + static_cast<float>(i % 100);
  status.Value2 = 49.87f + static_cast<float>(i % 7) * 0.01f;
  status.Value3 = 3.0f;
  status.Value4 = 2045.5f;
  status.Numth = static_cast<std::int16_t>(i);
  return status;
}

void BM_RecorderRowsPerSecond(benchmark::State& state) {
  const auto file = std::filesystem::temp_directory_path() / ("rolta-bench-" + std::to_string(::getpid()) + ".csv");
  const int rows = static_cast<int>(state.range(0));
  std::uint64_t total = 0;
  for (auto _ : state) {
    FrameRecorder recorder;
    const auto start = std::chrono::steady_clock::now();
    if (recorder.Start(file, start, std::chrono::system_clock::now())) {
      state.SkipWithError("cannot open");
      break;
    }
    for (int i = 0; i < rows; ++i) recorder.Add(Frame(i), start + std::chrono::microseconds(2083 * i));
    recorder.Stop();
    while (!recorder.Progress().finished) std::this_thread::sleep_for(std::chrono::microseconds(200));
    total += recorder.Progress().rowsWritten;
  }
  std::filesystem::remove(file);
  state.counters["rows/s"] = benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RecorderRowsPerSecond)->Arg(48000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RecorderAdd(benchmark::State& state) {
  const auto file = std::filesystem::temp_directory_path() / ("rolta-bench-add-" + std::to_string(::getpid()) + ".csv");
  FrameRecorder recorder;
  const auto start = std::chrono::steady_clock::now();
  recorder.Start(file, start, std::chrono::system_clock::now());
  int i = 0;
  for (auto _ : state) recorder.Add(Frame(++i), start);
  recorder.Stop();
  while (!recorder.Progress().finished) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::filesystem::remove(file);
}
BENCHMARK(BM_RecorderAdd);

void BM_TrendAddFrame(benchmark::State& state) {
  TrendStore store(330);
  int i = 0;
  for (auto _ : state) {
    store.AddFrame(Frame(i), i / 480.0);
    ++i;
  }
}
BENCHMARK(BM_TrendAddFrame);

void BM_TrendDecimate5Min(benchmark::State& state) {
  TrendStore store(330);
  for (int i = 0; i < 300 * 480; ++i) store.AddFrame(Frame(i), i / 480.0);
  std::vector<MinMaxBucket> buckets;
  const std::size_t columns[] = {static_cast<std::size_t>(RecordColumnIndex("speed")),
                                 static_cast<std::size_t>(RecordColumnIndex("force")),
                                 static_cast<std::size_t>(RecordColumnIndex("roller_rpm"))};
  for (auto _ : state) {
    for (const std::size_t column : columns) {
      DecimateMinMax(store.Series(column), store.LastTime() - 300, store.LastTime(), 900, buckets);
      benchmark::DoNotOptimize(buckets.data());
    }
  }
}
BENCHMARK(BM_TrendDecimate5Min)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
