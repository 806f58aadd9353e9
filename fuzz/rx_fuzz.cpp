// Feeds arbitrary line bytes through the receive path, one byte per
// notification and in input-chosen chunks, decodes every status frame, and
// checks every frame handed on: right length for its type, good checksum,
// re-sealed unchanged, and the same frames whatever the read boundaries.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/byte_channel.h"
#include "link/frames.h"
#include "link/frame_sync.h"
#include "link/rx_ring.h"
#include "link/status_frames.h"
#include "upgrade/upgrade_replies.h"

namespace {

using rolta::ControllerFrameKind;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// The line as a window onto one prepared stream: bytes up to `arrived` are in
// the driver's queue, `read` of them already taken. No allocation per byte.
class StreamChannel : public rolta::ByteChannel {
 public:
  explicit StreamChannel(const std::vector<std::uint8_t>& stream) : stream_(stream) {}
  void Arrive(std::size_t count) { arrived_ = std::min(stream_.size(), arrived_ + count); }
  std::size_t Waiting() const { return arrived_ - read_; }
  bool IsOpen() const override { return true; }
  std::size_t Read(std::uint8_t* buffer, std::size_t max) override {
    Check(max > 0 && max <= rolta::RxRing::kCapacity, "read size within the ring's room");
    const std::size_t n = std::min(max, Waiting());
    std::copy_n(stream_.data() + read_, n, buffer);
    read_ += n;
    return n;
  }
  std::size_t Write(const std::uint8_t*, std::size_t length) override { return length; }
  void AcknowledgeNotification() override { ++acks; }
  long acks = 0;

 private:
  const std::vector<std::uint8_t>& stream_;
  std::size_t arrived_ = 0;
  std::size_t read_ = 0;
};

class TextSinks : public rolta::StatusFrameSinks {
 public:
  void ShowControllerVersion(bool fromUpgradeProgram, double version) override {
    Format(fromUpgradeProgram ? "Ver%.2f!" : "Ver%.2f", version);
  }
  void ShowLiveFrame(const rolta::ControllerStatus& s) override {
    Format("%.2f", s.Value2);
    Format("%.1f", s.Value1);
    Format("%.3f", s.AccelMilli / 1000.0);
    Format("%05d", s.IoNumber());
  }
  void OnCommandAnswer(const rolta::ControllerStatus& s) override { replies.OnCommandAnswer(s); }
  rolta::UpgradeReplies replies;

 private:
  void Format(const char* format, double value) {
    char text[512];
    std::snprintf(text, sizeof text, format, value);
  }
  void Format(const char* format, int value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
  }
};

// Every reply length, looked up once.
const std::array<bool, 256 * 4>& KnownLengths() {
  static const std::array<bool, 256 * 4> known = [] {
    std::array<bool, 256 * 4> lengths{};
    for (int type = 0; type < 256; ++type)
      lengths[rolta::ControllerFrameLength(static_cast<std::uint8_t>(type))] = true;
    return lengths;
  }();
  return known;
}

class CheckingSink : public rolta::FrameSink {
 public:
  // Start and length of every frame handed on, checked as it came.
  std::vector<std::uint8_t> frames;
  std::uint32_t ctrlPattern = 0;
  unsigned ctrlQueries = 0;
  rolta::ControllerStatus status;
  TextSinks sinks;

  void OnScanBegin() override {}
  void OnFrame(std::uint8_t type, const std::uint8_t* frame, std::size_t length) override {
    Check(frame[0] == 0x55 && frame[1] == 0xAA, "frame starts with the sync pair");
    Check(frame[2] == type, "type of the frame");
    Check(rolta::ControllerFrameLength(type) == length, "length of the frame's type");
    Check(rolta::VerifyChecksum(frame, length) == 0, "checksum of a dispatched frame");
    std::uint8_t copy[rolta::kLongestControllerFrame];
    std::copy_n(frame, length, copy);
    rolta::StoreChecksum(copy, length);
    Check(std::equal(copy, copy + length, frame), "re-sealed frame is unchanged");
    frames.insert(frames.end(), frame, frame + length);
    if (rolta::ControllerFrameKindOf(type) == ControllerFrameKind::Status) {
      rolta::DecodeStatusFrame(frame, status, sinks);
    }
  }
  bool OnBadFrame(std::uint8_t type, const std::uint8_t*, std::size_t) override {
    if (rolta::ControllerFrameKindOf(type) != ControllerFrameKind::ParamRecord) return false;
    return (ctrlPattern >> (ctrlQueries++ % 32)) & 1u;
  }
  void OnFrameIncomplete() override {}
  void PauseAfterFrame() override {}
};

struct Run {
  explicit Run(const std::vector<std::uint8_t>& stream) : channel(stream) {}
  StreamChannel channel;
  CheckingSink sink;
  rolta::FrameReceiver receiver{channel, sink};

