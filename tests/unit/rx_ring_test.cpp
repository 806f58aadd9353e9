// The receive path: ring, frame synchroniser and the status line of each frame.
#include "link/frame_sync.h"
#include "marking_lookup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "readouts/console_texts.h"
#include "env/text_lookup.h"
#include "link/frames.h"
#include "memory_channel.h"

namespace rolta {
namespace {

using Bytes = std::vector<std::uint8_t>;

using test::MarkingLookup;

const std::string kMismatch = "<ROLTA/QRX5000版本不匹配。请点击\"版本号\"获取信息>";
const std::string kInvalid = "<无效指令>";

std::string NumthText(int numth, int signedType) {
  char text[48];
  std::snprintf(text, sizeof text, "Numth: %d %d", numth, signedType);
  return text;
}

// A good controller frame of the type's length; the payload bytes are `fill`
// or, with a generator, random.
Bytes MakeFrame(std::uint8_t type, std::int16_t numth, std::uint8_t fill = 0x33, std::mt19937* random = nullptr) {
  Bytes frame(ControllerFrameLength(type), fill);
  frame[0] = 0x55;
  frame[1] = 0xAA;
  frame[2] = type;
  frame[3] = static_cast<std::uint8_t>(frame.size() - 6);
  if (random != nullptr) {
    for (std::size_t i = 6; i < frame.size() - 2; ++i) frame[i] = static_cast<std::uint8_t>((*random)());
  }
  PutUInt16LE(&frame[frame.size() - 2], static_cast<std::uint16_t>(numth));
  StoreChecksum(frame.data(), frame.size());
  return frame;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

enum class Receiver { ParamRecord, Calib, ChannelMap, Status };

struct Dispatched {
  Receiver receiver;
  Bytes frame;
  std::string statusLine;  // the status line when the frame was handed on

  bool operator==(const Dispatched&) const = default;
};

// Records what the synchroniser hands on, and the status line the console
// would show at that moment (the last text of the running scan, empty when
// a scan ends on an incomplete frame before any).
class RecordingReceivers : public FrameSink {
 public:
  explicit RecordingReceivers(const TextLookup& lookup) : lookup_(lookup) {}
  std::vector<std::string> statusLines;
  std::vector<Dispatched> dispatched;
  bool ctrlHeld = false;
  int ctrlQueries = 0;
  int pauses = 0;

  std::string StatusLine() const { return statusLines.empty() ? "(untouched)" : statusLines.back(); }

  void OnScanBegin() override { scanText_.clear(); }
  void OnFrame(std::uint8_t type, const std::uint8_t* frame, std::size_t length) override {
    SetStatusLine(FrameStatusText(lookup_, type, GetInt16LE(frame + length - 2)));
    dispatched.push_back({ReceiverOf(type), Bytes(frame, frame + length), StatusLine()});
  }
  bool OnBadFrame(std::uint8_t type, const std::uint8_t*, std::size_t) override {
    if (type != 1) return false;
    SetStatusLine(lookup_.Lookup(kVersionMismatchText));
    ++ctrlQueries;
    return ctrlHeld;
  }
  void OnFrameIncomplete() override { statusLines.push_back(scanText_); }
  void PauseAfterFrame() override { ++pauses; }

 private:
  static Receiver ReceiverOf(std::uint8_t type) {
    switch (ControllerFrameKindOf(type)) {
      case ControllerFrameKind::ParamRecord: return Receiver::ParamRecord;
      case ControllerFrameKind::CalibTable: return Receiver::Calib;
      case ControllerFrameKind::ChannelMap: return Receiver::ChannelMap;
      case ControllerFrameKind::Status: break;
    }
    return Receiver::Status;
  }
  void SetStatusLine(const std::string& text) {
    scanText_ = text;
    statusLines.push_back(text);
  }
  const TextLookup& lookup_;
  std::string scanText_;
};

Receiver ExpectedReceiver(std::uint8_t type) {
  if (type == 1) return Receiver::ParamRecord;
  if (type == 65) return Receiver::ChannelMap;
  if (type == 5 || type == 78 || (type >= 60 && type <= 64) || (type >= 120 && type <= 122)) {
    return Receiver::Calib;
  }
  return Receiver::Status;
}

class RxRingTest : public ::testing::Test {
 protected:
  // One notification after `bytes` arrived.
  void Deliver(const Bytes& bytes) {
    channel.Queue(bytes);
    receiver.OnCommNotify(1);
  }
  std::vector<Bytes> DispatchedFrames() const {
    std::vector<Bytes> frames;
    for (const Dispatched& d : receivers.dispatched) frames.push_back(d.frame);
    return frames;
  }

  test::MemoryChannel channel;
  MarkingLookup lookup;
  RecordingReceivers receivers{lookup};
  FrameReceiver receiver{channel, receivers};
};

TEST_F(RxRingTest, FrameSplitOverReadsIsFoundOnceComplete) {
  const Bytes frame = MakeFrame(16, 5);
  EXPECT_EQ(receiver.ExpectedLength(), 0);

  // The first piece reaches ExpectedLength (0): scanned, incomplete, status emptied.
  Deliver(Bytes(frame.begin(), frame.begin() + 10));
  EXPECT_EQ(receivers.statusLines, std::vector<std::string>{""});
  EXPECT_EQ(receiver.ExpectedLength(), 24);
  // Still short of 24 bytes: not scanned at all, the status line is left alone.
  Deliver(Bytes(frame.begin() + 10, frame.begin() + 20));
  EXPECT_EQ(receivers.statusLines.size(), 1u);
  EXPECT_TRUE(receivers.dispatched.empty());

  Deliver(Bytes(frame.begin() + 20, frame.end()));
  ASSERT_EQ(receivers.dispatched.size(), 1u);
  EXPECT_EQ(receivers.dispatched[0], (Dispatched{Receiver::Status, frame, "Numth: 5 16"}));
  EXPECT_EQ(receivers.pauses, 1);
  EXPECT_EQ(receiver.Ring().Head(), 0u);
  EXPECT_EQ(receiver.Ring().Tail(), 0u);
  EXPECT_EQ(channel.Acknowledgements(), 3);
}

TEST_F(RxRingTest, IncompleteFrameAfterAGoodOneKeepsTheGoodOnesText) {
  const Bytes status = MakeFrame(33, 7);
  const Bytes record = MakeFrame(1, 9);
  Deliver(Concat({status, Bytes(record.begin(), record.begin() + 40)}));
  EXPECT_EQ(receivers.statusLines, (std::vector<std::string>{"Numth: 7 33", "Numth: 7 33"}));
  EXPECT_EQ(receiver.ExpectedLength(), 101);

  Deliver(Bytes(record.begin() + 40, record.begin() + 100));  // 100 < 101: no scan
  EXPECT_EQ(receivers.statusLines.size(), 2u);
  Deliver(Bytes(record.begin() + 100, record.end()));
  EXPECT_EQ(DispatchedFrames(), (std::vector<Bytes>{status, record}));
  EXPECT_EQ(receivers.dispatched[1].receiver, Receiver::ParamRecord);
  EXPECT_EQ(receivers.StatusLine(), "Numth: 9 1");
  EXPECT_EQ(receiver.ExpectedLength(), 24);
}

TEST_F(RxRingTest, SeveralFramesInOneReadGoOutInOrder) {
  const Bytes map = MakeFrame(65, 1);
  const Bytes table = MakeFrame(78, 2);
  const Bytes status = MakeFrame(100, 3);
  const Bytes ten = MakeFrame(121, 4);
  Deliver(Concat({map, table, status, ten}));
  ASSERT_EQ(receivers.dispatched.size(), 4u);
  EXPECT_EQ(receivers.dispatched[0], (Dispatched{Receiver::ChannelMap, map, "Numth: 1 65"}));
  EXPECT_EQ(receivers.dispatched[1], (Dispatched{Receiver::Calib, table, "Numth: 2 78"}));
  EXPECT_EQ(receivers.dispatched[2], (Dispatched{Receiver::Status, status, "Numth: 3 100"}));
  EXPECT_EQ(receivers.dispatched[3], (Dispatched{Receiver::Calib, ten, "Numth: 4 121"}));
  EXPECT_EQ(receivers.StatusLine(), "Numth: 4 121");
  EXPECT_EQ(receivers.pauses, 4);
  EXPECT_EQ(receiver.Counters().framesDispatched, 4u);
  EXPECT_EQ(channel.Acknowledgements(), 1);
}

TEST_F(RxRingTest, LeadingBytesAreDroppedAndALoneSyncByteWaits) {
  const Bytes first = MakeFrame(16, 1);
  const Bytes second = MakeFrame(17, 2);
  Deliver(Concat({{0x00, 0x55, 0x11, 0xAA, 0x55}, first, {0x55}}));
  EXPECT_EQ(DispatchedFrames(), std::vector<Bytes>{first});
  EXPECT_EQ(receiver.Counters().bytesSkipped, 5u);
  ASSERT_EQ(receiver.Ring().Available(), 1u);
  EXPECT_EQ(receiver.Ring().At(0), 0x55);

  // The waiting 0x55 is the start of the next frame.
  Deliver(Bytes(second.begin() + 1, second.end()));
  EXPECT_EQ(DispatchedFrames(), (std::vector<Bytes>{first, second}));
  EXPECT_EQ(receiver.Ring().Available(), 0u);
}

TEST_F(RxRingTest, SyncPairInsideAGoodPayloadIsNotExamined) {
  // The payload holds what looks like the start of a parameter record.
  Bytes frame = MakeFrame(16, 3);
  const std::uint8_t inner[] = {0x55, 0xAA, 0x01, 0x04};
  std::copy(std::begin(inner), std::end(inner), frame.begin() + 8);
  StoreChecksum(frame.data(), frame.size());
  Deliver(Concat({frame, MakeFrame(16, 4)}));
  ASSERT_EQ(receivers.dispatched.size(), 2u);
  EXPECT_EQ(receivers.dispatched[0].frame, frame);
  EXPECT_EQ(receiver.Counters().bytesSkipped, 0u);
  EXPECT_EQ(receivers.ctrlQueries, 0);
}

TEST_F(RxRingTest, BadParameterRecordShowsTheMismatchAndIsSkipped) {
  Bytes bad = MakeFrame(1, 0);
  bad[50] ^= 0x01;
  const Bytes after = MakeFrame(16, 8);
  Deliver(Concat({bad, after}));
  EXPECT_EQ(receivers.statusLines, (std::vector<std::string>{kMismatch, "Numth: 8 16"}));
  EXPECT_EQ(DispatchedFrames(), std::vector<Bytes>{after});
  EXPECT_EQ(receiver.Counters().checksumErrors, 1u);
  EXPECT_EQ(receiver.Counters().bytesSkipped, 101u);
}

TEST_F(RxRingTest, BadParameterRecordIsHeldWhileCtrlIsDown) {
  Bytes bad = MakeFrame(1, 0);
  bad[6] ^= 0x80;
  const Bytes a = MakeFrame(16, 1), b = MakeFrame(16, 2), c = MakeFrame(16, 3);
  receivers.ctrlHeld = true;
  Deliver(Concat({bad, a}));
  EXPECT_TRUE(receivers.dispatched.empty());
  EXPECT_EQ(receivers.StatusLine(), kMismatch);
  EXPECT_EQ(receiver.Ring().Available(), 125u);

  Deliver(b);  // examined again, still held
  EXPECT_TRUE(receivers.dispatched.empty());
  EXPECT_EQ(receivers.StatusLine(), kMismatch);
  EXPECT_EQ(receiver.Ring().At(2), 1);
  EXPECT_EQ(receiver.ExpectedLength(), 101);

  receivers.ctrlHeld = false;
  Deliver(c);
  EXPECT_EQ(DispatchedFrames(), (std::vector<Bytes>{a, b, c}));
  EXPECT_EQ(receivers.StatusLine(), "Numth: 3 16");
  EXPECT_EQ(receiver.Ring().Available(), 0u);
  EXPECT_EQ(receiver.Counters().checksumErrors, 3u);  // once per examination
}

TEST_F(RxRingTest, FalseSyncOfALongTypeWaitsAndIsSkippedWhole) {
  const Bytes hidden = MakeFrame(16, 1);
  Deliver({0x55, 0xAA, 0x05, 0x00, 0x01, 0x02});
  EXPECT_EQ(receivers.StatusLine(), "");
  EXPECT_EQ(receiver.ExpectedLength(), 219);

  // A good frame behind the false start is not looked at until 219 bytes wait.
  Deliver(hidden);
  EXPECT_TRUE(receivers.dispatched.empty());
  EXPECT_EQ(receivers.statusLines.size(), 1u);

  Bytes filler(219 - 6 - 24, 0x00);
  const Bytes after = MakeFrame(17, 2);
  Deliver(Concat({filler, after}));
  EXPECT_EQ(DispatchedFrames(), std::vector<Bytes>{after});  // `hidden` went with the 219
  EXPECT_EQ(receiver.Counters().checksumErrors, 1u);
  EXPECT_EQ(receiver.Counters().bytesSkipped, 219u);
  EXPECT_EQ(receivers.statusLines, (std::vector<std::string>{"", "Numth: 2 17"}));
}

TEST_F(RxRingTest, EveryTypeHasItsLengthReceiverAndStatusText) {
  for (int type = 0; type < 256; ++type) {
    const auto t = static_cast<std::uint8_t>(type);
    receivers.dispatched.clear();
    Deliver(MakeFrame(t, static_cast<std::int16_t>(-300 + type)));
    ASSERT_EQ(receivers.dispatched.size(), 1u) << type;
    EXPECT_EQ(receivers.dispatched[0].receiver, ExpectedReceiver(t)) << type;
    const int signedType = type < 128 ? type : type - 256;
    EXPECT_EQ(receivers.StatusLine(), NumthText(-300 + type, signedType)) << type;
  }
  Deliver(MakeFrame(0, 1));
  EXPECT_EQ(receivers.StatusLine(), "Numth: 1 0");
  Deliver(MakeFrame(128, 1));
  EXPECT_EQ(receivers.StatusLine(), "Numth: 1 -128");
  Deliver(MakeFrame(255, -32768));
  EXPECT_EQ(receivers.StatusLine(), "Numth: -32768 -1");
  // A rejected command: the translated text instead of the numbers.
  Deliver(MakeFrame(50, -6));
  EXPECT_EQ(receivers.StatusLine(), kInvalid);
  EXPECT_EQ(receivers.dispatched.back().receiver, Receiver::Status);
}

TEST_F(RxRingTest, FrameAcrossTheEndOfTheRingIsReadInOnePiece) {
  const Bytes frame = MakeFrame(78, 12, 0x5A);
  // Skippable bytes up to 30 before the end, then the first 30 bytes of the frame.
  Bytes lead(RxRing::kSize - 40, 0x00);
  Deliver(Concat({lead, Bytes(frame.begin(), frame.begin() + 30)}));
  EXPECT_EQ(receiver.Ring().Tail(), RxRing::kSize - 40);
  EXPECT_EQ(receiver.Ring().Head(), RxRing::kSize - 10);

  Deliver(Bytes(frame.begin() + 30, frame.end()));
  EXPECT_EQ(DispatchedFrames(), std::vector<Bytes>{frame});
  // Everything consumed: both indices back at the start.
  EXPECT_EQ(receiver.Ring().Head(), 0u);
  EXPECT_EQ(receiver.Ring().Tail(), 0u);
}

TEST_F(RxRingTest, EveryNotificationIsAcknowledged) {
  channel.Queue(MakeFrame(16, 1));
  receiver.OnCommNotify(0);  // no characters event
  receiver.OnCommNotify(2);
  EXPECT_TRUE(channel.ReadRequests().empty());
  channel.SetOpen(false);
  receiver.OnCommNotify(1);
  EXPECT_EQ(channel.Pending(), 24u);
  EXPECT_TRUE(receivers.dispatched.empty());
  EXPECT_EQ(channel.Acknowledgements(), 3);

  channel.SetOpen(true);
  receiver.OnCommNotify(1);
  EXPECT_EQ(receivers.dispatched.size(), 1u);
  receiver.OnCommNotify(1);  // empty read
  EXPECT_EQ(channel.Acknowledgements(), 5);
  EXPECT_EQ(receivers.statusLines.size(), 1u);
}

// A receiver that pumps events (a message box, say) lets the next
// notification in while the first is still scanning.
TEST_F(RxRingTest, NotificationFromInsideAReceiverIsScannedAfterTheRunningScan) {
  const Bytes a = MakeFrame(16, 1), b = MakeFrame(16, 2), c = MakeFrame(16, 3);
  class Pumping : public RecordingReceivers {
   public:
    FrameReceiver* receiver = nullptr;
    test::MemoryChannel* channel = nullptr;
    Bytes arriving;
    using RecordingReceivers::RecordingReceivers;
    void OnFrame(std::uint8_t type, const std::uint8_t* frame, std::size_t length) override {
      RecordingReceivers::OnFrame(type, frame, length);
      channel->Queue(arriving);
      arriving.clear();
      receiver->OnCommNotify(1);
    }
  } pumping{lookup};
  FrameReceiver nested(channel, pumping);
  pumping.receiver = &nested;
  pumping.channel = &channel;
  pumping.arriving = c;
  channel.Queue(Concat({a, b}));
  nested.OnCommNotify(1);
  ASSERT_EQ(pumping.dispatched.size(), 3u);
  EXPECT_EQ(pumping.dispatched[0].frame, a);
  EXPECT_EQ(pumping.dispatched[1].frame, b);
  EXPECT_EQ(pumping.dispatched[2].frame, c);
  EXPECT_EQ(pumping.StatusLine(), "Numth: 3 16");
  EXPECT_EQ(channel.Pending(), 0u);
  EXPECT_EQ(nested.Ring().Available(), 0u);
  EXPECT_EQ(channel.Acknowledgements(), 4);  // the outer one and three nested
}

TEST_F(RxRingTest, ResetEmptiesTheRing) {
  Deliver({0x55, 0xAA, 0x10});
  EXPECT_EQ(receiver.Ring().Available(), 3u);
  receiver.Reset();
  EXPECT_EQ(receiver.Ring().Head(), 0u);
  EXPECT_EQ(receiver.Ring().Tail(), 0u);
}

// More bytes than the ring holds arrive at once: they are taken in pieces
// that fit, across several notifications, and none is lost or reordered.
TEST_F(RxRingTest, BurstLargerThanTheRingArrivesWholeAndInOrder) {
  std::mt19937 random(7);
  std::vector<Bytes> frames;
  Bytes burst;
  while (burst.size() < 3 * RxRing::kSize) {
    const std::uint8_t types[] = {16, 5, 1, 65, 78, 62};
    frames.push_back(MakeFrame(types[frames.size() % 6], 1, 0, &random));
    burst.insert(burst.end(), frames.back().begin(), frames.back().end());
  }
  channel.Queue(burst);
  int notifications = 0;
  while (channel.Pending() > 0 && notifications < 100) {
    receiver.OnCommNotify(1);
    ++notifications;
  }
  EXPECT_GT(notifications, 3);
  EXPECT_EQ(DispatchedFrames(), frames);
  EXPECT_EQ(receiver.Counters().checksumErrors, 0u);
  for (std::size_t max : channel.ReadRequests()) {
    EXPECT_GE(max, 1u);
    EXPECT_LE(max, RxRing::kCapacity);
  }
}

// While Ctrl holds a bad parameter record at the tail, the ring fills up; it
// then stops reading instead of overwriting, and nothing is lost afterwards.
TEST_F(RxRingTest, FullRingStopsReadingUntilBytesAreConsumed) {
  Bytes bad = MakeFrame(1, 0);
  bad[9] ^= 0x10;
  std::vector<Bytes> frames;
  Bytes stream = bad;
  while (stream.size() < RxRing::kSize + 5000) {
    frames.push_back(MakeFrame(static_cast<std::uint8_t>(16 + frames.size() % 2), 1));
    stream.insert(stream.end(), frames.back().begin(), frames.back().end());
  }
  receivers.ctrlHeld = true;
  channel.Queue(stream);
  for (int i = 0; i < 5; ++i) receiver.OnCommNotify(1);
  EXPECT_EQ(receiver.Ring().Available(), RxRing::kCapacity);
  EXPECT_EQ(channel.Pending(), stream.size() - RxRing::kCapacity);
  EXPECT_TRUE(receivers.dispatched.empty());
  EXPECT_EQ(channel.ReadRequests().size(), 1u);  // a full ring asks for nothing
  EXPECT_EQ(channel.Acknowledgements(), 5);

  receivers.ctrlHeld = false;
  for (int i = 0; i < 5 && (channel.Pending() > 0 || receiver.Ring().Available() > 0); ++i) {
    receiver.OnCommNotify(1);
  }
  EXPECT_EQ(DispatchedFrames(), frames);
  EXPECT_EQ(receiver.Ring().Available(), 0u);
}

// Bytes that may sit between frames: anything but a 0x55 followed by 0xAA.
// The byte after the last filler byte is a frame's 0x55, and a frame's last
// byte is never looked at as a sync byte, so only pairs inside the filler matter.
Bytes Filler(std::mt19937& random, std::size_t count) {
  Bytes filler;
  std::uniform_int_distribution<int> byte(0, 255);
  while (filler.size() < count) {
    auto b = static_cast<std::uint8_t>(byte(random));
    if (b == 0xAA && !filler.empty() && filler.back() == 0x55) continue;
    filler.push_back(b);
  }
  return filler;
}

constexpr std::array<std::uint8_t, 2> kSyncPair = {0x55, 0xAA};

struct Stream {
  Bytes bytes;
  std::vector<Dispatched> expected;
};

Stream RandomStream(std::uint32_t seed, std::size_t minimumBytes) {
  std::mt19937 random(seed);
  // One type of every length class, and a few status types of both signs.
  const std::uint8_t types[] = {1, 5, 60, 65, 78, 122, 16, 0, 42, 127, 128, 200, 255};
  std::uniform_int_distribution<int> pick(0, std::size(types) - 1);
  std::uniform_int_distribution<int> gap(0, 40);
  std::uniform_int_distribution<int> numth(-8, 300);
  Stream stream;
  // A frame whose end could be the start of another counts only when a frame
  // starts right after it (line noise there would have it refused).
  bool endInDoubt = false;
  while (stream.bytes.size() < minimumBytes) {
    const std::size_t fill = gap(random) < 25 ? 0 : gap(random);
    const Bytes filler = Filler(random, endInDoubt ? 0 : fill);
    const std::uint8_t type = types[pick(random)];
    const auto n = static_cast<std::int16_t>(numth(random));
    const Bytes frame = MakeFrame(type, n, 0, &random);
    endInDoubt = frame.back() == 0x55 ||
                 std::search(frame.begin() + 2, frame.end(), kSyncPair.begin(), kSyncPair.end()) != frame.end();
    stream.bytes.insert(stream.bytes.end(), filler.begin(), filler.end());
    stream.bytes.insert(stream.bytes.end(), frame.begin(), frame.end());
    const std::string text = n == -6 ? kInvalid : NumthText(n, static_cast<std::int8_t>(type));
    stream.expected.push_back({ExpectedReceiver(type), frame, text});
  }
  return stream;
}

TEST_F(RxRingTest, RandomStreamCutAnywhereDispatchesEveryFrameOnceInOrder) {
  for (std::uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    test::MemoryChannel channel;
    RecordingReceivers receivers{lookup};
    FrameReceiver receiver(channel, receivers);
    const Stream stream = RandomStream(seed, 4 * RxRing::kSize);  // wraps the ring
    std::mt19937 random(seed * 977);
    std::uniform_int_distribution<std::size_t> cut(1, 3000);
    std::size_t at = 0;
    while (at < stream.bytes.size()) {
      const std::size_t n = std::min(cut(random), stream.bytes.size() - at);
      channel.Queue(std::span(stream.bytes).subspan(at, n));
      receiver.OnCommNotify(1);
      at += n;
    }
    EXPECT_EQ(receivers.dispatched, stream.expected);
    EXPECT_EQ(receiver.Counters().checksumErrors, 0u);
    EXPECT_EQ(receiver.Ring().Available(), 0u);
  }
}

TEST_F(RxRingTest, RandomStreamOneByteAtATime) {
  const Stream stream = RandomStream(11, RxRing::kSize + 1000);
  for (std::uint8_t b : stream.bytes) {
    channel.Queue({b});
    receiver.OnCommNotify(1);
  }
  EXPECT_EQ(receivers.dispatched, stream.expected);
  EXPECT_EQ(channel.Acknowledgements(), static_cast<int>(stream.bytes.size()));
}

}  // namespace
}  // namespace rolta
