// An in-memory ByteChannel: tests queue the bytes the controller would send,
// and read back what the console wrote and how often it acknowledged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <mutex>
#include <span>
#include <vector>

#include "link/byte_channel.h"

namespace rolta::test {

class MemoryChannel : public ByteChannel {
 public:
  // Bytes that a later Read hands out, in order.
  void Queue(std::span<const std::uint8_t> bytes);
  void Queue(std::initializer_list<std::uint8_t> bytes) {
    Queue(std::span<const std::uint8_t>(bytes.begin(), bytes.size()));
  }
  std::size_t Pending() const;

  void SetOpen(bool open);
  // Largest number of bytes one Read hands out (0: no limit), like a driver
  // that delivers a burst in pieces.
  void SetReadChunk(std::size_t chunk);

  bool IsOpen() const override;
  std::size_t Read(std::uint8_t* buffer, std::size_t max) override;
  std::size_t Write(const std::uint8_t* bytes, std::size_t length) override;
  void AcknowledgeNotification() override;
  void SetAnswersAwaited(bool awaited) override { answersAwaited_ = awaited; }
  bool AnswersAwaited() const { return answersAwaited_; }

  // Every frame written, one entry per Write call on an open channel.
  std::vector<std::vector<std::uint8_t>> Writes() const;
  void ClearWrites();
  int Acknowledgements() const;
  // The `max` argument of every Read call, in order.
  std::vector<std::size_t> ReadRequests() const;

 private:
  mutable std::mutex mutex_;
  bool open_ = true;
  std::size_t readChunk_ = 0;
  std::deque<std::uint8_t> incoming_;
  std::vector<std::vector<std::uint8_t>> writes_;
  std::vector<std::size_t> readRequests_;
  int acknowledgements_ = 0;
  bool answersAwaited_ = false;
};

}  // namespace rolta::test
