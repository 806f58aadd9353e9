// The parameter record against the simulated controller, through the
// console's receive path: request, decode, change in the form, write
// (answered "Numth: 102 2"), read back changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/param_form.h"
#include "config/param_summary.h"
#include "controller_model.h"
#include "readouts/console_texts.h"
#include "frame_router.h"
#include "link/frame_sync.h"
#include "marking_lookup.h"
#include "memory_channel.h"

namespace rolta::test {
namespace {

// A line whose far end is the controller model: every frame written is
// answered at once with what the controller would send.
class ControllerLine final : public MemoryChannel {
 public:
  std::size_t Write(const std::uint8_t* bytes, std::size_t length) override {
    const std::size_t written = MemoryChannel::Write(bytes, length);
    for (const sim::Frame& reply : model.HandleCommand({bytes, length}, 0.0)) Queue(reply);
    return written;
  }
  sim::ControllerModel model;
};

// The console's side of the record: the listing and the form it shows.
class Console final : public ParamsListener {
 public:
  void ShowParamsSummary() override { ++summaryShown; }
  void ShowParamsForm() override { ++formShown; }
  int summaryShown = 0;
  int formShown = 0;
};

struct Boxes final : MessageBoxService {
  MessageAnswer Show(const MessageRequest&) override { return MessageAnswer::Ok; }
};

TEST(ParamsWithController, ReadEditWriteReadBack) {
  ControllerLine line;
  MarkingLookup lookup;
  Boxes boxes;
  SystemLocalClock clock;
  ParamRequestFrame request;
  ParamsExchange exchange(line, request, lookup, boxes);
  Console console;
  exchange.SetListener(&console);
  // The status line of the receive path: the last good frame's text.
  std::string status;
  FrameRouter router;
  router.On(ControllerFrameKind::ParamRecord, [&](const std::uint8_t* frame, std::size_t length) {
    status = FrameStatusText(lookup, frame[2], GetInt16LE(frame + length - 2));
    exchange.OnParamsFrame(frame, length);
  });
  router.On(ControllerFrameKind::Status, [&](const std::uint8_t* frame, std::size_t length) {
    status = FrameStatusText(lookup, frame[2], GetInt16LE(frame + length - 2));
  });
  FrameReceiver receiver(line, router);
  ParamsForm form(exchange, lookup, boxes, clock);

  // "读QRX参数": the listing of the controller's record.
  exchange.RequestParams(ParamReplyTarget::Summary);
  receiver.OnCommNotify(FrameReceiver::kCharactersReceived);
  ASSERT_EQ(console.summaryShown, 1);
  EXPECT_EQ(status.substr(status.size() - 2), " 1");  // type 1
  const auto listing = BuildSummary(DecodeParams(exchange.SummaryRecord()), lookup);
  EXPECT_EQ(listing[0], "<硬件型号>：QRX");
  EXPECT_EQ(listing[9], "<滚筒尺寸>：216.00");

  // "设置QRX参数": the form loads the record; change three fields, "设置".
  exchange.RequestParams(ParamReplyTarget::Form);
  receiver.OnCommNotify(FrameReceiver::kCharactersReceived);
  ASSERT_EQ(console.formShown, 1);
  ASSERT_TRUE(form.Load());
  form.State()[FormControlId::RollerSize].text = "218.5";
  form.State()[FormControlId::RetarderType].selection = 7;  // Z4
  form.State()[FormControlId::AutoRestore].text = "180";
  ASSERT_EQ(form.OnSet(), kParamWriteFrameLength);
  receiver.OnCommNotify(FrameReceiver::kCharactersReceived);
  EXPECT_EQ(status, "Numth: 102 2");

  exchange.RequestParams(ParamReplyTarget::Summary);
  receiver.OnCommNotify(FrameReceiver::kCharactersReceived);
  ASSERT_EQ(console.summaryShown, 2);
  const ControllerParams back = DecodeParams(exchange.SummaryRecord());
  EXPECT_EQ(back.rollerSize, 218.5f);
  EXPECT_EQ(back.retarderType, 17);
  EXPECT_EQ(back.autoRestoreSeconds, 180);
  EXPECT_EQ(back.kernelVersion, 734);  // the controller's own fields stay its own
  const auto changed = BuildSummary(back, lookup);
  EXPECT_EQ(changed[9], "<滚筒尺寸>：218.50");
  EXPECT_NE(std::find(changed.begin(), changed.end(), "<涡流机型>：Z4"), changed.end());
}

}  // namespace
}  // namespace rolta::test
