#include "upgrade/firmware_upgrade.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <system_error>

#include "readouts/console_texts.h"
#include "env/field_log.h"
#include "env/precise_pause.h"
#include "env/number_text.h"
#include "env/shown_text.h"
#include "link/command_codes.h"

namespace rolta {
namespace {

// The outcome boxes by result; texts and captions are translated when shown.
// The field log names the result in English.
struct ReportRow {
  int result;
  const char* text;
  const char* caption;
  const char* logText;
};
constexpr ReportRow kReports[] = {
    {kUpgradeDone, "更新成功", "成功更新QRX5000控制器", "done"},
    {kUpgradeInterrupted, "用户中断", "操作中断", "interrupted"},
    {kUpgradeTimeOut, "通讯超时", "通讯超时", "time-out"},
    {kUpgradeFileError, "没有找到该文件", "文件不存在", "file error"},
    {kUpgradeFileTooLarge, "文件太大：超过65535块（最多14417700字节）", "文件过大", "file too large"},
};
constexpr ReportRow kUnknownReport{0, "未知错误", "未知错误", "unknown error"};

const ReportRow& ReportOf(int result) {
  const auto found = std::find_if(std::begin(kReports), std::end(kReports),
                                  [result](const ReportRow& row) { return row.result == result; });
  return found != std::end(kReports) ? *found : kUnknownReport;
}

std::string UpgradeResultName(int result) { return FormatText("result %d (%s)", result, ReportOf(result).logText); }

// What one answer to an outstanding block does.
enum class BlockStep : std::uint8_t {
  AcceptIfSameIndex,  // 100: the next block when the controller names this one; else this one again
  SendAgain,          // 101, 102: this block again, with a fresh limit
  KeepWaiting,        // 103
  ResendNow,          // 555: the same frame at once, the limit still running
};
struct BlockAnswerRow {
  int status;
  const char* text;  // the new UpgradeText, or null to keep it
  BlockStep step;
};
constexpr BlockAnswerRow kBlockAnswers[] = {
    {kBlockAccepted, "Uploaded！", BlockStep::AcceptIfSameIndex},
    {kBlockRetry, "Retry！", BlockStep::SendAgain},
    {kBlockFinished, "Finished！", BlockStep::SendAgain},
    {kBlockReady, "Ready！", BlockStep::KeepWaiting},
    {kBlockResend, nullptr, BlockStep::ResendNow},
};
constexpr const char* kTimeOutText = "TimeOut！";
constexpr int kResendPauseMs = 200;

const BlockAnswerRow* FindBlockAnswer(int status) {
  for (const BlockAnswerRow& row : kBlockAnswers) {
    if (row.status == status) return &row;
  }
  return nullptr;
}

// Percentage of blocks acknowledged. An empty file has nothing left to send,
// so its upload stands complete.
int Percent(std::uint32_t acknowledged, std::uint32_t count) {
  if (count == 0) return 100;
  return static_cast<int>(static_cast<double>(acknowledged) / count * 100.0);
}

// The file's size, or nothing when it cannot be determined.
std::optional<std::uintmax_t> RomFileSize(const std::filesystem::path& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return std::nullopt;
  return size;
}

bool TooManyBlocks(std::uintmax_t size) { return RomBlockCount(size) > kMaxRomBlocks; }

}  // namespace

// One of the two repeat-until-answered phases around the upload.
struct FirmwareUpgrade::Phase {
  std::uint8_t code;
  std::int32_t UpgradeReplies::*reply;
  std::int32_t done;
  int pauseMs;
};

MessageRequest UpgradeReport(const TextLookup& lookup, int result) {
  const ReportRow& row = ReportOf(result);
  return {lookup.Lookup(row.text), lookup.Lookup(row.caption), MessageIcon::Information, MessageButtons::Ok};
}

FirmwareUpgrade::FirmwareUpgrade(ByteChannel& channel, UpgradeReplies& replies, const TextLookup& lookup)
    : channel_(channel), replies_(replies), lookup_(lookup) {}

FirmwareUpgrade::FirmwareUpgrade(ByteChannel& channel, UpgradeReplies& replies, const TextLookup& lookup,
                                 UpgradeHost& host)
    : FirmwareUpgrade(channel, replies, lookup) {
  host_ = &host;
}

void FirmwareUpgrade::SetHost(UpgradeHost* host) {
  if (!running_) host_ = host;
}

void FirmwareUpgrade::OnUpgrade() {
  if (running_ || host_ == nullptr) return;
  const RomFileDialog dialog{lookup_.Lookup("QRX5000更新文件"), "QRX5000 files(*.ROM)", "ROM"};
  if (!channel_.IsOpen()) {
    host_->ShowMessage(ChannelClosedMessage());
    return;
  }
  running_ = true;
  // Two 1 ms pauses lie between one block and the next; each woken late
  // would add a twentieth to them.
  const PrecisePauses onTime;
  host_->SetUpgradeRunning(true);

  if (const std::optional<std::string> path = host_->ChooseRomFile(dialog)) {
    const MessageRequest confirm{FormatText("%s: %s  %s", lookup_.Lookup("确认更新文件").c_str(), path->c_str(),
                                            ShownText(lookup_, "？").c_str()),
                                 lookup_.Lookup("请确认QRX5000更新文件是否正确"), MessageIcon::Information,
                                 MessageButtons::OkCancel};
    if (host_->ShowMessage(confirm) != MessageAnswer::Ok) {
      RunWaitPhase();
    } else if (const std::optional<std::uintmax_t> size = RomFileSize(*path); size && TooManyBlocks(*size)) {
      // Refused before the controller is stopped: nothing at all is sent.
      host_->ShowMessage(UpgradeReport(lookup_, kUpgradeFileTooLarge));
    } else {
      LogFieldEvent(FieldEvent::UpgradeStarted, "file " + *path);
      replies_.StopReply = 0;
      int result = RunStopPhase();
      if (result == kUpgradeDone) result = UploadRomFile(*path);
      if (result == kUpgradeDone) RunWaitPhase();
      LogFieldEvent(FieldEvent::UpgradeEnded, UpgradeResultName(result));
      if (resultObserver_) resultObserver_(*path, result);
      host_->ShowMessage(UpgradeReport(lookup_, result));
      RunWaitPhase();
    }
  }

  host_->SetUpgradeRunning(false);
  running_ = false;
}

bool FirmwareUpgrade::TimedOut(std::uint32_t since) const {
  const std::uint32_t elapsed = host_->TickCount() - since;  // modulo 2^32
  return elapsed / 1000.0 > kUpgradeLimitMs / 1000.0;
}

int FirmwareUpgrade::RunPhase(const Phase& phase) {
  host_->SendShort(phase.code);
  const std::uint32_t start = host_->TickCount();
  for (;;) {
    if (TimedOut(start)) return kUpgradeTimeOut;
    host_->ProcessPendingEvents();
    if (host_->IsEscapeHeld()) return kUpgradeInterrupted;
    if (replies_.*phase.reply == phase.done) return kUpgradeDone;
    host_->SleepMilliseconds(phase.pauseMs);
    host_->SendShort(phase.code);
  }
}

int FirmwareUpgrade::RunStopPhase() {
  replies_.AckedBlock = -1;
  return RunPhase({command::kStopTest, &UpgradeReplies::StopReply, kStopReplyReady, 100});
}

int FirmwareUpgrade::RunWaitPhase() {
  return RunPhase({command::kStandby, &UpgradeReplies::WaitReply, kWaitReplyDone, 500});
}

void FirmwareUpgrade::SendBlock() {
  const std::span<const std::uint8_t> bytes = frame_.Seal();
  channel_.Write(bytes.data(), bytes.size());
}

int FirmwareUpgrade::UploadRomFile(const std::filesystem::path& path) {
  frame_.SetCommand(command::kRomBlock);
  // A size that cannot be read would count as an empty file and report
  // success for nothing sent.
  const std::optional<std::uintmax_t> size = RomFileSize(path);
  if (!size) return kUpgradeFileError;
  if (TooManyBlocks(*size)) return kUpgradeFileTooLarge;
  const auto count = static_cast<std::uint32_t>(RomBlockCount(*size));
  const auto remainder = static_cast<std::uint16_t>(*size % RomBlockFrame::kDataCapacity);
  frame_.SetBlockCount(static_cast<std::uint16_t>(count));

  // Unbuffered, so a block is what the file holds when the block is read.
  std::ifstream file;
  file.rdbuf()->pubsetbuf(nullptr, 0);
  file.open(path, std::ios::binary);
  if (!file) return kUpgradeFileError;

  // The next block waits for each block's answer: the port reports it as its
  // last byte comes in, not when the monitor thread's wake-up comes late.
  const AwaitingAnswers promptAnswers(channel_);
  std::uint32_t i = 0;
  std::int64_t lastRead = -1000;
  int result = kUpgradeDone;
  std::array<char, RomBlockFrame::kDataCapacity> block{};
  while (i < count && result == kUpgradeDone) {
    host_->SetProgress(Percent(i, count));
    const std::uint16_t length =
        (remainder > 0 && i == count - 1) ? remainder : static_cast<std::uint16_t>(RomBlockFrame::kDataCapacity);
    frame_.SetBlockIndex(static_cast<std::uint16_t>(i));
    frame_.SetDataLength(length);
    if (static_cast<std::int64_t>(i) != lastRead) {
      // A file that shrank or failed to read must not send the previous
      // block's bytes as this block's firmware.
      file.read(block.data(), length);
      if (file.gcount() != static_cast<std::streamsize>(length)) {
        result = kUpgradeFileError;
        break;
      }
      std::copy_n(block.begin(), length, frame_.Data());
      lastRead = i;
    }

    replies_.AckedBlock = -1000;
    SendBlock();
    replies_.BlockStatus = static_cast<float>(kBlockReady);
    const std::uint32_t sentAt = host_->TickCount();
    for (bool waiting = true; waiting;) {
      host_->ProcessPendingEvents();
      if (host_->IsEscapeHeld()) {
        result = kUpgradeInterrupted;
        break;
      }
      host_->PauseAwaitingAnswer(1);
      if (TimedOut(sentAt)) {
        upgradeText_ = kTimeOutText;
        host_->SetStatusLine(upgradeText_);
        result = kUpgradeTimeOut;
        break;
      }
      if (const BlockAnswerRow* answer = FindBlockAnswer(TruncateToInt32(replies_.BlockStatus))) {
        switch (answer->step) {
          case BlockStep::AcceptIfSameIndex:
            if (replies_.AckedBlock == static_cast<std::int32_t>(i)) {
              upgradeText_ = answer->text;
              ++i;
            }
            waiting = false;
            break;
          case BlockStep::SendAgain:
            upgradeText_ = answer->text;
            waiting = false;
            break;
          case BlockStep::KeepWaiting: upgradeText_ = answer->text; break;
          case BlockStep::ResendNow:
            SendBlock();
            host_->SleepMilliseconds(kResendPauseMs);
            break;
        }
      }
      replies_.BlockStatus = static_cast<float>(kBlockReady);
      host_->SetStatusLine(upgradeText_);
    }
    if (result == kUpgradeDone) host_->PauseBetweenBlocks();
  }

  host_->SetProgress(Percent(i, count));
  return result;
}

}  // namespace rolta
