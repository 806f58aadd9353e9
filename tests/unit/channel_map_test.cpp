// The channel map editor: the store frame from the field texts, replies into the shown fields.
#include <gtest/gtest.h>

#include <vector>

#include "config/channel_map.h"
#include "memory_channel.h"

namespace rolta::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::size_t Field(std::string_view label) { return ChannelMapEditor::FieldIndex(label); }

TEST(ChannelMapEditor, StoreSendsTheWholeMapWithItsFixedBytes) {
  // "缺省" only swaps the two rear sensors, so both frames sum alike; payload 37-39 go out as zeros.
  const Bytes startUp{0x55, 0xAA, 7,  40, 0xD2, 0xFD, 15, 3, 9, 0, 2, 4, 5, 6, 7, 8, 10, 12, 11, 14, 15, 14, 13,
                      12,   10,   11, 15, 7,    1,    2,  0, 1, 2, 3, 4, 0, 2, 3, 6, 4,  4,  10, 11, 0,  0,  0};
  Bytes defaults = startUp;
  std::swap(defaults[36], defaults[37]);
  for (bool pressDefaults : {false, true}) {
    MemoryChannel channel;
    ChannelMapEditor editor(channel);
    if (pressDefaults) editor.SetDefaultChannels();
    editor.SetText(Field("保留3#"), "200");  // no frame carries it
    EXPECT_TRUE(editor.StoreChannelMap());
    EXPECT_EQ(channel.Writes(), std::vector<Bytes>{pressDefaults ? defaults : startUp});
  }
}

TEST(ChannelMapEditor, TextsReadAsAtoiKeepingTheLowEightBitsInBothLimitSwitchCopies) {
  struct Row {
    const char* text;
    std::uint8_t byte;
  };
  const Row rows[] = {{"300", 44},   {"-1", 255}, {"", 0},     {"abc", 0}, {"7a", 7},
                      {" \t12", 12}, {"+5", 5},   {"-256", 0}, {"1.9", 1}, {"0x1F", 0}};
  MemoryChannel channel;
  ChannelMapEditor editor(channel);
  for (const Row& row : rows) {
    editor.SetText(Field("涡流机"), row.text);
    editor.SetText(Field("升限位"), row.text);
    const ChannelMap map = editor.Collect();
    EXPECT_EQ((Bytes{map.bytes[0], map.bytes[18], map.bytes[35]}), Bytes(3, row.byte)) << row.text;
  }
}

TEST(ChannelMapEditor, ReplyShowsTheSecondLimitSwitchCopyAndLeavesReservedFields) {
  MemoryChannel channel;
  ChannelMapEditor editor(channel);
  editor.SetText(Field("保留3#"), "77");
  Bytes reply(kChannelMapReplyLength, 0);
  reply[0] = 0x55, reply[1] = 0xAA, reply[2] = 65;
  for (std::size_t i = 0; i < kChannelMapSize; ++i) reply[6 + i] = static_cast<std::uint8_t>(100 + i);
  reply[6 + 18] = 9, reply[6 + 35] = 5;
  // Anything but a whole type-65 reply changes nothing.
  Bytes otherType = reply;
  otherType[2] = 66;
  EXPECT_FALSE(editor.OnChannelMapReply(reply.data(), reply.size() - 1));
  EXPECT_FALSE(editor.OnChannelMapReply(otherType.data(), otherType.size()));
  EXPECT_EQ(editor.Text(Field("涡流机")), "15");

  ASSERT_TRUE(editor.OnChannelMapReply(reply.data(), reply.size()));
  const std::pair<const char*, const char*> shown[] = {{"升限位", "5"},     {"降限位", "136"}, {"涡流机", "100"},
                                                       {"后右传感", "131"}, {"保留2#", "12"},  {"保留3#", "77"}};
  for (const auto& [label, text] : shown) EXPECT_EQ(editor.Text(Field(label)), text) << label;
  EXPECT_EQ(editor.Collect().bytes[18], 5);  // a store sends the shown copy twice
}

}  // namespace
}  // namespace rolta::test
