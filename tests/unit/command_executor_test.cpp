// "执行": every position's frames, the shared buffers, the repeat-send loop, boxes and parameter requests.
#include "commands/command_executor.h"
#include "marking_lookup.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "memory_channel.h"

namespace rolta {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Hex(const std::string& text) {
  Bytes bytes;
  std::istringstream in(text);
  std::string token;
  while (in >> token) bytes.push_back(static_cast<std::uint8_t>(std::stoul(token, nullptr, 16)));
  return bytes;
}

std::string ToHex(const Bytes& bytes) {
  std::string text;
  static const char* digits = "0123456789ABCDEF";
  for (std::uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += digits[b >> 4];
    text += digits[b & 0xF];
  }
  return text;
}

// A command frame as the wire carries it: 55 AA, command and length, the
// checksum (two's complement of the byte sum without bytes 4-5), payload.
std::string Frame(const std::string& commandAndLength, const std::string& payload = "") {
  Bytes frame = {0x55, 0xAA};
  for (std::uint8_t b : Hex(commandAndLength)) frame.push_back(b);
  frame.push_back(0);
  frame.push_back(0);
  for (std::uint8_t b : Hex(payload)) frame.push_back(b);
  unsigned sum = 0;
  for (std::size_t i = 0; i < frame.size(); ++i) {
    if (i != 4 && i != 5) sum += frame[i];
  }
  const unsigned checksum = (0x10000u - (sum & 0xFFFF)) & 0xFFFF;
  frame[4] = static_cast<std::uint8_t>(checksum & 0xFF);
  frame[5] = static_cast<std::uint8_t>(checksum >> 8);
  return ToHex(frame);
}

std::vector<std::string> Written(const test::MemoryChannel& channel) {
  std::vector<std::string> frames;
  for (const Bytes& write : channel.Writes()) frames.push_back(ToHex(write));
  return frames;
}

using test::MarkingLookup;

class ScriptedHost final : public ConsoleHost {
 public:
  explicit ScriptedHost(test::MemoryChannel& channel) : channel_(channel) {}

  MessageAnswer ShowMessage(const MessageRequest& request) override {
    messages.push_back(request);
    writesWhenShown.push_back(channel_.Writes().size());
    if (answers.empty()) return MessageAnswer::Ok;
    const MessageAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void CloseChannelFromConsole() override {
    log.push_back("close");
    channel_.SetOpen(false);
    if (executor != nullptr) executor->RequestLoopStop();
  }
  void StartExternalProgram(const std::string& path) override { log.push_back("start " + path); }
  std::string CurrentDirectory() const override { return cwd; }
  void ShowChannelMapWindow() override { log.push_back("channel map"); }
  void ProcessPendingEvents() override {
    ++pumps;
    if (onPump) onPump(pumps);
  }
  void SleepMilliseconds(int milliseconds) override { sleeps.push_back(milliseconds); }
  bool IsCtrlHeld() const override {
    // A runaway loop in a broken build ends here instead of hanging the test.
    return ctrlHeld || (ctrlFromPump > 0 && pumps >= ctrlFromPump) || pumps > 1000;
  }

  CommandExecutor* executor = nullptr;
  std::vector<MessageRequest> messages;
  std::vector<std::size_t> writesWhenShown;
  std::deque<MessageAnswer> answers;
  std::vector<std::string> log;
  std::vector<int> sleeps;
  std::string cwd = "/home/operator/rolta";
  std::function<void(int)> onPump;
  int pumps = 0;
  bool ctrlHeld = false;
  int ctrlFromPump = 0;

 private:
  test::MemoryChannel& channel_;
};

// Float32 little-endian bytes of the values used below.
const std::string k50 = "00 00 48 42", k12_5 = "00 00 48 41", k5 = "00 00 A0 40", k2 = "00 00 00 40",
                  k100 = "00 00 C8 42", k10 = "00 00 20 41", k3 = "00 00 40 40", kMinus1 = "00 00 80 BF",
                  k0 = "00 00 00 00", k7 = "00 00 E0 40";
// What the shared buffers hold before each position runs: -2.0 in every
// float, flywheel mask 0A, request word 44332211.
const std::string kKept = "00 00 00 C0", kKeptMask = "0A", kKeptWord = "11 22 33 44";

class CommandExecutorTest : public ::testing::Test {
 protected:
  CommandExecutorTest() { host.executor = &executor; }

