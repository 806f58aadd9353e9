// The hardware channel map: which output, input, analogue and dedicated
// channel number serves which function of the bench. The controller keeps it
// as a 40-byte record; the dialog shows it as one edit field per function.
// The console never interprets the numbers, it only carries them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/byte_channel.h"
#include "link/frames.h"

namespace rolta {

inline constexpr std::size_t kChannelMapSize = 40;
inline constexpr std::size_t kChannelMapStoreLength = kHeaderLength + kChannelMapSize;  // 46
// Payload plus the two-byte reply number.
inline constexpr std::size_t kChannelMapReplyLength = kChannelMapStoreLength + 2;  // 48

// The 40-byte record: payload of both the store frame and the reply.
struct ChannelMap {
  std::array<std::uint8_t, kChannelMapSize> bytes{};
  bool operator==(const ChannelMap&) const = default;
};

enum class ChannelGroup : std::uint8_t { Output, Input, Dedicated, Analog };

struct ChannelGroupInfo {
  ChannelGroup group;
  std::string_view title;
  bool digital;  // framed by the outer "数字通道" group
};
inline constexpr std::string_view kDigitalGroupTitle = "数字通道";
// In the order the dialog shows them.
std::span<const ChannelGroupInfo> ChannelGroups();

inline constexpr int kNoByte = -1;

// One labelled edit field of the dialog.
struct ChannelField {
  std::string_view label;
  ChannelGroup group;
  int storeByte;              // payload byte the store writes; kNoByte for a reserved field
  int copyByte;               // a second payload byte the store writes with the same value
  int replyByte;              // payload byte a reply shows here; kNoByte: a reply leaves it
  std::uint8_t startValue;    // at window creation
  std::uint8_t defaultValue;  // "缺省"
};
// Every field, in the order the dialog shows them within their groups.
std::span<const ChannelField> ChannelFields();

// Payload bytes that no field owns and the store always fills the same way.
struct FixedChannelByte {
  int payloadByte;
  std::uint8_t value;
};
std::span<const FixedChannelByte> FixedChannelBytes();

// The byte an operator's text gives: read as C atoi does (leading white
// space, optional sign, decimal digits up to the first other character, 0
// without digits), then its low 8 bits. "300" gives 44, "-1" 255.
std::uint8_t ChannelByteFromText(std::string_view text);

// The 46-byte store frame (command word 0x2807) with its checksum.
std::array<std::uint8_t, kChannelMapStoreLength> BuildChannelMapStoreFrame(const ChannelMap& map);

// The window that shows the fields; told when a reply wrote into them.
class ChannelMapView {
 public:
  virtual ~ChannelMapView() = default;
  virtual void OnChannelMapReceived() = 0;
};

// The field texts of the "硬件通道配置" dialog and what the dialog does with
// them. The texts are what the operator sees and edits; the record is built
// from them only when the store frame goes out, and a reply writes into them.
class ChannelMapEditor {
 public:
  // Sends its store frames on `channel`; does not own it.
  explicit ChannelMapEditor(ByteChannel& channel);

  void SetView(ChannelMapView* view) { view_ = view; }

  // Told of every store frame that went out whole: the record of the last
  // reply (empty before the first) and the record stored.
  using StoreObserver = std::function<void(const std::optional<ChannelMap>& before, const ChannelMap& stored)>;
  void SetStoreObserver(StoreObserver observer) { storeObserver_ = std::move(observer); }

  std::size_t FieldCount() const { return texts_.size(); }
  const std::string& Text(std::size_t field) const { return texts_.at(field); }
  void SetText(std::size_t field, std::string text) { texts_.at(field) = std::move(text); }
  // The field with this label; FieldCount() when there is none.
  static std::size_t FieldIndex(std::string_view label);

  // A type-65 frame from the receive path (payload at +6). Writes each shown
  // field's byte as decimal text and tells the view. False, and nothing
  // changed, for a frame of another type or shorter than the 48 bytes of the
  // reply.
  bool OnChannelMapReply(const std::uint8_t* frame, std::size_t length);
  // "缺省": every field, reserved ones included, to its default. Sends nothing.
  void SetDefaultChannels();
  // The record the store would send now.
  ChannelMap Collect() const;
  // The store button: builds the record from the texts and writes the frame.
  // False when the channel is closed: nothing is written.
  bool StoreChannelMap();

 private:
  void WriteValues(std::uint8_t ChannelField::*value);

  ByteChannel& channel_;
  ChannelMapView* view_ = nullptr;
  std::vector<std::string> texts_;
  std::optional<ChannelMap> lastReceived_;
  StoreObserver storeObserver_;
};

}  // namespace rolta
