// Status frames per second through a controller session's receive path: ring,
// sync search, checksum, decoding, and the status line and readout texts at
// the screen's pace (one present per 16 frames: 30 a second at the line's 480
// frames a second). The 1 ms pause after each frame is left out; the "x480"
// counter says how many times faster than the line the path is.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "session/controller_session.h"
#include "monitor/line_monitor.h"
#include "env/text_lookup.h"
#include "link/frames.h"
#include "link/serial_link.h"
#include "session_doubles.h"

namespace {

using namespace rolta;

// Hands out a prepared stream over and over, `perRead` frames at a time.
class ReplayLink : public test::AlwaysOpenLink {
 public:
  ReplayLink(std::vector<std::uint8_t> stream, std::size_t perRead) : stream_(std::move(stream)), perRead_(perRead) {}
  std::size_t Read(std::uint8_t* buffer, std::size_t max) override {
    std::size_t n = std::min({perRead_, max, stream_.size() - at_});
    std::copy_n(stream_.begin() + at_, n, buffer);
    at_ = (at_ + n) % stream_.size();
    return n;
  }
  std::size_t Write(const std::uint8_t*, std::size_t length) override { return length; }

 private:
  std::vector<std::uint8_t> stream_;
  std::size_t perRead_;
  std::size_t at_ = 0;
};

std::vector<std::uint8_t> StatusStream(int frames) {
  // Constant speed, road load, frequency, acceleration and input states.
  const std::uint8_t types[] = {16, 52, 35, 75, 42, 50, 96};
  std::vector<std::uint8_t> stream;
  for (int i = 0; i < frames; ++i) {
    std::uint8_t frame[24] = {0x55, 0xAA, types[i % 7], 0x10};
    PutFloat32LE(frame + 6, 100.0f + i * 0.37f);
    PutFloat32LE(frame + 10, 50.0f + i * 0.01f);
    PutFloat32LE(frame + 14, 3.5f * i);
    PutFloat32LE(frame + 18, 2500000.0f / (i + 1));
    PutUInt16LE(frame + 22, static_cast<std::uint16_t>(i));
    StoreChecksum(frame, sizeof frame);
    stream.insert(stream.end(), frame, frame + sizeof frame);
  }
  return stream;
}

void Run(benchmark::State& state, bool present, bool monitored = false) {
  const auto framesPerRead = static_cast<std::size_t>(state.range(0));
  constexpr std::uint64_t kFramesPerPresent = 16;
  IdentityLookup lookup;
  test::RecordingView view;
  test::QuietServices services;
  ControllerSession session(lookup, view, services.Services(),
                            std::make_unique<ReplayLink>(StatusStream(700), framesPerRead * 24));
  LineMonitor monitor;
  if (monitored) session.SetLineTap(&monitor);
  std::uint64_t presentedAt = 0;
  for (auto _ : state) {
    session.OnCommNotify(1);
    const std::uint64_t frames = session.Counters().framesDispatched;
    if (present && frames - presentedAt >= kFramesPerPresent) {
      session.Present();
      presentedAt = frames;
    }
  }
  const auto frames = static_cast<double>(session.Counters().framesDispatched);
  state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
  state.counters["x480"] = benchmark::Counter(frames / 480.0, benchmark::Counter::kIsRate);
}
// Argument: frames per channel read (one per notification, or a backlog).
void RunPath(benchmark::State& state) { Run(state, true); }
BENCHMARK(RunPath)->Arg(1)->Arg(20)->Arg(100);

// The same with the line monitor watching: every frame also becomes a row
// (ring of 100000 rows, the oldest replaced once it is full).
void RunPathWithMonitor(benchmark::State& state) { Run(state, true, true); }
BENCHMARK(RunPathWithMonitor)->Arg(1)->Arg(20);

// The same up to the decoder, never presented.
void RunPathToDecoder(benchmark::State& state) { Run(state, false); }
BENCHMARK(RunPathToDecoder)->Arg(1)->Arg(20);

}  // namespace

BENCHMARK_MAIN();
