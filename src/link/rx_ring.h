// The 40960-byte receive ring the serial channel is drained into.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "link/line_tap.h"

namespace rolta {

// 40960-byte circular store. head == tail means empty, so it holds at most
// 40959 bytes. Both buffers are allocated once, with the ring.
class RxRing {
 public:
  static constexpr std::uint32_t kSize = 40960;
  static constexpr std::uint32_t kCapacity = kSize - 1;

  RxRing();

  std::uint32_t Head() const { return head_; }
  std::uint32_t Tail() const { return tail_; }
  std::uint32_t Available() const { return (head_ + kSize - tail_) % kSize; }
  std::uint32_t Room() const { return kCapacity - Available(); }

  // The byte `offset` places after the tail.
  std::uint8_t At(std::uint32_t offset) const { return ring_[(tail_ + offset) % kSize]; }
  // Stores bytes at the head; never more than Room(), so unread bytes are never
  // overwritten. Returns the number stored.
  std::size_t Append(const std::uint8_t* bytes, std::size_t count);
  // Copies `length` bytes starting `offset` after the tail, across the end of
  // the ring where needed. offset + length must not exceed Available().
  void CopyOut(std::uint32_t offset, std::size_t length, std::uint8_t* to) const;
  // The same bytes in place, as up to two pieces; nothing is copied.
  ByteRun Run(std::uint32_t offset, std::size_t length) const;
  // Drops `count` bytes at the tail; an emptied ring starts again at index 0.
  void Consume(std::uint32_t count);
  // Empties the ring; the next byte lands at `at` (tests start near the end so
  // that frames cross it).
  void Reset(std::uint32_t at = 0) { head_ = tail_ = at % kSize; }

  // Target of one channel read, kSize bytes.
  std::uint8_t* ReadBuffer() { return readBuffer_.get(); }

 private:
  std::unique_ptr<std::uint8_t[]> ring_;
  std::unique_ptr<std::uint8_t[]> readBuffer_;
  std::uint32_t head_ = 0;
  std::uint32_t tail_ = 0;
};

}  // namespace rolta
