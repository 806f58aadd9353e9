// Frame layout, checksum, the shared command buffers and the length tables.
#include "link/frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

namespace rolta {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(std::span<const std::uint8_t> frame) { return Bytes(frame.begin(), frame.end()); }

// The worked frames, each built through its ready-made buffer.
std::vector<std::pair<const char*, Bytes>> WorkedFrames() {
  ShortFrame version;
  version.SetCommand(4);
  ShortFrame stop;
  stop.SetCommand(29);
  SetpointFrame setpoint;
  setpoint.SetCommand(16);
  setpoint.SetFlywheelMask(0);
  setpoint.SetValue(50.0f);
  ParamRequestFrame request;
  request.SetCommand(1);
  request.SetWord(0xFFFFFFFFu);
  ProfileFrame profile;
  profile.SetCommandWord(0x1032);
  profile.SetValue(0, 100.0f);
  profile.SetValue(1, 10.0f);
  profile.SetValue(2, 5.0f);
  profile.SetValue(3, 0.0f);
  return {
      {"version query", ToBytes(version.Seal())},      {"emergency stop", ToBytes(stop.Seal())},
      {"constant speed 50", ToBytes(setpoint.Seal())}, {"parameter request", ToBytes(request.Seal())},
      {"profile 100/10/5/0", ToBytes(profile.Seal())},
  };
}

TEST(Frames, WorkedFramesComeOutByteForByte) {
  const auto frames = WorkedFrames();
  EXPECT_EQ(frames[0].second, (Bytes{0x55, 0xAA, 0x04, 0x00, 0xFD, 0xFE}));
  EXPECT_EQ(frames[1].second, (Bytes{0x55, 0xAA, 0x1D, 0x00, 0xE4, 0xFE}));
  EXPECT_EQ(frames[2].second, (Bytes{0x55, 0xAA, 0x10, 0x05, 0x62, 0xFE, 0x00, 0x00, 0x00, 0x48, 0x42}));
  EXPECT_EQ(frames[3].second, (Bytes{0x55, 0xAA, 0x01, 0x04, 0x00, 0xFB, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(frames[4].second, (Bytes{0x55, 0xAA, 0x32, 0x10, 0x74, 0xFC, 0x00, 0x00, 0xC8, 0x42, 0x00,
                                     0x00, 0x20, 0x41, 0x00, 0x00, 0xA0, 0x40, 0x00, 0x00, 0x00, 0x00}));
}

TEST(Frames, VersionQueryChecksumIs65277AndVerifies) {
  Bytes frame{0x55, 0xAA, 0x04, 0x00, 0x12, 0x34};  // old bytes 4-5 do not count
  EXPECT_EQ(ComputeChecksum(frame.data(), frame.size()), 65277);
  StoreChecksum(frame.data(), frame.size());
  EXPECT_EQ(frame, (Bytes{0x55, 0xAA, 0x04, 0x00, 0xFD, 0xFE}));
  EXPECT_EQ(VerifyChecksum(frame.data(), frame.size()), 0);
}

TEST(Frames, AnySingleByteChangeOutsideTheChecksumIsDetected) {
  for (const auto& [name, good] : WorkedFrames()) {
    ASSERT_EQ(VerifyChecksum(good.data(), good.size()), 0) << name;
    for (std::size_t i = 0; i < good.size(); ++i) {
      if (i == 4 || i == 5) continue;
      for (int delta = 1; delta < 256; ++delta) {
        Bytes bad = good;
        bad[i] = static_cast<std::uint8_t>(bad[i] + delta);
        ASSERT_NE(VerifyChecksum(bad.data(), bad.size()), 0) << name << " byte " << i;
      }
    }
  }
}

TEST(Frames, SwappedChecksumBytesFailUnlessEqual) {
  for (const auto& [name, good] : WorkedFrames()) {
    Bytes swapped = good;
    std::swap(swapped[4], swapped[5]);
    EXPECT_NE(VerifyChecksum(swapped.data(), swapped.size()), 0) << name;
  }
  // 55 AA 03 00 sums to 0x0102: checksum FE FE, so the swap changes nothing.
  Bytes equal{0x55, 0xAA, 0x03, 0x00, 0x00, 0x00};
  StoreChecksum(equal.data(), equal.size());
  ASSERT_EQ(equal[4], 0xFE);
  ASSERT_EQ(equal[5], 0xFE);
  std::swap(equal[4], equal[5]);
  EXPECT_EQ(VerifyChecksum(equal.data(), equal.size()), 0);
}

TEST(Frames, LongFramesWrapTheSixteenBitSum) {
  FrameBuffer<232> block;
  block.SetCommand(126);
  std::fill(block.data() + 6, block.data() + 232, 0xFF);
  block.Seal();
  // 0x55 + 0xAA + 126 + 226 + 226 * 0xFF = 58237; 65536 - 58237 = 7299 = 0x1C83.
  EXPECT_EQ(block[4], 0x83);
  EXPECT_EQ(block[5], 0x1C);
  EXPECT_EQ(VerifyChecksum(block.data(), block.size()), 0);

  // A sum well past 65535: 55 AA and 998 bytes of 0xFF (two of them are the
  // checksum field) add up to 254235, 57627 after wrapping; 65536 - 57627 = 0x1EE5.
  Bytes big(1000, 0xFF);
  big[0] = 0x55;
  big[1] = 0xAA;
  EXPECT_EQ(ComputeChecksum(big.data(), big.size()), 0x1EE5);
  StoreChecksum(big.data(), big.size());
  EXPECT_EQ(VerifyChecksum(big.data(), big.size()), 0);
}

TEST(Frames, TooShortFramesNeverVerify) {
  const Bytes zeros(6, 0);
  for (std::size_t length = 0; length < 6; ++length) {
    EXPECT_NE(VerifyChecksum(zeros.data(), length), 0) << length;
  }
}

TEST(Frames, SharedBuffersKeepFieldsTheCommandDoesNotWrite) {
  ProfileFrame profile;
  profile.SetCommandWord(0x1032);  // command 50: all four values
  profile.SetValue(0, 100.0f);
  profile.SetValue(1, 10.0f);
  profile.SetValue(2, 5.0f);
  profile.SetValue(3, 2.0f);
  profile.Seal();

  profile.SetCommandWord(0x1015);  // a command that writes the first value only
  profile.SetValue(0, 30.0f);
  const Bytes wire = ToBytes(profile.Seal());
  EXPECT_EQ(wire, (Bytes{0x55, 0xAA, 0x15, 0x10, 0x2A, 0xFC, 0x00, 0x00, 0xF0, 0x41, 0x00,
                         0x00, 0x20, 0x41, 0x00, 0x00, 0xA0, 0x40, 0x00, 0x00, 0x00, 0x40}));
  EXPECT_EQ(VerifyChecksum(wire.data(), wire.size()), 0);

  // With no earlier command the unwritten values are zero.
  ProfileFrame fresh;
  fresh.SetCommandWord(0x1015);
  fresh.SetValue(0, 30.0f);
  const Bytes first = ToBytes(fresh.Seal());
  EXPECT_TRUE(std::all_of(first.begin() + 10, first.end(), [](std::uint8_t b) { return b == 0; }));

  // The setpoint buffer keeps its flywheel mask between commands.
  SetpointFrame setpoint;
  setpoint.SetCommand(16);
  setpoint.SetFlywheelMask(3);
  setpoint.SetValue(50.0f);
  setpoint.Seal();
  setpoint.SetCommand(17);
  setpoint.SetValue(1.0f);
  EXPECT_EQ(setpoint.Seal()[6], 3);

  // A link's set of buffers starts as 55 AA like every other.
  const SharedCommandFrames frames;
  EXPECT_EQ(frames.setpoint[0], 0x55);
  EXPECT_EQ(frames.setpoint[1], 0xAA);
}

TEST(Frames, EveryCommandByteHasTheFrameLengthOfItsTable) {
  const std::map<std::size_t, Bytes> byLength = {
      {6, {19,  27,  28,  30,  31,  33,  34,  35, 36,  38,  39,  40,  41,  42,  43,  45,  49,  55,
           56,  65,  66,  75,  93,  94,  95,  96, 100, 101, 102, 103, 104, 105, 106, 107, 108, 110,
           111, 112, 113, 114, 115, 116, 125, 4,  29,  60,  61,  62,  63,  64,  78,  120, 121, 122}},
      {10, {1}},
      {11, {16, 17, 18, 20, 37, 67, 69, 84, 85, 124}},
      {22,
       {21, 50, 52, 53, 54, 58, 68, 70, 71, 73, 74, 76, 79, 80, 81, 82, 83, 86, 87, 88, 89, 90, 91, 92, 123, 127, 5}},
      {46, {7}},
      {88, {8, 9, 10, 11, 59, 117, 118, 119}},
      {99, {2}},
      {168, {77}},
      {217, {6}},
      {232, {126}},
  };
  std::map<int, std::size_t> expected;
  for (const auto& [length, codes] : byLength) {
    for (std::uint8_t code : codes) expected[code] = length;
  }
  for (int code = 0; code < 256; ++code) {
    const auto it = expected.find(code);
    EXPECT_EQ(CommandFrameLength(static_cast<std::uint8_t>(code)), it == expected.end() ? 0u : it->second)
        << "command " << code;
  }
  EXPECT_EQ(CommandFrameLength(50), 22u);
  EXPECT_EQ(CommandFrameLength(1), 10u);
  EXPECT_EQ(CommandFrameLength(7), 46u);
  EXPECT_EQ(CommandFrameLength(126), 232u);

  // A code listed by two senders has the same length in both rows.
  for (const CommandLengthClass& row : CommandLengthTable()) {
    for (std::uint8_t code : row.commandCodes) {
      EXPECT_EQ(row.frameLength, CommandFrameLength(code)) << row.description << " " << int(code);
    }
  }
}

TEST(Frames, EveryReplyTypeHasALengthAndAReceiver) {
  std::map<int, std::pair<std::size_t, ControllerFrameKind>> special = {
      {1, {101, ControllerFrameKind::ParamRecord}},
      {5, {219, ControllerFrameKind::CalibTable}},
      {65, {48, ControllerFrameKind::ChannelMap}},
      {78, {170, ControllerFrameKind::CalibTable}},
  };
  for (int type : {60, 61, 62, 63, 64, 120, 121, 122}) {
    special[type] = {90, ControllerFrameKind::CalibTable};
  }
  for (int type = 0; type < 256; ++type) {
    const auto t = static_cast<std::uint8_t>(type);
    const auto it = special.find(type);
    const auto expected = it == special.end() ? std::pair{std::size_t{24}, ControllerFrameKind::Status} : it->second;
    EXPECT_EQ(ControllerFrameLength(t), expected.first) << "type " << type;
    EXPECT_EQ(ControllerFrameKindOf(t), expected.second) << "type " << type;
  }
}

}  // namespace
}  // namespace rolta
