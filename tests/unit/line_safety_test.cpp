// The link indicator's rules on a hand-driven clock, the strict number
// reading, the safety settings file and the input checks of the catalogue.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>

#include "commands/input_checks.h"
#include "session/link_monitor.h"
#include "env/number_text.h"

namespace rolta::test {
namespace {

using namespace std::chrono_literals;

TEST(LinkMonitorTest, StatesAndAnswersFollowTheLineAndTheClock) {
  const MonoTime t0{};
  const IdentityLookup texts;
  struct Step {
    const char* what;
    std::function<void(LinkMonitor&)> act;
    std::chrono::milliseconds at;
    const char* indicator;
    bool stale;
  };
  const Step steps[] = {
      {"closed at start", [](LinkMonitor&) {}, 0ms, "通讯口已关闭", false},
      {"opened", [&](LinkMonitor& m) { m.OnOpened(t0); }, 0ms, "已连接, 无数据", false},
      {"command out", [&](LinkMonitor& m) { m.OnCommandSent(16, "恒速测试", t0 + 10ms); }, 10ms,
       "已连接, 无数据 | 恒速测试: 等待应答", false},
      {"garbage only", [&](LinkMonitor& m) { m.OnReceived(48, 2, t0 + 20ms); }, 20ms,
       "收到数据但无有效帧 (2 帧校验失败, 请检查通讯速度) | 恒速测试: 等待应答", true},
      {"answered", [&](LinkMonitor& m) { m.OnFrame(16, 5, t0 + 52ms); }, 52ms,
       "接收中 1 帧/秒 | 恒速测试: 已应答 (42 ms)", false},
      {"silent", [&](LinkMonitor& m) { m.Tick(t0 + 3100ms); }, 3100ms, "无数据 > 3 秒 | 恒速测试: 已应答 (42 ms)",
       true},
      {"stop refused",
       [&](LinkMonitor& m) {
         m.OnCommandSent(28, "停止测试", t0 + 3200ms);
         m.OnFrame(28, -6, t0 + 3210ms);
       },
       3210ms, "接收中 1 帧/秒 | 停止测试: 控制器拒绝", false},
      {"e-stop unanswered",
       [&](LinkMonitor& m) {
         m.OnCommandSent(29, "急停", t0 + 3300ms);
         EXPECT_FALSE(m.Tick(t0 + 4299ms));
         EXPECT_TRUE(m.Tick(t0 + 4300ms));
         EXPECT_FALSE(m.Tick(t0 + 4400ms));
       },
       4400ms, "接收中 1 帧/秒 | 急停: 无应答", false},
      {"lost", [](LinkMonitor& m) { m.OnLineLost("/dev/ttyUSB0", true); }, 4500ms,
       "通讯中断: /dev/ttyUSB0, 等待自动重连 | 急停: 无应答", true},
      {"closed by the operator", [](LinkMonitor& m) { m.OnClosed(); }, 4600ms, "通讯口已关闭 | 急停: 无应答", true},
      {"answered, then lost",
       [&](LinkMonitor& m) {
         m.OnOpened(t0 + 4700ms);
         m.OnCommandSent(28, "停止测试", t0 + 4710ms);
         m.OnFrame(28, 7, t0 + 4720ms);
         m.OnLineLost("/dev/ttyUSB0", true);
       },
       4800ms, "通讯中断: /dev/ttyUSB0, 等待自动重连 | 停止测试: 已应答 (10 ms)", true},
      // The old line's answer is not the reconnected line's.
      {"reconnected", [&](LinkMonitor& m) { m.OnOpened(t0 + 5800ms); }, 5800ms, "已连接, 无数据", false},
  };
  LinkMonitor monitor;
  for (const Step& step : steps) {
    step.act(monitor);
    const LinkIndicator shown = LinkIndicatorFor(texts, monitor.Report(t0 + step.at));
    EXPECT_EQ(shown.text, step.indicator) << step.what;
    EXPECT_EQ(shown.readoutsStale, step.stale) << step.what;
  }
}

TEST(LinkMonitorTest, FrameRateIsCountedOverAboutASecond) {
  const MonoTime t0{};
  LinkMonitor monitor;
  monitor.OnOpened(t0);
  for (int i = 1; i <= 100; ++i) monitor.OnFrame(16, static_cast<std::int16_t>(i), t0 + i * 10ms);
  monitor.Tick(t0 + 1001ms);
  EXPECT_EQ(monitor.Report(t0 + 1001ms).framesPerSecond, 100);
  EXPECT_EQ(monitor.Report(t0 + 1001ms).state, LinkState::Receiving);
  EXPECT_EQ(monitor.Report(t0 + 3001ms).state, LinkState::Silent);
}

TEST(StrictNumberTest, OnlyCompleteNumbersAreAccepted) {
  struct Row {
    const char* text;
    bool accepted;
  };
  const Row rows[] = {
      {"", true},       {"   ", true},    {"50", true},
      {" -3.5 ", true}, {"1e2", true},    {"+.5", true},
      {"7.", true},     {"1E-3", true},   {"99999999999999999999", true},
      {"abc", false},   {"12abc", false}, {"-3.5x", false},
      {"nan", false},   {"inf", false},   {"-INF", false},
      {"0x1A", false},  {"1e", false},    {".", false},
      {"-", false},     {"1.2.3", false}, {"1 2", false},
      {"1e39", false},  {"1,5", false},
  };
  for (const Row& row : rows) {
    const std::optional<double> value = ParseStrictNumber(row.text);
    EXPECT_EQ(value.has_value(), row.accepted) << '"' << row.text << '"';
    // An accepted text goes out exactly as the conversion always sent it.
    if (value) {
      EXPECT_EQ(NarrowToFloat(*value), TextToFloat(row.text)) << row.text;
    }
  }
}

TEST(SafetySettingsTest, FileRoundTripAndUnusableValuesKeepTheDefaults) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "rolta-safety-test";
  std::filesystem::remove_all(dir);
  const std::filesystem::path path = dir / "rolta" / "safety.conf";
  EXPECT_EQ(LoadSafetySettings(path), SafetySettings{});

