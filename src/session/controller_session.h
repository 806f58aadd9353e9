// One controller session: the serial channel, the receive path, the decoded
// status, the upgrade replies, the command executor and the routing of every
// accepted frame to whoever registered for its kind. No window system: a
// front end (the console window, a test, the command-line program) supplies
// a view and the host services and delivers the channel's notifications on
// its own thread.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "commands/command_executor.h"
#include "readouts/console_texts.h"
#include "recording/frame_history.h"
#include "commands/input_checks.h"
#include "session/link_monitor.h"
#include "session/safety_messages.h"
#include "readouts/readouts.h"
#include "env/text_lookup.h"
#include "env/ui_services.h"
#include "link/comm_port.h"
#include "link/frame_sync.h"
#include "link/frames.h"
#include "link/status_frames.h"
#include "link/tapped_link.h"

namespace rolta {

// What a session shows. The session asks for a present when it has news and
// hands over the latest state when the front end calls Present(), so a burst
// of frames costs one repaint.
class SessionView {
 public:
  virtual ~SessionView() = default;
  virtual void ShowStatusLine(const std::string& text) = 0;
  virtual void ShowReadouts(const ReadoutUpdate& update) = 0;
  // The version answer (and the "asking" texts right after a query).
  virtual void ShowControllerVersion(const ControllerVersionTexts& texts) = 0;
  // Something new to show: call ControllerSession::Present() soon, at most at
  // the screen's pace. Asked once until the next Present().
  virtual void RequestPresent() = 0;
  // The channel was closed from inside a command (the external programs
  // need the port): the connect button is usable again.
  virtual void OnChannelClosed() = 0;
  // What a catalogue position may need from the desktop.
  virtual void StartExternalProgram(const std::string& path) = 0;
  virtual std::string CurrentDirectory() const = 0;
  virtual void ShowChannelMapWindow() = 0;
  // The link indicator beside the status line, and whether the readouts
  // hold values that are no longer live.
  virtual void ShowLinkState(const LinkIndicator&) {}
  // The automatic reconnection opened the channel again: "设置" is not usable.
  virtual void OnChannelReopened() {}
};

// A handler of one kind of reply; the frame starts 55 AA, payload at +6, and
// stays valid until the next frame of the same length arrives.
using ReplyHandler = std::function<void(const std::uint8_t* frame, std::size_t length)>;

// Sees every decoded status frame as it arrives, with the monotonic time of
// its arrival; for recording and plots, which need every frame, not the
// screen-paced presents.
using StatusObserver = std::function<void(const ControllerStatus& status, std::chrono::steady_clock::time_point at)>;
using StatusObserverId = std::uint32_t;

class ControllerSession final : private FrameSink, private StatusFrameSinks, private ConsoleHost {
 public:
  // Without a link of its own the session talks through a CCommPort.
  ControllerSession(const TextLookup& texts, SessionView& view, HostServices services,
                    std::unique_ptr<SerialLink> link = nullptr);
  ~ControllerSession() override;
  ControllerSession(const ControllerSession&) = delete;
  ControllerSession& operator=(const ControllerSession&) = delete;

  // The channel. Open uses 8 data bits, no parity, one stop bit; it empties
  // the receive ring first. On failure OpenError() says why.
  bool Open(const std::string& portName, std::uint32_t baudRate);
  std::error_code OpenError() const { return port_.LastOpenError(); }
  const std::string& PortName() const { return portName_; }
  // "关闭": closes the channel and ends a running repeat-send loop.
  void Close();
  bool IsOpen() const { return port_.IsOpen(); }
  SerialLink& Port() { return port_; }
  // One bytes-waiting (or line-lost) notification, on the front end's thread.
  void OnCommNotify(std::uint32_t events);

  // Operations.
  void Execute(int position, const CommandInputs& inputs);
  // "执行" with the input checks first: a field that is not a number, or a
  // declined limit confirmation, sends nothing and names the field to focus.
  // A closed channel is reported as by Execute.
  std::optional<CommandInput> ExecuteChecked(int position, const CommandInputs& inputs);
  // "急停": the stop command, or the channel-closed box.
  void EmergencyStop();
  // "版本": shows the asking texts and sends the query (also on a closed
  // channel, where it goes nowhere).
  void QueryVersion();
  CommandExecutor& Executor() { return executor_; }
  // The parameter record: requested by the catalogue, its replies routed here
  // unless another handler registers for them.
  ParamsExchange& Params() { return executor_.Params(); }
  const CommandExecutor& Executor() const { return executor_; }

  // Replies other than status frames go to the handler registered for their
  // kind (one each; registering again replaces it). Status frames are decoded
  // here.
  void RegisterReplyHandler(ControllerFrameKind kind, ReplyHandler handler);
  // Sees every frame with a good checksum once it has been handled (decoded
  // or routed), so Status() already holds a status frame's values. One
  // observer (the line monitor, a front end's waits); an empty one clears it.
  void SetFrameObserver(ReplyHandler observer) { frameObserver_ = std::move(observer); }

  // Observers of every decoded status frame, called on the receive path's
  // thread right after the frame was decoded and kept in History(); they
  // must be quick.
  StatusObserverId AddStatusObserver(StatusObserver observer);
  void RemoveStatusObserver(StatusObserverId id);

  // Every decoded status frame of the last 30 minutes since the port first
  // opened, with the times the port opened; kept whatever windows are open.
  const FrameHistory& History() const { return history_; }

