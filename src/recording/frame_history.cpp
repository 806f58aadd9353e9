#include "recording/frame_history.h"

#include <algorithm>

namespace rolta {

FrameHistory::FrameHistory(std::chrono::seconds span, std::size_t framesPerSecond)
    : span_(span),
      blocks_(std::max<std::size_t>(
          1, (static_cast<std::size_t>(std::max<std::chrono::seconds::rep>(0, span.count())) * framesPerSecond +
              kBlockFrames - 1) /
                 kBlockFrames)) {}

FrameHistory::Entry& FrameHistory::Slot(std::uint64_t number) {
  auto& block = blocks_[static_cast<std::size_t>((number / kBlockFrames) % blocks_.size())];
  // A block is made when the ring first reaches it and reused from then on.
  if (!block) block = std::make_unique<Entry[]>(kBlockFrames);
  return block[static_cast<std::size_t>(number % kBlockFrames)];
}

const FrameHistory::Entry& FrameHistory::At(std::uint64_t number) const {
  return blocks_[static_cast<std::size_t>((number / kBlockFrames) % blocks_.size())]
                [static_cast<std::size_t>(number % kBlockFrames)];
}

void FrameHistory::Add(const ControllerStatus& status, Clock::time_point at) {
  Slot(end_) = {at, status};
  ++end_;
  begin_ = std::max(begin_, end_ - std::min<std::uint64_t>(end_, Capacity()));
  // Older than the span behind the newest frame; a clock that went back
  // (it does not: it is steady) would keep everything.
  while (begin_ < end_ && At(begin_).at < at - span_) ++begin_;
  // The opening before the oldest frame says since when that one was seen.
  while (openings_.size() > 1 && openings_[1] <= At(begin_).at) openings_.pop_front();
}

void FrameHistory::MarkOpened(Clock::time_point at) {
  openings_.push_back(at);
  if (!Empty()) {
    while (openings_.size() > 1 && openings_[1] <= At(begin_).at) openings_.pop_front();
  }
  // Without frames only the latest opening says anything.
  if (Empty()) openings_.erase(openings_.begin(), openings_.end() - 1);
}

std::size_t FrameHistory::BytesInUse() const {
  const auto made = std::count_if(blocks_.begin(), blocks_.end(), [](const auto& block) { return block != nullptr; });
  return static_cast<std::size_t>(made) * kBlockFrames * sizeof(Entry) + blocks_.size() * sizeof(blocks_[0]);
}

}  // namespace rolta
