// The receive path against lost bytes: a frame assembled across them never
// goes on, whatever byte is lost and however the bytes are read.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "link/frame_sync.h"
#include "memory_channel.h"
#include "status_frame.h"

namespace rolta {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kFrames = 40;
// Numth runs into 0x55xx, where a frame's last byte is a sync byte.
constexpr int kFirstNumth = 21745;

// A constant-speed test: speed and torque move, the third value holds
// 10/3 (bytes 55 55 55 40), so losing one of those bytes keeps the checksum.
Bytes SentStream() {
  Bytes stream;
  for (int i = 0; i < kFrames; ++i) {
    const Bytes f =
        test::StatusFrame(16, 12.5f + 0.37f * static_cast<float>(i), 49.5f + 0.01f * static_cast<float>(i),
                          10.0f / 3.0f, 2000.0f + static_cast<float>(i), static_cast<std::int16_t>(kFirstNumth + i));
    stream.insert(stream.end(), f.begin(), f.end());
  }
  return stream;
}

struct Collected final : FrameSink {
  std::vector<Bytes> frames;
  void OnScanBegin() override {}
  void OnFrame(std::uint8_t, const std::uint8_t* frame, std::size_t length) override {
    frames.emplace_back(frame, frame + length);
  }
  bool OnBadFrame(std::uint8_t, const std::uint8_t*, std::size_t) override { return false; }
  void OnFrameIncomplete() override {}
  void PauseAfterFrame() override {}
};

// Feeds `bytes` in one read (maxChunk 0) or in random pieces of 1..maxChunk,
// then lets the line go quiet. Returns what went on and how much was refused.
struct Outcome {
  std::vector<Bytes> frames;
  std::uint64_t refused = 0;
};
Outcome Feed(const Bytes& bytes, std::size_t maxChunk, std::mt19937& random) {
  test::MemoryChannel channel;
  Collected sink;
  FrameReceiver receiver(channel, sink);
  std::uniform_int_distribution<std::size_t> chunk(1, std::max<std::size_t>(maxChunk, 1));
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t n = maxChunk == 0 ? bytes.size() : std::min(chunk(random), bytes.size() - at);
    channel.Queue(std::span(bytes).subspan(at, n));
    receiver.OnCommNotify(FrameReceiver::kCharactersReceived);
    at += n;
  }
  receiver.ReleaseHeldFrame(LineClock::now() + FrameReceiver::kQuietConfirmsEnd);
  EXPECT_FALSE(receiver.HoldsFrame());
  return {sink.frames, receiver.Counters().framesRefused};
}

TEST(Resync, NoFrameCutByALostByteGoesOn) {
  const Bytes sent = SentStream();
  std::mt19937 random(5);
  std::uint64_t refused = 0, lost = 0;
  for (std::size_t maxChunk : {std::size_t{0}, std::size_t{7}, std::size_t{40}}) {
    for (std::size_t drop = 0; drop < sent.size(); ++drop) {
      Bytes damaged = sent;
      damaged.erase(damaged.begin() + static_cast<std::ptrdiff_t>(drop));
      const Outcome out = Feed(damaged, maxChunk, random);
      int previous = kFirstNumth - 1;
      for (const Bytes& f : out.frames) {
        const int index = GetInt16LE(&f[22]) - kFirstNumth;
        ASSERT_TRUE(index >= 0 && index < kFrames && index + kFirstNumth > previous)
            << "byte " << drop << " lost, chunks " << maxChunk << ": numth " << index + kFirstNumth;
        EXPECT_TRUE(std::equal(f.begin(), f.end(), sent.begin() + index * 24)) << "byte " << drop;
        previous = index + kFirstNumth;
      }
      // The damaged frame, and the neighbour it swallowed a byte of or whose
      // end it left unconfirmed; never more.
      EXPECT_GE(out.frames.size(), kFrames - 2u) << "byte " << drop << ", chunks " << maxChunk;
      refused += out.refused;
      lost += kFrames - out.frames.size();
    }
  }
  RecordProperty("refused", static_cast<int>(refused));
  RecordProperty("lost", static_cast<int>(lost));
  std::printf("%zu lost bytes x 3 ways of reading: %llu frames refused, %llu frames lost\n", sent.size(),
              static_cast<unsigned long long>(refused), static_cast<unsigned long long>(lost));
  EXPECT_GT(refused, 0u);  // the stream does hold losses that the checksum misses
}

TEST(Resync, WithoutLossEveryFrameGoesOnOnceItsBytesAreIn) {
  const Bytes sent = SentStream();
  std::mt19937 random(9);
  test::MemoryChannel channel;
  Collected sink;
  FrameReceiver receiver(channel, sink);
  std::uniform_int_distribution<std::size_t> chunk(1, 30);
  for (std::size_t at = 0; at < sent.size();) {
    const std::size_t n = std::min(chunk(random), sent.size() - at);
    channel.Queue(std::span(sent).subspan(at, n));
    receiver.OnCommNotify(FrameReceiver::kCharactersReceived);
    at += n;
    EXPECT_EQ(sink.frames.size(), at / 24) << "after " << at << " bytes";
  }
  EXPECT_EQ(receiver.Counters().framesRefused, 0u);
}

// Frames whose end may be the start of another: what settles them.
TEST(Resync, AFrameWhoseEndIsInDoubtWaitsForTheNextBytesOrSilence) {
  Bytes suspect = test::StatusFrame(4, 1, 734, 0, 0, 0x5501);  // last byte 0x55
  Bytes record(ControllerFrameLength(1), 0);
  record[0] = kSync1, record[1] = kSync2, record[2] = 1, record[50] = kSync1, record[51] = kSync2;
  StoreChecksum(record.data(), record.size());
  struct Case {
    const char* name;
    Bytes first, then;
    bool heldAfterFirst, quiet;
    std::size_t goneOn;
    std::uint64_t refused;
  };
  const Case cases[] = {
      {"confirmed by a frame start", suspect, {kSync1, kSync2}, true, false, 1, 0},
      {"refused by a byte that starts none", suspect, {0xAA}, true, false, 0, 1},
      {"a lone 55 settles nothing", suspect, {kSync1}, true, false, 0, 0},
      {"silence confirms it", suspect, {}, true, true, 1, 0},
      {"a reply is not held", record, {}, false, false, 1, 0},
      {"a reply followed by no frame start",
       [&] {
         Bytes b = record;
         b.insert(b.end(), {0, 0});
         return b;
       }(),
       {},
       false,
       false,
       0,
       1},
  };
  for (const Case& c : cases) {
    test::MemoryChannel channel;
    Collected sink;
    FrameReceiver receiver(channel, sink);
    channel.Queue(c.first);
    receiver.OnCommNotify(FrameReceiver::kCharactersReceived);
    EXPECT_EQ(receiver.HoldsFrame(), c.heldAfterFirst) << c.name;
    EXPECT_FALSE(receiver.ReleaseHeldFrame(LineClock::now())) << c.name;  // not quiet long enough
    channel.Queue(c.then);
    receiver.OnCommNotify(FrameReceiver::kCharactersReceived);
    if (c.quiet) receiver.ReleaseHeldFrame(LineClock::now() + FrameReceiver::kQuietConfirmsEnd);
    EXPECT_EQ(sink.frames.size(), c.goneOn) << c.name;
    EXPECT_EQ(receiver.Counters().framesRefused, c.refused) << c.name;
  }
}

}  // namespace
}  // namespace rolta