  const SafetySettings edited{120.5, 8000, 55, true};
  ASSERT_TRUE(SaveSafetySettings(path, edited));
  EXPECT_EQ(LoadSafetySettings(path), edited);

  std::ofstream(path) << "speed_limit=abc\nforce_limit=-5\npower_limit=\nauto_reconnect=1\nother=3\n";
  EXPECT_EQ(LoadSafetySettings(path), (SafetySettings{200, 10000, 300, true}));
  std::filesystem::remove_all(dir);
}

TEST(InputChecksTest, FieldsReadAndProblemsFound) {
  const SafetySettings limits;
  struct Row {
    int position;
    CommandInput field;
    const char* text;
    std::vector<InputProblem::Kind> problems;
  };
  using K = InputProblem::Kind;
  const Row rows[] = {
      {0, CommandInput::ParamA, "50", {}},
      {0, CommandInput::ParamA, "12abc", {K::NotANumber}},
      {0, CommandInput::ParamA, "201", {K::AboveLimit}},
      {0, CommandInput::ParamA, "-201", {K::AboveLimit}},
      {0, CommandInput::ParamA, "1e39", {K::OutOfRange}},
      {0, CommandInput::ParamA, "-1e400", {K::OutOfRange}},
      {47, CommandInput::ParamC, "3.5e38", {K::OutOfRange}},  // even where no limit applies
      {0, CommandInput::ParamB, "abc", {}},                   // not read by the constant-speed test
      {12, CommandInput::ParamB, "abc", {K::NotANumber}},     // carried although not enabled
      {1, CommandInput::ParamB, "10001", {K::AboveLimit}},
      {8, CommandInput::ParamM, "301", {K::AboveLimit}},
      {8, CommandInput::ParamC, "1e30", {}},  // the speed interval has no limit
      {14, CommandInput::ParamA, "abc", {}},  // "停止测试" reads no field
      {9, CommandInput::ParamA, "abc", {}},   // the external program reads none
  };
  for (const Row& row : rows) {
    CommandInputs inputs;
    inputs.*InputFieldOf(row.field)->text = row.text;
    std::vector<K> found;
    for (const InputProblem& problem : CheckInputs(row.position, inputs, limits)) {
      found.push_back(problem.kind);
      EXPECT_EQ(problem.input, row.field);
    }
    EXPECT_EQ(found, row.problems) << row.position << " " << row.text;
  }
  // Out of range is said as such, with the range; not as "not a number".
  const auto message = [&](const char* typed) {
    CommandInputs inputs;
    inputs.ParamA = typed;
    return InvalidNumberMessage(IdentityLookup(), CheckInputs(0, inputs, limits).at(0)).text;
  };
  EXPECT_EQ(message("1e39"), "输入的数值超出范围: 恒速/恒功速度/a \"1e39\" (±3.40282e+38)\n指令未发送。");
  EXPECT_EQ(message("1e3x"), "输入的不是有效数字: 恒速/恒功速度/a \"1e3x\"\n指令未发送。");
  EXPECT_EQ(FieldsReadBy(8),
            (std::vector<CommandInput>{CommandInput::ParamM, CommandInput::StartSpeed, CommandInput::EndSpeed}));
}

}  // namespace
}  // namespace rolta::test
