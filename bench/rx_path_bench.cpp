// Status frames per second through the whole receive path: ring, sync search,
// checksum, status text, decoding and the readout texts. The 1 ms pause after
// each frame is left out; the line brings at most 480 frames a second, so the
// "x480" counter says how many times faster than the line the path is.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "console/readouts.h"
#include "env/text_lookup.h"
#include "link/byte_channel.h"
#include "link/frames.h"
#include "link/rx_ring.h"
#include "link/status_frames.h"

namespace {

using namespace rolta;

// Hands out a prepared stream over and over, `perRead` frames at a time.
class ReplayChannel : public ByteChannel {
 public:
  ReplayChannel(std::vector<std::uint8_t> stream, std::size_t perRead)
      : stream_(std::move(stream)), perRead_(perRead) {}
  bool IsOpen() const override { return true; }
  std::size_t Read(std::uint8_t* buffer, std::size_t max) override {
    std::size_t n = std::min({perRead_, max, stream_.size() - at_});
    std::copy_n(stream_.begin() + at_, n, buffer);
    at_ = (at_ + n) % stream_.size();
    return n;
  }
  std::size_t Write(const std::uint8_t*, std::size_t length) override { return length; }
  void AcknowledgeNotification() override {}

 private:
  std::vector<std::uint8_t> stream_;
  std::size_t perRead_;
  std::size_t at_ = 0;
};

class ConsoleLike : public FrameReceivers, public StatusFrameSinks {
 public:
  std::string statusLine;
  std::uint64_t frames = 0;
  bool present = true;

  void SetStatusLine(const std::string& text) override { statusLine = text; }
  bool IsCtrlHeld() const override { return false; }
  void PauseAfterFrame() override {}
  void OnParamRecordFrame(const std::uint8_t*) override {}
  void OnCalibFrame(const std::uint8_t*, std::size_t) override {}
  void OnChannelMapFrame(const std::uint8_t*) override {}
  void OnStatusFrame(const std::uint8_t* frame) override {
    DecodeStatusFrame(frame, status_, replies_, *this);
    ++frames;
  }
  void ShowControllerVersion(bool, double) override {}
  void ShowLiveFrame(const ControllerStatus& status) override {
    if (present) {
      // As the console does: one update kept from frame to frame.
      PresentLiveFrame(status, lookup_, update_);
      benchmark::DoNotOptimize(update_);
    } else {
      benchmark::DoNotOptimize(status);
    }
  }

 private:
  IdentityLookup lookup_;
  ReadoutUpdate update_;
  ControllerStatus status_;
  UpgradeReplies replies_;
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

void Run(benchmark::State& state, bool present) {
  const auto framesPerRead = static_cast<std::size_t>(state.range(0));
  ReplayChannel channel(StatusStream(700), framesPerRead * 24);
  IdentityLookup lookup;
  ConsoleLike console;
  console.present = present;
  FrameReceiver receiver(channel, lookup, console);
  for (auto _ : state) {
    receiver.OnCommNotify(1);
    benchmark::DoNotOptimize(console.statusLine);
  }
  const auto frames = static_cast<double>(console.frames);
  state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
  state.counters["x480"] = benchmark::Counter(frames / 480.0, benchmark::Counter::kIsRate);
}
// Argument: frames per channel read (one per notification, or a backlog).
void RunPath(benchmark::State& state) { Run(state, true); }
BENCHMARK(RunPath)->Arg(1)->Arg(20)->Arg(100);

// The same up to the decoder, without the readout texts.
void RunPathToDecoder(benchmark::State& state) { Run(state, false); }
BENCHMARK(RunPathToDecoder)->Arg(1)->Arg(20);

}  // namespace

BENCHMARK_MAIN();
