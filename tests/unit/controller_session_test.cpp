// A controller session without Qt: a command out and its reply back through a
// fake view, against the simulator on a pseudo-terminal, and the screen-pace
// present that merges a burst of frames.
#include "session/controller_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "controller_simulator.h"
#include "config/controller_params.h"
#include "env/field_log.h"
#include "link/command_codes.h"
#include "session_doubles.h"
#include "session_thread.h"
#include "status_frame.h"

namespace rolta::test {
namespace {

using namespace std::chrono_literals;

TEST(ControllerSessionTest, CommandAndReplyThroughTheSimulatorWithoutQt) {
  sim::SimulatorOptions options;
  options.periodMs = 10;
  sim::ControllerSimulator simulator(options);
  ASSERT_TRUE(simulator.Start());

  IdentityLookup texts;
  RecordingView view;
  QuietServices services;
  ControllerSession session(texts, view, services.Services());
  // Notifications come from the monitor thread; this thread plays the
  // window thread and handles them.
  SessionThread windowThread(session);
  auto handleUntil = [&](auto done) { return windowThread.HandleUntil(done, 3s); };

  ASSERT_TRUE(session.Open(simulator.SlavePath(), 115200));
  CommandInputs inputs;
  inputs.ParamA = "50";
  session.Execute(0, inputs);  // "恒速测试"
  ASSERT_TRUE(handleUntil([&] { return session.Status().FrameType == 16; }));
  EXPECT_EQ(view.captions[kReadoutSpeed], "速度");
  EXPECT_EQ(view.statusLines.back().rfind("Numth: ", 0), 0u);
  EXPECT_NE(view.statusLines.back().find(" 16"), std::string::npos);

  session.QueryVersion();
  ASSERT_TRUE(handleUntil([&] { return view.versions.size() == 2; }));
  EXPECT_EQ(view.versions[0], VersionQueryTexts(texts));
  EXPECT_NE(view.versions[1].value, view.versions[0].value);

  session.EmergencyStop();
  EXPECT_TRUE(simulator.WaitForReceived(3, 2s));
  EXPECT_EQ(simulator.ReceivedCommands().back().code, command::kEmergencyStop);
  session.Close();
  EXPECT_FALSE(session.IsOpen());
  session.EmergencyStop();
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0], ChannelClosedMessage());
  simulator.Stop();
}

TEST(ControllerSessionTest, ABurstIsPresentedOnceWithEveryTypesLatestCells) {
  IdentityLookup texts;
  RecordingView view;
  QuietServices services;
  auto owned = std::make_unique<MemoryLink>();
  MemoryLink& link = *owned;
  ControllerSession session(texts, view, services.Services(), std::move(owned));
  // Type 33 sets the voltage readout only; type 16 then sets the other three.
  std::vector<std::uint8_t> burst = StatusFrame(33, 1.5f, 0, 0, 0, 1);
  for (int i = 0; i < 5; ++i) {
    const auto frame = StatusFrame(16, 100.0f + static_cast<float>(i), 40.0f + static_cast<float>(i), 3, 2000, 2);
    burst.insert(burst.end(), frame.begin(), frame.end());
  }
  link.channel.Queue(burst);
  session.OnCommNotify(1);
  EXPECT_EQ(view.presentRequests, 1);  // asked once for the whole burst
  EXPECT_TRUE(view.statusLines.empty());
  session.Present();
  EXPECT_EQ(view.statusLines, std::vector<std::string>{"Numth: 2 16"});
  EXPECT_EQ(view.texts[kReadoutSpeed], "44.00");
  EXPECT_EQ(view.captions[kReadoutVoltage], "转速");  // 16 came last and wins
  EXPECT_EQ(session.Counters().framesDispatched, 6u);

  // The other order: the voltage of type 33 wins over 16's cell.
  link.channel.Queue(StatusFrame(16, 1, 2, 3, 4, 5));
  link.channel.Queue(StatusFrame(33, 7.25f, 0, 0, 0, 6));
  session.OnCommNotify(1);
  session.Present();
  EXPECT_EQ(view.captions[kReadoutVoltage], "电压");
  EXPECT_EQ(view.texts[kReadoutVoltage], "7.250");
  EXPECT_EQ(view.texts[kReadoutSpeed], "2.00");
  EXPECT_EQ(view.statusLines.back(), "Numth: 6 33");
  // Nothing new: nothing shown again.
  const std::size_t shown = view.statusLines.size();
  session.Present();
  EXPECT_EQ(view.statusLines.size(), shown);
}