  static CommandInputs StandardInputs() {
    return CommandInputs{.ParamA = "50",
                         .ParamB = "12.5",
                         .ParamM = "5",
                         .ParamC = "2",
                         .StartSpeed = "100",
                         .EndSpeed = "10",
                         .StartLoad = "3",
                         .EndLoad = "-1",
                         .Flywheels = {true, false, true, false}};
  }

  static void FillWithMarkers(SharedCommandFrames& target) {
    auto put = [](auto& frame, std::size_t offset, const std::string& hex) {
      for (std::uint8_t b : Hex(hex)) frame[offset++] = b;
    };
    put(target.paramRequest, 6, kKeptWord);
    put(target.setpoint, 6, kKeptMask + " " + kKept);
    for (std::size_t offset : {6u, 10u, 14u, 18u}) put(target.profile, offset, kKept);
  }
  void FillSharedFramesWithMarkers() { FillWithMarkers(frames); }

  Bytes SharedFrameBytes() const {
    Bytes bytes(frames.paramRequest.data(), frames.paramRequest.data() + 10);
    bytes.insert(bytes.end(), frames.setpoint.data(), frames.setpoint.data() + 11);
    bytes.insert(bytes.end(), frames.profile.data(), frames.profile.data() + 22);
    return bytes;
  }

