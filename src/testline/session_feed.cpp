#include "testline/session_feed.h"

#include <algorithm>

#include "env/text_lookup.h"

namespace rolta {
namespace {

// The caption LinkSafety gives the emergency stop's scope.
constexpr std::string_view kEmergencyStopCaption = "急停";

std::string_view SeverityName(LinkSeverity severity) {
  switch (severity) {
    case LinkSeverity::Normal: return "normal";
    case LinkSeverity::Warning: return "warning";
    case LinkSeverity::Alarm: return "alarm";
  }
  return "normal";
}

std::string CommandJson(std::string_view caption, std::uint8_t code) {
  return "{\"command\":" + JsonString(caption) + ",\"code\":" + std::to_string(code) + "}";
}

}  // namespace

std::string_view LinkStateName(LinkState state) {
  switch (state) {
    case LinkState::Closed: return "closed";
    case LinkState::OpenNoData: return "open-no-data";
    case LinkState::Receiving: return "receiving";
    case LinkState::Silent: return "silent";
    case LinkState::Garbled: return "garbled";
    case LinkState::Lost: return "lost";
  }
  return "closed";
}

SessionFeed::SessionFeed(ControllerSession& session, TestLinePublisher& publisher, double liveRate)
    : session_(session),
      publisher_(publisher),
      livePeriod_(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(1.0 / std::clamp(liveRate, kMinLiveRate, kMaxLiveRate)))) {
  observer_ = session_.AddStatusObserver(
      [this](const ControllerStatus& status, std::chrono::steady_clock::time_point at) { OnStatus(status, at); });
  AddFieldLogSink(this);
  session_.AddServiceEvents(this);
  commandsSeen_ = session_.Monitor().CommandsSent();
  Poll();
}

SessionFeed::~SessionFeed() {
  RemoveFieldLogSink(this);
  session_.RemoveServiceEvents(this);
  session_.RemoveStatusObserver(observer_);
}

void SessionFeed::OnConnected(const std::string& port, const std::string& controllerVersion) {
  publisher_.PublishEvent(
      "connected", "{\"port\":" + JsonString(port) + ",\"controller_version\":" + JsonString(controllerVersion) + "}");
}

// The state message carries the version as the session spells it.
void SessionFeed::OnControllerVersion(const std::string&, const std::string& controllerVersion) {
  state_.controllerVersion = controllerVersion;
}

void SessionFeed::OnParamsWritten(const std::optional<ParamsPayload>& before, const ParamsPayload& written) {
  std::string detail = "{}";
  if (before) {
    std::size_t changed = 0;
    for (std::size_t i = 0; i < written.size(); ++i) changed += (*before)[i] != written[i] ? 1 : 0;
    detail = "{\"bytes_changed\":" + std::to_string(changed) + "}";
  }
  publisher_.PublishEvent("params-written", detail);
}

void SessionFeed::OnChannelMapStored(const std::optional<ChannelMap>&, const ChannelMap&) {
  publisher_.PublishEvent("channel-map-stored", "{}");
}

void SessionFeed::OnCalibTableStored(CalibChannel channel, const std::optional<CalibTable>&, const CalibTable& stored) {
  publisher_.PublishEvent("calibration-stored", "{\"table\":" + JsonString(CalibChannelInfo(channel).storeCaption) +
                                                    ",\"points\":" + std::to_string(stored.PointCount()) + "}");
}

void SessionFeed::OnFirmwareUpgraded(const std::string& file, int result) {
  publisher_.PublishEvent("firmware-upgraded",
                          "{\"file\":" + JsonString(file) + ",\"result\":" + std::to_string(result) + "}");
}

void SessionFeed::OnStatus(const ControllerStatus& status, std::chrono::steady_clock::time_point at) {
  // A version answer reaches the state through OnControllerVersion.
  if (StatusActionOf(status.FrameType) == StatusAction::ShowVersion) return;
  // Sampled here at the publishing rate: most frames cost only this test.
  if (at < nextLive_) return;
  const LiveSample sample = LiveSampleOf(status);
  if (sample.count == 0) return;
  nextLive_ = at + livePeriod_;
  publisher_.OfferLive(sample);
}

void SessionFeed::Poll() {
  const LinkMonitor& monitor = session_.Monitor();
  const LinkReport report = monitor.Report(std::chrono::steady_clock::now());
  static const IdentityLookup untranslated;
  const LinkIndicator indicator = LinkIndicatorFor(untranslated, report);
  state_.port = session_.IsOpen() ? session_.PortName() : session_.LostPort();
  state_.link = std::string(LinkStateName(report.state));
  state_.severity = std::string(SeverityName(indicator.severity));
  if (monitor.CommandsSent() != commandsSeen_) {
    commandsSeen_ = monitor.CommandsSent();
    ackSeen_ = AckState::Waiting;
    state_.command = std::string(report.command);
    const bool estop = report.command == kEmergencyStopCaption;
    publisher_.PublishEvent(estop ? "estop-sent" : "command-sent", CommandJson(report.command, monitor.PendingCode()));
  }
  // Refusals and unanswered commands come through the field log.
  if (report.ack != ackSeen_) {
    ackSeen_ = report.ack;
    if (report.ack == AckState::Answered) {
      const bool estop = report.command == kEmergencyStopCaption;
      publisher_.PublishEvent(
          estop ? "estop-confirmed" : "command-answered",
          "{\"command\":" + JsonString(report.command) + ",\"answer_ms\":" + std::to_string(report.answerMs) + "}");
    }
  }
  if (!anyPublished_ || state_ != published_) {
    published_ = state_;
    anyPublished_ = true;
    publisher_.SetState(state_);
  }
}

void SessionFeed::SetRecording(bool on, const std::string& file) {
  if (!file.empty()) publisher_.PublishEvent("recording-written", "{\"file\":" + JsonString(file) + "}");
  state_.recording = on;
}

void SessionFeed::Write(FieldEvent event, std::string_view detail) {
  if (event == FieldEvent::ProgramStarted || event == FieldEvent::ProgramEnded) return;
  publisher_.PublishEvent(FieldEventName(event), JsonString(detail));
}

}  // namespace rolta
