// One controller session: the serial channel, the receive path, the decoded
// status, the command executor and the exchanges on the link (parameter
// record, calibration tables, channel map, firmware upgrade), with the
// routing of every accepted frame to them. No window system: a front end
// (the console window, a test, the command-line program) supplies a view and
// the host services, attaches its own parts to the exchanges, and delivers
// the channel's notifications on its own thread.
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

#include "calib/calib_exchange.h"
#include "commands/command_executor.h"
#include "commands/input_checks.h"
#include "config/channel_map.h"
#include "config/params_exchange.h"
#include "env/text_lookup.h"
#include "env/ui_services.h"
#include "link/comm_port.h"
#include "link/frame_sync.h"
#include "link/frames.h"
#include "link/status_frames.h"
#include "link/tapped_link.h"
#include "readouts/console_texts.h"
#include "readouts/readouts.h"
#include "recording/frame_history.h"
#include "session/link_monitor.h"
#include "session/link_safety.h"
#include "session/live_presenter.h"
#include "session/safety_messages.h"
#include "session/service_events.h"
#include "session/session_view.h"
#include "upgrade/firmware_upgrade.h"
#include "upgrade/upgrade_replies.h"

namespace rolta {

// A handler of one kind of reply; the frame starts 55 AA, payload at +6, and
// stays valid until the next frame of the same length arrives.
using ReplyHandler = std::function<void(const std::uint8_t* frame, std::size_t length)>;

// Sees every decoded status frame as it arrives, with the monotonic time of
// its arrival; for recording and plots, which need every frame, not the
// screen-paced presents.
using StatusObserver = std::function<void(const ControllerStatus& status, std::chrono::steady_clock::time_point at)>;
using StatusObserverId = std::uint32_t;

class ControllerSession final : private FrameSink, private StatusFrameSinks, private ConsoleHost, private SafetyLine {
 public:
  // Without a link of its own the session talks through a CCommPort.
  ControllerSession(const TextLookup& texts, SessionView& view, HostServices services,
                    std::unique_ptr<SerialLink> link = nullptr);
  ~ControllerSession() override;
  ControllerSession(const ControllerSession&) = delete;
  ControllerSession& operator=(const ControllerSession&) = delete;

  // The channel. Open uses the controller's line settings (8 data bits, no
  // parity, one stop bit); it empties the receive ring first. On failure
  // OpenError() says why.
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
  const CommandExecutor& Executor() const { return executor_; }
  // The start and end speeds of the coast-down command last sent.
  CoastDownSpeeds CoastDown() const { return executor_.CoastDownSpeedsSent(); }

  // The exchanges on this link. Their replies are routed to them here; a
  // front end attaches its windows (ParamsExchange::SetListener,
  // CalibExchange::SetView, ChannelMapEditor::SetView) and the upgrade's host
  // (FirmwareUpgrade::SetHost), and detaches them before they go.
  // The parameter record, requested by the catalogue.
  ParamsExchange& Params() { return executor_.Params(); }
  // The calibration tables; the block read builds its requests in the
  // catalogue's 22-byte buffer and pauses through the host's event pump.
  CalibExchange& Calib() { return calib_; }
  // The channel map's field texts, filled by every channel map reply.
  ChannelMapEditor& ChannelMap() { return channelMap_; }
  // "升级", run with the host the front end attached.
  FirmwareUpgrade& Upgrade() { return upgrade_; }

  // Observers of connects and changes to the controller (service_events.h).
  // Told in the order added: the service history first, so an entry is
  // committed before anyone else hears of the change.
  void AddServiceEvents(ServiceEvents* events);
  void RemoveServiceEvents(ServiceEvents* events);
  // The console's receive handler rests 1 ms after each frame; a front end
  // without its window (rolta-cli) may go straight on to the next.
  void SetPauseAfterEachFrame(bool pause) { pauseAfterEachFrame_ = pause; }

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