  test::MemoryChannel channel;
  MarkingLookup lookup;
  ScriptedHost host{channel};
  CommandExecutor executor{channel, lookup, host};
  SharedCommandFrames& frames = executor.Frames();
};

struct PositionCase {
  int position;
  std::vector<std::string> frames;
};

// What each position writes with StandardInputs over the marker buffers.
// Confirmations are cancelled and the loop is left by Ctrl at once.
std::vector<PositionCase> ExpectedFrames() {
  const auto sp = [](const std::string& word, const std::string& mask, const std::string& value) {
    return Frame(word, mask + " " + value);
  };
  const auto pf = [](const std::string& word, const std::string& a, const std::string& b, const std::string& c,
                     const std::string& d) { return Frame(word, a + " " + b + " " + c + " " + d); };
  return {
      {0, {sp("10 05", kKeptMask, k50)}},
      {1, {sp("11 05", kKeptMask, k12_5)}},
      {2, {Frame("22 00")}},
      {3, {Frame("21 00")}},
      {4, {Frame("1E 00")}},
      {5, {Frame("1F 00")}},
      {6, {Frame("24 00")}},
      {7, {Frame("2D 00")}},
      {8, {pf("32 10", k100, k10, k5, k0)}},
      {9, {}},
      {10, {sp("14 05", kKeptMask, k12_5)}},
      {11, {pf("35 10", k100, k10, k12_5, kKept)}},
      {12, {pf("36 10", k100, k10, k12_5, kKept)}},
      {13, {Frame("31 00")}},
      {14, {Frame("1C 00")}},
      {15, {pf("34 10", k50, k5, kKept, kKept)}},
      {16, {Frame("37 00")}},
      {17, {Frame("38 00")}},
      {18, {Frame("26 00")}},
      {19, {Frame("27 00")}},
      {20, {Frame("28 00")}},
      {21, {Frame("29 00")}},
      {22, {}},
      {23, {}},
      {24, {pf("3A 10", k100, k10, k3, kMinus1)}},
      {25, {Frame("1B 00")}},
      {26, {Frame("01 04", kKeptWord)}},
      {27, {Frame("01 04", "FF FF FF FF")}},
      {28, {Frame("23 00")}},
      {29, {sp("12 05", "05", kKept)}},
      {30, {Frame("13 00")}},
      {31, {Frame("41 00")}},
      {32, {pf("5C 10", k50, k5, kKept, kKept)}},
      {33, {pf("58 10", k100, k10, k5, kKept)}},
      {34, {}},
      {35, {}},
      {36, {Frame("5D 00")}},
      {37, {Frame("5E 00")}},
      {38, {Frame("5F 00")}},
      {39, {}},
      {40, {}},
      {41, {Frame("60 00")}},
      {42, {pf("47 10", k100, k10, k12_5, kKept)}},
      {43, {pf("46 10", k100, k10, k5, kKept)}},
      {44, {pf("59 10", k100, k10, k5, k2)}},
      {45, {pf("5B 10", k50, kKept, kKept, kKept)}},
      {46, {pf("50 10", k50, k5, kKept, kKept)}},
      {47, {pf("51 10", k50, k2, k5, kKept)}},
      {48, {}},
      {49, {Frame("2B 00")}},
      {50, {}},
      {51, {Frame("2A 00")}},
      {52, {pf("5A 10", k100, k10, k5, k2)}},
      {53, {pf("49 10", k100, k10, k5, kKept)}},
      {54, {pf("52 10", k50, k5, kKept, kKept)}},
      {55, {pf("53 10", k50, k2, k5, kKept)}},
      {56, {sp("54 05", kKeptMask, k12_5)}},
      {57, {Frame("70 00")}},
      {58, {Frame("73 00")}},
      {59, {Frame("64 00")}},
      {60, {Frame("66 00"), Frame("67 00"), Frame("68 00")}},
      {61, {Frame("67 00"), Frame("68 00")}},
      {62, {Frame("68 00")}},
      {63, {Frame("69 00")}},
      {64, {Frame("6A 00")}},
      {65, {sp("55 05", kKeptMask, k50)}},
      {66, {Frame("6B 00")}},
      {67, {pf("4A 10", k100, k10, k12_5, kKept)}},
      {68, {Frame("6E 00")}},
      {69, {Frame("72 00")}},
      {70, {Frame("71 00")}},
      {71, {Frame("74 00")}},
      {72, {Frame("6C 00")}},
      {73, {Frame("65 00")}},
      {74, {sp("7C 05", kKeptMask, k50)}},
      {75, {Frame("42 00")}},
      {76, {Frame("7D 00")}},
      {77, {sp("43 05", kKeptMask, k12_5)}},
      {78, {pf("44 10", k100, k10, k5, k0)}},
      {79, {Frame("4B 00")}},
      {80, {pf("4C 10", k50, k12_5, k5, k0)}},
      {81, {pf("4F 10", k100, k10, k12_5, kKept)}},
      {82, {pf("57 10", k50, k2, k5, kKept)}},
      {83, {pf("56 10", k50, k2, k5, kKept)}},
      {84, {}},
      {85, {sp("45 05", kKeptMask, k12_5)}},
      {86, {pf("7B 10", k50, k12_5, k5, k2)}},
      {87, {sp("25 05", kKeptMask, k12_5)}},
      {88, {pf("15 10", k100, k10, k12_5, kKept)}},
      {89, {pf("7F 10", k100, k10, k5, k0)}},
      {90, {Frame("6F 00")}},
  };
}

TEST(ExpectedFrameHelper, ReproducesTheWorkedFrames) {
  EXPECT_EQ(Frame("04 00"), "55 AA 04 00 FD FE");
  EXPECT_EQ(Frame("1D 00"), "55 AA 1D 00 E4 FE");
  EXPECT_EQ(Frame("10 05", "00 " + k50), "55 AA 10 05 62 FE 00 00 00 48 42");
  EXPECT_EQ(Frame("01 04", "FF FF FF FF"), "55 AA 01 04 00 FB FF FF FF FF");
}

TEST_F(CommandExecutorTest, EveryPositionWritesItsFramesAndKeepsWhatItDoesNotName) {
  const std::vector<PositionCase> cases = ExpectedFrames();
  ASSERT_EQ(cases.size(), 91u);
  for (const PositionCase& c : cases) {
    SCOPED_TRACE("position " + std::to_string(c.position));
    test::MemoryChannel positionChannel;
    ScriptedHost positionHost(positionChannel);
    positionHost.answers = {MessageAnswer::Cancel};
    positionHost.ctrlHeld = true;
    CommandExecutor positionExecutor(positionChannel, lookup, positionHost);
    positionHost.executor = &positionExecutor;
    FillWithMarkers(positionExecutor.Frames());

    positionExecutor.OnExecute(c.position, StandardInputs());

    EXPECT_EQ(Written(positionChannel), c.frames);
    EXPECT_EQ(positionExecutor.CommandIndex(), c.position);
    EXPECT_TRUE(positionChannel.IsOpen());
  }
}

TEST_F(CommandExecutorTest, AClosedChannelOnlyShowsTheChannelClosedMessageForEveryPosition) {
  for (int position = -1; position <= 91; ++position) {
    SCOPED_TRACE("position " + std::to_string(position));
    channel.SetOpen(true);
    executor.OnExecute(14, {});  // LastShortCode 28, commandIndex 14
    channel.ClearWrites();
    channel.SetOpen(false);
    FillSharedFramesWithMarkers();
    const Bytes before = SharedFrameBytes();
    host.messages.clear();
    host.log.clear();
    host.sleeps.clear();
    host.answers = {MessageAnswer::Ok};

    executor.OnExecute(position, StandardInputs());

    EXPECT_EQ(host.messages, std::vector<MessageRequest>{ChannelClosedMessage()});
    EXPECT_TRUE(channel.Writes().empty());
    EXPECT_TRUE(host.log.empty());
    EXPECT_TRUE(host.sleeps.empty());
    EXPECT_EQ(executor.CommandIndex(), 14);
    EXPECT_EQ(executor.LastShortCode(), 28);
    EXPECT_EQ(SharedFrameBytes(), before);
  }
}

TEST_F(CommandExecutorTest, CoastDownWorkedFrameAndTheStaleValuesOfTheNextProfileCommand) {
  CommandInputs inputs;
  inputs.StartSpeed = "100";
  inputs.EndSpeed = "10";
  inputs.ParamM = "5";
  executor.OnExecute(8, inputs);
  CommandInputs next;
  next.ParamA = "7";
  executor.OnExecute(45, next);

  EXPECT_EQ(Written(channel),
            (std::vector<std::string>{"55 AA 32 10 74 FC 00 00 C8 42 00 00 20 41 00 00 A0 40 00 00 00 00",
                                      Frame("5B 10", k7 + " " + k10 + " " + k5 + " " + k0)}));
}

TEST_F(CommandExecutorTest, TheFlywheelMaskOfTheLastLoadStaysInEverySetpointFrame) {
  CommandInputs inputs;
  inputs.ParamA = "50";
  executor.OnExecute(0, inputs);  // mask 0 at start
  inputs.Flywheels = {true, false, true, false};
  executor.OnExecute(29, inputs);
  inputs.Flywheels = {};
  executor.OnExecute(0, inputs);

  EXPECT_EQ(Written(channel), (std::vector<std::string>{
                                  "55 AA 10 05 62 FE 00 00 00 48 42",
                                  Frame("12 05", "05 " + k50),  // value of the last setpoint
                                  Frame("10 05", "05 " + k50),
                              }));
}

TEST(FlywheelMask, EachCheckBoxIsOneBit) {
  for (unsigned combination = 0; combination < 16; ++combination) {
    CommandInputs inputs;
    for (unsigned box = 0; box < 4; ++box) inputs.Flywheels[box] = (combination >> box) & 1;
    EXPECT_EQ(FlywheelMask(inputs), combination);
  }
}

TEST_F(CommandExecutorTest, TypedTextsAreReadLikeAtof) {
  CommandInputs inputs;
  inputs.ParamA = "1e2";
  inputs.ParamB = " -3.5x";
  inputs.ParamM = "abc";
  inputs.ParamC = "";
  executor.OnExecute(86, inputs);
  EXPECT_EQ(Written(channel), std::vector<std::string>{Frame("7B 10", k100 + " 00 00 60 C0 " + k0 + " " + k0)});
}

TEST_F(CommandExecutorTest, AnOverlargeTextSendsTheLargestFloatNotInfinity) {
  CommandInputs inputs;
  inputs.ParamA = "1e99";
  executor.OnExecute(0, inputs);
  EXPECT_EQ(Written(channel), std::vector<std::string>{Frame("10 05", "00 FF FF 7F 7F")});
}

TEST_F(CommandExecutorTest, ReadingTheParameterRecordRoutesItToTheSummary) {
  executor.OnExecute(26, {});
  EXPECT_EQ(executor.ParamReplyTarget(), 1);
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(Written(channel), std::vector<std::string>{Frame("01 04", k0)});
}

TEST_F(CommandExecutorTest, EditingTheParameterRecordShowsTheHintThenRequestsForTheForm) {
  executor.OnExecute(26, {});
  executor.OnExecute(27, {});
  executor.OnExecute(26, {});  // the word stays all bits set from now on

  const MessageRequest hint{
      "1.设置QRX参数以后，等待状态栏显示”Numth: 102 2”。\r\n\r\n"
      "2.如果设置了控制器通讯参数，需要根据控制器通讯参数重新设定ROLTA通讯参数！\r\n"
      "  例如：如果控制器通讯速度为57.6K，那么ROLTA的通讯速度也必须为57.6K！\r\n"
      "  注意：ROLTA通讯口必须和工控机机本身连接控制器的串口一致，而控制器串口只和控制器本身自带串口一致！"
      "\r\n\r\n3.需要重新启动QRX5000B控制器！",
      "<请确认>", MessageIcon::None, MessageButtons::Ok};
  EXPECT_EQ(host.messages, std::vector<MessageRequest>{hint});
  EXPECT_EQ(host.writesWhenShown, std::vector<std::size_t>{1});  // before the request
  EXPECT_EQ(Written(channel), (std::vector<std::string>{
                                  Frame("01 04", k0),
                                  "55 AA 01 04 00 FB FF FF FF FF",
                                  "55 AA 01 04 00 FB FF FF FF FF",
                              }));
  EXPECT_EQ(executor.ParamReplyTarget(), 1);
}

TEST_F(CommandExecutorTest, ParamReplyTargetIsTheFormAfterPosition27) {
  executor.OnExecute(27, {});
  EXPECT_EQ(executor.ParamReplyTarget(), 0);
}

TEST_F(CommandExecutorTest, MessagePositionsShowTheirTranslatedTextAndSendNothing) {
  executor.OnExecute(22, {});
  executor.OnExecute(23, {});
  EXPECT_EQ(host.messages, (std::vector<MessageRequest>{
                               {"<请点击下方<标定>按钮!>", "<请确认>", MessageIcon::Information, MessageButtons::Ok},
                               {"<该功能暂不提供!>", "<请确认>", MessageIcon::Information, MessageButtons::Ok},
                           }));
  EXPECT_TRUE(channel.Writes().empty());
}

TEST_F(CommandExecutorTest, ChannelMapPositionsSendCommand65OrOnlyShowTheWindow) {
  executor.OnExecute(39, {});
  EXPECT_TRUE(channel.Writes().empty());
  EXPECT_EQ(host.log, std::vector<std::string>{"channel map"});
  executor.OnExecute(31, {});
  EXPECT_EQ(Written(channel), std::vector<std::string>{Frame("41 00")});
  EXPECT_EQ(host.log.size(), 1u);
}

TEST_F(CommandExecutorTest, CancellingAnExternalProgramLeavesTheChannelOpen) {
  host.answers = {MessageAnswer::Cancel};
  executor.OnExecute(9, {});
  const MessageRequest confirmation{"<运行变负荷滑行功能,将关闭ROLTA通讯口!>", "<请确认>", MessageIcon::Information,
                                    MessageButtons::OkCancel};
  EXPECT_EQ(host.messages, std::vector<MessageRequest>{confirmation});
  EXPECT_TRUE(channel.IsOpen());
  EXPECT_TRUE(host.log.empty());
  EXPECT_TRUE(channel.Writes().empty());
}

TEST_F(CommandExecutorTest, ConfirmingAnExternalProgramClosesTheChannelThenStartsIt) {
  executor.OnExecute(9, {});
  EXPECT_FALSE(channel.IsOpen());
  EXPECT_EQ(executor.LoopTestState(), kLoopStop);
  EXPECT_EQ(host.log, (std::vector<std::string>{"close", "start /home/operator/rolta/vlcoast.exe"}));

  channel.SetOpen(true);
  host.cwd = "/";
  executor.OnExecute(48, {});
  channel.SetOpen(true);
  host.cwd = "/srv/bench";
  executor.OnExecute(84, {});
  EXPECT_EQ(host.log,
            (std::vector<std::string>{"close", "start /home/operator/rolta/vlcoast.exe", "close",
                                      "start /vlcoastdiesel.exe", "close", "start /srv/bench/vlcoastdiesel2w.exe"}));
  EXPECT_EQ(host.messages[1].text, "<运行柴油－变负荷滑行功能,将关闭ROLTA通讯口!>");
  EXPECT_EQ(host.messages[2].text, "<运行双轴柴油－变负荷滑行功能,将关闭ROLTA通讯口!>");
}

TEST_F(CommandExecutorTest, WithoutAWorkingDirectoryNoProgramIsStartedButTheChannelIsClosed) {
  host.cwd.clear();
  executor.OnExecute(9, {});
  EXPECT_EQ(host.log, std::vector<std::string>{"close"});
}

TEST_F(CommandExecutorTest, MultiFramePositionsSendBackToBackInOrder) {
  executor.OnExecute(60, {});
  EXPECT_EQ(executor.LastShortCode(), 104);
  executor.OnExecute(61, {});
  EXPECT_EQ(Written(channel),
            (std::vector<std::string>{Frame("66 00"), Frame("67 00"), Frame("68 00"), Frame("67 00"), Frame("68 00")}));
  EXPECT_TRUE(host.sleeps.empty());
}

TEST_F(CommandExecutorTest, LastShortCodeFollowsTheConsolesShortFrameAtTheEndOfAnExecution) {
  EXPECT_EQ(executor.LastShortCode(), 0);
  executor.SendShort(4);  // version query through the same buffer
  EXPECT_EQ(Written(channel), std::vector<std::string>{"55 AA 04 00 FD FE"});
  EXPECT_EQ(executor.LastShortCode(), 0);  // only an execution takes it over
  executor.OnExecute(0, {});               // a setpoint command leaves the ShortFrame alone
  EXPECT_EQ(executor.LastShortCode(), 4);
  executor.OnExecute(-1, {});  // no selection: nothing runs
  EXPECT_EQ(executor.CommandIndex(), -1);
  EXPECT_EQ(channel.Writes().size(), 2u);
}

// The repeat-send loop, driven through the host's event pump.
class RepeatLoopTest : public CommandExecutorTest {
 protected:
  // Runs `action(pump)` at the given pump numbers.
  void AtPump(int pump, std::function<void()> action) { actions_.push_back({pump, action}); }
  void Arm() {
    host.onPump = [this](int pump) {
      for (auto& [at, action] : actions_) {
        if (at == pump) action();
      }
    };
  }

