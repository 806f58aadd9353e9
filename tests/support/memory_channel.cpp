#include "memory_channel.h"

#include <algorithm>

namespace rolta::test {

void MemoryChannel::Queue(std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  incoming_.insert(incoming_.end(), bytes.begin(), bytes.end());
}

std::size_t MemoryChannel::Pending() const {
  std::lock_guard lock(mutex_);
  return incoming_.size();
}

void MemoryChannel::SetOpen(bool open) {
  std::lock_guard lock(mutex_);
  open_ = open;
}

void MemoryChannel::SetReadChunk(std::size_t chunk) {
  std::lock_guard lock(mutex_);
  readChunk_ = chunk;
}

bool MemoryChannel::IsOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

std::size_t MemoryChannel::Read(std::uint8_t* buffer, std::size_t max) {
  std::lock_guard lock(mutex_);
  readRequests_.push_back(max);
  if (!open_) return 0;
  std::size_t count = incoming_.size();
  if (max != 0) count = std::min(count, max);
  if (readChunk_ != 0) count = std::min(count, readChunk_);
  std::copy_n(incoming_.begin(), count, buffer);
  incoming_.erase(incoming_.begin(), incoming_.begin() + static_cast<std::ptrdiff_t>(count));
  return count;
}

std::size_t MemoryChannel::Write(const std::uint8_t* bytes, std::size_t length) {
  std::lock_guard lock(mutex_);
  if (!open_) return 0;
  writes_.emplace_back(bytes, bytes + length);
  return length;
}

void MemoryChannel::AcknowledgeNotification() {
  std::lock_guard lock(mutex_);
  ++acknowledgements_;
}

std::vector<std::vector<std::uint8_t>> MemoryChannel::Writes() const {
  std::lock_guard lock(mutex_);
  return writes_;
}

void MemoryChannel::ClearWrites() {
  std::lock_guard lock(mutex_);
  writes_.clear();
}

int MemoryChannel::Acknowledgements() const {
  std::lock_guard lock(mutex_);
  return acknowledgements_;
}

std::vector<std::size_t> MemoryChannel::ReadRequests() const {
  std::lock_guard lock(mutex_);
  return readRequests_;
}

}  // namespace rolta::test
