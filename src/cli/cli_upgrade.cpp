#include "cli/cli_upgrade.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

#include "upgrade/firmware_upgrade.h"

namespace rolta::cli {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The upgrade's window services on the terminal: the ROM file is the one the
// command names, every question is answered OK, Ctrl-C stands for Escape.
class TerminalUpgradeHost final : public UpgradeHost {
 public:
  TerminalUpgradeHost(Line& line, std::string path, std::ostream& err, const std::atomic<bool>& interrupted)
      : line_(line), path_(std::move(path)), err_(err), interrupted_(interrupted) {}
  void SendShort(std::uint8_t code) override { line_.Session().Executor().SendShort(code); }
  void SetStatusLine(const std::string& text) override { status_ = text; }
  void SetUpgradeRunning(bool running) override {
    if (!running && drawn_) err_ << "\n";
  }
  void SetProgress(int percent) override {
    if (percent == percent_) return;
    percent_ = percent;
    drawn_ = true;
    const int width = 40;
    const int filled = std::clamp(percent, 0, 100) * width / 100;
    err_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
         << std::string(static_cast<std::size_t>(width - filled), '.') << "] " << std::setw(3) << percent << "% "
         << status_ << std::flush;
  }
  std::optional<std::string> ChooseRomFile(const RomFileDialog&) override { return path_; }
  MessageAnswer ShowMessage(const MessageRequest& request) override {
    if (request.buttons == MessageButtons::Ok) report = request;
    return MessageAnswer::Ok;
  }
  void ProcessPendingEvents() override { line_.Pump().ProcessPendingEvents(); }
  void SleepMilliseconds(int milliseconds) override { line_.Pump().SleepMilliseconds(milliseconds); }
  // The channel's notifications are handled as they come: an answer that
  // arrives during the pause is taken at once, not at the next pump.
  void PauseAwaitingAnswer(int milliseconds) override {
    line_.Pump().ServeUntil(Clock::now() + std::chrono::milliseconds(milliseconds));
  }
  // The next block goes out as soon as the last one is accepted: the line,
  // not a rest of ours, sets the pace (the controller answers each block).
  void PauseBetweenBlocks() override {}
  bool IsEscapeHeld() const override { return interrupted_.load(); }
  std::uint32_t TickCount() const override {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
  }
  std::optional<MessageRequest> report;

 private:
  Line& line_;
  std::string path_;
  std::ostream& err_;
  const std::atomic<bool>& interrupted_;
  std::string status_;
  int percent_ = -1;
  bool drawn_ = false;
};

}  // namespace

int Upgrade(CommandContext& cli) {
  std::error_code error;
  const auto size = fs::file_size(cli.request.path, error);
  if (error || !std::ifstream(cli.request.path, std::ios::binary)) {
    return cli.Fail(kExitUsage, Say(cli.texts, "upgrade: cannot read") + " " + cli.request.path);
  }
  if (RomBlockCount(size) > kMaxRomBlocks) {
    return cli.Fail(kExitUsage, UpgradeReport(cli.texts, kUpgradeFileTooLarge).text);
  }
  return cli.WithLine([&](Line& line) {
    TerminalUpgradeHost host(line, cli.request.path, cli.err, cli.environment.interrupted);
    FirmwareUpgrade& upgrade = line.Session().Upgrade();
    upgrade.SetHost(&host);
    upgrade.OnUpgrade();
    upgrade.SetHost(nullptr);
    if (!host.report) return cli.Fail(kExitUsage, Say(cli.texts, "upgrade: nothing was done"));
    // The outcome box says which result ended the sequence.
    struct Outcome {
      int result;
      int exitCode;
    };
    constexpr Outcome kOutcomes[] = {{kUpgradeDone, kExitDone},
                                     {kUpgradeFileError, kExitUsage},
                                     {kUpgradeTimeOut, kExitTimeOut},
                                     {kUpgradeInterrupted, kExitInterrupted},
                                     {kUpgradeFileTooLarge, kExitUsage}};
    for (const Outcome& outcome : kOutcomes) {
      if (*host.report == UpgradeReport(cli.texts, outcome.result)) {
        (outcome.exitCode == kExitDone ? cli.out : cli.err)
            << host.report->caption << ": " << host.report->text << "\n";
        return outcome.exitCode;
      }
    }
    return cli.Fail(kExitRefused, host.report->caption + ": " + host.report->text);
  });
}

}  // namespace rolta::cli
