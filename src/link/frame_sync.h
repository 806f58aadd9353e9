// The frame synchroniser: drains the channel into the receive ring, cuts
// controller frames out of it by the length of their type, checks them and
// hands each to its sink. What the frames mean is the sink's business.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "link/byte_channel.h"
#include "link/frames.h"
#include "link/line_tap.h"
#include "link/rx_ring.h"

namespace rolta {

// Where the synchroniser reports. `frame` is the start of the frame in the
// synchroniser's buffer of that length class (payload at +6); it stays valid
// until the next frame of the same class arrives.
class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // A scan of the ring begins (one or more per notification).
  virtual void OnScanBegin() = 0;
  // A frame with a good checksum.
  virtual void OnFrame(std::uint8_t frameType, const std::uint8_t* frame, std::size_t length) = 0;
  // A frame of a type's length whose checksum does not add up. True keeps it
  // at the tail of the ring and ends the scan; false skips it whole.
  virtual bool OnBadFrame(std::uint8_t frameType, const std::uint8_t* frame, std::size_t length) = 0;
  // The scan ends on a frame whose remaining bytes have not arrived yet.
  virtual void OnFrameIncomplete() = 0;
  // After each good frame has been handed on.
  virtual void PauseAfterFrame() = 0;
};

// What the receive path has seen since it was built, for display.
struct ReceiveCounters {
  std::uint64_t bytesReceived = 0;  // taken from the channel into the ring
  std::uint64_t framesDispatched = 0;
  std::uint64_t checksumErrors = 0;
  // Bytes dropped: non-sync bytes skipped one at a time plus whole frames
  // with a wrong checksum.
  std::uint64_t bytesSkipped = 0;
  // The most bytes the ring held after a read.
  std::uint32_t ringHighWater = 0;
  // Frames whose checksum adds up but whose end the next bytes did not
  // confirm although it could be the start of another frame: most likely
  // assembled across lost bytes. Dropped whole (their bytes count as skipped).
  std::uint64_t framesRefused = 0;
};

// A frame that lost bytes on the line is cut across into the next one: it
// ends with that frame's first bytes (55, or 55 AA ...), and the additive
// checksum still adds up when the bytes that slid in sum to the ones lost.
// So a frame whose end could be the start of another one counts only once
// the bytes after it start a frame (55 AA); when they do not, it is refused.
// A status frame whose Numth continues the last accepted frame's (+1) needs
// no such proof when nothing follows it yet; any other waits, at the tail,
// for the next bytes. Replies are never held: none may follow them for long.
// Frames whose end cannot be the start of another go on at once, as before.
class FrameReceiver {
 public:
  FrameReceiver(ByteChannel& channel, FrameSink& sink);

  // One bytes-waiting notification; bit 0 of `events` means characters arrived.
  // Always acknowledges the notification before it returns. One that comes
  // in from inside a sink only stores the bytes; the running scan takes them
  // when it is done.
  void OnCommNotify(std::uint32_t events);

  // Who sees every frame and every skipped run as the scan handles them;
  // nullptr: nobody.
  void SetTap(LineTap* tap) { tap_ = tap; }

  // Empties the ring (head = tail = `at`, 0 unless a test wants frames to
  // cross the ring's end) and forgets the last Numth and any held frame.
  void Reset(std::uint32_t at = 0);

  const RxRing& Ring() const { return ring_; }
  std::int32_t ExpectedLength() const { return expectedLength_; }
  const ReceiveCounters& Counters() const { return counters_; }

  // A status frame at the tail waits for the bytes that confirm its end.
  bool HoldsFrame() const { return heldSince_.has_value(); }
  // For a timer of the front end: takes waiting bytes as a notification
  // would, then hands on a frame still held after the line stayed quiet for
  // kQuietConfirmsEnd since it was held. A frame cut across lost bytes is
  // followed at once by the rest of the frame it swallowed the start of, so
  // silence confirms its end. True when a frame was handed on.
  bool ReleaseHeldFrame(LineClock::time_point now);
  static constexpr std::chrono::milliseconds kQuietConfirmsEnd{50};

  static constexpr std::uint32_t kCharactersReceived = 1;

 private:
  std::size_t ReadIntoRing();
  std::uint8_t* BufferFor(std::uint8_t frameType);
  void ReadAndScan();
  void Scan();
  void ReportSkipped(std::uint32_t from, std::uint32_t to);
  enum class End : std::uint8_t { Confirmed, Refused, Unknown };
  // Whether the good frame at `offset` ends where another frame starts.
  End CheckEnd(const std::uint8_t* frame, std::size_t length, std::uint32_t end, std::uint32_t available) const;

  ByteChannel& channel_;
  FrameSink& sink_;
  LineTap* tap_ = nullptr;
  RxRing ring_;
  std::int32_t expectedLength_ = 0;
  ReceiveCounters counters_;
  bool scanning_ = false;
  bool bytesArrivedDuringScan_ = false;
  std::optional<std::int16_t> lastNumth_;  // of the last frame handed on
  std::optional<LineClock::time_point> heldSince_;
  bool releaseHeld_ = false;  // the line was quiet: the held frame goes on

  // One frame buffer per length class of the reply length table, and the
  // class of every type.
  std::vector<std::vector<std::uint8_t>> classBuffers_;
  std::array<std::uint8_t, 256> classOfType_{};
};

}  // namespace rolta
