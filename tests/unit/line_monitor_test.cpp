// The line monitor core: the tap against the simulator and its fault modes,
// the bounded row store, decoded summaries, CSV round trip, find, and the hex
// send line against the catalogue's frames.
#include <gtest/gtest.h>

#include "session_thread.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "commands/command_executor.h"
#include "session/controller_session.h"
#include "monitor/hex_frame.h"
#include "monitor/line_monitor.h"
#include "monitor/monitor_texts.h"
#include "controller_simulator.h"
#include "marking_lookup.h"
#include "memory_channel.h"
#include "status_frame.h"

namespace rolta::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

class NullView : public SessionView {
 public:
  void ShowStatusLine(const std::string&) override {}
  void ShowReadouts(const ReadoutUpdate&) override {}
  void ShowControllerVersion(const ControllerVersionTexts&) override {}
  void RequestPresent() override {}
  void OnChannelClosed() override {}
  void StartExternalProgram(const std::string&) override {}
  std::string CurrentDirectory() const override { return "/tmp"; }
  void ShowChannelMapWindow() override {}
};

class ScriptedServices : public MessageBoxService, public EventPump, public KeyState {
 public:
  std::vector<MessageRequest> boxes;
  MessageAnswer answer = MessageAnswer::Ok;
  MessageAnswer Show(const MessageRequest& request) override {
    boxes.push_back(request);
    return answer;
  }
  void ProcessPendingEvents() override {}
  void SleepMilliseconds(int) override {}
  bool IsCtrlHeld() const override { return false; }
  bool IsEscapeHeld() const override { return false; }
};

// The real serial channel, recording every byte the receive path read.
class RecordingPort final : public SerialLink {
 public:
  Bytes read;
  bool IsOpen() const override { return port_.IsOpen(); }
  std::size_t Read(std::uint8_t* buffer, std::size_t max) override {
    const std::size_t n = port_.Read(buffer, max);
    read.insert(read.end(), buffer, buffer + n);
    return n;
  }
  std::size_t Write(const std::uint8_t* bytes, std::size_t length) override { return port_.Write(bytes, length); }
  void AcknowledgeNotification() override { port_.AcknowledgeNotification(); }
  void SetNotifyCallback(NotifyCallback callback) override { port_.SetNotifyCallback(std::move(callback)); }
  int Open(const std::string& name, int bits, int stop, int parity, std::uint32_t baud) override {
    return port_.Open(name, bits, stop, parity, baud);
  }
  void Close() override { port_.Close(); }
  std::error_code LastOpenError() const override { return port_.LastOpenError(); }
  std::uint32_t BaudRate() const override { return port_.BaudRate(); }

 private:
  CCommPort port_;
};

Bytes RowBytes(const LineMonitor& monitor, LineDirection direction) {
  Bytes bytes;
  for (std::uint64_t s = monitor.FirstSequence(); s < monitor.NextSequence(); ++s) {
    const MonitorRow* row = monitor.Row(s);
    EXPECT_FALSE(row->Truncated());
    if ((row->direction == LineDirection::Sent) == (direction == LineDirection::Sent)) {
      bytes.insert(bytes.end(), row->bytes.begin(), row->bytes.end());
    }
  }
  return bytes;
}

struct RowKinds {
  int good = 0, bad = 0, refused = 0, skipped = 0;
};
RowKinds CountReceived(const LineMonitor& monitor) {
  RowKinds kinds;
  for (std::uint64_t s = monitor.FirstSequence(); s < monitor.NextSequence(); ++s) {
    const MonitorRow& row = *monitor.Row(s);
    if (row.direction == LineDirection::Skipped) ++kinds.skipped;
    if (row.direction == LineDirection::Received)
      ++(row.refused ? kinds.refused : row.checksumGood ? kinds.good : kinds.bad);
  }
  return kinds;
}

