#include "command_reader.h"

#include "link/frames.h"

namespace rolta::sim {

std::size_t CommandFrameLength(std::uint8_t commandCode) {
  for (const CommandLengthClass& row : CommandLengthTable()) {
    for (std::uint8_t code : row.commandCodes) {
      if (code == commandCode) return row.frameLength;
    }
  }
  return 0;
}

void CommandReader::Feed(const std::uint8_t* bytes, std::size_t count) {
  buffer_.insert(buffer_.end(), bytes, bytes + count);
}

void CommandReader::Skip(std::size_t count) {
  if (count > buffer_.size()) count = buffer_.size();
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(count));
}

void CommandReader::DropStalledByte() {
  if (buffer_.empty()) return;
  Skip(1);
  ++counters_.skippedBytes;
  ++counters_.stalls;
}

std::optional<ReaderEvent> CommandReader::Next() {
  while (!buffer_.empty()) {
    // Hunt for 55 AA; a lone 55 at the end may be the start of the next frame.
    if (buffer_[0] != kSync1) {
      Skip(1);
      ++counters_.skippedBytes;
      continue;
    }
    if (buffer_.size() < 2) return std::nullopt;
    if (buffer_[1] != kSync2) {
      Skip(1);
      ++counters_.skippedBytes;
      continue;
    }
    if (buffer_.size() < kHeaderLength) return std::nullopt;

    const std::uint8_t code = buffer_[kCommandCodeOffset];
    const std::uint8_t payloadLength = buffer_[kPayloadLengthOffset];
    std::size_t length = CommandFrameLength(code);
    bool known = length != 0;
    if (known && payloadLength != length - kHeaderLength) {
      // A known command byte with the wrong payload length is a false sync
      // pair inside noise: waiting for a frame of that length would stall.
      Skip(1);
      ++counters_.skippedBytes;
      continue;
    }
    if (!known) length = kHeaderLength + payloadLength;
    if (buffer_.size() < length) return std::nullopt;

    ReaderEvent event;
    event.frame.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(length));
    if (VerifyChecksum(event.frame.data(), length) != 0) {
      // Skip only the sync byte: a good frame may start inside the bad one.
      Skip(1);
      ++counters_.skippedBytes;
      if (!known) continue;
      ++counters_.badChecksums;
      event.kind = ReaderEvent::Kind::BadChecksum;
      return event;
    }
    Skip(length);
    if (known) {
      ++counters_.commands;
      event.kind = ReaderEvent::Kind::Command;
    } else {
      ++counters_.unknown;
      event.kind = ReaderEvent::Kind::Unknown;
    }
    return event;
  }
  return std::nullopt;
}

}  // namespace rolta::sim
