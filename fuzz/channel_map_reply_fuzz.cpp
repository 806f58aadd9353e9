// Hands an arbitrary frame of any length to the channel-map dialog as a
// reply, then checks what the operator and rolta-cli get from it: each
// shown field holds its payload byte, the store frame built from the fields
// carries the same bytes back and the text lists every shown field once;
// rolta-cli's JSON document of a reply reads back to its values (checked at
// start-up for every value in every field).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "cli/cli_documents.h"
#include "config/channel_map.h"
#include "fuzz_support.h"
#include "link/command_codes.h"
#include "link/frames.h"

namespace {

using rolta::fuzz::Check;

bool SameTexts(const rolta::ChannelMapEditor& a, const rolta::ChannelMapEditor& b) {
  if (a.FieldCount() != b.FieldCount()) return false;
  for (std::size_t i = 0; i < a.FieldCount(); ++i) {
    if (a.Text(i) != b.Text(i)) return false;
  }
  return true;
}

// rolta-cli's document of a reply reads back to the values shown.
void CheckDocument(const rolta::ChannelMapEditor& editor, const std::uint8_t* payload) {
  const auto fields = rolta::ChannelFields();
  const auto parsed = rolta::cli::ChannelMapFromJson(rolta::cli::ChannelMapToJson(editor));
  const auto* values = std::get_if<std::map<std::size_t, std::uint8_t>>(&parsed);
  const auto shown = static_cast<std::size_t>(std::count_if(
      fields.begin(), fields.end(), [](const rolta::ChannelField& f) { return f.replyByte != rolta::kNoByte; }));
  Check(values != nullptr && values->size() == shown, "the JSON document names every shown field");
  for (const auto& [index, value] : *values) {
    Check(
        index < fields.size() && fields[index].replyByte != rolta::kNoByte && value == payload[fields[index].replyByte],
        "the JSON document keeps each value");
  }
}

}  // namespace

// The document writes each field on its own, so replies that give every
// field every value cover it; run per input it would cost ten times the rest
// (the JSON library under coverage) and crowd the corpus with inputs that
// differ only in how many digits a value has.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  rolta::fuzz::WrittenChannel channel;
  for (int k = 0; k < 256; ++k) {
    std::uint8_t reply[rolta::kChannelMapReplyLength] = {rolta::kSync1, rolta::kSync2,
                                                         rolta::command::kChannelMapRequest};
    for (std::size_t i = rolta::kPayloadOffset; i < sizeof reply; ++i) reply[i] = static_cast<std::uint8_t>(k + 7 * i);
    rolta::ChannelMapEditor editor(channel);
    Check(editor.OnChannelMapReply(reply, sizeof reply), "a whole reply is taken");
    CheckDocument(editor, reply + rolta::kPayloadOffset);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto fields = rolta::ChannelFields();
  rolta::fuzz::WrittenChannel channel;
  // The texts a new dialog starts with, to compare against.
  static rolta::fuzz::WrittenChannel unused;
  static const rolta::ChannelMapEditor before(unused);
  rolta::ChannelMapEditor editor(channel);

  const bool taken = editor.OnChannelMapReply(data, size);
  Check(taken == (size >= rolta::kChannelMapReplyLength &&
                  data[rolta::kCommandCodeOffset] == rolta::command::kChannelMapRequest),
        "a reply is taken exactly when it is a whole channel-map frame");
  if (!taken) {
    Check(SameTexts(editor, before), "a refused frame changes no field");
    return 0;
  }

  const std::uint8_t* payload = data + rolta::kPayloadOffset;
  std::size_t shown = 0;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].replyByte == rolta::kNoByte) {
      Check(editor.Text(i) == before.Text(i), "a field no reply carries keeps its text");
      continue;
    }
    ++shown;
    Check(editor.Text(i) == std::to_string(payload[fields[i].replyByte]), "a field shows its payload byte");
  }

  // The store sends back what the reply showed.
  const rolta::ChannelMap map = editor.Collect();
  for (const rolta::ChannelField& field : fields) {
    if (field.replyByte == rolta::kNoByte) continue;
    Check(map.bytes[field.storeByte] == payload[field.replyByte], "the store carries the shown byte");
    if (field.copyByte != rolta::kNoByte) {
      Check(map.bytes[field.copyByte] == payload[field.replyByte], "the second copy carries the shown byte");
    }
  }
  for (const rolta::FixedChannelByte& fixed : rolta::FixedChannelBytes()) {
    Check(map.bytes[fixed.payloadByte] == fixed.value, "fixed bytes keep their value");
  }
  Check(editor.StoreChannelMap() && channel.writes.size() == 1, "the store writes one frame");
  const std::vector<std::uint8_t>& frame = channel.writes.front();
  Check(frame.size() == rolta::kChannelMapStoreLength && rolta::VerifyChecksum(frame.data(), frame.size()) == 0 &&
            frame[rolta::kCommandCodeOffset] == rolta::command::kChannelMapStore &&
            frame[rolta::kPayloadLengthOffset] == rolta::kChannelMapSize,
        "the store frame is whole and sealed");
  Check(std::equal(map.bytes.begin(), map.bytes.end(), frame.begin() + rolta::kPayloadOffset),
        "the store frame carries the collected record");

  // The record the store sent, answered back, shows the same fields.
  std::vector<std::uint8_t> echo(rolta::kChannelMapReplyLength, 0);
  std::copy(frame.begin(), frame.end(), echo.begin());
  echo[rolta::kCommandCodeOffset] = rolta::command::kChannelMapRequest;
  rolta::ChannelMapEditor back(channel);
  Check(back.OnChannelMapReply(echo.data(), echo.size()) && SameTexts(back, editor),
        "the stored record read back shows the same fields");

  const std::string text = rolta::cli::ChannelMapText(editor);
  Check(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) == shown + rolta::ChannelGroups().size(),
        "the text has a line per group and per shown field");
  return 0;
}
