// Types an arbitrary line into the line monitor's send field and checks the
// frame built from it: header, length byte and checksum right, the command
// and payload bytes are the typed ones (the same line written back in the
// other accepted spellings builds the same frame), and the sender writes
// exactly that frame, or nothing with a message for a refused line.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "monitor/hex_frame.h"
#include "env/text_lookup.h"
#include "fuzz_support.h"
#include "link/frames.h"

namespace {

using rolta::fuzz::Check;

class CountingBoxes : public rolta::MessageBoxService {
 public:
  rolta::MessageAnswer Show(const rolta::MessageRequest& request) override {
    ++shown;
    Check(!request.text.empty(), "a box says something");
    return rolta::MessageAnswer::Ok;
  }
  int shown = 0;
};

// The frame's command and payload bytes, spelled as `separator`-joined
// groups, with `prefix` before each.
std::string Spelled(const std::vector<std::uint8_t>& frame, std::string_view separator, std::string_view prefix,
                    bool upper) {
  std::string text;
  for (std::size_t i = rolta::kCommandCodeOffset; i < frame.size(); ++i) {
    if (i == rolta::kPayloadLengthOffset) i = rolta::kPayloadOffset;
    if (i >= frame.size()) break;
    if (!text.empty()) text += separator;
    char digits[3];
    std::snprintf(digits, sizeof digits, upper ? "%02X" : "%02x", frame[i]);
    text += prefix;
    text += digits;
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const rolta::HexFrame built = rolta::BuildFrameFromHex(line);

  rolta::fuzz::WrittenChannel channel;
  CountingBoxes boxes;
  rolta::IdentityLookup lookup;
  rolta::HexFrameSender sender(channel, lookup, boxes);
  const bool sent = sender.Send(line);

  if (built.error != rolta::HexFrameError::None) {
    Check(built.frame.empty(), "a refused line builds no frame");
    Check(!rolta::HexFrameErrorText(built.error).empty(), "a refused line has a message");
    Check(!sent && channel.writes.empty() && boxes.shown == 1, "a refused line is said once and not sent");
    return 0;
  }
  const std::vector<std::uint8_t>& frame = built.frame;
  Check(frame.size() >= rolta::kHeaderLength && frame.size() <= rolta::kHeaderLength + 0xFF,
        "a frame holds the header and at most 255 payload bytes");
  Check(frame[0] == rolta::kSync1 && frame[1] == rolta::kSync2, "a frame starts with the sync pair");
  Check(frame[rolta::kPayloadLengthOffset] == frame.size() - rolta::kHeaderLength, "the length byte is the payload's");
  Check(rolta::VerifyChecksum(frame.data(), frame.size()) == 0, "the checksum is good");
  Check(sent && channel.writes.size() == 1 && channel.writes.front() == frame && boxes.shown == 1,
        "a good line is asked about once and sent as built");

  // Every spelling of the same bytes builds the same frame.
  for (const auto& spelled : {Spelled(frame, " ", "", true), Spelled(frame, ",", "0x", false),
                              Spelled(frame, "\t", "0X", true), Spelled(frame, "", "", false)}) {
    const rolta::HexFrame again = rolta::BuildFrameFromHex(spelled);
    Check(again.error == rolta::HexFrameError::None && again.frame == frame, "the bytes spelled again build the frame");
  }
  return 0;
}
