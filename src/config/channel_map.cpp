#include "config/channel_map.h"

#include <algorithm>

#include "env/number_text.h"
#include "link/command_codes.h"

namespace rolta {
namespace {

using G = ChannelGroup;

constexpr ChannelGroupInfo kGroups[] = {
    {G::Output, "输出通道", true},
    {G::Input, "输入通道", true},
    {G::Dedicated, "专用通道", true},
    {G::Analog, "模拟通道", false},
};

// label, group, store byte, second copy, byte shown from a reply, value at
// window creation, "缺省" value.
constexpr ChannelField kFields[] = {
    {"涡流机", G::Output, 0, kNoByte, 0, 15, 15},
    {"反拖电机", G::Output, 1, kNoByte, 1, 3, 3},
    {"冷却风扇", G::Output, 2, kNoByte, 2, 9, 9},
    {"举升上", G::Output, 3, kNoByte, 3, 0, 0},
    {"举升下", G::Output, 4, kNoByte, 4, 2, 2},
    {"飞轮0", G::Output, 5, kNoByte, 5, 4, 4},
    {"飞轮1", G::Output, 6, kNoByte, 6, 5, 5},
    {"飞轮2", G::Output, 7, kNoByte, 7, 6, 6},
    {"飞轮3", G::Output, 8, kNoByte, 8, 7, 7},
    {"反吹", G::Output, 9, kNoByte, 9, 8, 8},
    {"PAU保护", G::Output, 10, kNoByte, 10, 10, 10},
    {"举升上2", G::Output, 11, kNoByte, 11, 12, 12},
    {"举升降2", G::Output, 12, kNoByte, 12, 11, 11},
    {"双轴控制", G::Output, 13, kNoByte, 13, 14, 14},
    // The limit switches go out twice; a reply shows the second copy.
    {"升限位", G::Input, 18, 35, 35, 10, 10},
    {"降限位", G::Input, 19, 36, 36, 11, 11},
    // Reserved: editable, but no frame carries them.
    {"保留2#", G::Input, kNoByte, kNoByte, kNoByte, 12, 12},
    {"保留3#", G::Input, kNoByte, kNoByte, kNoByte, 13, 13},
    {"保留4#", G::Input, kNoByte, kNoByte, kNoByte, 14, 14},
    {"遥控入", G::Input, 22, kNoByte, 22, 1, 1},
    {"光电入", G::Input, 23, kNoByte, 23, 2, 2},
    {"数字入", G::Input, 24, kNoByte, 24, 0, 0},
    {"速度", G::Dedicated, 32, kNoByte, 32, 6, 6},
    {"油耗", G::Dedicated, 33, kNoByte, 33, 4, 4},
    {"转数", G::Dedicated, 34, kNoByte, 34, 4, 4},
    {"主传感器", G::Analog, 25, kNoByte, 25, 1, 1},
    {"温度传感器", G::Analog, 26, kNoByte, 26, 2, 2},
    {"湿度传感器", G::Analog, 27, kNoByte, 27, 3, 3},
    {"大气传感器", G::Analog, 28, kNoByte, 28, 4, 4},
    {"前右传感(声级)", G::Analog, 29, kNoByte, 29, 0, 0},
    // The two rear sensors start swapped against their "缺省" values.
    {"后左传感(扭矩)", G::Analog, 30, kNoByte, 30, 2, 3},
    {"后右传感", G::Analog, 31, kNoByte, 31, 3, 2},
};

// Payload bytes 37-39 are not used and go out as zeros.
constexpr FixedChannelByte kFixedBytes[] = {
    {14, 15}, {15, 14}, {16, 13}, {17, 12}, {20, 15}, {21, 7},
};

constexpr std::size_t kUsedBytes = 37;

// The store writes payload bytes 0-36 exactly once each and leaves 37-39;
// a reply is read only inside the record.
constexpr bool TablesCoverTheRecord() {
  int writes[kChannelMapSize] = {};
  for (const ChannelField& f : kFields) {
    for (int at : {f.storeByte, f.copyByte}) {
      if (at != kNoByte) ++writes[at];
    }
    if (f.replyByte != kNoByte && (f.replyByte < 0 || f.replyByte >= static_cast<int>(kChannelMapSize))) {
      return false;
    }
  }
  for (const FixedChannelByte& fixed : kFixedBytes) ++writes[fixed.payloadByte];
  for (std::size_t i = 0; i < kChannelMapSize; ++i) {
    if (writes[i] != (i < kUsedBytes ? 1 : 0)) return false;
  }
  return true;
}
static_assert(TablesCoverTheRecord());

class ChannelMapStoreFrame : public FrameBuffer<kChannelMapStoreLength> {};

}  // namespace

std::span<const ChannelGroupInfo> ChannelGroups() { return kGroups; }
std::span<const ChannelField> ChannelFields() { return kFields; }
std::span<const FixedChannelByte> FixedChannelBytes() { return kFixedBytes; }

std::uint8_t ChannelByteFromText(std::string_view text) {
  return static_cast<std::uint8_t>(static_cast<std::uint32_t>(TextToInt(text)));
}

std::array<std::uint8_t, kChannelMapStoreLength> BuildChannelMapStoreFrame(const ChannelMap& map) {
  ChannelMapStoreFrame frame;
  frame.SetCommand(command::kChannelMapStore);
  std::copy(map.bytes.begin(), map.bytes.end(), frame.data() + kPayloadOffset);
  std::array<std::uint8_t, kChannelMapStoreLength> bytes{};
  const auto sealed = frame.Seal();
  std::copy(sealed.begin(), sealed.end(), bytes.begin());
  return bytes;
}

ChannelMapEditor::ChannelMapEditor(ByteChannel& channel) : channel_(channel), texts_(std::size(kFields)) {
  WriteValues(&ChannelField::startValue);
}

std::size_t ChannelMapEditor::FieldIndex(std::string_view label) {
  const auto* it =
      std::find_if(std::begin(kFields), std::end(kFields), [label](const ChannelField& f) { return f.label == label; });
  return static_cast<std::size_t>(it - std::begin(kFields));
}

void ChannelMapEditor::WriteValues(std::uint8_t ChannelField::*value) {
  for (std::size_t i = 0; i < texts_.size(); ++i) texts_[i] = std::to_string(kFields[i].*value);
}

bool ChannelMapEditor::OnChannelMapReply(const std::uint8_t* frame, std::size_t length) {
  if (frame == nullptr || length < kChannelMapReplyLength || frame[kCommandCodeOffset] != command::kChannelMapRequest) {
    return false;
  }
  const std::uint8_t* payload = frame + kPayloadOffset;
  lastReceived_.emplace();
  std::copy_n(payload, kChannelMapSize, lastReceived_->bytes.begin());
  for (std::size_t i = 0; i < texts_.size(); ++i) {
    if (kFields[i].replyByte != kNoByte) texts_[i] = std::to_string(payload[kFields[i].replyByte]);
  }
  if (view_ != nullptr) view_->OnChannelMapReceived();
  return true;
}

void ChannelMapEditor::SetDefaultChannels() { WriteValues(&ChannelField::defaultValue); }

ChannelMap ChannelMapEditor::Collect() const {
  ChannelMap map;
  for (const FixedChannelByte& fixed : kFixedBytes) map.bytes[fixed.payloadByte] = fixed.value;
  for (std::size_t i = 0; i < texts_.size(); ++i) {
    const ChannelField& field = kFields[i];
    if (field.storeByte == kNoByte) continue;
    const std::uint8_t value = ChannelByteFromText(texts_[i]);
    map.bytes[field.storeByte] = value;
    if (field.copyByte != kNoByte) map.bytes[field.copyByte] = value;
  }
  return map;
}

bool ChannelMapEditor::StoreChannelMap() {
  if (!channel_.IsOpen()) return false;
  const ChannelMap stored = Collect();
  const auto frame = BuildChannelMapStoreFrame(stored);
  // A failed write is not reported: nothing waits for an answer to the store.
  const std::size_t written = channel_.Write(frame.data(), frame.size());
  if (storeObserver_ && written == frame.size()) storeObserver_(lastReceived_, stored);
  return true;
}

}  // namespace rolta
