#include "link/rx_ring.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "env/text_lookup.h"

namespace rolta {

RxRing::RxRing()
    : ring_(new std::uint8_t[kSize]()), readBuffer_(new std::uint8_t[kSize]()) {}

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

void RxRing::Consume(std::uint32_t count) {
  tail_ = (tail_ + std::min(count, Available())) % kSize;
  if (tail_ == head_) Reset();
}

std::string FrameStatusText(const TextLookup& lookup, std::uint8_t frameType, std::int16_t numth) {
  if (numth == kRejectedNumth) return lookup.Lookup(kInvalidCommandText);
  // "Numth: %ld %d" of Numth and the type as a signed byte; digits by hand
  // because this runs for every frame.
  // A signed 16-bit number takes at most 6 characters, a signed byte 4.
  char text[32] = "Numth: ";
  char* at = std::to_chars(text + 7, text + 14, static_cast<long>(numth)).ptr;
  *at++ = ' ';
  at = std::to_chars(at, at + 4, static_cast<int>(static_cast<std::int8_t>(frameType))).ptr;
  return std::string(text, at);
}

FrameReceiver::FrameReceiver(ByteChannel& channel, const TextLookup& lookup,
                             FrameReceivers& receivers)
    : channel_(channel), lookup_(lookup), receivers_(receivers) {
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

std::uint8_t* FrameReceiver::BufferFor(std::uint8_t frameType) {
  return classBuffers_[classOfType_[frameType]].data();
}

std::size_t FrameReceiver::ReadIntoRing() {
  // Never read more than the ring can take: what does not fit stays in the
  // driver's queue for the next notification instead of overwriting unread
  // bytes.
  const std::uint32_t room = ring_.Room();
  if (room == 0) return 0;
  const std::size_t got = std::min<std::size_t>(channel_.Read(ring_.ReadBuffer(), room), room);
  return ring_.Append(ring_.ReadBuffer(), got);
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
  if (characters) {
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
  channel_.AcknowledgeNotification();
}

void FrameReceiver::Scan() {
  const std::uint32_t available = ring_.Available();
  std::uint32_t offset = 0;
  // The text of the last frame reported during this notification: what the
  // status line falls back to when the scan ends on an incomplete frame.
  std::string lastText;

  while (available - offset >= 3) {
    if (ring_.At(offset) != kSync1 || ring_.At(offset + 1) != kSync2) {
      ++offset;  // not a frame start: drop the byte and look at the next one
      ++counters_.bytesSkipped;
      continue;
    }
    const std::uint8_t type = ring_.At(offset + 2);
    const std::size_t length = ControllerFrameLength(type);
    expectedLength_ = static_cast<std::int32_t>(length);
    if (available - offset < length) {
      // Stays in the ring; scanned again once `length` bytes are buffered.
      receivers_.SetStatusLine(lastText);
      break;
    }

    std::uint8_t* frame = BufferFor(type);
    ring_.CopyOut(offset, length, frame);
    if (VerifyChecksum(frame, length) != 0) {
      ++counters_.checksumErrors;
      if (ControllerFrameKindOf(type) == ControllerFrameKind::ParamRecord) {
        // A parameter record that does not add up means the controller's
        // firmware speaks another record layout.
        lastText = lookup_.Lookup(kVersionMismatchText);
        receivers_.SetStatusLine(lastText);
        if (receivers_.IsCtrlHeld()) break;  // held at the tail until Ctrl is released
      }
      // Skipped whole, even if a good frame starts inside it.
      offset += static_cast<std::uint32_t>(length);
      counters_.bytesSkipped += length;
      continue;
    }

    lastText = FrameStatusText(lookup_, type, GetInt16LE(frame + length - 2));
    receivers_.SetStatusLine(lastText);
    offset += static_cast<std::uint32_t>(length);
    expectedLength_ = static_cast<std::int32_t>(kStatusFrameLength);
    Dispatch(type, frame, length);
    ++counters_.framesDispatched;
    receivers_.PauseAfterFrame();
  }

  ring_.Consume(offset);
}

void FrameReceiver::Dispatch(std::uint8_t frameType, const std::uint8_t* frame,
                             std::size_t length) {
  switch (ControllerFrameKindOf(frameType)) {
    case ControllerFrameKind::ParamRecord:
      receivers_.OnParamRecordFrame(frame);
      return;
    case ControllerFrameKind::CalibTable:
      receivers_.OnCalibFrame(frame, length);
      return;
    case ControllerFrameKind::ChannelMap:
      receivers_.OnChannelMapFrame(frame);
      return;
    case ControllerFrameKind::Status:
      receivers_.OnStatusFrame(frame);
      return;
  }
}

}  // namespace rolta
