// Decoding of the 24-byte status frames: values, version, upgrade replies.
#include "link/status_frames.h"

#include <gtest/gtest.h>

#include "status_frame.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <set>
#include <vector>

#include "link/frames.h"
#include "upgrade/upgrade_replies.h"

namespace rolta {
namespace {

using Bytes = std::vector<std::uint8_t>;

using test::StatusFrame;

struct RecordingSinks : StatusFrameSinks {
  struct Version {
    bool fromUpgradeProgram;
    double version;
  };
  std::vector<Version> versions;
  std::vector<ControllerStatus> live;

  void ShowControllerVersion(bool fromUpgradeProgram, double version) override {
    versions.push_back({fromUpgradeProgram, version});
  }
  void ShowLiveFrame(const ControllerStatus& status) override { live.push_back(status); }
  // The upgrade's replies take the answers, as in a session.
  void OnCommandAnswer(const ControllerStatus& status) override { replies.OnCommandAnswer(status); }
  UpgradeReplies replies;
};

struct Decoder {
  ControllerStatus status;
  RecordingSinks sinks;
  UpgradeReplies& replies = sinks.replies;
  void Decode(const Bytes& frame) { DecodeStatusFrame(frame.data(), status, sinks); }
};

TEST(StatusFrames, DecodesTheFourValuesAndNumthBitForBit) {
  Decoder d;
  d.Decode(StatusFrame(16, 12.5f, -40.25f, 1e-3f, 3.0e7f, -6));
  EXPECT_EQ(d.status.FrameType, 16);
  EXPECT_EQ(d.status.Value1, 12.5f);
  EXPECT_EQ(d.status.Value2, -40.25f);
  EXPECT_EQ(d.status.Value3, 1e-3f);
  EXPECT_EQ(d.status.Value4, 3.0e7f);
  // A rejected command is still decoded and shown like any other.
  EXPECT_EQ(d.status.Numth, -6);
  ASSERT_EQ(d.sinks.live.size(), 1u);
  EXPECT_EQ(d.sinks.live[0].Value2, -40.25f);
}

TEST(StatusFrames, InputStatesReadAsFiveDecimalDigits) {
  Decoder d;
  Bytes frame = StatusFrame(42, 0, 0, 0, 0, 1);
  const std::uint8_t inputs[] = {0, 1, 0, 1, 1};
  std::copy(std::begin(inputs), std::end(inputs), frame.begin() + 17);
  d.Decode(frame);
  EXPECT_EQ(d.status.IoNumber(), 1011);
  char shown[16];
  std::snprintf(shown, sizeof shown, "%05d", d.status.IoNumber());
  EXPECT_STREQ(shown, "01011");
  EXPECT_EQ(d.sinks.live.size(), 1u);

  frame = StatusFrame(42, 0, 0, 0, 0, 1);
  frame[17] = 1;
  d.Decode(frame);
  EXPECT_EQ(d.status.IoNumber(), 10000);
  d.Decode(StatusFrame(42, 0, 0, 0, 0, 1));
  EXPECT_EQ(d.status.IoNumber(), 0);
}

TEST(StatusFrames, AccelerationAndRevolutionsAreSignedWords) {
  Decoder d;
  Bytes frame = StatusFrame(75, 0, 0, 0, 0, 0);
  PutUInt16LE(&frame[18], static_cast<std::uint16_t>(-1500));
  PutUInt16LE(&frame[20], static_cast<std::uint16_t>(-2));
  d.Decode(frame);
  EXPECT_EQ(d.status.AccelMilli, -1500);
  EXPECT_DOUBLE_EQ(d.status.AccelMilli / 1000.0, -1.5);
  EXPECT_EQ(d.status.Revolutions, -2);
}

TEST(StatusFrames, VersionAnswerTellsTheUpgradeProgramByExactly100) {
  Decoder d;
  d.Decode(StatusFrame(4, 100.0f, 734.0f, 0, 0, 0));
  ASSERT_EQ(d.sinks.versions.size(), 1u);
  EXPECT_TRUE(d.sinks.versions[0].fromUpgradeProgram);
  char text[32];
  std::snprintf(text, sizeof text, "Ver%.2f", d.sinks.versions[0].version);
  EXPECT_STREQ(text, "Ver7.34");

  d.Decode(StatusFrame(4, std::nextafter(100.0f, 200.0f), 374.0f, 0, 0, 0));
  d.Decode(StatusFrame(4, 0.0f, 374.0f, 0, 0, 0));
  ASSERT_EQ(d.sinks.versions.size(), 3u);
  EXPECT_FALSE(d.sinks.versions[1].fromUpgradeProgram);
  EXPECT_FALSE(d.sinks.versions[2].fromUpgradeProgram);
  EXPECT_DOUBLE_EQ(d.sinks.versions[2].version, 374.0 / 100.0);
  EXPECT_TRUE(d.sinks.live.empty());
}

TEST(StatusFrames, WaitAndStopAnswersForceABlockResendAndShowTheSpeed) {
  Decoder d;
  d.replies.BlockStatus = 1.0f;
  d.replies.StopReply = 7;
  d.Decode(StatusFrame(27, 100.9f, 30.0f, 0, 0, 0));
  EXPECT_EQ(d.replies.WaitReply, 100);
  EXPECT_EQ(d.replies.BlockStatus, 555.0f);
  EXPECT_EQ(d.replies.StopReply, 7);

  d.replies.BlockStatus = 1.0f;
  d.Decode(StatusFrame(28, -10.7f, 31.0f, 0, 0, 0));
  EXPECT_EQ(d.replies.StopReply, -10);  // toward zero
  EXPECT_EQ(d.replies.BlockStatus, 555.0f);
  EXPECT_EQ(d.replies.WaitReply, 100);
  ASSERT_EQ(d.sinks.live.size(), 2u);
  EXPECT_EQ(d.sinks.live[1].Value2, 31.0f);
}

TEST(StatusFrames, BlockAcknowledgementChangesNoReadout) {
  Decoder d;
  d.Decode(StatusFrame(126, 2.0f, 41.99f, 0, 0, 0));
  EXPECT_EQ(d.replies.BlockStatus, 2.0f);
  EXPECT_EQ(d.replies.AckedBlock, 41);
  EXPECT_TRUE(d.sinks.live.empty());
  EXPECT_TRUE(d.sinks.versions.empty());
}

TEST(StatusFrames, OutOfRangeFloatsSaturateInsteadOfOverflowing) {
  constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
  Decoder d;
  d.Decode(StatusFrame(126, 0, std::numeric_limits<float>::quiet_NaN(), 0, 0, 0));
  EXPECT_EQ(d.replies.AckedBlock, 0);
  d.Decode(StatusFrame(27, 3e9f, 0, 0, 0, 0));
  EXPECT_EQ(d.replies.WaitReply, kMax);
  d.Decode(StatusFrame(28, -std::numeric_limits<float>::infinity(), 0, 0, 0, 0));
  EXPECT_EQ(d.replies.StopReply, kMin);

  EXPECT_EQ(TruncateToInt32(2147483648.0f), kMax);
  EXPECT_EQ(TruncateToInt32(-2147483648.0f), kMin);
  EXPECT_EQ(TruncateToInt32(2147483520.0f), 2147483520);  // largest float below 2^31
  EXPECT_EQ(TruncateToInt32(-0.99f), 0);
}

// Which types show the live values, which the version and which nothing.
TEST(StatusFrames, EveryStatusTypeActsAsItsRowSays) {
  // The readout presentation rows, by type, and the decoder's own extras.
  const std::set<int> readoutTypes = {16,  17, 37, 84, 85,  21,  53,  54,  71,  74,  127, 27,  28,  29, 30,  31,
                                      40,  41, 55, 56, 102, 103, 104, 105, 106, 33,  110, 112, 113, 34, 114, 115,
                                      116, 35, 36, 39, 93,  94,  38,  111, 42,  43,  124, 45,  50,  68, 70,  73,
                                      88,  51, 52, 80, 82,  89,  90,  91,  92,  58,  66,  67,  69,  75, 98,  76,
                                      123, 79, 81, 83, 86,  87,  95,  101, 107, 108, 96,  100, 125};
  std::set<int> live = readoutTypes;
  live.insert({42, 75, 76, 98, 123});
  std::set<int> silent = {0,  2,  3,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 18, 19,  20,  22,  23, 24,
                          25, 26, 32, 44, 46, 47, 48, 49, 57, 59, 72, 77, 97, 99, 109, 117, 118, 119};
  for (int type = 128; type < 256; ++type) silent.insert(type);

  for (int type = 0; type < 256; ++type) {
    const auto t = static_cast<std::uint8_t>(type);
    if (ControllerFrameLength(t) != kStatusFrameLength) {
      EXPECT_EQ(StatusActionOf(t), StatusAction::Nothing) << type;
      continue;
    }
    // Every status type is accounted for by exactly one list.
    const int lists = live.count(type) + silent.count(type) + (type == 4) + (type == 126);
    EXPECT_EQ(lists, 1) << "type " << type;

    Decoder d;
    d.Decode(StatusFrame(t, 1.0f, 2.0f, 3.0f, 4.0f, 5));
    EXPECT_EQ(d.sinks.live.size(), live.count(type)) << "type " << type;
    EXPECT_EQ(d.sinks.versions.size(), type == 4 ? 1u : 0u) << "type " << type;
    const bool upgradeAnswer = type == 27 || type == 28 || type == 126;
    EXPECT_EQ(d.replies.BlockStatus != 0.0f, upgradeAnswer) << "type " << type;
  }
}

}  // namespace
}  // namespace rolta
