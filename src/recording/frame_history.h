// The session's memory of the line: every decoded status frame of the last
// 30 minutes with the time it arrived, kept from the moment the port opens
// whether or not a window shows it, so a trend window opened later shows the
// past and a finished coast-down can still be analysed.
//
// Memory is bounded: a ring of fixed-size blocks, allocated as frames come,
// never more than the line's full rate for the whole span (115200 baud, 24
// bytes a frame, 10 bits a byte: 480 frames a second), 40 bytes a frame.
// Older frames are dropped by age, and by count if a line were faster.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "link/status_frames.h"

namespace rolta {

class FrameHistory {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kSpan{30 * 60};
  static constexpr std::size_t kFramesPerSecond = 480;
  static constexpr std::size_t kBlockFrames = 4096;

  struct Entry {
    Clock::time_point at;
    ControllerStatus status;
  };

  // Room for `span` at the line's full rate, rounded up to whole blocks.
  explicit FrameHistory(std::chrono::seconds span = kSpan, std::size_t framesPerSecond = kFramesPerSecond);

  void Add(const ControllerStatus& status, Clock::time_point at);
  // The port opened at `at`: from then on every frame is seen.
  void MarkOpened(Clock::time_point at);

  // Frames are numbered from 0 in the order they came; the kept ones are
  // [Begin(), End()).
  std::uint64_t Begin() const { return begin_; }
  std::uint64_t End() const { return end_; }
  bool Empty() const { return begin_ == end_; }
  // The frame with this number; only for numbers in [Begin(), End()).
  const Entry& At(std::uint64_t number) const;
  // The times the port opened, oldest first: those after the oldest kept
  // frame and the last one before it.
  const std::deque<Clock::time_point>& Openings() const { return openings_; }
  // The entries the ring may hold, and what they take when all are made.
  std::size_t Capacity() const { return blocks_.size() * kBlockFrames; }
  std::size_t BytesAtCapacity() const { return Capacity() * sizeof(Entry); }
  std::size_t BytesInUse() const;
  std::chrono::seconds Span() const { return span_; }

 private:
  Entry& Slot(std::uint64_t number);

  std::chrono::seconds span_;
  std::vector<std::unique_ptr<Entry[]>> blocks_;
  std::uint64_t begin_ = 0;
  std::uint64_t end_ = 0;
  std::deque<Clock::time_point> openings_;
};

}  // namespace rolta
