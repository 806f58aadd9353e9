#include "link/rx_ring.h"

#include <algorithm>
#include <cstring>

namespace rolta {

// Left uninitialised: only bytes between tail and head are ever read, and
// zeroing 80 KB for every new ring costs more than everything else it does.
RxRing::RxRing() : ring_(new std::uint8_t[kSize]), readBuffer_(new std::uint8_t[kSize]) {}

std::size_t RxRing::Append(const std::uint8_t* bytes, std::size_t count) {
  count = std::min<std::size_t>(count, Room());
  const std::size_t first = std::min<std::size_t>(count, kSize - head_);
  std::memcpy(ring_.get() + head_, bytes, first);
  std::memcpy(ring_.get(), bytes + first, count - first);
  head_ = static_cast<std::uint32_t>((head_ + count) % kSize);
  return count;
}

void RxRing::CopyOut(std::uint32_t offset, std::size_t length, std::uint8_t* to) const {
  const std::uint32_t start = (tail_ + offset) % kSize;
  const std::size_t first = std::min<std::size_t>(length, kSize - start);
  std::memcpy(to, ring_.get() + start, first);
  std::memcpy(to + first, ring_.get(), length - first);
}

ByteRun RxRing::Run(std::uint32_t offset, std::size_t length) const {
  const std::uint32_t start = (tail_ + offset) % kSize;
  const std::size_t first = std::min<std::size_t>(length, kSize - start);
  return {{ring_.get() + start, first}, {ring_.get(), length - first}};
}

void RxRing::Consume(std::uint32_t count) {
  tail_ = (tail_ + std::min(count, Available())) % kSize;
  if (tail_ == head_) Reset();
}

}  // namespace rolta