TEST(LineMonitorTap, SeesExactlyTheBytesOnTheLineUnderEveryFault) {
  struct Case {
    const char* name;
    sim::FaultSet faults;
    bool goodFrames, badFrames, skippedBytes;
  };
  const Case cases[] = {
      {"clean", {}, true, false, false},
      {"garbage", {sim::SimFault::Garbage}, true, false, true},
      {"bad-checksum", {sim::SimFault::BadChecksum}, false, true, false},
      {"reject", {sim::SimFault::Reject}, true, false, false},
      {"truncated", {sim::SimFault::Truncated}, false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimulatorOptions options;
    options.periodMs = 10;
    options.faults = c.faults;
    sim::ControllerSimulator simulator(options);
    ASSERT_TRUE(simulator.Start());
    IdentityLookup texts;
    NullView view;
    ScriptedServices services;
    auto port = std::make_unique<RecordingPort>();
    RecordingPort& recorded = *port;
    ControllerSession session(texts, view, {services, services, services}, std::move(port));
    LineMonitor monitor;
    session.SetLineTap(&monitor);

    SessionThread windowThread(session);
    auto handleFor = [&](std::chrono::milliseconds span) { windowThread.HandleFor(span); };

    ASSERT_TRUE(session.Open(simulator.SlavePath(), 115200));
    CommandInputs inputs;
    inputs.ParamA = "50";
    session.Execute(0, inputs);  // constant speed
    handleFor(400ms);
    session.Execute(14, inputs);  // stop test
    ASSERT_TRUE(simulator.WaitForReceived(2, 2s));
    handleFor(150ms);
    session.Close();

    Bytes sent;
    for (const sim::ReceivedCommand& command : simulator.ReceivedCommands()) {
      sent.insert(sent.end(), command.frame.begin(), command.frame.end());
    }
    EXPECT_EQ(RowBytes(monitor, LineDirection::Sent), sent);
    // Every byte read is in a row, in order, except what still waits in the ring.
    Bytes handled = recorded.read;
    handled.resize(handled.size() - session.Receiver().Ring().Available());
    const Bytes rows = RowBytes(monitor, LineDirection::Received);
    EXPECT_EQ(rows, handled);
    const auto differ = std::mismatch(rows.begin(), rows.end(), handled.begin(), handled.end());
    EXPECT_EQ(differ.first, rows.end()) << "rows differ from the line at byte " << (differ.first - rows.begin());

    const RowKinds kinds = CountReceived(monitor);
    EXPECT_EQ(kinds.good > 0, c.goodFrames);
    EXPECT_EQ(kinds.bad > 0, c.badFrames);
    EXPECT_EQ(kinds.skipped > 0, c.skippedBytes);
    EXPECT_EQ(monitor.Counters().checksumFailures, session.Counters().checksumErrors);
    EXPECT_EQ(monitor.Counters().framesRefused, session.Counters().framesRefused);
    EXPECT_EQ(static_cast<std::uint64_t>(kinds.refused), session.Counters().framesRefused);
    EXPECT_GT(session.Counters().ringHighWater, 0u);
    EXPECT_EQ(monitor.Counters().framesSent, 2u);
    simulator.Stop();
  }
}

std::span<const std::uint8_t> AsSpan(const Bytes& bytes) { return bytes; }

TEST(LineMonitorStore, KeepsTheNewestRowsAndCountsWhatItDrops) {
  LineMonitor monitor(3);
  const auto t0 = LineClock::now();
  monitor.OnLineOpened(t0);
  const Bytes frame = {0x55, 0xAA, 0x04, 0x00, 0xFD, 0xFE};
  for (int i = 0; i < 5; ++i) monitor.OnFrameSent(AsSpan(frame), frame.size(), t0 + std::chrono::milliseconds(i));
  monitor.SetPaused(true);
  monitor.OnFrameSent(AsSpan(frame), 0, t0 + 9ms);
  monitor.SetPaused(false);

  EXPECT_EQ(monitor.Size(), 3u);
  EXPECT_EQ(monitor.FirstSequence(), 2u);
  EXPECT_EQ(monitor.Row(1), nullptr);
  EXPECT_EQ(monitor.Row(5), nullptr);
  ASSERT_NE(monitor.Row(4), nullptr);
  EXPECT_EQ(monitor.Row(4)->timeUs, 4000);
  EXPECT_EQ(monitor.Counters().rowsDropped, 2u);
  EXPECT_EQ(monitor.Counters().rowsNotKept, 1u);
  EXPECT_EQ(monitor.Counters().framesSent, 6u);
  EXPECT_EQ(monitor.Counters().writeFailures, 1u);

  // A run of skipped bytes across the ring's end is one row; a long one is cut.
  const Bytes a(200, 0x11), b(100, 0x22);
  monitor.OnBytesSkipped({a, b}, t0);
  const MonitorRow& skipped = *monitor.Row(monitor.NextSequence() - 1);
  EXPECT_EQ(skipped.length, 300u);
  EXPECT_EQ(skipped.bytes.size(), kMaxRowBytes);
  EXPECT_EQ(skipped.bytes[199], 0x11);
  EXPECT_EQ(skipped.bytes[200], 0x22);
  EXPECT_TRUE(MonitorHexText(skipped).ends_with("22 …"));

  monitor.Clear();
  EXPECT_EQ(monitor.Size(), 0u);
  EXPECT_EQ(monitor.FirstSequence(), monitor.NextSequence());
  monitor.OnFrameSent(AsSpan(frame), frame.size(), t0);
  EXPECT_EQ(monitor.Row(monitor.NextSequence() - 1)->bytes, frame);

  FrameRates rates = monitor.Rates(t0);
  monitor.OnFrameSent(AsSpan(frame), frame.size(), t0);
  rates = monitor.Rates(t0 + 2s);
  EXPECT_DOUBLE_EQ(rates.sent, 0.5);
}

TEST(LineMonitorTexts, RowsSayWhatTheConsoleDecodes) {
  const IdentityLookup lookup;
  const Bytes setpoint = {0x55, 0xAA, 0x10, 0x05, 0x62, 0xFE, 0x00, 0x00, 0x00, 0x48, 0x42};
  const Bytes profile = {0x55, 0xAA, 0x32, 0x10, 0x74, 0xFC, 0x00, 0x00, 0xC8, 0x42, 0x00,
                         0x00, 0x20, 0x41, 0x00, 0x00, 0xA0, 0x40, 0x00, 0x00, 0x00, 0x00};
  Bytes badStatus = StatusFrame(16, 1, 2, 3, 4, 5);
  badStatus[10] ^= 1;
  struct Case {
    LineDirection direction;
    Bytes bytes;
    bool good;  // the checksum adds up
    std::string summary;
    bool refused = false;  // an end not confirmed
  };
  const Case cases[] = {
      {LineDirection::Sent, setpoint, true, "恒速测试 (飞轮 0, 50)"},
      {LineDirection::Sent, profile, true, "恒负荷滑行 (100, 10, 5, 0)"},
      {LineDirection::Sent, {0x55, 0xAA, 0x1D, 0x00, 0xE4, 0xFE}, true, "急停"},
      {LineDirection::Sent, {0x55, 0xAA, 0x03, 0x00, 0xFE, 0xFE}, true, "未知指令"},
      {LineDirection::Received, StatusFrame(16, 12.5f, 49.5f, 3, 2000, 7), true,
       "Numth: 7 16; 速度 49.50 km/h; 力矩 12.5 daN; 转速 2000.0 r/min; 参数 3.0"},
      {LineDirection::Received, StatusFrame(4, 1, 734, 0, 0, 1), true, "Numth: 1 4; QRX5000控制器版本 Ver7.34"},
      {LineDirection::Received, StatusFrame(28, 1, 0, 0, 0, -6), true, "无效指令; 速度 0.00 km/h"},
      {LineDirection::Received, badStatus, false, "校验和错误"},
      {LineDirection::Received, StatusFrame(16, 1, 2, 3, 4, 0x5509), true, kRefusedFrameText, true},
      {LineDirection::Skipped, {1, 2, 3}, false, "跳过的字节: 3"},
  };
  for (const Case& c : cases) {
    LineMonitor monitor;
    if (c.direction == LineDirection::Sent) monitor.OnFrameSent(c.bytes, c.bytes.size(), {});
    if (c.direction == LineDirection::Received && !c.refused) monitor.OnFrameReceived(c.bytes, c.good, {});
    if (c.refused) monitor.OnFrameRefused(c.bytes, {});
    if (c.direction == LineDirection::Skipped) monitor.OnBytesSkipped({c.bytes, {}}, {});
    const MonitorRow& row = *monitor.Row(0);
    EXPECT_EQ(row.checksumGood, c.good) << c.summary;
    EXPECT_EQ(MonitorSummary(row, lookup), c.summary);
    const char* verdict = c.direction == LineDirection::Skipped ? "" : !c.good ? "错误" : c.refused ? "拒收" : "正确";
    EXPECT_EQ(MonitorCell(row, MonitorColumn::Checksum, lookup), verdict) << c.summary;
    const auto counters = MonitorCounterTexts(monitor.Counters(), {}, 0, {}, lookup);
    EXPECT_EQ(counters[kRefusedFramesCounter], (MonitorCounterText{"拒收的帧", c.refused ? "1" : "0"}));
    const bool badChecksum = c.direction == LineDirection::Received && !c.good;
    EXPECT_EQ(counters[kChecksumErrorsCounter].value, badChecksum ? "1" : "0");
  }
}

TEST(LineMonitorTexts, CsvReadsBackEqualAndFindWraps) {
  const MarkingLookup lookup;
  LineMonitor monitor;
  const auto t0 = LineClock::now();
  monitor.OnLineOpened(t0);
  const Bytes profile = {0x55, 0xAA, 0x32, 0x10, 0x74, 0xFC, 0x00, 0x00, 0xC8, 0x42, 0x00,
                         0x00, 0x20, 0x41, 0x00, 0x00, 0xA0, 0x40, 0x00, 0x00, 0x00, 0x00};
  monitor.OnFrameSent(profile, profile.size(), t0 + 1234567us);
  monitor.OnFrameReceived(StatusFrame(50, 100, 40, 3, 4, 9), true, t0 + 2s);
  monitor.OnBytesSkipped({Bytes{0x22, 0x2C, 0x0A}, {}}, t0 + 3s);
  const std::vector<std::uint64_t> all = {0, 1, 2};

  const auto records = ParseCsv(MonitorRowsAsCsv(monitor, all, lookup));
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0][0], "<时间(ms)>");
  for (std::size_t r = 0; r < all.size(); ++r) {
    ASSERT_EQ(records[r + 1].size(), kMonitorColumnCount);
    for (std::size_t c = 0; c < kMonitorColumnCount; ++c) {
      EXPECT_EQ(records[r + 1][c], MonitorCell(*monitor.Row(all[r]), static_cast<MonitorColumn>(c), lookup));
    }
  }
  EXPECT_EQ(records[1][0], "1234.567");
  EXPECT_EQ(ParseCsv("a,\"b \"\"q\"\",\r\nc\"\n"), (std::vector<std::vector<std::string>>{{"a", "b \"q\",\r\nc"}}));
  const std::string text = MonitorRowsAsText(monitor, all, lookup);
  EXPECT_NE(text.find("\n1234.567\t<发送>\t50\t22\t<正确>\t55 AA 32 10 74 FC"), std::string::npos) << text;

  struct Find {
    std::size_t from;
    std::string needle;
    std::optional<std::size_t> found;
  };
  const Find finds[] = {
      {0, "74 fc", 0},      {1, "74 FC", 0}, {0, "<当前负荷>", 1}, {0, "2C 0a", 2}, {0, "nowhere", std::nullopt},
      {0, "", std::nullopt}};
  for (const Find& f : finds) EXPECT_EQ(FindMonitorRow(monitor, all, f.from, f.needle, lookup), f.found) << f.needle;
}

