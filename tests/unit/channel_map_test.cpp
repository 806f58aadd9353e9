// The channel map editor: the store frame from the field texts, replies into the shown fields.
#include <gtest/gtest.h>

#include <vector>

#include "config/channel_map.h"
#include "memory_channel.h"

namespace rolta::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Frame(std::initializer_list<std::uint8_t> payload, std::uint8_t lo, std::uint8_t hi) {
  Bytes frame{0x55, 0xAA, 7, 40, lo, hi};
  frame.insert(frame.end(), payload);
  frame.resize(46, 0);  // payload bytes 37-39 go out as zeros
  return frame;
}

std::size_t Field(std::string_view label) { return ChannelMapEditor::FieldIndex(label); }

TEST(ChannelMapEditor, StoreSendsTheWholeMapWithItsFixedBytes) {
  // Both frames sum alike: "缺省" only swaps the two rear sensors.
  const Bytes startUp = Frame({15, 3, 9, 0, 2, 4, 5, 6, 7, 8, 10, 12, 11, 14, 15, 14, 13, 12, 10, 11, 15,
                               7, 1, 2, 0, 1, 2, 3, 4, 0, 2, 3, 6, 4, 4, 10, 11}, 0xD2, 0xFD);
  Bytes defaults = startUp;
  std::swap(defaults[36], defaults[37]);
  struct Row { bool pressDefaults; std::string reserved3; const Bytes& expected; };
  for (const Row& row : {Row{false, "13", startUp}, Row{true, "13", defaults}, Row{false, "200", startUp}}) {
    MemoryChannel channel;
    ChannelMapEditor editor(channel);
    if (row.pressDefaults) editor.SetDefaultChannels();
    editor.SetText(Field("保留3#"), row.reserved3);
    EXPECT_TRUE(editor.StoreChannelMap());
    EXPECT_EQ(channel.Writes(), std::vector<Bytes>{row.expected}) << row.pressDefaults << row.reserved3;
  }
}

TEST(ChannelMapEditor, TextsReadAsAtoiKeepingTheLowEightBits) {
  struct Row { const char* text; std::uint8_t byte; };
  const Row rows[] = {{"300", 44}, {"-1", 255}, {"", 0}, {"abc", 0}, {"7a", 7}, {" \t12", 12},
                      {"+5", 5}, {"256", 0}, {"-256", 0}, {"1.9", 1}, {"0x1F", 0}};
  MemoryChannel channel;
  ChannelMapEditor editor(channel);
  for (const Row& row : rows) {
    editor.SetText(Field("涡流机"), row.text);
    editor.SetText(Field("升限位"), row.text);
    const ChannelMap map = editor.Collect();
    EXPECT_EQ(map.bytes[0], row.byte) << row.text;
    // Both copies of a limit switch carry the one field.
    EXPECT_EQ(map.bytes[18], row.byte) << row.text;
    EXPECT_EQ(map.bytes[35], row.byte) << row.text;
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
  EXPECT_FALSE(editor.OnChannelMapReply(nullptr, 0));
  EXPECT_EQ(editor.Text(Field("涡流机")), "15");

  ASSERT_TRUE(editor.OnChannelMapReply(reply.data(), reply.size()));
  EXPECT_EQ(editor.Text(Field("升限位")), "5");
  EXPECT_EQ(editor.Text(Field("降限位")), "136");
  EXPECT_EQ(editor.Text(Field("涡流机")), "100");
  EXPECT_EQ(editor.Text(Field("后右传感")), "131");
  EXPECT_EQ(editor.Text(Field("保留2#")), "12");
  EXPECT_EQ(editor.Text(Field("保留3#")), "77");

  const ChannelMap stored = editor.Collect();
  EXPECT_EQ(stored.bytes[18], 5);
  EXPECT_EQ(stored.bytes[35], 5);
  EXPECT_EQ(stored.bytes[20], 15);  // fixed, whatever the reply carried
}

TEST(ChannelMapEditor, ClosedChannelSendsNothing) {
  MemoryChannel channel;
  channel.SetOpen(false);
  ChannelMapEditor editor(channel);
  EXPECT_FALSE(editor.StoreChannelMap());
  EXPECT_TRUE(channel.Writes().empty());
}

}  // namespace
}  // namespace rolta::test