 private:
  std::vector<std::pair<int, std::function<void()>>> actions_;
};

TEST_F(RepeatLoopTest, RepeatsTheLastShortCommandUntilStoppedAndLetsOneMoreFrameOut) {
  executor.OnExecute(14, {});
  AtPump(1, [&] { EXPECT_EQ(executor.LoopTestState(), kLoopRunning); });
  AtPump(3, [&] { executor.OnExecute(35, {}); });
  Arm();
  executor.OnExecute(34, {});

  // One frame for 14, then one per pass; the stop during pass 3 still lets
  // that pass's frame out.
  EXPECT_EQ(Written(channel), std::vector<std::string>(4, Frame("1C 00")));
  EXPECT_EQ(host.sleeps, (std::vector<int>{100, 100, 100}));
  EXPECT_EQ(executor.LoopTestState(), kLoopStop);
  EXPECT_FALSE(executor.InRepeatLoop());
  EXPECT_EQ(executor.CommandIndex(), 35);  // the nested stop was the last execution
}

TEST_F(RepeatLoopTest, CtrlLeavesAtOnceWithoutAnotherFrame) {
  executor.OnExecute(14, {});
  host.ctrlFromPump = 3;
  executor.OnExecute(34, {});
  EXPECT_EQ(Written(channel), std::vector<std::string>(3, Frame("1C 00")));
  EXPECT_EQ(host.sleeps.size(), 2u);
  EXPECT_FALSE(executor.InRepeatLoop());
}

TEST_F(RepeatLoopTest, ANestedExecutionChangesTheRepeatedCommand) {
  executor.OnExecute(14, {});
  AtPump(2, [&] {
    EXPECT_TRUE(executor.InRepeatLoop());
    executor.OnExecute(16, {});  // blower on, command 55
  });
  AtPump(3, [&] { executor.OnExecute(0, {}); });  // a setpoint changes nothing here
  AtPump(4, [&] { executor.OnExecute(35, {}); });
  Arm();
  executor.OnExecute(34, {});

  const std::string stop = Frame("1C 00"), blower = Frame("37 00");
  EXPECT_EQ(Written(channel),
            (std::vector<std::string>{stop, stop, blower, blower, Frame("10 05", "00 " + k0), blower, blower}));
  EXPECT_EQ(executor.LastShortCode(), 55);
}

TEST_F(RepeatLoopTest, SendsNothingBeforeAnyShortCommandButStillPauses) {
  AtPump(3, [&] { executor.OnExecute(35, {}); });
  Arm();
  executor.OnExecute(34, {});
  EXPECT_TRUE(channel.Writes().empty());
  EXPECT_EQ(host.sleeps, (std::vector<int>{100, 100, 100}));
}

TEST_F(RepeatLoopTest, ClosingTheChannelStopsTheLoopAndTheLastFrameGoesNowhere) {
  executor.OnExecute(14, {});
  AtPump(2, [&] { host.CloseChannelFromConsole(); });
  Arm();
  executor.OnExecute(34, {});
  EXPECT_EQ(Written(channel), std::vector<std::string>(2, Frame("1C 00")));
  EXPECT_EQ(host.pumps, 2);
}

TEST_F(RepeatLoopTest, ANestedLoopAndItsOuterLoopBothEndOnOneStop) {
  executor.OnExecute(14, {});
  AtPump(1, [&] { executor.OnExecute(34, {}); });
  AtPump(3, [&] { executor.OnExecute(35, {}); });
  Arm();
  executor.OnExecute(34, {});
  // Inner loop: passes 2 and 3; outer loop: the rest of pass 1.
  EXPECT_EQ(Written(channel), std::vector<std::string>(4, Frame("1C 00")));
  EXPECT_EQ(host.pumps, 3);
  EXPECT_FALSE(executor.InRepeatLoop());
}

}  // namespace
}  // namespace rolta