  // The latest decoded status frame and the upgrade's replies, updated by
  // every frame as it arrives.
  const ControllerStatus& Status() const { return status_; }
  UpgradeReplies& Upgrade() { return upgradeReplies_; }
  const ReceiveCounters& Counters() const { return receiver_.Counters(); }
  const FrameReceiver& Receiver() const { return receiver_; }
  // One observer of every frame written through Port() and every frame and
  // skipped run the receive path handles; nullptr detaches it. An observer
  // attached to an open line learns when it was opened.
  void SetLineTap(LineTap* tap);

  // Hands the view what changed since the last call: the status line and
  // the readouts as the latest frames left them.
  void Present();

  // The link indicator's clock-driven rules (silence, unanswered commands,
  // automatic reconnection); the front end calls it a few times a second.
  void Tick();
  void SetClock(const MonotonicClock& clock) { clock_ = &clock; }
  const LinkMonitor& Monitor() const { return monitor_; }
  const LinkIndicator& Indicator() const { return indicator_; }
  const SafetySettings& Safety() const { return safety_; }
  void SetSafety(const SafetySettings& settings);
  // The port that hung up while the automatic reconnection waits for it;
  // empty when the channel is open or was closed by the operator.
  const std::string& LostPort() const { return lostPort_; }

 private:
  // FrameSink
  void OnScanBegin() override;
  void OnFrame(std::uint8_t frameType, const std::uint8_t* frame, std::size_t length) override;
  bool OnBadFrame(std::uint8_t frameType, const std::uint8_t* frame, std::size_t length) override;
  void OnFrameIncomplete() override;
  void PauseAfterFrame() override;
  // StatusFrameSinks
  void ShowControllerVersion(bool fromUpgradeProgram, double version) override;
  void ShowLiveFrame(const ControllerStatus& status) override;
  // ConsoleHost
  MessageAnswer ShowMessage(const MessageRequest& request) override;
  void CloseChannelFromConsole() override;
  void StartExternalProgram(const std::string& path) override;
  std::string CurrentDirectory() const override;
  void ShowChannelMapWindow() override;
  void ProcessPendingEvents() override;
  void SleepMilliseconds(int milliseconds) override;
  bool IsCtrlHeld() const override;

  // What the status line says, kept unformatted until it is shown.
  struct StatusLineState {
    enum class Kind : std::uint8_t { Empty, Frame, VersionMismatch } kind = Kind::Empty;
    std::uint8_t frameType = 0;
    std::int16_t numth = 0;
    bool operator==(const StatusLineState&) const = default;
  };
  // The safety side: the line going away, frames that do not go out,
  // answers to commands, the indicator.
  void OnLineLost();
  void OnWrite(const std::uint8_t* bytes, std::size_t length, std::size_t written, bool wasOpen);
  void TryReconnect(MonoTime now);
  void RefreshIndicator();
  void ShowAlarms();
  MessageAnswer ShowSessionBox(const MessageRequest& request);
  std::string CommandCaption(std::uint8_t code) const;
  // Frames written inside it are operator commands whose answers are awaited.
  class CommandScope {
   public:
    CommandScope(ControllerSession& session, std::string_view caption)
        : session_(session), saved_(session.commandCaption_) {
      ++session_.commandDepth_;
      session_.commandCaption_ = caption;
    }
    ~CommandScope() {
      --session_.commandDepth_;
      session_.commandCaption_ = saved_;
    }
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;

   private:
    ControllerSession& session_;
    std::string_view saved_;
  };

  std::string StatusLineText(const StatusLineState& state) const;
  void SetStatusLine(const StatusLineState& state);
  void MarkChanged();

  const TextLookup& texts_;
  SessionView& view_;
  HostServices services_;
  std::unique_ptr<TappedLink> link_;  // every write passes here, so the tap and the safety checks see it
  SerialLink& port_;
  std::string portName_;
  FrameReceiver receiver_;
  ControllerStatus status_;
  UpgradeReplies upgradeReplies_;
  CommandExecutor executor_;
  std::array<ReplyHandler, 4> replyHandlers_;
  ReplyHandler frameObserver_;
  FrameHistory history_;
  std::vector<std::pair<StatusObserverId, StatusObserver>> statusObservers_;
  StatusObserverId lastObserverId_ = 0;
  bool dispatchingObservers_ = false;

  StatusLineState statusLine_;
  StatusLineState scanStatusLine_;  // the last text set during the running scan
  bool statusLineChanged_ = false;
  // Live frames since the last present, at most one per type, in the order
  // their latest frame came: later ones overwrite earlier ones' cells.
  std::array<ControllerStatus, 256> pendingLive_{};
  std::array<std::uint8_t, 256> pendingOrder_{};
  std::array<bool, 256> pendingType_{};
  std::size_t pendingCount_ = 0;
  ReadoutUpdate frameUpdate_;    // kept between presents so its strings are reused
  ReadoutUpdate presentUpdate_;
  bool presentRequested_ = false;

  CoarseSteadyClock steadyClock_;
  const MonotonicClock* clock_ = &steadyClock_;
  LinkMonitor monitor_;
  LinkIndicator indicator_;
  bool indicatorShown_ = false;
  // The link indicator is composed at the screen's pace, not for every frame.
  bool indicatorStale_ = false;
  // When the notification being handled came: one clock read for all its frames.
  MonoTime notifiedAt_{};
  SafetySettings safety_;
  std::uint32_t baud_ = 115200;
  std::string lostPort_;
  std::uint32_t lostBaud_ = 115200;
  MonoTime lastReconnectAttempt_{};
  ReceiveCounters seenCounters_;
  int commandDepth_ = 0;
  std::string_view commandCaption_;
  int boxDepth_ = 0;
  enum class EStopAlarm : std::uint8_t { None, Unanswered, Refused } estopAlarm_ = EStopAlarm::None;
};

}  // namespace rolta
