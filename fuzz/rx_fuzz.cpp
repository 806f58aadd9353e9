// Feeds arbitrary line bytes through the receive path, one byte per
// notification and in input-chosen chunks, decodes every status frame, and
// checks every frame handed on: right length for its type, good checksum,
// re-sealed unchanged, and the same frames whatever the read boundaries.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "env/text_lookup.h"
#include "link/byte_channel.h"
#include "link/frames.h"
#include "link/rx_ring.h"
#include "link/status_frames.h"

namespace {

using rolta::ControllerFrameKind;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

class QueueChannel : public rolta::ByteChannel {
 public:
  std::deque<std::uint8_t> incoming;
  bool IsOpen() const override { return true; }
  std::size_t Read(std::uint8_t* buffer, std::size_t max) override {
    Check(max > 0 && max <= rolta::RxRing::kCapacity, "read size within the ring's room");
    std::size_t n = 0;
    while (n < max && !incoming.empty()) {
      buffer[n++] = incoming.front();
      incoming.pop_front();
    }
    return n;
  }
  std::size_t Write(const std::uint8_t*, std::size_t length) override { return length; }
  void AcknowledgeNotification() override { ++acks; }
  long acks = 0;
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

class CheckingReceivers : public rolta::FrameReceivers {
 public:
  std::vector<std::vector<std::uint8_t>> frames;
  std::uint32_t ctrlPattern = 0;
  mutable unsigned ctrlQueries = 0;
  rolta::ControllerStatus status;
  rolta::UpgradeReplies replies;
  TextSinks sinks;

  void SetStatusLine(const std::string&) override {}
  bool IsCtrlHeld() const override { return (ctrlPattern >> (ctrlQueries++ % 32)) & 1u; }
  void PauseAfterFrame() override {}
  void OnParamRecordFrame(const std::uint8_t* frame) override {
    Take(frame, 101, ControllerFrameKind::ParamRecord);
  }
  void OnCalibFrame(const std::uint8_t* frame, std::size_t length) override {
    Take(frame, length, ControllerFrameKind::CalibTable);
  }
  void OnChannelMapFrame(const std::uint8_t* frame) override {
    Take(frame, 48, ControllerFrameKind::ChannelMap);
  }
  void OnStatusFrame(const std::uint8_t* frame) override {
    Take(frame, 24, ControllerFrameKind::Status);
    rolta::DecodeStatusFrame(frame, status, replies, sinks);
  }

 private:
  void Take(const std::uint8_t* frame, std::size_t length, ControllerFrameKind kind) {
    Check(frame[0] == 0x55 && frame[1] == 0xAA, "frame starts with the sync pair");
    Check(rolta::ControllerFrameLength(frame[2]) == length, "length of the frame's type");
    Check(rolta::ControllerFrameKindOf(frame[2]) == kind, "receiver of the frame's type");
    Check(rolta::VerifyChecksum(frame, length) == 0, "checksum of a dispatched frame");
    std::vector<std::uint8_t> copy(frame, frame + length);
    rolta::StoreChecksum(copy.data(), copy.size());
    Check(std::equal(copy.begin(), copy.end(), frame), "re-sealed frame is unchanged");
    frames.push_back(std::move(copy));
  }
};

struct Run {
  QueueChannel channel;
  rolta::IdentityLookup lookup;
  CheckingReceivers receivers;
  rolta::FrameReceiver receiver{channel, lookup, receivers};

  void Notify() {
    receiver.OnCommNotify(1);
    Check(receiver.Ring().Available() <= rolta::RxRing::kCapacity, "ring within capacity");
    const std::int32_t expected = receiver.ExpectedLength();
    bool known = expected == 0;
    for (int type = 0; type < 256 && !known; ++type) {
      known = static_cast<std::int32_t>(rolta::ControllerFrameLength(
                  static_cast<std::uint8_t>(type))) == expected;
    }
    Check(known, "expected length is a reply length");
  }
};

// Enough zeros to complete any pending frame and push the last one through
// the expected-length gate; zeros never start a frame.
constexpr std::size_t kPadding = 2 * rolta::kLongestControllerFrame + 8;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint8_t flags = data[0];
  std::uint32_t seed = data[1] | (data[2] << 8) | 0x10000u;
  const int repeats = 1 + (flags & 0x03);  // repeated input wraps the ring
  std::vector<std::uint8_t> stream;
  for (int r = 0; r < repeats; ++r) stream.insert(stream.end(), data + 3, data + size);
  stream.insert(stream.end(), kPadding, 0x00);

  // The decoder on raw bytes, checksum or not.
  if (size >= 3 + 24) {
    rolta::ControllerStatus status;
    rolta::UpgradeReplies replies;
    TextSinks sinks;
    rolta::DecodeStatusFrame(data + 3, status, replies, sinks);
  }

  // One byte per notification.
  Run single;
  for (std::uint8_t b : stream) {
    single.channel.incoming.push_back(b);
    single.Notify();
  }
  Check(single.channel.acks == static_cast<long>(stream.size()), "every notification acknowledged");

  // Chunks whose sizes the input decides; the driver may hold more than one
  // read takes.
  Run chunked;
  const std::size_t maxChunk = (flags & 0x08) ? 64 : (flags & 0x20) ? 65536 : 8192;
  std::size_t at = 0;
  while (at < stream.size()) {
    seed = seed * 1103515245u + 12345u;
    const std::size_t n = std::min<std::size_t>(1 + (seed >> 8) % maxChunk, stream.size() - at);
    chunked.channel.incoming.insert(chunked.channel.incoming.end(), stream.begin() + at,
                                    stream.begin() + at + n);
    at += n;
    chunked.Notify();
  }
  for (int i = 0; i < 8 && !chunked.channel.incoming.empty(); ++i) chunked.Notify();
  Check(chunked.channel.incoming.empty(), "the driver queue drains");
  Check(single.receivers.frames == chunked.receivers.frames,
        "the same frames whatever the read boundaries");

  // Ctrl held at input-chosen moments: only the frame checks apply.
  if (flags & 0x10) {
    Run held;
    held.receivers.ctrlPattern = seed;
    held.channel.incoming.assign(stream.begin(), stream.end());
    for (int i = 0; i < 16; ++i) held.Notify();
  }
  return 0;
}
