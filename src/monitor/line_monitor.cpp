#include "monitor/line_monitor.h"

#include <algorithm>

#include "link/frames.h"

namespace rolta {

bool MonitorFilter::Matches(const MonitorRow& row) const {
  switch (row.direction) {
    case LineDirection::Sent:
      if (!sent) return false;
      break;
    case LineDirection::Received:
      if (!received) return false;
      break;
    case LineDirection::Skipped:
      // A run of bytes has no type: a type filter hides it.
      return skipped && !code;
  }
  return !code || *code == row.code;
}

LineMonitor::LineMonitor(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

MonitorRow* LineMonitor::NewRow(LineDirection direction, LineClock::time_point at) {
  if (paused_) {
    ++counters_.rowsNotKept;
    return nullptr;
  }
  // Row n lives in slot n mod capacity; once the ring is full that is the
  // oldest row's slot, and its byte buffer is reused.
  const std::size_t slot = static_cast<std::size_t>(next_ % capacity_);
  if (slot >= rows_.size()) rows_.resize(slot + 1);
  MonitorRow* row = &rows_[slot];
  if (count_ == capacity_) {
    ++counters_.rowsDropped;
  } else {
    ++count_;
  }
  row->sequence = next_++;
  row->timeUs = std::chrono::duration_cast<std::chrono::microseconds>(at - openedAt_).count();
  row->direction = direction;
  row->code = 0;
  row->checksumGood = true;
  row->refused = false;
  row->writeFailed = false;
  row->length = 0;
  row->bytes.clear();
  return row;
}

void LineMonitor::OnFrameSent(std::span<const std::uint8_t> frame, std::size_t written, LineClock::time_point at) {
  ++counters_.framesSent;
  counters_.bytesSent += written;
  if (written < frame.size()) ++counters_.writeFailures;
  counters_.lastFrameAt = at;
  MonitorRow* row = NewRow(LineDirection::Sent, at);
  if (!row) return;
  row->code = frame.size() > kCommandCodeOffset ? frame[kCommandCodeOffset] : 0;
  row->checksumGood = VerifyChecksum(frame.data(), frame.size()) == 0;
  row->writeFailed = written < frame.size();
  row->length = static_cast<std::uint32_t>(frame.size());
  const std::size_t kept = std::min(frame.size(), kMaxRowBytes);
  row->bytes.assign(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(kept));
}

MonitorRow* LineMonitor::ReceivedRow(std::span<const std::uint8_t> frame, LineClock::time_point at) {
  ++counters_.framesReceived;
  counters_.bytesReceived += frame.size();
  counters_.lastFrameAt = at;
  MonitorRow* row = NewRow(LineDirection::Received, at);
  if (!row) return nullptr;
  row->code = frame.size() > kCommandCodeOffset ? frame[kCommandCodeOffset] : 0;
  row->length = static_cast<std::uint32_t>(frame.size());
  const std::size_t kept = std::min(frame.size(), kMaxRowBytes);
  row->bytes.assign(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(kept));
  return row;
}

void LineMonitor::OnFrameReceived(std::span<const std::uint8_t> frame, bool checksumGood, LineClock::time_point at) {
  if (!checksumGood) ++counters_.checksumFailures;
  if (MonitorRow* row = ReceivedRow(frame, at)) row->checksumGood = checksumGood;
}

void LineMonitor::OnFrameRefused(std::span<const std::uint8_t> frame, LineClock::time_point at) {
  ++counters_.framesRefused;
  if (MonitorRow* row = ReceivedRow(frame, at)) row->refused = true;
}

void LineMonitor::OnBytesSkipped(const ByteRun& bytes, LineClock::time_point at) {
  counters_.bytesSkipped += bytes.size();
  counters_.bytesReceived += bytes.size();
  MonitorRow* row = NewRow(LineDirection::Skipped, at);
  if (!row) return;
  row->checksumGood = false;
  row->length = static_cast<std::uint32_t>(bytes.size());
  const std::size_t first = std::min(bytes.first.size(), kMaxRowBytes);
  const std::size_t second = std::min(bytes.second.size(), kMaxRowBytes - first);
  row->bytes.assign(bytes.first.begin(), bytes.first.begin() + static_cast<std::ptrdiff_t>(first));
  row->bytes.insert(row->bytes.end(), bytes.second.begin(), bytes.second.begin() + static_cast<std::ptrdiff_t>(second));
}

void LineMonitor::Clear() {
  count_ = 0;
  counters_ = {};
  rates_ = {};
  rateSentFrom_ = rateReceivedFrom_ = 0;
  rateFrom_ = {};
}

const MonitorRow* LineMonitor::Row(std::uint64_t sequence) const {
  if (sequence < FirstSequence() || sequence >= next_) return nullptr;
  return &rows_[sequence % capacity_];
}

FrameRates LineMonitor::Rates(LineClock::time_point now) {
  using Seconds = std::chrono::duration<double>;
  if (rateFrom_ == LineClock::time_point{}) {
    rateFrom_ = now;
    rateSentFrom_ = counters_.framesSent;
    rateReceivedFrom_ = counters_.framesReceived;
    return rates_;
  }
  const double elapsed = Seconds(now - rateFrom_).count();
  if (elapsed >= 1.0) {
    rates_.sent = static_cast<double>(counters_.framesSent - rateSentFrom_) / elapsed;
    rates_.received = static_cast<double>(counters_.framesReceived - rateReceivedFrom_) / elapsed;
    rateFrom_ = now;
    rateSentFrom_ = counters_.framesSent;
    rateReceivedFrom_ = counters_.framesReceived;
  }
  return rates_;
}

}  // namespace rolta