TEST(LineMonitorTexts, TypeFilterTakesOnlyAWholeByteAndSaysWhyItRefuses) {
  const MarkingLookup lookup;
  struct Row {
    const char* typed;
    std::optional<std::uint8_t> code;
    bool refused;
  };
  const Row rows[] = {
      {"", std::nullopt, false},    {"  ", std::nullopt, false},   {"16", 16, false},
      {" 0x10 ", 16, false},        {"0XfF", 255, false},          {"0", 0, false},
      {"0x1g", std::nullopt, true}, {"0x1FF", std::nullopt, true}, {"256", std::nullopt, true},
      {"0x", std::nullopt, true},   {"-1", std::nullopt, true},    {"+16", std::nullopt, true},
      {"1 6", std::nullopt, true},  {"abc", std::nullopt, true},   {"99999999999", std::nullopt, true},
  };
  for (const Row& row : rows) {
    const MonitorTypeFilter filter = ReadMonitorTypeFilter(row.typed, lookup);
    EXPECT_EQ(filter.code, row.code) << row.typed;
    EXPECT_EQ(!filter.problem.empty(), row.refused) << row.typed;
    // The message is translated and names what was typed.
    if (row.refused) {
      EXPECT_EQ(filter.problem.rfind("<类型过滤无效>: \"" + std::string(row.typed) + "\"", 0), 0u) << filter.problem;
    }
  }
}

