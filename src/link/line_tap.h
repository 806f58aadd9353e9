// An observer of everything on the controller line: each frame written, each
// frame the synchroniser accepts or rejects and each run of bytes it skips.
// Reported on the thread that handles the bytes, with a monotonic time taken
// there. Nobody watching costs the line one pointer test per event.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

namespace rolta {

using LineClock = std::chrono::steady_clock;

// Bytes that may run across the end of the receive ring: `first`, then `second`.
struct ByteRun {
  std::span<const std::uint8_t> first;
  std::span<const std::uint8_t> second;
  std::size_t size() const { return first.size() + second.size(); }
};

class LineTap {
 public:
  virtual ~LineTap() = default;
  // The channel was opened at `at` (times of later rows count from here).
  virtual void OnLineOpened(LineClock::time_point at) = 0;
  // A frame handed to the channel; `written` is what the channel took (0 on a
  // closed channel or an error).
  virtual void OnFrameSent(std::span<const std::uint8_t> frame, std::size_t written, LineClock::time_point at) = 0;
  // A frame cut out of the ring by the length of its type, good or not.
  virtual void OnFrameReceived(std::span<const std::uint8_t> frame, bool checksumGood, LineClock::time_point at) = 0;
  // A frame whose checksum adds up but whose end was not confirmed by the
  // start of the next frame (it may be assembled across lost bytes): dropped
  // whole. A tap that does not tell the two apart sees a rejected frame.
  virtual void OnFrameRefused(std::span<const std::uint8_t> frame, LineClock::time_point at) {
    OnFrameReceived(frame, false, at);
  }
  // Bytes dropped one at a time because they start no frame.
  virtual void OnBytesSkipped(const ByteRun& bytes, LineClock::time_point at) = 0;
};

}  // namespace rolta
