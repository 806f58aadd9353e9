// The settings form's state without widgets: loading a reply, the enabling
// rules, and "设置" sending the record back.
#include "config/param_form.h"

#include <gtest/gtest.h>

#include <vector>

#include "controller_model.h"
#include "marking_lookup.h"
#include "memory_channel.h"

namespace rolta::test {
namespace {

using Id = FormControlId;
using Bytes = std::vector<std::uint8_t>;

struct FixedClock final : LocalClock {
  std::optional<LocalTime> Now() const override { return now; }
  std::optional<LocalTime> now = LocalTime{2024, 5, 6, 7, 8, 9};
};

struct Boxes final : MessageBoxService {
  MessageAnswer Show(const MessageRequest& request) override {
    shown.push_back(request);
    return MessageAnswer::Ok;
  }
  std::vector<MessageRequest> shown;
};

struct Rig {
  MemoryChannel channel;
  ParamRequestFrame request;
  MarkingLookup lookup;
  Boxes boxes;
  FixedClock clock;
  ParamsExchange exchange{channel, request, lookup, boxes};
  ParamsForm form{exchange, lookup, boxes, clock};

  // A reply for the form carrying `payload`, then LoadParams.
  void Receive(const ParamsPayload& payload) {
    Bytes frame(kParamsReplyLength, 0);
    frame[0] = 0x55;
    frame[1] = 0xAA;
    frame[2] = 1;
    std::copy(payload.begin(), payload.end(), frame.begin() + kPayloadOffset);
    StoreChecksum(frame.data(), frame.size());
    exchange.OnParamsFrame(frame.data(), frame.size());
    form.Load();
  }
  Bytes Sent() { return channel.Writes().back(); }
};

ParamsPayload Payload(const ControllerParams& values) {
  ParamWriteFrame frame;
  EncodeParams(values, std::nullopt, frame);
  ParamsPayload payload;
  std::copy_n(frame.data() + kPayloadOffset, payload.size(), payload.begin());
  return payload;
}

TEST(ParamsForm, UnchangedRecordGoesBackAsReceived) {
  Rig rig;
  EXPECT_FALSE(rig.form.Load());  // no record yet
  const sim::ControllerModel controller;
  ParamsPayload received;
  std::copy_n(controller.ParamRecord().begin(), received.size(), received.begin());
  rig.Receive(received);
  EXPECT_EQ(rig.form.Title(), "<硬件型号>：QRX");
  EXPECT_EQ(rig.form.State()[Id::Year].text, "2024");
  EXPECT_EQ(rig.form.State()[Id::StabilityBand].text, "2.0");
  rig.boxes.shown.clear();

  ASSERT_EQ(rig.form.OnSet(), kParamWriteFrameLength);
  // The hint, then the automatic-restore message (the record holds 0 there).
  ASSERT_EQ(rig.boxes.shown.size(), 2u);
  EXPECT_EQ(rig.boxes.shown[0], ParamsHintMessage(rig.lookup));
  EXPECT_EQ(rig.boxes.shown[1], AutoRestoreMessage(rig.lookup));

  const Bytes sent = rig.Sent();
  EXPECT_EQ(GetUInt32LE(&sent[6]), WriteCode(rig.clock.now));
  const std::pair<std::size_t, int> clock[] = {{26, 8},         {27, 7}, {29, 9}, {30, 2024 & 0xFF},
                                               {31, 2024 >> 8}, {32, 6}, {33, 5}};
  for (auto [offset, value] : clock) EXPECT_EQ(sent[offset], value) << offset;
  for (std::size_t offset = 10; offset < 99; ++offset) {
    const bool clockByte = offset == 26 || offset == 27 || (offset >= 29 && offset <= 33);
    if (clockByte) continue;
    const int want = offset <= 13 ? 0 : received[offset - kPayloadOffset];  // controller's fields
    EXPECT_EQ(sent[offset], want) << "frame offset " << offset;
  }
}

TEST(ParamsForm, LoadRules) {
  struct Row {
    const char* what;
    void (*set)(ControllerParams&);
    Id id;
    int selection;
  };
  const Row rows[] = {
      {"baud 4 selects 57.6K", [](ControllerParams& p) { p.baudDivisor = 4; }, Id::BaudRate, 3},
      {"baud 1", [](ControllerParams& p) { p.baudDivisor = 1; }, Id::BaudRate, 4},
      {"port 2 leaves COM2", [](ControllerParams& p) { p.controllerPort = 2; }, Id::ControllerPort, 1},
      {"retarder 5", [](ControllerParams& p) { p.retarderType = 5; }, Id::RetarderType, 1},
      {"retarder 17", [](ControllerParams& p) { p.retarderType = 17; }, Id::RetarderType, 7},
      {"retarder 18", [](ControllerParams& p) { p.retarderType = 18; }, Id::RetarderType, -1},
      {"lift speed 0", [](ControllerParams& p) { p.liftSpeed = 0; }, Id::LiftSpeed, 0},
      {"lift speed 6", [](ControllerParams& p) { p.liftSpeed = 6; }, Id::LiftSpeed, -1},
      {"load mode 9", [](ControllerParams& p) { p.loadMode = 9; }, Id::LoadMode, 0},
      {"smart lift 7", [](ControllerParams& p) { p.smartLiftType = 7; }, Id::SmartLiftType, 0},
      {"settle monostable", [](ControllerParams& p) { p.valveSettleTime = 0xFF; }, Id::ValveSettle, 0},
      {"settle 19", [](ControllerParams& p) { p.valveSettleTime = 19; }, Id::ValveSettle, 17},
      {"settle -2", [](ControllerParams& p) { p.valveSettleTime = 0xFE; }, Id::ValveSettle, -1},
      {"settle 2 keeps", [](ControllerParams& p) { p.valveSettleTime = 2; }, Id::ValveSettle, 5},
  };
  for (const Row& row : rows) {
    Rig rig;
    rig.form.State()[Id::ControllerPort].selection = 1;
    rig.form.State()[Id::ValveSettle].selection = 5;
    ControllerParams values;
    values.valveSettleTime = 5;
    row.set(values);
    rig.Receive(Payload(values));
    EXPECT_EQ(rig.form.State()[row.id].selection, row.selection) << row.what;
    const bool warned = !rig.boxes.shown.empty() && rig.boxes.shown[0] == SettleTimeMessage(rig.lookup);
    EXPECT_EQ(warned, values.valveSettleTime == 2) << row.what;
  }
}

TEST(ParamsForm, FuelTestAndScanCaptionEnabling) {
  Rig rig;
  const FormState& s = rig.form.State();
  EXPECT_FALSE(s[Id::LugdownScanSpeed].captionEnabled);  // no LugDn type at creation
  ControllerParams values;
  values.engineSpeedInput = 1;
  values.fuelTest = 1;
  values.lugdownScanMode = 10;
  values.liftLimitChecks = 1;
  rig.Receive(Payload(values));
  EXPECT_TRUE(s[Id::FuelTest].enabled && s[Id::FuelTest].checked);
  EXPECT_TRUE(s[Id::FuelOutputType].enabled && s[Id::FuelOutputType].captionEnabled);
  EXPECT_TRUE(s[Id::LugdownScanSpeed].captionEnabled);
  EXPECT_TRUE(s[Id::LiftUpCheck].checked);
  EXPECT_FALSE(s[Id::LiftDownCheck].checked);

  rig.form.State()[Id::EngineSpeed].checked = false;
  rig.form.OnEngineSpeedClicked();
  EXPECT_FALSE(s[Id::FuelTest].enabled || s[Id::FuelOutputType].enabled);
  EXPECT_TRUE(s[Id::FuelTest].checked);  // the mark stays and is sent
  rig.form.State()[Id::LugdownScanMode].selection = 1;
  rig.form.OnScanModeChanged();
  EXPECT_FALSE(s[Id::LugdownScanSpeed].captionEnabled);
  const ControllerParams built = rig.form.Build();
  EXPECT_EQ(built.fuelTest, 1);
  EXPECT_EQ(built.engineSpeedInput, 0);
  EXPECT_EQ(built.liftLimitChecks, 1);
  EXPECT_EQ(built.lugdownScanMode, 11);

  // A record without engine speed greys the fuel test but keeps its mark.
  values.engineSpeedInput = 0;
  values.fuelTest = 0;
  rig.Receive(Payload(values));
  EXPECT_FALSE(s[Id::FuelTest].enabled);
  EXPECT_TRUE(s[Id::FuelTest].checked);

  rig.boxes.shown.clear();
  rig.form.OnRetarderDropDownClosed("z4");
  rig.form.OnRetarderDropDownClosed("ESP");
  rig.form.State()[Id::AutoChannel].checked = true;
  rig.form.OnAutoChannelClicked();
  EXPECT_EQ(rig.boxes.shown, (std::vector<MessageRequest>{RetarderAdvice(rig.lookup), AutoChannelNote(rig.lookup)}));
}

TEST(ParamsForm, FieldsWithoutSelectionKeepThePreviousWrite) {
  Rig rig;
  ControllerParams values;
  values.liftModule = 11;
  values.lugdownScanMode = 10;
  rig.Receive(Payload(values));
  rig.form.OnSet();
  values.liftModule = 20;  // unknown: the selector stays where it was
  rig.Receive(Payload(values));
  rig.form.State()[Id::LiftModule].selection = kNoSelection;
  rig.form.State()[Id::LugdownScanMode].selection = kNoSelection;
  rig.form.State()[Id::BaudRate].selection = kNoSelection;
  rig.form.State()[Id::SmartLiftType].selection = kNoSelection;
  const ControllerParams built = rig.form.Build();
  EXPECT_EQ(built.liftModule, 11);
  EXPECT_EQ(built.lugdownScanMode, 10);
  EXPECT_EQ(built.baudDivisor, 2);
  EXPECT_EQ(built.smartLiftType, 0xFF);
}

}  // namespace
}  // namespace rolta::test
