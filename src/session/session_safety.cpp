// The controller session's safety side: the line going away, frames that do
// not leave the PC, answers to the operator's commands, the input checks
// before "执行" and the link indicator.
#include "session/controller_session.h"
#include "link/command_codes.h"

namespace rolta {
namespace {

// Between two attempts of the automatic reconnection.
constexpr std::chrono::milliseconds kReconnectInterval{1000};

}  // namespace

void ControllerSession::OnCommNotify(std::uint32_t events) {
  notifiedAt_ = clock_->Now();
  receiver_.OnCommNotify(events);
  const ReceiveCounters& counters = receiver_.Counters();
  monitor_.OnReceived(counters.bytesReceived - seenCounters_.bytesReceived,
                      counters.checksumErrors - seenCounters_.checksumErrors, notifiedAt_);
  seenCounters_ = counters;
  // The flag, not the event bit, decides: a read can find the device gone
  // before the monitor's notice arrives, and a notice still queued from a
  // line that is gone must not close the next one.
  if (port_.LineLost()) {
    OnLineLost();
  } else {
    indicatorStale_ = true;
    MarkChanged();
  }
  ShowAlarms();
}

void ControllerSession::Execute(int position, const CommandInputs& inputs) {
  const CatalogueRow* row = CatalogueRowAt(position);
  CommandScope scope(*this, row != nullptr ? row->caption : std::string_view{});
  executor_.OnExecute(position, inputs);
}

std::optional<CommandInput> ControllerSession::ExecuteChecked(int position, const CommandInputs& inputs) {
  // A closed channel is reported before anything else, as without the checks.
  if (port_.IsOpen()) {
    if (auto refused = ApproveInputs(position, inputs, safety_, texts_, services_.boxes)) return refused;
  }
  Execute(position, inputs);
  return std::nullopt;
}

void ControllerSession::SetSafety(const SafetySettings& settings) {
  safety_ = settings;
  monitor_.SetReconnecting(settings.autoReconnect && !lostPort_.empty());
  RefreshIndicator();
}

void ControllerSession::Tick() {
  const MonoTime now = clock_->Now();
  // A status frame held for the bytes that confirm its end goes on once the
  // line has stayed quiet: a frame cut across lost bytes is followed at once.
  if (port_.IsOpen()) receiver_.ReleaseHeldFrame(LineClock::now());
  if (monitor_.Tick(now) && monitor_.PendingCode() == command::kEmergencyStop) {
    estopAlarm_ = EStopAlarm::Unanswered;
  }
  if (!lostPort_.empty() && safety_.autoReconnect && !port_.IsOpen() &&
      now - lastReconnectAttempt_ >= kReconnectInterval) {
    TryReconnect(now);
  }
  RefreshIndicator();
  ShowAlarms();
}

void ControllerSession::OnLineLost() {
  // Closed meanwhile by the operator, or already handled.
  if (!port_.IsOpen()) return;
  const bool estopWaiting = monitor_.Ack() == AckState::Waiting && monitor_.PendingCode() == command::kEmergencyStop;
  const std::string port = portName_;
  port_.Close();  // the monitor thread has ended itself; this joins it and frees the device
  executor_.RequestLoopStop();
  lostPort_ = port;
  lostBaud_ = baud_;
  lastReconnectAttempt_ = clock_->Now();
  monitor_.OnLineLost(port, safety_.autoReconnect);
  if (estopWaiting) estopAlarm_ = EStopAlarm::Unanswered;
  view_.OnChannelClosed();
  RefreshIndicator();
  ShowAlarms();
  // With the reconnection on, the indicator says it all and nothing waits
  // for the operator.
  if (!safety_.autoReconnect) ShowSessionBox(LineLostMessage(texts_, port));
}

void ControllerSession::TryReconnect(MonoTime now) {
  lastReconnectAttempt_ = now;
  const std::string port = lostPort_;
  if (!Open(port, lostBaud_)) {
    lostPort_ = port;  // still waiting for it
    return;
  }
  view_.OnChannelReopened();
}

void ControllerSession::OnWrite(const std::uint8_t* bytes, std::size_t length, std::size_t written, bool wasOpen) {
  if (bytes == nullptr || length < 3 || bytes[0] != kSync1 || bytes[1] != kSync2) return;
  const std::uint8_t code = bytes[2];
  if (written < length) {
    // A closed channel sends nothing without a word, as it always has; a
    // frame that an open channel could not send must never look sent.
    if (!wasOpen) return;
    if (code == command::kEmergencyStop) {
      ShowSessionBox(EmergencyStopNotSentMessage(texts_, portName_));
    } else if (boxDepth_ == 0) {
      ShowSessionBox(WriteFailedMessage(texts_, CommandCaption(code), portName_));
    }
    return;
  }
  if (commandDepth_ > 0) {
    monitor_.OnCommandSent(code, commandCaption_.empty() ? std::string_view("指令") : commandCaption_,
                           clock_->Now());
    RefreshIndicator();
  }
}

std::string ControllerSession::CommandCaption(std::uint8_t code) const {
  if (commandDepth_ > 0 && !commandCaption_.empty()) return std::string(commandCaption_);
  if (code == command::kEmergencyStop) return "急停";
  if (code == command::kVersion) return "版本";
  for (const CatalogueRow& row : CommandCatalogue()) {
    if (row.action == CatalogueAction::Send && row.CommandCode() == code) return std::string(row.caption);
  }
  return texts_.Lookup("指令") + FormatText(" %d", code);
}

void ControllerSession::RefreshIndicator() {
  LinkIndicator indicator = LinkIndicatorFor(texts_, monitor_.Report(clock_->Now()));
  if (indicatorShown_ && indicator == indicator_) return;
  indicator_ = std::move(indicator);
  indicatorShown_ = true;
  view_.ShowLinkState(indicator_);
}

void ControllerSession::ShowAlarms() {
  if (estopAlarm_ == EStopAlarm::None) return;
  const bool refused = estopAlarm_ == EStopAlarm::Refused;
  estopAlarm_ = EStopAlarm::None;
  ShowSessionBox(EmergencyStopUnconfirmedMessage(texts_, refused));
}

MessageAnswer ControllerSession::ShowSessionBox(const MessageRequest& request) {
  ++boxDepth_;
  const MessageAnswer answer = services_.boxes.Show(request);
  --boxDepth_;
  return answer;
}

}  // namespace rolta