  // The latest decoded status frame, updated by every frame as it arrives.
  const ControllerStatus& Status() const { return status_; }
  const ReceiveCounters& Counters() const { return receiver_.Counters(); }
  const FrameReceiver& Receiver() const { return receiver_; }
  // One observer of every frame written through Port() and every frame and
  // skipped run the receive path handles; nullptr detaches it. An observer
  // attached to an open line learns when it was opened.
  void SetLineTap(LineTap* tap);

  // Hands the view what changed since the last call: the link indicator,
  // the status line and the readouts as the latest frames left them.
  void Present();

  // The link indicator's clock-driven rules (silence, unanswered commands,
  // automatic reconnection); the front end calls it a few times a second.
  void Tick();
  void SetClock(const MonotonicClock& clock) { safety_.SetClock(clock); }
  const LinkMonitor& Monitor() const { return safety_.Monitor(); }
  const LinkIndicator& Indicator() const { return safety_.Indicator(); }
  const SafetySettings& Safety() const { return safety_.Settings(); }
  void SetSafety(const SafetySettings& settings) { safety_.SetSettings(settings); }
  // The port that hung up while the automatic reconnection waits for it;
  // empty when the channel is open or was closed by the operator.
  const std::string& LostPort() const { return safety_.LostPort(); }

 private:
  // Passes the exchanges' changes on to the service history's observer.
  void ConnectServiceEvents();
  // Opens the port and tells everything that follows the line.
  bool OpenLine(const std::string& portName, std::uint32_t baudRate);
  // A reply of another kind than status, to its exchange or the handler
  // that took the kind over.
  void RouteReply(ControllerFrameKind kind, const std::uint8_t* frame, std::size_t length);
  void NotifyStatusObservers(std::chrono::steady_clock::time_point now);
  // FrameSink
  void OnScanBegin() override;
  void OnFrame(std::uint8_t frameType, const std::uint8_t* frame, std::size_t length) override;
  bool OnBadFrame(std::uint8_t frameType, const std::uint8_t* frame, std::size_t length) override;
  void OnFrameIncomplete() override;
  void PauseAfterFrame() override;
  // StatusFrameSinks
  void ShowControllerVersion(bool fromUpgradeProgram, double version) override;
  void ShowLiveFrame(const ControllerStatus& status) override;
  void OnCommandAnswer(const ControllerStatus& status) override;
  // ConsoleHost
  MessageAnswer ShowMessage(const MessageRequest& request) override;
  void CloseChannelFromConsole() override;
  void StartExternalProgram(const std::string& path) override;
  std::string CurrentDirectory() const override;
  void ShowChannelMapWindow() override;
  void ProcessPendingEvents() override;
  void SleepMilliseconds(int milliseconds) override;
  bool IsCtrlHeld() const override;
  // SafetyLine
  void CloseLostLine() override;
  bool ReopenLine(const std::string& port, std::uint32_t baudRate) override;

  const TextLookup& texts_;
  SessionView& view_;
  HostServices services_;
  std::unique_ptr<TappedLink> link_;  // every write passes here, so the tap and the safety checks see it
  SerialLink& port_;
  std::string portName_;
  FrameReceiver receiver_;
  ControllerStatus status_;
  CommandExecutor executor_;
  CalibExchange calib_;
  ChannelMapEditor channelMap_;
  UpgradeReplies upgradeReplies_;
  FirmwareUpgrade upgrade_;
  ReplyHandler frameObserver_;
  FrameHistory history_;
  std::vector<std::pair<StatusObserverId, StatusObserver>> statusObservers_;
  StatusObserverId lastObserverId_ = 0;
  bool dispatchingObservers_ = false;
  bool pauseAfterEachFrame_ = true;
  LivePresenter presenter_;
  LinkSafety safety_;
  std::vector<ServiceEvents*> serviceEvents_;
  std::string controllerVersion_;  // the last version answer, for the history
};

}  // namespace rolta
