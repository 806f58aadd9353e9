// Cuts the console's command frames out of the byte stream the controller
// receives, resynchronising after noise the way the controller's firmware does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace rolta::sim {

// Length of the command frame with this command byte, 0 when the console
// never sends that byte.
std::size_t CommandFrameLength(std::uint8_t commandCode);

struct ReaderEvent {
  enum class Kind {
    Command,      // a known command with a good checksum
    Unknown,      // a well-formed frame with a command byte the controller does not know
    BadChecksum,  // a known command whose checksum failed (the frame is skipped byte-wise)
  };
  Kind kind = Kind::Command;
  std::vector<std::uint8_t> frame;
};

struct ReaderCounters {
  std::size_t commands = 0;
  std::size_t unknown = 0;
  std::size_t badChecksums = 0;
  std::size_t skippedBytes = 0;  // bytes dropped while hunting for 55 AA
  std::size_t stalls = 0;        // partial frames given up after a quiet line
};

class CommandReader {
 public:
  void Feed(const std::uint8_t* bytes, std::size_t count);
  // The next event, or nothing until more bytes arrive.
  std::optional<ReaderEvent> Next();
  // True while a sync pair waits for the rest of its frame.
  bool HasPartialFrame() const { return !buffer_.empty(); }
  // The line went quiet in the middle of a frame: that frame will never be
  // completed, so its first byte is dropped and the rest scanned again.
  void DropStalledByte();
  const ReaderCounters& Counters() const { return counters_; }

 private:
  void Skip(std::size_t count);
  std::deque<std::uint8_t> buffer_;
  ReaderCounters counters_;
};

}  // namespace rolta::sim
