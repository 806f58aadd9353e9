// The firmware upgrade dialogue against scripted controllers and the simulator's model, on a virtual clock.
#include "upgrade/firmware_upgrade.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>

#include <unistd.h>

#include "controller_model.h"
#include "link/command_codes.h"
#include "frame_router.h"
#include "link/frame_sync.h"
#include "marking_lookup.h"
#include "memory_channel.h"

namespace rolta::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

Bytes Status(std::uint8_t type, float v1, float v2 = 0) {
  Bytes f(24, 0);
  f[0] = 0x55;
  f[1] = 0xAA;
  f[2] = type;
  PutFloat32LE(&f[6], v1);
  PutFloat32LE(&f[10], v2);
  StoreChecksum(f.data(), f.size());
  return f;
}

// The console around the upgrade: the channel, the receive path into
// UpgradeReplies (the status decoder's command answers), and the window services. Pumping events hands every frame
// written since the last pump to the controller and receives its answers.
class FakeConsole : public UpgradeHost, private StatusFrameSinks {
 public:
  using Controller = std::function<std::vector<Bytes>(const Bytes& frame, FakeConsole& console)>;

  explicit FakeConsole(Controller controller) : controller_(std::move(controller)) {
    router_.On(ControllerFrameKind::Status,
               [this](const std::uint8_t* frame, std::size_t) { DecodeStatusFrame(frame, status_, *this); });
  }

  MemoryChannel channel;
  UpgradeReplies replies;
  MarkingLookup lookup;
  FirmwareUpgrade upgrade{channel, replies, lookup, *this};

  std::uint32_t now = 0;  // the tick counter, moved on only by pauses
  bool escape = false;
  std::function<void(FakeConsole&)> afterPump;
  bool blockAnswersInPause = false;  // blocks are answered only while the pass pauses
  std::optional<std::string> chosenFile;
  std::deque<MessageAnswer> answers;

  std::vector<MessageRequest> messages;
  std::vector<int> progress;
  std::vector<std::string> statusLines;
  std::vector<bool> runningChanges;
  int pumps = 0;
  bool answersAwaitedForEveryBlock = true;

  // The command bytes written, in order.
  std::vector<int> Codes() const {
    std::vector<int> codes;
    for (const Bytes& w : channel.Writes()) codes.push_back(w[2]);
    return codes;
  }
  // The status line as the upgrade set it, without the receive path's lines.
  std::vector<std::string> UpgradeLines() const {
    std::vector<std::string> lines;
    for (const std::string& l : statusLines) {
      if (l.rfind("Numth", 0) != 0) lines.push_back(l);
    }
    return lines;
  }
  std::vector<Bytes> Blocks() const {
    std::vector<Bytes> blocks;
    for (const Bytes& w : channel.Writes()) {
      if (w[2] == command::kRomBlock) blocks.push_back(w);
    }
    return blocks;
  }