TEST(HexSendLine, BuildsTheCatalogueFramesAndRefusesMalformedLines) {
  // The catalogue's own frame for "恒速测试" with 50 typed in.
  MemoryChannel channel;
  ScriptedServices services;
  struct Host final : ConsoleHost {
    MessageAnswer ShowMessage(const MessageRequest&) override { return MessageAnswer::Ok; }
    void CloseChannelFromConsole() override {}
    void StartExternalProgram(const std::string&) override {}
    std::string CurrentDirectory() const override { return {}; }
    void ShowChannelMapWindow() override {}
    void ProcessPendingEvents() override {}
    void SleepMilliseconds(int) override {}
    bool IsCtrlHeld() const override { return false; }
  } host;
  IdentityLookup lookup;
  CommandExecutor executor(channel, lookup, host);
  CommandInputs inputs;
  inputs.ParamA = "50";
  executor.OnExecute(0, inputs);
  ASSERT_EQ(channel.Writes().size(), 1u);

  struct Case {
    std::string line;
    HexFrameError error;
    Bytes frame;
  };
  const Case cases[] = {
      {"10 00 00 00 48 42", HexFrameError::None, channel.Writes()[0]},
      {"0x10,0x00,0x00004842", HexFrameError::None, channel.Writes()[0]},
      {"32 0000C842 00002041 0000A040 00000000", HexFrameError::None, {0x55, 0xAA, 0x32, 0x10, 0x74, 0xFC, 0x00, 0x00,
                                                                       0xC8, 0x42, 0x00, 0x00, 0x20, 0x41, 0x00, 0x00,
                                                                       0xA0, 0x40, 0x00, 0x00, 0x00, 0x00}},
      {"  04 ", HexFrameError::None, {0x55, 0xAA, 0x04, 0x00, 0xFD, 0xFE}},
      {"", HexFrameError::Empty, {}},
      {" , ", HexFrameError::Empty, {}},
      {"1", HexFrameError::OddDigits, {}},
      {"10 0", HexFrameError::OddDigits, {}},
      {"0x", HexFrameError::OddDigits, {}},
      {"10 zz", HexFrameError::BadDigit, {}},
      {"10 4.2", HexFrameError::BadDigit, {}},
      {"7E " + std::string(256 * 2, 'F'), HexFrameError::TooLong, {}},
  };
  for (const Case& c : cases) {
    const HexFrame built = BuildFrameFromHex(c.line);
    EXPECT_EQ(built.error, c.error) << c.line;
    EXPECT_EQ(built.frame, c.frame) << c.line;
  }
  const HexFrame longest = BuildFrameFromHex("7E " + std::string(255 * 2, 'F'));
  EXPECT_EQ(longest.frame.size(), 261u);
  EXPECT_EQ(VerifyChecksum(longest.frame.data(), longest.frame.size()), 0);
}

