#include "session/controller_session.h"

#include <algorithm>

#include "link/command_codes.h"

namespace rolta {

ControllerSession::ControllerSession(const TextLookup& texts, SessionView& view, HostServices services,
                                     std::unique_ptr<SerialLink> link)
    : texts_(texts),
      view_(view),
      services_(services),
      link_(std::make_unique<TappedLink>(link ? std::move(link) : std::make_unique<CCommPort>())),
      port_(*link_),
      receiver_(port_, *this),
      executor_(port_, ProcessCommandFrames(), texts, static_cast<ConsoleHost&>(*this)) {
  link_->SetWriteObserver([this](const std::uint8_t* bytes, std::size_t length, std::size_t written,
                                   bool wasOpen) { OnWrite(bytes, length, written, wasOpen); });
  RegisterReplyHandler(ControllerFrameKind::ParamRecord, [this](const std::uint8_t* frame, std::size_t length) {
    executor_.Params().OnParamsFrame(frame, length);
  });
}

ControllerSession::~ControllerSession() {
  // The monitor thread must be gone before anything it could post to.
  port_.Close();
}

bool ControllerSession::Open(const std::string& portName, std::uint32_t baudRate) {
  // Whatever an earlier connection left half-read is not this line's.
  receiver_.Reset();
  portName_ = portName;
  if (port_.Open(portName, 8, 0, 0, baudRate) != 1) return false;
  baud_ = baudRate;
  lostPort_.clear();
  history_.MarkOpened(std::chrono::steady_clock::now());
  monitor_.OnOpened(clock_->Now());
  RefreshIndicator();
  return true;
}

void ControllerSession::Close() {
  port_.Close();
  executor_.RequestLoopStop();
  // Closed by the operator: nothing to reconnect to.
  lostPort_.clear();
  monitor_.OnClosed();
  RefreshIndicator();
}

void ControllerSession::EmergencyStop() {
  if (!port_.IsOpen()) {
    // After a lost line the stop certainly did not reach the controller.
    services_.boxes.Show(lostPort_.empty() ? ChannelClosedMessage()
                                           : EmergencyStopNotSentMessage(texts_, lostPort_));
    return;
  }
  CommandScope scope(*this, "急停");
  executor_.SendShort(command::kEmergencyStop);
}

void ControllerSession::QueryVersion() {
  view_.ShowControllerVersion(VersionQueryTexts(texts_));
  CommandScope scope(*this, "版本");
  executor_.SendShort(command::kVersion);
}

void ControllerSession::SetLineTap(LineTap* tap) {
  link_->SetTap(tap);
  receiver_.SetTap(tap);
  if (tap && port_.IsOpen()) tap->OnLineOpened(link_->OpenedAt());
}

void ControllerSession::RegisterReplyHandler(ControllerFrameKind kind, ReplyHandler handler) {
  replyHandlers_[static_cast<std::size_t>(kind)] = std::move(handler);
}

StatusObserverId ControllerSession::AddStatusObserver(StatusObserver observer) {
  statusObservers_.emplace_back(++lastObserverId_, std::move(observer));
  return lastObserverId_;
}

void ControllerSession::RemoveStatusObserver(StatusObserverId id) {
  for (auto& entry : statusObservers_) {
    if (entry.first == id) entry.second = nullptr;
  }
  if (!dispatchingObservers_) std::erase_if(statusObservers_, [](const auto& entry) { return !entry.second; });
}

void ControllerSession::OnScanBegin() { scanStatusLine_ = {}; }

void ControllerSession::OnFrame(std::uint8_t frameType, const std::uint8_t* frame, std::size_t length) {
  scanStatusLine_ = {StatusLineState::Kind::Frame, frameType, GetInt16LE(frame + length - 2)};
  if (monitor_.OnFrame(frameType, scanStatusLine_.numth, notifiedAt_) == AckState::Refused &&
      frameType == command::kEmergencyStop) {
    estopAlarm_ = EStopAlarm::Refused;
  }
  SetStatusLine(scanStatusLine_);
  const ControllerFrameKind kind = ControllerFrameKindOf(frameType);
  if (kind == ControllerFrameKind::Status) {
    DecodeStatusFrame(frame, status_, upgradeReplies_, *this);
    const auto now = std::chrono::steady_clock::now();
    history_.Add(status_, now);
    if (!statusObservers_.empty()) {
      // By index and to the size at the start: an observer may add or remove
      // observers while it is called; removed ones are only emptied here.
      dispatchingObservers_ = true;
      const std::size_t count = statusObservers_.size();
      for (std::size_t i = 0; i < count; ++i) {
        if (statusObservers_[i].second) statusObservers_[i].second(status_, now);
      }
      dispatchingObservers_ = false;
      std::erase_if(statusObservers_, [](const auto& entry) { return !entry.second; });
    }
  } else if (const ReplyHandler& handler = replyHandlers_[static_cast<std::size_t>(kind)]) {
    handler(frame, length);
  }  // without a registered receiver the frame ends at the status line
  if (frameObserver_) frameObserver_(frame, length);
}

bool ControllerSession::OnBadFrame(std::uint8_t frameType, const std::uint8_t*, std::size_t) {
  if (ControllerFrameKindOf(frameType) != ControllerFrameKind::ParamRecord) return false;
  // A parameter record that does not add up means the controller's firmware
  // speaks another record layout. With Ctrl down it stays at the tail.
  scanStatusLine_ = {StatusLineState::Kind::VersionMismatch};
  SetStatusLine(scanStatusLine_);
  return services_.keys.IsCtrlHeld();
}

void ControllerSession::OnFrameIncomplete() {
  // The line falls back to the last text of this scan, empty when there was none.
  SetStatusLine(scanStatusLine_);
}

void ControllerSession::PauseAfterFrame() { services_.pump.SleepMilliseconds(1); }

void ControllerSession::SetStatusLine(const StatusLineState& state) {
  statusLine_ = state;
  statusLineChanged_ = true;
  MarkChanged();
}

std::string ControllerSession::StatusLineText(const StatusLineState& state) const {
  switch (state.kind) {
    case StatusLineState::Kind::Empty: return {};
    case StatusLineState::Kind::Frame: return FrameStatusText(texts_, state.frameType, state.numth);
    case StatusLineState::Kind::VersionMismatch: return texts_.Lookup(kVersionMismatchText);
  }
  return {};
}

void ControllerSession::ShowControllerVersion(bool fromUpgradeProgram, double version) {
  view_.ShowControllerVersion(VersionAnswerTexts(texts_, fromUpgradeProgram, version));
}

void ControllerSession::ShowLiveFrame(const ControllerStatus& status) {
  const std::uint8_t type = status.FrameType;
  if (pendingType_[type]) {
    // Already waiting: it moves to the end, so its cells win over the others'.
    auto* const first = pendingOrder_.data();
    auto* const last = first + pendingCount_;
    std::rotate(std::find(first, last, type), std::find(first, last, type) + 1, last);
  } else {
    pendingType_[type] = true;
    pendingOrder_[pendingCount_++] = type;
  }
  pendingLive_[type] = status;
  MarkChanged();
}

void ControllerSession::MarkChanged() {
  if (presentRequested_) return;
  presentRequested_ = true;
  view_.RequestPresent();
}

void ControllerSession::Present() {
  presentRequested_ = false;
  if (indicatorStale_) {
    indicatorStale_ = false;
    RefreshIndicator();
  }
  if (statusLineChanged_) {
    statusLineChanged_ = false;
    view_.ShowStatusLine(StatusLineText(statusLine_));
  }
  if (pendingCount_ == 0) return;
  // The cells of every type seen since the last present, the latest last.
  for (ReadoutChange& change : presentUpdate_) change = {};
  for (std::size_t i = 0; i < pendingCount_; ++i) {
    const std::uint8_t type = pendingOrder_[i];
    pendingType_[type] = false;
    PresentLiveFrame(pendingLive_[type], texts_, frameUpdate_);
    for (std::size_t cell = 0; cell < kReadoutCount; ++cell) {
      if (frameUpdate_[cell].caption) presentUpdate_[cell].caption = frameUpdate_[cell].caption;
      if (frameUpdate_[cell].text) presentUpdate_[cell].text = frameUpdate_[cell].text;
    }
  }
  pendingCount_ = 0;
  view_.ShowReadouts(presentUpdate_);
}

MessageAnswer ControllerSession::ShowMessage(const MessageRequest& request) {
  return services_.boxes.Show(request);
}

void ControllerSession::CloseChannelFromConsole() {
  Close();
  view_.OnChannelClosed();
}

void ControllerSession::StartExternalProgram(const std::string& path) { view_.StartExternalProgram(path); }

std::string ControllerSession::CurrentDirectory() const { return view_.CurrentDirectory(); }

void ControllerSession::ShowChannelMapWindow() { view_.ShowChannelMapWindow(); }

void ControllerSession::ProcessPendingEvents() { services_.pump.ProcessPendingEvents(); }

void ControllerSession::SleepMilliseconds(int milliseconds) { services_.pump.SleepMilliseconds(milliseconds); }

bool ControllerSession::IsCtrlHeld() const { return services_.keys.IsCtrlHeld(); }

}  // namespace rolta