  void SendShort(std::uint8_t code) override {
    shortFrame_.SetCommand(code);
    const auto bytes = shortFrame_.Seal();
    channel.Write(bytes.data(), bytes.size());
  }
  void SetStatusLine(const std::string& text) override { statusLines.push_back(text); }
  void SetUpgradeRunning(bool running) override { runningChanges.push_back(running); }
  void SetProgress(int percent) override { progress.push_back(percent); }
  std::optional<std::string> ChooseRomFile(const RomFileDialog&) override { return chosenFile; }
  MessageAnswer ShowMessage(const MessageRequest& request) override {
    messages.push_back(request);
    if (answers.empty()) return MessageAnswer::Ok;
    const MessageAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  void ProcessPendingEvents() override {
    ++pumps;
    const auto writes = channel.Writes();
    for (; handed_ < writes.size(); ++handed_) {
      // A block whose answer is to come during the pass's pause waits for it.
      if (blockAnswersInPause && !inPause_ && writes[handed_][2] == command::kRomBlock) break;
      if (writes[handed_][2] == command::kRomBlock) {
        answersAwaitedForEveryBlock = answersAwaitedForEveryBlock && channel.AnswersAwaited();
      }
      for (const Bytes& answer : controller_(writes[handed_], *this)) channel.Queue(answer);
    }
    receiver_.OnCommNotify(FrameReceiver::kCharactersReceived);
    if (afterPump) afterPump(*this);
  }
  void SleepMilliseconds(int ms) override { now += static_cast<std::uint32_t>(ms); }
  // As the console's and rolta-cli's hosts do: events run during the pause.
  void PauseAwaitingAnswer(int ms) override {
    inPause_ = true;
    ProcessPendingEvents();
    inPause_ = false;
    SleepMilliseconds(ms);
  }
  bool IsEscapeHeld() const override { return escape; }
  std::uint32_t TickCount() const override { return now; }

 private:
  void ShowControllerVersion(bool, double) override {}
  void ShowLiveFrame(const ControllerStatus&) override {}
  void OnCommandAnswer(const ControllerStatus& status) override { replies.OnCommandAnswer(status); }

  Controller controller_;
  std::size_t handed_ = 0;
  bool inPause_ = false;
  ShortFrame shortFrame_;
  ControllerStatus status_;
  FrameRouter router_;
  FrameReceiver receiver_{channel, router_};
};

// Answers stop with `stop`, wait with 100, a block with `block(index)`.
FakeConsole::Controller Scripted(float stop, std::function<std::vector<Bytes>(int index)> block) {
  return [stop, block](const Bytes& f, FakeConsole&) -> std::vector<Bytes> {
    switch (f[2]) {
      case command::kStopTest: return {Status(28, stop)};
      case command::kStandby: return {Status(27, 100)};
      case command::kRomBlock: return block(GetUInt16LE(&f[8]));
      default: return {};
    }
  };
}
std::vector<Bytes> Accept(int index) { return {Status(126, 100, static_cast<float>(index))}; }
FakeConsole::Controller Good() { return Scripted(10, Accept); }

class FirmwareUpgradeTest : public ::testing::Test {
 protected:
  fs::path dir_ = fs::temp_directory_path() / ("rolta_upgrade_" + std::to_string(::getpid()));
  void SetUp() override { fs::create_directories(dir_); }
  void TearDown() override { fs::remove_all(dir_); }

  // A ROM whose byte k is k*7+1 (mod 256), so blocks differ.
  std::string Rom(std::size_t size, const char* name = "a.ROM") {
    Bytes data(size);
    for (std::size_t k = 0; k < size; ++k) data[k] = static_cast<std::uint8_t>(k * 7 + 1);
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(size));
    return path.string();
  }
};

MessageRequest Report(const char* text, const char* caption) {
  MessageRequest r{text, caption, MessageIcon::Information, MessageButtons::Ok};
  r.text = "<" + r.text + ">";
  r.caption = "<" + r.caption + ">";
  return r;
}

TEST_F(FirmwareUpgradeTest, BlocksOfTheFileCarryCountIndexLengthAndData) {
  struct Row {
    std::size_t size;
    std::uint16_t count;
    std::vector<std::uint16_t> lengths;
    std::vector<int> progress;
  } rows[] = {
      {0, 0, {}, {100}},  // nothing to send: complete at once
      {440, 2, {220, 220}, {0, 50, 100}},
      {441, 3, {220, 220, 1}, {0, 33, 66, 100}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.size);
    FakeConsole console(Good());
    console.chosenFile = Rom(row.size);
    console.upgrade.OnUpgrade();

    const auto blocks = console.Blocks();
    ASSERT_EQ(blocks.size(), row.lengths.size());
    Bytes received;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      const Bytes& b = blocks[i];
      EXPECT_EQ(b.size(), 232u);
      EXPECT_EQ(b[3], 226);
      EXPECT_EQ(VerifyChecksum(b.data(), b.size()), 0);
      EXPECT_EQ(GetUInt16LE(&b[6]), row.count);
      EXPECT_EQ(GetUInt16LE(&b[8]), i);
      EXPECT_EQ(GetUInt16LE(&b[10]), row.lengths[i]);
      received.insert(received.end(), b.begin() + 12, b.begin() + 12 + row.lengths[i]);
    }
    EXPECT_EQ(received.size(), row.size);
    for (std::size_t k = 0; k < received.size(); ++k) ASSERT_EQ(received[k], static_cast<std::uint8_t>(k * 7 + 1));
    if (row.size == 441) {
      // Beyond the one byte of the last block, the second block's bytes stay.
      EXPECT_TRUE(std::equal(blocks[2].begin() + 13, blocks[2].end(), blocks[1].begin() + 13));
    }
    EXPECT_EQ(console.progress, row.progress);
    ASSERT_EQ(console.messages.size(), 2u);
    EXPECT_EQ(console.messages[1], Report("更新成功", "成功更新QRX5000控制器"));
    EXPECT_EQ(console.runningChanges, (std::vector<bool>{true, false}));
    // Each block's answer is reported as it comes in; afterwards the port gathers as before.
    EXPECT_TRUE(console.answersAwaitedForEveryBlock);
    EXPECT_FALSE(console.channel.AnswersAwaited());
    // Stopped first; after success the wait phase runs twice, the second
    // ending at its first check because WaitReply stays 100.
    const auto codes = console.Codes();
    EXPECT_EQ(codes.front(), command::kStopTest);
    EXPECT_EQ(std::vector<int>(codes.end() - 2, codes.end()), (std::vector<int>{27, 27}));
  }
}

