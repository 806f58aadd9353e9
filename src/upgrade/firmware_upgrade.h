// "升级": loads a ROM file into the controller. Stops the controller with
// command 28 until it answers 10, sends the file in 220-byte blocks that the
// controller acknowledges one by one, then repeats command 27 until it
// answers 100. Each wait pumps the window system's events through the host,
// so the receive path keeps updating UpgradeReplies meanwhile; the clock and
// the Escape key come from the host too, so tests run the whole dialogue
// without real time passing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "env/text_lookup.h"
#include "env/ui_services.h"
#include "link/byte_channel.h"
#include "link/frames.h"
#include "link/status_frames.h"
#include "upgrade/upgrade_replies.h"

namespace rolta {

// 232 bytes: block count at 6-7, block index at 8-9, data length at 10-11,
// data at 12-231. Kept between blocks and between upgrades: beyond a short
// last block the bytes of the block before remain.
class RomBlockFrame : public FrameBuffer<232> {
 public:
  static constexpr std::size_t kDataOffset = 12;
  static constexpr std::size_t kDataCapacity = 220;

  void SetBlockCount(std::uint16_t count) { PutUInt16LE(&bytes_[6], count); }
  void SetBlockIndex(std::uint16_t index) { PutUInt16LE(&bytes_[8], index); }
  void SetDataLength(std::uint16_t length) { PutUInt16LE(&bytes_[10], length); }
  std::uint16_t BlockCount() const { return GetUInt16LE(&bytes_[6]); }
  std::uint16_t BlockIndex() const { return GetUInt16LE(&bytes_[8]); }
  std::uint16_t DataLength() const { return GetUInt16LE(&bytes_[10]); }
  std::uint8_t* Data() { return &bytes_[kDataOffset]; }
};

// Blocks needed for a file: size / 220, plus one for a remainder.
constexpr std::uintmax_t RomBlockCount(std::uintmax_t fileSize) {
  return fileSize / RomBlockFrame::kDataCapacity + (fileSize % RomBlockFrame::kDataCapacity ? 1 : 0);
}
// The block count travels as 16 bits.
inline constexpr std::uintmax_t kMaxRomBlocks = 0xFFFF;

// Results of the phases.
inline constexpr int kUpgradeDone = 0;
inline constexpr int kUpgradeFileError = -1;
inline constexpr int kUpgradeTimeOut = -2;
inline constexpr int kUpgradeInterrupted = -3;
inline constexpr int kUpgradeFileTooLarge = -4;

// The controller's answers the upgrade acts on.
inline constexpr std::int32_t kStopReplyReady = 10;
inline constexpr std::int32_t kWaitReplyDone = 100;
inline constexpr int kBlockAccepted = 100;
inline constexpr int kBlockRetry = 101;
inline constexpr int kBlockFinished = 102;
inline constexpr int kBlockReady = 103;
inline constexpr int kBlockResend = 555;  // a type-27/28 frame came in during a block

inline constexpr std::uint32_t kUpgradeLimitMs = 3000;

// The file-open dialog of "升级".
struct RomFileDialog {
  std::string title;          // translated "QRX5000更新文件"
  std::string filterName;     // "QRX5000 files(*.ROM)"
  std::string defaultSuffix;  // "ROM"
};

// What the upgrade needs from the console window and the window system.
class UpgradeHost {
 public:
  virtual ~UpgradeHost() = default;
  // The console's ShortFrame with this command byte, sealed and written.
  virtual void SendShort(std::uint8_t code) = 0;
  virtual void SetStatusLine(const std::string& text) = 0;
  // true: progress bar shown and enabled, "升级" and "执行" disabled; false: the reverse.
  virtual void SetUpgradeRunning(bool running) = 0;
  // The bar to `percent`, then one step: it stands at percent + 1 (range 0..102).
  virtual void SetProgress(int percent) = 0;
  // The chosen path, or nothing when the dialog was not closed with OK.
  virtual std::optional<std::string> ChooseRomFile(const RomFileDialog& dialog) = 0;
  virtual MessageAnswer ShowMessage(const MessageRequest& request) = 0;
  // Dispatches waiting events: the receive path updates UpgradeReplies here.
  virtual void ProcessPendingEvents() = 0;
  virtual void SleepMilliseconds(int milliseconds) = 0;
  // The pause of each pass while a block's answer is awaited. A host may
  // dispatch events as they arrive during it, so an answer is acted on right
  // after the pause instead of one pass later; the pass acts on the answers
  // before anything resets them.
  virtual void PauseAwaitingAnswer(int milliseconds) { SleepMilliseconds(milliseconds); }
  // The console's rest after an accepted block, before the next one goes out.
  virtual void PauseBetweenBlocks() { SleepMilliseconds(1); }
  virtual bool IsEscapeHeld() const = 0;
  // A millisecond tick counter; differences are taken modulo 2^32.
  virtual std::uint32_t TickCount() const = 0;
};

// The outcome box of an upgrade result (translated texts).
MessageRequest UpgradeReport(const TextLookup& lookup, int result);

class FirmwareUpgrade {
 public:
  // `replies` is the record the receive path writes into; blocks go straight
  // to `channel`. The host is the front end's and may come later.
  FirmwareUpgrade(ByteChannel& channel, UpgradeReplies& replies, const TextLookup& lookup);
  FirmwareUpgrade(ByteChannel& channel, UpgradeReplies& replies, const TextLookup& lookup, UpgradeHost& host);
  FirmwareUpgrade(const FirmwareUpgrade&) = delete;
  FirmwareUpgrade& operator=(const FirmwareUpgrade&) = delete;

  // The front end that shows the upgrade; not while it runs. nullptr detaches it.
  void SetHost(UpgradeHost* host);

  // Told of every upgrade that was started, with its file and result, before
  // the result is shown.
  using ResultObserver = std::function<void(const std::string& file, int result)>;
  void SetResultObserver(ResultObserver observer) { resultObserver_ = std::move(observer); }

  // The "升级" handler: runs the whole sequence and returns when it is over.
  // Without a host there is nobody to choose a file: nothing happens.
  void OnUpgrade();

  // 0 ready, -2 time-out, -3 Escape.
  int RunStopPhase();
  // 0 done, -1 file error, -2 time-out, -3 Escape, -4 more blocks than 16 bits count.
  int UploadRomFile(const std::filesystem::path& path);
  // 0 done, -2 time-out, -3 Escape.
  int RunWaitPhase();

  // True while OnUpgrade is on the stack, so the window can defer its own end.
  bool Running() const { return running_; }
  const std::string& UpgradeText() const { return upgradeText_; }
  const RomBlockFrame& BlockFrame() const { return frame_; }

 private:
  struct Phase;
  int RunPhase(const Phase& phase);
  bool TimedOut(std::uint32_t since) const;
  void SendBlock();

  ByteChannel& channel_;
  UpgradeReplies& replies_;
  const TextLookup& lookup_;
  UpgradeHost* host_ = nullptr;
  RomBlockFrame frame_;
  std::string upgradeText_;
  bool running_ = false;
  ResultObserver resultObserver_;
};

}  // namespace rolta
