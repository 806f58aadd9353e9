// The frame synchroniser: drains the channel into the receive ring, cuts
// controller frames out of it by the length of their type, checks them and
// hands each to its sink. What the frames mean is the sink's business.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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
};

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
  // cross the ring's end).
  void Reset(std::uint32_t at = 0) { ring_.Reset(at); }

  const RxRing& Ring() const { return ring_; }
  std::int32_t ExpectedLength() const { return expectedLength_; }
  const ReceiveCounters& Counters() const { return counters_; }

  static constexpr std::uint32_t kCharactersReceived = 1;

 private:
  std::size_t ReadIntoRing();
  std::uint8_t* BufferFor(std::uint8_t frameType);
  void Scan();
  void ReportSkipped(std::uint32_t from, std::uint32_t to);

  ByteChannel& channel_;
  FrameSink& sink_;
  LineTap* tap_ = nullptr;
  RxRing ring_;
  std::int32_t expectedLength_ = 0;
  ReceiveCounters counters_;
  bool scanning_ = false;
  bool bytesArrivedDuringScan_ = false;

  // One frame buffer per length class of the reply length table, and the
  // class of every type.
  std::vector<std::vector<std::uint8_t>> classBuffers_;
  std::array<std::uint8_t, 256> classOfType_{};
};

}  // namespace rolta