TEST_F(FirmwareUpgradeTest, AnAnswerArrivingDuringThePassPauseIsActedOnInThatPass) {
  FakeConsole console(Good());
  console.blockAnswersInPause = true;
  console.chosenFile = Rom(660);
  console.upgrade.OnUpgrade();
  EXPECT_EQ(console.Blocks().size(), 3u);  // each block once: no answer was lost to the pass's reset
  ASSERT_EQ(console.messages.size(), 2u);
  EXPECT_EQ(console.messages[1], Report("更新成功", "成功更新QRX5000控制器"));
}

TEST_F(FirmwareUpgradeTest, OperatorChoicesDecideWhatIsSent) {
  struct Row {
    const char* what;
    bool open;
    bool chooses;
    MessageAnswer confirm;
    std::vector<int> codes;
    std::size_t boxes;
    std::vector<bool> running;
  } rows[] = {
      {"channel closed", false, true, MessageAnswer::Ok, {}, 1, {}},
      {"file dialog cancelled", true, false, MessageAnswer::Ok, {}, 0, {true, false}},
      {"confirmation cancelled", true, true, MessageAnswer::Cancel, {27}, 1, {true, false}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeConsole console(Good());
    console.channel.SetOpen(row.open);
    console.replies.WaitReply = 100;
    if (row.chooses) console.chosenFile = Rom(10);
    console.answers = {row.confirm};
    console.upgrade.OnUpgrade();
    EXPECT_EQ(console.Codes(), row.codes);
    EXPECT_EQ(console.messages.size(), row.boxes);
    EXPECT_EQ(console.runningChanges, row.running);
  }
  FakeConsole closed(Good());
  closed.channel.SetOpen(false);
  closed.upgrade.OnUpgrade();
  EXPECT_EQ(closed.messages.at(0), ChannelClosedMessage());

  FakeConsole confirm(Good());
  confirm.chosenFile = "/x/a.ROM";
  confirm.answers = {MessageAnswer::Cancel};
  confirm.upgrade.OnUpgrade();
  EXPECT_EQ(confirm.messages.at(0), (MessageRequest{"<确认更新文件>: /x/a.ROM  ？", "<请确认QRX5000更新文件是否正确>",
                                                    MessageIcon::Information, MessageButtons::OkCancel}));
}

TEST_F(FirmwareUpgradeTest, FailuresEndTheUpgradeWithTheirReport) {
  auto silentBlocks = [](int) { return std::vector<Bytes>{}; };
  struct Row {
    const char* what;
    FakeConsole::Controller controller;
    std::string file;
    std::uint32_t startTick;
    std::function<bool(const FakeConsole&)> escapeWhen;  // held from then on
    MessageRequest report;
    std::size_t stopFrames;  // 0: not checked
    std::size_t blocks;
  };
  auto lastCode = [](int code) {
    return [code](const FakeConsole& c) { return !c.Codes().empty() && c.Codes().back() == code; };
  };
  const MessageRequest timeOut = Report("通讯超时", "通讯超时");
  const MessageRequest interrupted = Report("用户中断", "操作中断");
  Row rows[] = {
      // Sent at 0 and after each check at 0, 100, ... 3000 ms; at 3100 more
      // than three seconds have passed.
      {"stop answered 9", Scripted(9, Accept), Rom(440), 0, nullptr, timeOut, 32, 0},
      {"stop unanswered across the counter's wrap", Scripted(9, Accept), Rom(440), 0xFFFFF000u, nullptr, timeOut, 32,
       0},
      {"block unanswered", Scripted(10, silentBlocks), Rom(440), 0, nullptr, timeOut, 0, 1},
      {"missing file", Good(), (dir_ / "none.ROM").string(), 0, nullptr, Report("没有找到该文件", "文件不存在"), 0, 0},
      {"Escape while stopping", Scripted(9, Accept), Rom(440), 0, lastCode(28), interrupted, 1, 0},
      {"Escape during a block", Scripted(10, silentBlocks), Rom(440), 0, lastCode(126), interrupted, 0, 1},
  };
  for (Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeConsole console(row.controller);
    console.chosenFile = row.file;
    console.now = row.startTick;
    if (row.escapeWhen) {
      console.afterPump = [&row](FakeConsole& c) { c.escape = c.escape || row.escapeWhen(c); };
    }
    console.upgrade.OnUpgrade();
    ASSERT_EQ(console.messages.size(), 2u);
    EXPECT_EQ(console.messages[1], row.report);
    const auto codes = console.Codes();
    if (row.stopFrames) {
      EXPECT_EQ(std::count(codes.begin(), codes.end(), 28), static_cast<long>(row.stopFrames));
    }
    EXPECT_EQ(console.Blocks().size(), row.blocks);
    EXPECT_EQ(codes.back(), command::kStandby);  // the wait phase still runs
  }
}

TEST_F(FirmwareUpgradeTest, PhasesEndOnTheirAnswerEscapeOrTimeLimit) {
  struct Row {
    const char* what;
    bool stopPhase;
    float answer;
    bool escape;
    int result;
    std::size_t sends;
  } rows[] = {
      {"stop answered 10", true, 10, false, kUpgradeDone, 1},
      {"stop Escape", true, 10, true, kUpgradeInterrupted, 1},
      {"wait answered 100", false, 100, false, kUpgradeDone, 1},
      {"wait answered 99", false, 99, false, kUpgradeTimeOut, 8},  // 0, then after 0, 500 ... 3000 ms
      {"wait Escape", false, 100, true, kUpgradeInterrupted, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const float answer = row.answer;
    FakeConsole console([answer](const Bytes& f, FakeConsole&) { return std::vector<Bytes>{Status(f[2], answer)}; });
    console.escape = row.escape;
    const int result = row.stopPhase ? console.upgrade.RunStopPhase() : console.upgrade.RunWaitPhase();
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(console.channel.Writes().size(), row.sends);
    if (row.stopPhase) {
      EXPECT_EQ(console.replies.AckedBlock, -1);
    }
  }
}

TEST_F(FirmwareUpgradeTest, BlockAnswersDecideWhetherTheSameBlockGoesAgain) {
  // The first answer to block 0 is the row's; every later one accepts.
  struct Row {
    const char* what;
    std::vector<Bytes> firstAnswer;
    std::string statusAfterFirst;
  } rows[] = {
      {"retry", {Status(126, 101, 0)}, "Retry！"},
      {"finished", {Status(126, 102, 0)}, "Finished！"},
      {"accepted under another index", {Status(126, 100, 5)}, ""},
      {"a stop answer in between", {Status(28, 10)}, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    int answered = 0;
    const std::vector<Bytes> first = row.firstAnswer;
    FakeConsole console(
        Scripted(10, [&answered, first](int index) { return answered++ == 0 ? first : Accept(index); }));
    const std::string rom = Rom(440);
    // Rewriting the file after block 0 went shows whether a repeat reads it again.
    console.afterPump = [rom](FakeConsole& c) {
      if (c.Blocks().size() == 1) std::ofstream(rom, std::ios::binary) << std::string(440, 'x');
    };
    EXPECT_EQ(console.upgrade.UploadRomFile(rom), kUpgradeDone);
    const auto blocks = console.Blocks();
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[1], blocks[0]);  // the same bytes, not read again
    EXPECT_EQ(GetUInt16LE(&blocks[2][8]), 1);
    EXPECT_EQ(console.UpgradeLines().at(0), row.statusAfterFirst);
    EXPECT_EQ(console.UpgradeLines().back(), "Uploaded！");
  }
}

TEST_F(FirmwareUpgradeTest, StopAnswersDuringABlockResendItWithinTheFirstLimit) {
  FakeConsole console(Scripted(10, [](int) { return std::vector<Bytes>{Status(27, 0)}; }));
  console.now = 5000;
  EXPECT_EQ(console.upgrade.UploadRomFile(Rom(220)), kUpgradeTimeOut);
  // Each resend costs 200 ms and 1 ms, so about fifteen fit into three seconds.
  EXPECT_EQ(console.Blocks().size(), 16u);
  EXPECT_EQ(console.upgrade.UpgradeText(), "TimeOut！");
  EXPECT_EQ(console.progress, (std::vector<int>{0, 0}));
}

TEST_F(FirmwareUpgradeTest, AFileThatShrinksDuringTheUploadEndsItWithoutStaleData) {
  const std::string rom = Rom(441);
  FakeConsole console(Good());
  console.chosenFile = rom;
  console.afterPump = [rom](FakeConsole& c) {
    if (c.Blocks().size() == 1) fs::resize_file(rom, 300);
  };
  console.upgrade.OnUpgrade();
  EXPECT_EQ(console.Blocks().size(), 1u);
  EXPECT_EQ(console.messages.at(1), Report("没有找到该文件", "文件不存在"));
  EXPECT_EQ(console.progress.back(), 33);
}

TEST_F(FirmwareUpgradeTest, AFileOfMoreBlocksThanSixteenBitsCountIsRefusedBeforeAnythingIsSent) {
  struct Row {
    std::uintmax_t size;
    bool refused;
  } rows[] = {{65535u * 220u, false}, {65535u * 220u + 1u, true}};
  for (const Row& row : rows) {
    const std::string rom = (dir_ / "big.ROM").string();
    std::ofstream(rom, std::ios::binary).close();
    fs::resize_file(rom, row.size);            // sparse
    FakeConsole console(Scripted(9, Accept));  // never ready: no block goes
    console.chosenFile = rom;
    console.upgrade.OnUpgrade();
    if (row.refused) {
      EXPECT_TRUE(console.channel.Writes().empty());
      EXPECT_EQ(console.messages.at(1).caption, "<文件过大>");
      EXPECT_EQ(console.upgrade.UploadRomFile(rom), kUpgradeFileTooLarge);
      EXPECT_TRUE(console.channel.Writes().empty());
    } else {
      EXPECT_EQ(console.messages.at(1), Report("通讯超时", "通讯超时"));
    }
  }
}

TEST_F(FirmwareUpgradeTest, ReportsByResult) {
  MarkingLookup lookup;
  EXPECT_EQ(UpgradeReport(lookup, 7), Report("未知错误", "未知错误"));
  EXPECT_EQ(UpgradeReport(lookup, kUpgradeInterrupted), Report("用户中断", "操作中断"));
}

TEST_F(FirmwareUpgradeTest, TheSimulatedControllerReceivesTheFileByteForByte) {
  sim::ControllerModel model;
  FakeConsole console([&model](const Bytes& f, FakeConsole& c) { return model.HandleCommand(f, c.now); });
  console.chosenFile = Rom(20000);
  console.upgrade.OnUpgrade();
  EXPECT_EQ(console.messages.at(1), Report("更新成功", "成功更新QRX5000控制器"));
  ASSERT_TRUE(model.FirmwareComplete());
  std::ifstream file(*console.chosenFile, std::ios::binary);
  const Bytes rom((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(model.FirmwareImage(), rom);
  EXPECT_FALSE(model.InUpgradeProgram());
}

}  // namespace
}  // namespace rolta::test
