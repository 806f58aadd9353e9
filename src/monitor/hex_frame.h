// The monitor's send line: an engineer types a command code and payload bytes
// in hex; the header, the payload length and the checksum are added here, so
// a controller can be probed with a command the catalogue lacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "env/text_lookup.h"
#include "env/ui_services.h"
#include "link/byte_channel.h"

namespace rolta {

enum class HexFrameError : std::uint8_t {
  None,
  Empty,      // no bytes at all
  BadDigit,   // a character that is neither a hex digit nor a separator
  OddDigits,  // a group of hex digits that does not make whole bytes
  TooLong,    // more payload than the length byte can say (255)
};

struct HexFrame {
  std::vector<std::uint8_t> frame;  // empty on an error
  HexFrameError error = HexFrameError::None;
};

// "10 00 00 00 48 42" (or "10 0000 4842", "0x10,0x00..."): the first byte is
// the command code, the rest the payload. Spaces, tabs and commas separate
// groups; a group may start with 0x.
HexFrame BuildFrameFromHex(std::string_view text);

// The untranslated message for a refused line.
std::string_view HexFrameErrorText(HexFrameError error);

// Sends typed frames on a channel: refuses a malformed line with a message
// (nothing is sent), asks once before the first frame, since such frames
// bypass the catalogue, and shows the channel-closed box on a closed line.
class HexFrameSender {
 public:
  HexFrameSender(ByteChannel& channel, const TextLookup& lookup, MessageBoxService& boxes)
      : channel_(channel), lookup_(lookup), boxes_(boxes) {}
  // True when the frame went to the channel whole.
  bool Send(std::string_view text);
  bool Confirmed() const { return confirmed_; }

 private:
  ByteChannel& channel_;
  const TextLookup& lookup_;
  MessageBoxService& boxes_;
  bool confirmed_ = false;
};

}  // namespace rolta
