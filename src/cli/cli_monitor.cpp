#include "cli/cli_monitor.h"

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <iomanip>
#include <ostream>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

#include "cli/cli_documents.h"
#include "link/frames.h"
#include "readouts/console_texts.h"
#include "testline/bench_publishing.h"

namespace rolta::cli {
namespace {

using Clock = std::chrono::steady_clock;

// Sees the frames the receive path refuses (a wrong checksum, or an end not
// confirmed by the next frame's start), so the monitor can show them among
// the good ones.
class RefusedFrames final : public LineTap {
 public:
  explicit RefusedFrames(std::function<void(std::span<const std::uint8_t>, std::string_view)> onRefused)
      : onRefused_(std::move(onRefused)) {}
  void OnLineOpened(LineClock::time_point) override {}
  void OnFrameSent(std::span<const std::uint8_t>, std::size_t, LineClock::time_point) override {}
  void OnFrameReceived(std::span<const std::uint8_t> frame, bool checksumGood, LineClock::time_point) override {
    if (!checksumGood) onRefused_(frame, "checksum");
  }
  void OnFrameRefused(std::span<const std::uint8_t> frame, LineClock::time_point) override {
    onRefused_(frame, "refused");
  }
  void OnBytesSkipped(const ByteRun&, LineClock::time_point) override {}

 private:
  std::function<void(std::span<const std::uint8_t>, std::string_view)> onRefused_;
};

void PrintMonitorRow(CommandContext& cli, double seconds, int type, std::size_t length, int numth,
                     const std::array<std::string, 4>& values, std::string_view refused) {
  std::ostringstream time;
  time << std::fixed << std::setprecision(3) << seconds;
  switch (cli.request.format) {
    case OutputFormat::Csv:
      cli.out << time.str() << "," << type << "," << length << "," << numth;
      for (const std::string& v : values) cli.out << "," << v;
      cli.out << "," << (refused.empty() ? "ok" : refused) << "\n";
      break;
    case OutputFormat::JsonLines:
      cli.out << "{\"t\":" << time.str() << ",\"type\":" << type << ",\"length\":" << length << ",\"numth\":" << numth;
      if (!values[0].empty()) {
        cli.out << ",\"values\":[" << values[0] << "," << values[1] << "," << values[2] << "," << values[3] << "]";
      }
      if (!refused.empty()) cli.out << ",\"refused\":\"" << refused << "\"";
      cli.out << "}\n";
      break;
    default:
      cli.out << time.str() << "\t"
              << FrameStatusText(cli.texts, static_cast<std::uint8_t>(type), static_cast<std::int16_t>(numth));
      for (const std::string& v : values) cli.out << (v.empty() ? "" : "\t" + v);
      if (!refused.empty()) cli.out << "\t" << Say(cli.texts, refused == "checksum" ? "checksum error" : "refused");
      cli.out << "\n";
  }
  cli.out.flush();
}

}  // namespace

int Monitor(CommandContext& cli, Line& line) {
  const auto start = Clock::now();
  const auto since = [&start] { return std::chrono::duration<double>(Clock::now() - start).count(); };
  if (cli.request.format == OutputFormat::Csv) {
    cli.out << "time_s,type,length,numth,value1,value2,value3,value4,frame\n";
  }
  line.Session().SetFrameObserver([&](const std::uint8_t* frame, std::size_t length) {
    std::array<std::string, 4> values;
    if (ControllerFrameKindOf(frame[kCommandCodeOffset]) == ControllerFrameKind::Status) {
      const ControllerStatus& s = line.Session().Status();
      values = {ShortestFloatText(s.Value1), ShortestFloatText(s.Value2), ShortestFloatText(s.Value3),
                ShortestFloatText(s.Value4)};
    }
    PrintMonitorRow(cli, since(), frame[kCommandCodeOffset], length, NumthOf(frame, length), values, {});
  });
  RefusedFrames refused([&](std::span<const std::uint8_t> frame, std::string_view why) {
    const bool whole = frame.size() > kCommandCodeOffset + 2;
    PrintMonitorRow(cli, since(), whole ? frame[kCommandCodeOffset] : -1, frame.size(),
                    whole ? NumthOf(frame.data(), frame.size()) : 0, {}, why);
  });
  line.Session().SetLineTap(&refused);
  // --mqtt: the test line sees this bench as long as the monitor runs.
  std::optional<BenchPublishing> publishing;
  if (cli.request.mqtt) {
    publishing.emplace(line.Session(), LoadTestLineSettingsWithPassword(), cli.request.bench);
    if (std::string error; !publishing->Start(&error)) {
      line.Session().SetFrameObserver({});
      line.Session().SetLineTap(nullptr);
      return cli.Fail(kExitUsage, Say(cli.texts, "monitor: the test line cannot be used:") + " " + error);
    }
  }
  const double seconds = cli.request.durationSeconds > 0 ? cli.request.durationSeconds : 1e9;
  // Ends early when the output cannot be written.
  const WaitResult result = line.WaitUntil(
      [&cli, &publishing] {
        if (publishing) publishing->Poll();
        return !cli.out;
      },
      seconds);
  line.Session().SetFrameObserver({});
  line.Session().SetLineTap(nullptr);
  const ReceiveCounters& counters = line.Session().Counters();
  cli.err << "monitor: " << counters.framesDispatched << " " << Say(cli.texts, "frames") << ", "
          << counters.checksumErrors << " " << Say(cli.texts, "failed their checksum") << ", " << counters.framesRefused
          << " " << Say(cli.texts, "refused (end not confirmed)") << ", " << counters.bytesSkipped << " "
          << Say(cli.texts, "bytes skipped") << "\n";
  if (!cli.out) return kExitOutputFailed;  // said by RunCommand
  if (result == WaitResult::LineLost) return cli.WaitFailure(result, "monitor");
  if (result == WaitResult::Interrupted && cli.request.durationSeconds > 0) return kExitInterrupted;
  if (counters.framesDispatched == 0) {
    return cli.Fail(kExitTimeOut, counters.bytesReceived > 0
                                      ? Say(cli.texts, "monitor: bytes arrived, but no valid frame")
                                      : Say(cli.texts, "monitor: nothing arrived from the controller"));
  }
  return kExitDone;
}

}  // namespace rolta::cli
