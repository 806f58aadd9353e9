// The line monitor's store: every frame on the controller line as a row, in a
// ring of fixed size (the oldest rows go first, and are counted), with the
// counters shown above the list. It is the session's line tap while the
// monitor window is open, and is fed on the thread that handles the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "link/line_tap.h"

namespace rolta {

enum class LineDirection : std::uint8_t { Sent, Received, Skipped };

struct MonitorRow {
  std::uint64_t sequence = 0;
  std::int64_t timeUs = 0;  // since the line was opened
  LineDirection direction = LineDirection::Sent;
  std::uint8_t code = 0;  // command code / frame type; 0 for skipped bytes
  bool checksumGood = true;
  bool refused = false;             // received: checksum good, end not confirmed, dropped
  bool writeFailed = false;         // sent: the channel took less than the whole frame
  std::uint32_t length = 0;         // bytes on the line
  std::vector<std::uint8_t> bytes;  // the first kMaxRowBytes of them
  bool Truncated() const { return bytes.size() < length; }
};

// The newest rows kept.
inline constexpr std::size_t kMonitorRowCap = 100000;
// Every frame fits whole (a header and a payload of up to 255 bytes); only a
// long run of skipped bytes is cut.
inline constexpr std::size_t kMaxRowBytes = 6 + 255;

struct MonitorCounters {
  std::uint64_t framesSent = 0;
  std::uint64_t framesReceived = 0;  // good and bad
  std::uint64_t bytesSent = 0;
  std::uint64_t bytesReceived = 0;  // frames and skipped bytes
  std::uint64_t checksumFailures = 0;
  std::uint64_t framesRefused = 0;  // good checksum, end not confirmed
  std::uint64_t bytesSkipped = 0;
  std::uint64_t writeFailures = 0;
  std::uint64_t rowsDropped = 0;  // pushed out of the ring by newer ones
  std::uint64_t rowsNotKept = 0;  // came while paused
  std::optional<LineClock::time_point> lastFrameAt;
};

// Frames a second each way over the last complete measuring interval.
struct FrameRates {
  double sent = 0;
  double received = 0;
};

// Which rows the list shows.
struct MonitorFilter {
  bool sent = true;
  bool received = true;
  bool skipped = true;
  std::optional<std::uint8_t> code;  // only this command code / frame type
  bool Matches(const MonitorRow& row) const;
};

class LineMonitor final : public LineTap {
 public:
  explicit LineMonitor(std::size_t capacity = kMonitorRowCap);

  // LineTap
  void OnLineOpened(LineClock::time_point at) override { openedAt_ = at; }
  void OnFrameSent(std::span<const std::uint8_t> frame, std::size_t written, LineClock::time_point at) override;
  void OnFrameReceived(std::span<const std::uint8_t> frame, bool checksumGood, LineClock::time_point at) override;
  void OnFrameRefused(std::span<const std::uint8_t> frame, LineClock::time_point at) override;
  void OnBytesSkipped(const ByteRun& bytes, LineClock::time_point at) override;

  // Paused: counters go on, rows are not kept.
  void SetPaused(bool paused) { paused_ = paused; }
  bool Paused() const { return paused_; }
  // Forgets every row and zeroes the counters; sequence numbers go on.
  void Clear();

  // Rows are numbered from 0 in arrival order; [FirstSequence, NextSequence)
  // are kept.
  std::uint64_t FirstSequence() const { return next_ - count_; }
  std::uint64_t NextSequence() const { return next_; }
  std::size_t Size() const { return count_; }
  std::size_t Capacity() const { return capacity_; }
  // nullptr for a row no longer (or not yet) kept.
  const MonitorRow* Row(std::uint64_t sequence) const;

  const MonitorCounters& Counters() const { return counters_; }
  // Measured once a second: the figures of the last full second.
  FrameRates Rates(LineClock::time_point now);

 private:
  MonitorRow* NewRow(LineDirection direction, LineClock::time_point at);
  MonitorRow* ReceivedRow(std::span<const std::uint8_t> frame, LineClock::time_point at);

  std::size_t capacity_;
  std::vector<MonitorRow> rows_;  // grows to capacity_ slots, which are then reused
  std::uint64_t next_ = 0;
  std::size_t count_ = 0;
  bool paused_ = false;
  LineClock::time_point openedAt_{};
  MonitorCounters counters_;

  LineClock::time_point rateFrom_{};
  std::uint64_t rateSentFrom_ = 0;
  std::uint64_t rateReceivedFrom_ = 0;
  FrameRates rates_;
};

}  // namespace rolta