  void Notify() {
    receiver.OnCommNotify(1);
    Check(receiver.Ring().Available() <= rolta::RxRing::kCapacity, "ring within capacity");
    const std::int32_t expected = receiver.ExpectedLength();
    // A frame held for the bytes that confirm its end waits for one or two
    // bytes beyond it.
    if (receiver.HoldsFrame()) {
      Check(expected > 0 && static_cast<std::size_t>(expected) <= rolta::kLongestControllerFrame + 2,
            "a held frame waits for at most two more bytes");
    } else {
      Check(expected == 0 || (expected > 0 && static_cast<std::size_t>(expected) < KnownLengths().size() &&
                              KnownLengths()[static_cast<std::size_t>(expected)]),
            "expected length is a reply length");
    }
  }
};

// Enough zeros to complete any pending frame; zeros never start a frame.
constexpr std::size_t kPadding = rolta::kLongestControllerFrame + 3;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint8_t flags = data[0];
  std::uint32_t seed = data[1] | (data[2] << 8) | 0x10000u;
  std::vector<std::uint8_t> stream(data + 3, data + size);
  stream.insert(stream.end(), kPadding, 0x00);

  // The decoder on raw bytes, checksum or not.
  if (size >= 3 + 24) {
    rolta::ControllerStatus status;
    TextSinks sinks;
    rolta::DecodeStatusFrame(data + 3, status, sinks);
  }

  // One byte per notification for the first kOneByOne bytes (where frames
  // are cut at every possible place), the rest at once.
  constexpr std::size_t kOneByOne = 600;
  Run single(stream);
  long notifications = 0;
  for (std::size_t k = 0; k < stream.size() && k < kOneByOne; ++k) {
    single.channel.Arrive(1);
    single.Notify();
    ++notifications;
  }
  single.channel.Arrive(stream.size());
  for (int i = 0; i < 8 && single.channel.Waiting() > 0; ++i, ++notifications) single.Notify();
  Check(single.channel.Waiting() == 0, "the driver queue drains");
  Check(single.channel.acks == notifications, "every notification acknowledged");

  // Chunks whose sizes the input decides; the driver may hold more than one
  // read takes. With flag 0x04 the ring starts just before its end, so
  // frames cross it.
  Run chunked(stream);
  if (flags & 0x04) chunked.receiver.Reset(rolta::RxRing::kSize - 1 - seed % 512);
  const std::size_t maxChunk = (flags & 0x08) ? 64 : (flags & 0x20) ? 65536 : 8192;
  std::size_t at = 0;
  while (at < stream.size()) {
    seed = seed * 1103515245u + 12345u;
    const std::size_t n = std::min<std::size_t>(1 + (seed >> 8) % maxChunk, stream.size() - at);
    chunked.channel.Arrive(n);
    at += n;
    chunked.Notify();
  }
  for (int i = 0; i < 8 && chunked.channel.Waiting() > 0; ++i) chunked.Notify();
  Check(chunked.channel.Waiting() == 0, "the driver queue drains");
  Check(single.sink.frames == chunked.sink.frames, "the same frames whatever the read boundaries");

  // Ctrl held at input-chosen moments: only the frame checks apply.
  if (flags & 0x10) {
    Run held(stream);
    held.sink.ctrlPattern = seed;
    held.channel.Arrive(stream.size());
    for (int i = 0; i < 16; ++i) held.Notify();
  }
  return 0;
}
