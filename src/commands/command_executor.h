// "执行": runs one position of the command catalogue. Builds the frames from
// the catalogue row and the operator's texts, writes them to the channel and
// forgets them; replies come back through the receive path. Everything the
// execution needs from the window (boxes, pumping events, the channel map
// window, starting a program) goes through ConsoleHost.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "config/params_exchange.h"
#include "commands/catalogue.h"
#include "env/ui_services.h"
#include "env/text_lookup.h"
#include "link/byte_channel.h"
#include "link/frames.h"

namespace rolta {

// Implemented by the console window.
class ConsoleHost {
 public:
  virtual ~ConsoleHost() = default;
  virtual MessageAnswer ShowMessage(const MessageRequest& request) = 0;
  // The console's "关闭": closes the channel, stops the repeat-send loop
  // (CommandExecutor::RequestLoopStop) and enables "设置" again.
  virtual void CloseChannelFromConsole() = 0;
  // Starts a program as its own process; neither waited for nor checked.
  virtual void StartExternalProgram(const std::string& path) = 0;
  virtual std::string CurrentDirectory() const = 0;
  // Brings the hardware channel map window to the front (hide, then show).
  virtual void ShowChannelMapWindow() = 0;
  // The repeat-send loop's pump: dispatches every waiting event, which may run
  // OnExecute again.
  virtual void ProcessPendingEvents() = 0;
  virtual void SleepMilliseconds(int milliseconds) = 0;
  virtual bool IsCtrlHeld() const = 0;
};

// The texts of the eight input fields and the four flywheel check boxes, read
// when "执行" is pressed whether or not a field is enabled.
struct CommandInputs {
  std::string ParamA, ParamB, ParamM, ParamC;
  std::string StartSpeed, EndSpeed, StartLoad, EndLoad;
  std::array<bool, 4> Flywheels{};  // "飞轮1" .. "飞轮4"
};

// Bit 0 for "飞轮1" .. bit 3 for "飞轮4"; 0..15.
std::uint8_t FlywheelMask(const CommandInputs& inputs);

inline constexpr std::int32_t kLoopRunning = 100;
inline constexpr std::int32_t kLoopStop = 200;
// Pause between two frames of the repeat-send loop.
inline constexpr int kLoopIntervalMs = 100;

// The start and end speeds of the last frame built in the 22-byte buffer:
// a coast-down's, while one runs.
struct CoastDownSpeeds {
  float start = 0.0f;
  float end = 0.0f;
};

class CommandExecutor {
 public:
  CommandExecutor(ByteChannel& channel, const TextLookup& lookup, ConsoleHost& host);
  CommandExecutor(const CommandExecutor&) = delete;
  CommandExecutor& operator=(const CommandExecutor&) = delete;

  // "执行" with the list's selected position (-1 when none). May be entered
  // again from inside the repeat-send loop's pump.
  void OnExecute(int position, CommandInputs inputs);

  // Sends a short command through the console's ShortFrame (emergency stop,
  // version query, upgrade). LastShortCode follows at the end of the next
  // execution, as for any short command.
  void SendShort(std::uint8_t code);
  ShortFrame& ConsoleShortFrame() { return shortFrame_; }

  // "关闭" / "退出" / position 35: the repeat-send loop ends after its current
  // frame.
  void RequestLoopStop() { loopTestState_ = kLoopStop; }

  int CommandIndex() const { return commandIndex_; }
  void SetCommandIndex(int index) { commandIndex_ = index; }
  std::uint8_t LastShortCode() const { return lastShortCode_; }
  std::int32_t LoopTestState() const { return loopTestState_; }
  // 1: a parameter record goes to the summary listing, 0: to the settings form.
  std::int32_t ParamReplyTarget() const { return static_cast<std::int32_t>(params_.Target()); }
  // The parameter record's requests go out through it, and replies come in.
  ParamsExchange& Params() { return params_; }
  // The buffers this link's commands are built in; the calibration block
  // read builds its requests in the same 22-byte buffer.
  SharedCommandFrames& Frames() { return frames_; }
  CoastDownSpeeds CoastDownSpeedsSent() const;
  // True while at least one repeat-send loop is on the stack, so the window
  // can defer its own destruction until the loop has returned.
  bool InRepeatLoop() const { return loopDepth_ > 0; }

 private:
  void Perform(const CatalogueRow& row, const CommandInputs& inputs);
  void SendCatalogueFrames(const CatalogueRow& row, const CommandInputs& inputs);
  void RequestParamRecord(const CatalogueRow& row);
  void RunRepeatLoop();
  void StartExternalProgram(const CatalogueRow& row);
  void ShowInformation(std::string_view text);
  template <std::size_t Length>
  void WriteSealed(FrameBuffer<Length>& frame);

  ByteChannel& channel_;
  SharedCommandFrames frames_;
  const TextLookup& lookup_;
  ConsoleHost& host_;
  ShortFrame shortFrame_;
  // The parameter record's boxes go to the console like every other box.
  struct HostBoxes final : MessageBoxService {
    explicit HostBoxes(ConsoleHost& host) : host(host) {}
    MessageAnswer Show(const MessageRequest& request) override { return host.ShowMessage(request); }
    ConsoleHost& host;
  } hostBoxes_;
  ParamsExchange params_;

  int commandIndex_ = 26;  // the default list selection ("读QRX参数")
  // 0 until a short command has gone through shortFrame_: the loop sends
  // nothing before that.
  std::uint8_t lastShortCode_ = 0;
  std::int32_t loopTestState_ = 0;
  int loopDepth_ = 0;
};

}  // namespace rolta
