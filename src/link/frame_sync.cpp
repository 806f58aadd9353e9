#include "link/frame_sync.h"

#include <algorithm>

namespace rolta {
namespace {

// A frame cut across k lost bytes ends with the first k bytes of the frame
// after it: 0x55 for one, 55 AA and more for several.
bool EndMayStartAFrame(const std::uint8_t* frame, std::size_t length) {
  if (frame[length - 1] == kSync1) return true;
  for (std::size_t i = 2; i + 1 < length; ++i) {
    if (frame[i] == kSync1 && frame[i + 1] == kSync2) return true;
  }
  return false;
}

}  // namespace

FrameReceiver::FrameReceiver(ByteChannel& channel, FrameSink& sink) : channel_(channel), sink_(sink) {
  std::vector<std::size_t> classLengths;
  for (int type = 0; type < 256; ++type) {
    const std::size_t length = ControllerFrameLength(static_cast<std::uint8_t>(type));
    auto found = std::find(classLengths.begin(), classLengths.end(), length);
    if (found == classLengths.end()) {
      classLengths.push_back(length);
      found = classLengths.end() - 1;
    }
    classOfType_[type] = static_cast<std::uint8_t>(found - classLengths.begin());
  }
  for (std::size_t length : classLengths) classBuffers_.emplace_back(length, std::uint8_t{0});
}

std::uint8_t* FrameReceiver::BufferFor(std::uint8_t frameType) { return classBuffers_[classOfType_[frameType]].data(); }

std::size_t FrameReceiver::ReadIntoRing() {
  // Never read more than the ring can take: what does not fit stays in the
  // driver's queue for the next notification instead of overwriting unread
  // bytes.
  const std::uint32_t room = ring_.Room();
  if (room == 0) return 0;
  const std::size_t got = std::min<std::size_t>(channel_.Read(ring_.ReadBuffer(), room), room);
  counters_.bytesReceived += got;
  const std::size_t stored = ring_.Append(ring_.ReadBuffer(), got);
  counters_.ringHighWater = std::max(counters_.ringHighWater, ring_.Available());
  return stored;
}

void FrameReceiver::Reset(std::uint32_t at) {
  ring_.Reset(at);
  lastNumth_.reset();
  // A held frame raised the length to wait for; nothing is held any more.
  if (heldSince_) expectedLength_ = 0;
  heldSince_.reset();
}

bool FrameReceiver::ReleaseHeldFrame(LineClock::time_point now) {
  if (scanning_ || !heldSince_) return false;
  const std::uint64_t before = counters_.framesDispatched;
  // Bytes already queued are not quiet: they settle the frame themselves.
  if (channel_.IsOpen()) ReadAndScan();
  if (heldSince_ && now - *heldSince_ >= kQuietConfirmsEnd) {
    releaseHeld_ = true;
    scanning_ = true;
    Scan();
    scanning_ = false;
    releaseHeld_ = false;
  }
  return counters_.framesDispatched > before;
}

FrameReceiver::End FrameReceiver::CheckEnd(const std::uint8_t* frame, std::size_t length, std::uint32_t end,
                                           std::uint32_t available) const {
  if (!EndMayStartAFrame(frame, length)) return End::Confirmed;
  const std::uint32_t following = available - end;
  if (following >= 1 && ring_.At(end) != kSync1) return End::Refused;
  if (following >= 2) return ring_.At(end + 1) == kSync2 ? End::Confirmed : End::Refused;
  const std::int16_t numth = GetInt16LE(frame + length - 2);
  if (lastNumth_ && numth == static_cast<std::int16_t>(*lastNumth_ + 1)) return End::Confirmed;
  const bool status = ControllerFrameKindOf(frame[kCommandCodeOffset]) == ControllerFrameKind::Status;
  return status && !releaseHeld_ ? End::Unknown : End::Confirmed;
}

void FrameReceiver::ReportSkipped(std::uint32_t from, std::uint32_t to) {
  tap_->OnBytesSkipped(ring_.Run(from, to - from), LineClock::now());
}

void FrameReceiver::OnCommNotify(std::uint32_t events) {
  const bool characters = channel_.IsOpen() && (events & kCharactersReceived) != 0;
  if (scanning_) {
    // A receiver ran a nested event loop and this notification came in
    // through it. Appending is safe (the scan only looks between the tail and
    // the head it started with); the scan that is running looks at the new
    // bytes once it is done.
    if (characters && ReadIntoRing() > 0) bytesArrivedDuringScan_ = true;
    channel_.AcknowledgeNotification();
    return;
  }
  if (characters) ReadAndScan();
  channel_.AcknowledgeNotification();
}

void FrameReceiver::ReadAndScan() {
  const bool full = ring_.Room() == 0;
  // A full ring reads nothing but is still scanned, so a frame held at the
  // tail (Ctrl down on a bad parameter record) can move on later.
  bool scan = ReadIntoRing() > 0 || full;
  while (scan) {
    scan = false;
    if (ring_.Available() >= static_cast<std::uint32_t>(std::max(expectedLength_, 0))) {
      scanning_ = true;
      Scan();
      scanning_ = false;
      scan = bytesArrivedDuringScan_;
      bytesArrivedDuringScan_ = false;
    }
  }
}

void FrameReceiver::Scan() {
  const std::uint32_t available = ring_.Available();
  std::uint32_t offset = 0;
  std::uint32_t skippedFrom = 0;  // where the run of skipped bytes before `offset` began
  sink_.OnScanBegin();

  while (available - offset >= 3) {
    if (ring_.At(offset) != kSync1 || ring_.At(offset + 1) != kSync2) {
      ++offset;  // not a frame start: drop the byte and look at the next one
      ++counters_.bytesSkipped;
      continue;
    }
    if (tap_ && skippedFrom != offset) ReportSkipped(skippedFrom, offset);
    skippedFrom = offset;  // reported once, even when the scan stops at this frame
    const std::uint8_t type = ring_.At(offset + 2);
    const std::size_t length = ControllerFrameLength(type);
    expectedLength_ = static_cast<std::int32_t>(length);
    if (available - offset < length) {
      // Stays in the ring; scanned again once `length` bytes are buffered.
      sink_.OnFrameIncomplete();
      break;
    }

    std::uint8_t* frame = BufferFor(type);
    ring_.CopyOut(offset, length, frame);
    const bool good = VerifyChecksum(frame, length) == 0;
    if (!good) {
      if (tap_) tap_->OnFrameReceived({frame, length}, false, LineClock::now());
      ++counters_.checksumErrors;
      if (sink_.OnBadFrame(type, frame, length)) break;  // held at the tail
      // Skipped whole, even if a good frame starts inside it.
      offset += static_cast<std::uint32_t>(length);
      skippedFrom = offset;
      counters_.bytesSkipped += length;
      continue;
    }

    const std::uint32_t end = offset + static_cast<std::uint32_t>(length);
    const End confirmation = CheckEnd(frame, length, end, available);
    if (confirmation == End::Unknown) {
      // Stays at the tail; the next byte that arrives settles it.
      expectedLength_ = static_cast<std::int32_t>(available - offset + 1);
      heldSince_ = LineClock::now();
      sink_.OnFrameIncomplete();
      break;
    }
    heldSince_.reset();
    if (confirmation == End::Refused) {
      ++counters_.framesRefused;
      counters_.bytesSkipped += length;
      if (tap_) tap_->OnFrameRefused({frame, length}, LineClock::now());
      offset = end;
      skippedFrom = offset;
      continue;
    }
    if (tap_) tap_->OnFrameReceived({frame, length}, true, LineClock::now());
    offset = end;
    skippedFrom = offset;
    expectedLength_ = static_cast<std::int32_t>(kStatusFrameLength);
    lastNumth_ = GetInt16LE(frame + length - 2);
    sink_.OnFrame(type, frame, length);
    ++counters_.framesDispatched;
    sink_.PauseAfterFrame();
  }

  if (tap_ && skippedFrom != offset) ReportSkipped(skippedFrom, offset);
  ring_.Consume(offset);
}

}  // namespace rolta
