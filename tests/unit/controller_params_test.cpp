// The parameter record: field bytes, the conversion rules with their clamps
// and wraps, the write code, and the exchange's request, routing and write.
#include "config/controller_params.h"
#include "config/params_exchange.h"

#include <gtest/gtest.h>

#include "german_locale.h"

#include <clocale>
#include <cstdint>
#include <vector>

#include "marking_lookup.h"
#include "memory_channel.h"

namespace rolta::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes PayloadBytes(const ParamWriteFrame& frame, std::size_t frameOffset, std::size_t count) {
  return Bytes(frame.data() + frameOffset, frame.data() + frameOffset + count);
}

TEST(ControllerParams, FieldsLandAtTheirOffsetsAndRoundTrip) {
  ControllerParams values;
  values.rollerSize = 216.0f;
  values.stabilityBand = param_rules::StabilityBand("0.5");
  values.encoderTeeth = 0x1234;
  values.autoRestoreSeconds = -2;
  values.benchCorrection = -127;
  values.tachometerType = 1;
  values.kernelVersion = 538;  // the controller's: never written
  ParamWriteFrame frame;
  EncodeParams(values, std::nullopt, frame);
  struct Row {
    std::size_t offset;
    Bytes bytes;
  };
  const Row rows[] = {
      {14, {0x00, 0x00, 0x58, 0x43}},
      {53, {0x0A, 0xD7, 0xA3, 0x3B}},
      {18, {0x34, 0x12}},
      {48, {0xFE, 0xFF}},
      {75, {0x81}},
      {90, {0x01}},
      {10, {0x00, 0x00}},
      {0, {0x55, 0xAA, 0x02, 0x5D}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(PayloadBytes(frame, row.offset, row.bytes.size()), row.bytes) << "offset " << row.offset;
  }
  ParamsPayload payload;
  std::copy_n(frame.data() + kPayloadOffset, payload.size(), payload.begin());
  ControllerParams back = DecodeParams(payload);
  back.writeCode = values.writeCode;
  back.kernelVersion = values.kernelVersion;
  EXPECT_EQ(back, values);
}

TEST(ControllerParams, ConversionRules) {
  namespace r = param_rules;
  struct Row {
    const char* what;
    int got;
    int want;
  };
  const Row rows[] = {
      {"threshold empty", r::SpeedThreshold(""), 3},
      {"threshold 0", r::SpeedThreshold("0"), 3},
      {"threshold 0.3", r::SpeedThreshold("0.3"), 3},
      {"threshold 6", r::SpeedThreshold("6"), 50},
      {"threshold 30 wraps to 44", r::SpeedThreshold("30"), 44},
      {"threshold 1e300", r::SpeedThreshold("1e300"), 50},
      {"bench 13", r::BenchCorrection("13"), 127},
      {"bench -20", r::BenchCorrection("-20"), -127},
      {"bench 0.7", r::BenchCorrection("0.7"), 7},
      {"bench 0.29999998 rounds via text", r::BenchCorrection("0.29999998"), 3},
      {"coefficient 1.15", r::Coefficient("1.15"), 114},
      {"coefficient 2.56 wraps", r::Coefficient("2.56"), 0},
      {"protect 31", r::CappedSeconds("31", r::kExitProtectCap), 30},
      {"protect 300 wraps then caps", r::CappedSeconds("300", r::kExitProtectCap), 30},
      {"wait 60", r::CappedSeconds("60", r::kExitWaitCap), 60},
      {"wait 260 wraps to 4", r::CappedSeconds("260", r::kExitWaitCap), 4},
      {"scan 0.6", r::ScanSpeed("0.6"), 6},
      {"scan -1", r::ScanSpeed("-1"), 0},
      {"scan 25", r::ScanSpeed("25"), 200},
      {"scan 1e308", r::ScanSpeed("1e308"), 200},
      {"u8 300", r::IntegerU8("300"), 44},
      {"u8 -1", r::IntegerU8("-1"), 255},
      {"u16 70000", r::IntegerU16("70000"), 4464},
      {"u16 12abc", r::IntegerU16(" 12abc"), 12},
      {"restore 60", r::AutoRestoreSeconds("60").seconds, 0},
      {"restore 0", r::AutoRestoreSeconds("0").refused, 1},
      {"restore 120", r::AutoRestoreSeconds("120").seconds, 120},
      {"restore 65535 is -1", r::AutoRestoreSeconds("65535").seconds, 0},
      {"settle none", r::ValveSettleTime(-1), 0xFF},
      {"settle 0", r::ValveSettleTime(0), 0xFF},
      {"settle 1", r::ValveSettleTime(1), 3},
      {"settle 17", r::ValveSettleTime(17), 19},
      {"settle 30", r::ValveSettleTime(30), 20},
  };
  for (const Row& row : rows) EXPECT_EQ(row.got, row.want) << row.what;
  EXPECT_EQ(r::RollerSize("216"), 216.0f);
}

TEST(ControllerParams, NumbersIgnoreTheDesktopLocale) {
  const GermanLocale german;
  if (!german.Active()) GTEST_SKIP() << "no German locale installed (locales package)";
  EXPECT_EQ(FixedText(216.0, 2), "216.00");
  EXPECT_EQ(param_rules::Coefficient("1.5"), 150);
}

TEST(ControllerParams, WriteCodeWrapsIn32Bits) {
  const LocalTime t{2024, 12, 31, 23, 59, 10};
  EXPECT_EQ(WriteCode(t), (59u + 12u) * 31u * 2024u + (59u + 23u) * kWriteCodeMultiplier);
  EXPECT_EQ(WriteCode(std::nullopt), 0u);
  const LocalTime huge{65535, 12, 31, 23, 59, 0};
  EXPECT_EQ(WriteCode(huge), static_cast<std::uint32_t>(71ull * 31ull * 65535ull + 82ull * kWriteCodeMultiplier));
}

class Listener final : public ParamsListener {
 public:
  void ShowParamsSummary() override { shown.push_back("summary"); }
  void ShowParamsForm() override { shown.push_back("form"); }
  std::vector<std::string> shown;
};

struct ScriptedBoxes final : MessageBoxService {
  MessageAnswer Show(const MessageRequest& request) override {
    shown.push_back(request);
    return MessageAnswer::Ok;
  }
  std::vector<MessageRequest> shown;
};

Bytes Reply(std::uint8_t byte66, std::uint8_t model) {
  Bytes frame(kParamsReplyLength, 0);
  frame[0] = 0x55;
  frame[1] = 0xAA;
  frame[2] = 1;
  frame[66] = byte66;
  frame[13] = model;
  StoreChecksum(frame.data(), frame.size());
  return frame;
}

TEST(ParamsExchange, RequestsRouteRepliesAndWriteByte66) {
  MemoryChannel channel;
  ParamRequestFrame request;
  MarkingLookup lookup;
  ScriptedBoxes boxes;
  Listener listener;
  ParamsExchange exchange(channel, request, lookup, boxes);
  exchange.SetListener(&listener);

  EXPECT_EQ(exchange.Target(), ParamReplyTarget::Form);
  exchange.RequestParams(ParamReplyTarget::Summary);
  EXPECT_TRUE(boxes.shown.empty());
  exchange.RequestParams(ParamReplyTarget::Form);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].caption, "<请确认>");
  exchange.RequestParams(ParamReplyTarget::Summary);  // keeps the all-bits word
  const auto writes = channel.Writes();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0], (Bytes{0x55, 0xAA, 0x01, 0x04, 0xFC, 0xFE, 0, 0, 0, 0}));
  EXPECT_EQ(writes[2], (Bytes{0x55, 0xAA, 0x01, 0x04, 0x00, 0xFB, 0xFF, 0xFF, 0xFF, 0xFF}));

  EXPECT_EQ(exchange.Byte66ForWrite(), 1);  // before any reply
  exchange.OnParamsFrame(Reply(0, 3).data(), kParamsReplyLength);
  EXPECT_EQ(exchange.SummaryRecord()[13 - kPayloadOffset], 3);
  EXPECT_FALSE(exchange.FormRecord().has_value());
  EXPECT_EQ(exchange.Byte66ForWrite(), 0);
  exchange.OnParamsFrame(Reply(0, 3).data(), 24);  // not a record: ignored
  exchange.RequestParams(ParamReplyTarget::Form);
  exchange.OnParamsFrame(Reply(7, 2).data(), kParamsReplyLength);
  EXPECT_EQ(listener.shown, (std::vector<std::string>{"summary", "form"}));
  EXPECT_EQ(exchange.Byte66ForWrite(), 1);
  EXPECT_EQ(exchange.SummaryRecord()[13 - kPayloadOffset], 3);  // the form's reply leaves it

  channel.ClearWrites();
  ASSERT_EQ(exchange.SendParams(ControllerParams{}, LocalTime{2024, 1, 2, 3, 4, 5}), 99u);
  const Bytes written = channel.Writes().at(0);
  EXPECT_EQ(VerifyChecksum(written.data(), written.size()), 0);
  EXPECT_EQ(written[66], 1);
  EXPECT_EQ(GetUInt32LE(&written[6]), WriteCode(LocalTime{2024, 1, 2, 3, 4, 5}));
}

}  // namespace
}  // namespace rolta::test
