// Small pieces every fuzz target shares: an invariant check that aborts (so
// libFuzzer keeps the input), a channel that keeps what was written, a pump
// that never sleeps, and a reader of the input as a sequence of fields.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "env/ui_services.h"
#include "link/byte_channel.h"

namespace rolta::fuzz {

inline void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// An open line that nothing answers on; every write is kept whole.
class WrittenChannel : public ByteChannel {
 public:
  bool IsOpen() const override { return open; }
  std::size_t Read(std::uint8_t*, std::size_t) override { return 0; }
  std::size_t Write(const std::uint8_t* bytes, std::size_t length) override {
    if (!open) return 0;
    writes.emplace_back(bytes, bytes + length);
    return length;
  }
  void AcknowledgeNotification() override {}

  bool open = true;
  std::vector<std::vector<std::uint8_t>> writes;
};

// The block loops pause through the pump; a fuzz run must not.
class NoPump : public EventPump {
 public:
  void ProcessPendingEvents() override {}
  void SleepMilliseconds(int) override {}
};

// The input taken from the front: bytes, then zeros once it runs out.
class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  // Up to `count` bytes into `out` (zeros beyond the input).
  void Bytes(std::uint8_t* out, std::size_t count) {
    const std::size_t n = std::min(count, size_ - std::min(at_, size_));
    std::copy_n(data_ + at_, n, out);
    std::fill(out + n, out + count, std::uint8_t{0});
    at_ += n;
  }
  std::string_view Rest() {
    const std::size_t from = std::min(at_, size_);
    at_ = size_;
    return {reinterpret_cast<const char*>(data_ + from), size_ - from};
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace rolta::fuzz
