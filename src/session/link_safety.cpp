#include "session/link_safety.h"

#include "commands/catalogue.h"
#include "env/field_log.h"
#include "env/number_text.h"
#include "link/command_codes.h"
#include "session/safety_messages.h"

namespace rolta {
namespace {

// Between two attempts of the automatic reconnection.
constexpr std::chrono::milliseconds kReconnectInterval{1000};

std::string CommandDetail(std::uint8_t code, std::string_view what) {
  return FormatText("command %d ", code) + std::string(what);
}

}  // namespace

LinkSafety::LinkSafety(const TextLookup& texts, SessionView& view, MessageBoxService& boxes, const SerialLink& port,
                       SafetyLine& line)
    : texts_(texts), view_(view), boxes_(boxes), port_(port), line_(line) {}

void LinkSafety::OnOpened(const std::string& port, std::uint32_t baudRate) {
  portName_ = port;
  baud_ = baudRate;
  lostPort_.clear();
  monitor_.OnOpened(Now());
  RefreshIndicator();
}

void LinkSafety::OnClosedByOperator() {
  // Nothing to reconnect to.
  lostPort_.clear();
  monitor_.OnClosed();
  RefreshIndicator();
}

void LinkSafety::OnLineLost() {
  // Closed meanwhile by the operator, or already handled.
  if (!port_.IsOpen()) return;
  const bool estopWaiting = monitor_.Ack() == AckState::Waiting && monitor_.PendingCode() == command::kEmergencyStop;
  const std::string port = portName_;
  line_.CloseLostLine();
  LogFieldEvent(FieldEvent::LineLost, port);
  lostPort_ = port;
  lostBaud_ = baud_;
  lastReconnectAttempt_ = Now();
  monitor_.OnLineLost(port, settings_.autoReconnect);
  if (estopWaiting) estopAlarm_ = EStopAlarm::Unanswered;
  view_.OnChannelClosed();
  RefreshIndicator();
  ShowAlarms();
  // With the reconnection on, the indicator says it all and nothing waits
  // for the operator.
  if (!settings_.autoReconnect) ShowBox(LineLostMessage(texts_, port));
}

void LinkSafety::OnReceived(const ReceiveCounters& counters) {
  monitor_.OnReceived(counters.bytesReceived - seenCounters_.bytesReceived,
                      counters.checksumErrors - seenCounters_.checksumErrors, notifiedAt_);
  seenCounters_ = counters;
}

void LinkSafety::OnFrame(std::uint8_t frameType, std::int16_t numth) {
  if (monitor_.OnFrame(frameType, numth, notifiedAt_) != AckState::Refused) return;
  LogFieldEvent(FieldEvent::CommandRefused, CommandDetail(frameType, FormatText("refused (numth %d)", numth)));
  if (frameType == command::kEmergencyStop) estopAlarm_ = EStopAlarm::Refused;
}

void LinkSafety::OnWrite(const std::uint8_t* bytes, std::size_t length, std::size_t written, bool wasOpen) {
  if (bytes == nullptr || length < 3 || bytes[0] != kSync1 || bytes[1] != kSync2) return;
  const std::uint8_t code = bytes[2];
  if (written < length) {
    // A closed channel sends nothing without a word, as it always has; a
    // frame that an open channel could not send must never look sent.
    if (!wasOpen) return;
    LogFieldEvent(FieldEvent::WriteFailed, CommandDetail(code, FormatText("on %s: %zu of %zu bytes written",
                                                                          portName_.c_str(), written, length)));
    if (code == command::kEmergencyStop) {
      ShowBox(EmergencyStopNotSentMessage(texts_, portName_));
    } else if (boxDepth_ == 0) {
      ShowBox(WriteFailedMessage(texts_, CommandCaption(code), portName_));
    }
    return;
  }
  if (commandDepth_ > 0) {
    monitor_.OnCommandSent(code, commandCaption_.empty() ? std::string_view("指令") : commandCaption_, Now());
    RefreshIndicator();
  }
}

void LinkSafety::Tick(MonoTime now) {
  if (monitor_.Tick(now)) {
    LogFieldEvent(
        FieldEvent::CommandUnanswered,
        CommandDetail(monitor_.PendingCode(), FormatText("unanswered after %lld ms",
                                                         static_cast<long long>(LinkMonitor::kAnswerLimit.count()))));
    if (monitor_.PendingCode() == command::kEmergencyStop) estopAlarm_ = EStopAlarm::Unanswered;
  }
  if (!lostPort_.empty() && settings_.autoReconnect && !port_.IsOpen() &&
      now - lastReconnectAttempt_ >= kReconnectInterval) {
    TryReconnect(now);
  }
  RefreshIndicator();
  ShowAlarms();
}

void LinkSafety::TryReconnect(MonoTime now) {
  lastReconnectAttempt_ = now;
  const std::string port = lostPort_;
  const std::uint32_t baud = lostBaud_;
  if (!line_.ReopenLine(port, baud)) {
    lostPort_ = port;  // still waiting for it
    return;
  }
  LogFieldEvent(FieldEvent::Reconnected, FormatText("%s at %u baud", port.c_str(), static_cast<unsigned>(baud)));
  view_.OnChannelReopened();
}

void LinkSafety::SetSettings(const SafetySettings& settings) {
  settings_ = settings;
  monitor_.SetReconnecting(settings.autoReconnect && !lostPort_.empty());
  RefreshIndicator();
}

std::string LinkSafety::CommandCaption(std::uint8_t code) const {
  if (commandDepth_ > 0 && !commandCaption_.empty()) return std::string(commandCaption_);
  if (code == command::kEmergencyStop) return "急停";
  if (code == command::kVersion) return "版本";
  for (const CatalogueRow& row : CommandCatalogue()) {
    if (row.action == CatalogueAction::Send && row.CommandCode() == code) return std::string(row.caption);
  }
  return texts_.Lookup("指令") + FormatText(" %d", code);
}

void LinkSafety::RefreshStaleIndicator() {
  if (!indicatorStale_) return;
  indicatorStale_ = false;
  RefreshIndicator();
}

void LinkSafety::RefreshIndicator() {
  LinkIndicator indicator = LinkIndicatorFor(texts_, monitor_.Report(Now()));
  if (indicatorShown_ && indicator == indicator_) return;
  indicator_ = std::move(indicator);
  indicatorShown_ = true;
  view_.ShowLinkState(indicator_);
}

void LinkSafety::ShowAlarms() {
  if (estopAlarm_ == EStopAlarm::None) return;
  const bool refused = estopAlarm_ == EStopAlarm::Refused;
  estopAlarm_ = EStopAlarm::None;
  LogFieldEvent(FieldEvent::EmergencyStopAlarm, refused ? "emergency stop refused" : "emergency stop unanswered");
  ShowBox(EmergencyStopUnconfirmedMessage(texts_, refused));
}

MessageAnswer LinkSafety::ShowBox(const MessageRequest& request) {
  ++boxDepth_;
  const MessageAnswer answer = boxes_.Show(request);
  --boxDepth_;
  return answer;
}

}  // namespace rolta