TEST(ControllerSessionTest, ObserversSeeEveryStatusFrameOfABurstNotOnlyThePresentedOnes) {
  IdentityLookup texts;
  RecordingView view;
  QuietServices services;
  auto owned = std::make_unique<MemoryLink>();
  MemoryLink& link = *owned;
  ControllerSession session(texts, view, {services, services, services}, std::move(owned));
  std::vector<ControllerStatus> seen;
  std::vector<std::chrono::steady_clock::time_point> times;
  StatusObserverId second = 0;
  const StatusObserverId first = session.AddStatusObserver([&](const ControllerStatus& status, auto at) {
    seen.push_back(status);
    times.push_back(at);
    // Removing another observer while called is allowed and takes effect at once.
    session.RemoveStatusObserver(second);
  });
  int secondCalls = 0;
  second = session.AddStatusObserver([&](const ControllerStatus&, auto) { ++secondCalls; });
  // 126 shows nothing, and a parameter record is no status frame; the four
  // status frames are all seen, in order, though one present follows.
  std::vector<std::uint8_t> burst = StatusFrame(16, 1, 2, 3, 4, 7);
  for (const auto& frame :
       {StatusFrame(126, 100, 3, 0, 0, 8), StatusFrame(16, 5, 6, 7, 8, 9), StatusFrame(42, 0, 0, 0, 0, 10)}) {
    burst.insert(burst.end(), frame.begin(), frame.end());
  }
  link.channel.Queue(burst);
  session.OnCommNotify(1);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(secondCalls, 0);
  const std::uint8_t types[] = {16, 126, 16, 42};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(seen[i].FrameType, types[i]);
    EXPECT_EQ(seen[i].Numth, 7 + static_cast<int>(i));
  }
  EXPECT_EQ(seen[2].Value2, 6.0f);
  EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
  session.RemoveStatusObserver(first);
  link.channel.Queue(StatusFrame(16, 1, 2, 3, 4, 11));
  session.OnCommNotify(1);
  EXPECT_EQ(seen.size(), 4u);
}

// Each reply kind reaches the session's own exchange and its attached window
// with no front end registering anything.
TEST(ControllerSessionTest, RepliesReachTheSessionsOwnExchanges) {
  struct Windows final : CalibView, ChannelMapView, ParamsListener {
    int calib = 0, channels = 0, params = 0;
    void OnWorkingTableChanged() override { ++calib; }
    void OnChannelMapReceived() override { ++channels; }
    void ShowParamsSummary() override { ++params; }
    void ShowParamsForm() override { ++params; }
  } windows;
  IdentityLookup texts;
  RecordingView view;
  QuietServices services;
  auto owned = std::make_unique<MemoryLink>();
  MemoryLink& link = *owned;
  ControllerSession session(texts, view, services.Services(), std::move(owned));
  session.Calib().SetView(&windows);
  session.ChannelMap().SetView(&windows);
  session.Params().SetListener(&windows);
  auto reply = [](std::uint8_t type) {
    std::vector<std::uint8_t> frame(ControllerFrameLength(type), 0);
    frame[0] = kSync1, frame[1] = kSync2, frame[2] = type;
    StoreChecksum(frame.data(), frame.size());
    return frame;
  };
  struct Case {
    std::uint8_t type;
    int Windows::*told;
  };
  const Case cases[] = {
      {command::kParamRequest, &Windows::params},
      {60, &Windows::calib},
      {command::kChannelMapRequest, &Windows::channels},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.type));
    link.channel.Queue(reply(c.type));
    session.OnCommNotify(1);
    EXPECT_EQ(windows.*c.told, 1);
  }
  session.Params().SetListener(nullptr);
}

// The field log sees the link's events in the order they happen: the port
// opened, a command refused, the line hanging up, the reconnection, the close.
TEST(ControllerSessionTest, FieldLogSeesTheLinksEventsInOrder) {
  struct HangingLink final : MemoryLink {
    bool open = false;
    bool lost = false;
    int Open(const std::string&, int, int, int, std::uint32_t) override {
      open = true;
      lost = false;
      return 1;
    }
    void Close() override { open = false; }
    bool IsOpen() const override { return open; }
    bool LineLost() const override { return lost; }
  };
  struct HandClock final : MonotonicClock {
    MonoTime now{};
    MonoTime Now() const override { return now; }
  } clock;
  struct Sink final : FieldLogSink {
    std::vector<std::pair<FieldEvent, std::string>> events;
    void Write(FieldEvent event, std::string_view detail) override { events.emplace_back(event, detail); }
  } sink;
  IdentityLookup texts;
  RecordingView view;
  QuietServices services;
  auto owned = std::make_unique<HangingLink>();
  HangingLink& link = *owned;
  ControllerSession session(texts, view, services.Services(), std::move(owned));
  session.SetClock(clock);
  SafetySettings settings = session.Safety();
  settings.autoReconnect = true;
  session.SetSafety(settings);
  SetFieldLogSink(&sink);

  ASSERT_TRUE(session.Open("ttyS7", 115200));
  CommandInputs inputs;
  inputs.ParamA = "50";
  session.Execute(0, inputs);  // "恒速测试", command 16
  link.channel.Queue(StatusFrame(16, 0, 0, 0, 0, kRejectedNumth));
  session.OnCommNotify(1);
  link.lost = true;
  session.OnCommNotify(SerialLink::kEventLineLost);
  clock.now += std::chrono::seconds(2);
  session.Tick();
  session.Close();
  SetFieldLogSink(nullptr);

  struct Expected {
    FieldEvent event;
    std::string_view detailHas;
  };
  const Expected expected[] = {
      {FieldEvent::PortOpened, "ttyS7"},  {FieldEvent::CommandRefused, "command 16"}, {FieldEvent::LineLost, "ttyS7"},
      {FieldEvent::Reconnected, "ttyS7"}, {FieldEvent::PortClosed, "ttyS7"},
  };
  ASSERT_EQ(sink.events.size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(FieldEventName(sink.events[i].first), FieldEventName(expected[i].event)) << i;
    EXPECT_NE(sink.events[i].second.find(expected[i].detailHas), std::string::npos) << sink.events[i].second;
  }
}

}  // namespace
}  // namespace rolta::test