TEST(HexSendLine, AsksOnceRefusesBadLinesAndNeedsAnOpenChannel) {
  MemoryChannel channel;
  ScriptedServices services;
  IdentityLookup lookup;
  HexFrameSender sender(channel, lookup, services);

  EXPECT_FALSE(sender.Send("10 4"));  // malformed: a box, nothing sent, nothing asked
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].text, HexFrameErrorText(HexFrameError::OddDigits));
  services.answer = MessageAnswer::Cancel;
  EXPECT_FALSE(sender.Send("04"));
  EXPECT_EQ(services.boxes.back().buttons, MessageButtons::OkCancel);
  services.answer = MessageAnswer::Ok;
  EXPECT_TRUE(sender.Send("04"));
  EXPECT_TRUE(sender.Send("1D"));
  EXPECT_EQ(services.boxes.size(), 3u);  // asked twice, the second time answered
  channel.SetOpen(false);
  EXPECT_FALSE(sender.Send("04"));
  EXPECT_EQ(services.boxes.back(), ChannelClosedMessage());
  EXPECT_EQ(channel.Writes(),
            (std::vector<Bytes>{{0x55, 0xAA, 0x04, 0x00, 0xFD, 0xFE}, {0x55, 0xAA, 0x1D, 0x00, 0xE4, 0xFE}}));
}

}  // namespace
}  // namespace rolta::test
