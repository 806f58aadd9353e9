#include "session/controller_session.h"

#include <algorithm>

#include "env/field_log.h"
#include "env/number_text.h"
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
      executor_(port_, texts, static_cast<ConsoleHost&>(*this)),
      calib_(port_, services_.pump, executor_.Frames().profile),
      channelMap_(port_),
      upgrade_(port_, upgradeReplies_, texts),
      presenter_(texts, view),
      safety_(texts, view, services_.boxes, port_, static_cast<SafetyLine&>(*this)) {
  link_->SetWriteObserver([this](const std::uint8_t* bytes, std::size_t length, std::size_t written, bool wasOpen) {
    safety_.OnWrite(bytes, length, written, wasOpen);
  });
  ConnectServiceEvents();
}

void ControllerSession::AddServiceEvents(ServiceEvents* events) {
  if (events != nullptr && std::find(serviceEvents_.begin(), serviceEvents_.end(), events) == serviceEvents_.end()) {
    serviceEvents_.push_back(events);
  }
}

void ControllerSession::RemoveServiceEvents(ServiceEvents* events) {
  serviceEvents_.erase(std::remove(serviceEvents_.begin(), serviceEvents_.end(), events), serviceEvents_.end());
}

void ControllerSession::ConnectServiceEvents() {
  Params().SetWriteObserver([this](const std::optional<ParamsPayload>& before, const ParamsPayload& written) {
    for (ServiceEvents* events : serviceEvents_) events->OnParamsWritten(before, written);
  });
  channelMap_.SetStoreObserver([this](const std::optional<rolta::ChannelMap>& before, const rolta::ChannelMap& stored) {
    for (ServiceEvents* events : serviceEvents_) events->OnChannelMapStored(before, stored);
  });
  calib_.SetStoreObserver(
      [this](CalibChannel channel, const std::optional<CalibTable>& before, const CalibTable& stored) {
        for (ServiceEvents* events : serviceEvents_) events->OnCalibTableStored(channel, before, stored);
      });
  upgrade_.SetResultObserver([this](const std::string& file, int result) {
    for (ServiceEvents* events : serviceEvents_) events->OnFirmwareUpgraded(file, result);
  });
}

ControllerSession::~ControllerSession() {
  // The monitor thread must be gone before anything it could post to.
  port_.Close();
}

bool ControllerSession::Open(const std::string& portName, std::uint32_t baudRate) {
  if (!OpenLine(portName, baudRate)) {
    LogFieldEvent(FieldEvent::PortOpenFailed, portName + ": " + port_.LastOpenError().message());
    return false;
  }
  LogFieldEvent(FieldEvent::PortOpened, FormatText("%s at %u baud", portName.c_str(), static_cast<unsigned>(baudRate)));
  for (ServiceEvents* events : serviceEvents_) events->OnConnected(portName, controllerVersion_);
  return true;
}

bool ControllerSession::OpenLine(const std::string& portName, std::uint32_t baudRate) {
  // Whatever an earlier connection left half-read is not this line's.
  receiver_.Reset();
  portName_ = portName;
  if (port_.Open(portName, kEightDataBits, kOneStopBitCode, kNoParityCode, baudRate) != 1) return false;
  history_.MarkOpened(std::chrono::steady_clock::now());
  safety_.OnOpened(portName, baudRate);
  return true;
}

void ControllerSession::Close() {
  const bool wasOpen = port_.IsOpen();
  port_.Close();
  executor_.RequestLoopStop();
  safety_.OnClosedByOperator();
  if (wasOpen) LogFieldEvent(FieldEvent::PortClosed, portName_);
}

void ControllerSession::CloseLostLine() {
  port_.Close();  // the monitor thread has ended itself; this joins it and frees the device
  executor_.RequestLoopStop();
}

bool ControllerSession::ReopenLine(const std::string& port, std::uint32_t baudRate) { return OpenLine(port, baudRate); }

void ControllerSession::OnCommNotify(std::uint32_t events) {
  safety_.OnNotified();
  receiver_.OnCommNotify(events);
  safety_.OnReceived(receiver_.Counters());
  // The flag, not the event bit, decides: a read can find the device gone
  // before the monitor's notice arrives, and a notice still queued from a
  // line that is gone must not close the next one.
  if (port_.LineLost()) {
    safety_.OnLineLost();
  } else {
    safety_.MarkIndicatorStale();
    presenter_.RequestPresent();
  }
  safety_.ShowAlarms();
}

void ControllerSession::Tick() {
  const MonoTime now = safety_.Now();
  // A status frame held for the bytes that confirm its end goes on once the
  // line has stayed quiet: a frame cut across lost bytes is followed at once.
  if (port_.IsOpen()) receiver_.ReleaseHeldFrame(LineClock::now());
  safety_.Tick(now);
}

void ControllerSession::Execute(int position, const CommandInputs& inputs) {
  const CatalogueRow* row = CatalogueRowAt(position);
  LinkSafety::CommandScope scope(safety_, row != nullptr ? row->caption : std::string_view{});
  executor_.OnExecute(position, inputs);
}

std::optional<CommandInput> ControllerSession::ExecuteChecked(int position, const CommandInputs& inputs) {
  // A closed channel is reported before anything else, as without the checks.
  if (port_.IsOpen()) {
    if (auto refused = ApproveInputs(position, inputs, safety_.Settings(), texts_, services_.boxes)) return refused;
  }
  Execute(position, inputs);
  return std::nullopt;
}

void ControllerSession::EmergencyStop() {
  if (!port_.IsOpen()) {
    // After a lost line the stop certainly did not reach the controller.
    const std::string& lostPort = safety_.LostPort();
    services_.boxes.Show(lostPort.empty() ? ChannelClosedMessage() : EmergencyStopNotSentMessage(texts_, lostPort));
    return;
  }
  LinkSafety::CommandScope scope(safety_, "急停");
  executor_.SendShort(command::kEmergencyStop);
}

void ControllerSession::QueryVersion() {
  view_.ShowControllerVersion(VersionQueryTexts(texts_));
  LinkSafety::CommandScope scope(safety_, "版本");
  executor_.SendShort(command::kVersion);
}

void ControllerSession::SetLineTap(LineTap* tap) {
  link_->SetTap(tap);
  receiver_.SetTap(tap);
  if (tap && port_.IsOpen()) tap->OnLineOpened(link_->OpenedAt());
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

void ControllerSession::OnScanBegin() { presenter_.OnScanBegin(); }

void ControllerSession::OnFrame(std::uint8_t frameType, const std::uint8_t* frame, std::size_t length) {
  const std::int16_t numth = GetInt16LE(frame + length - 2);
  safety_.OnFrame(frameType, numth);
  presenter_.OnFrame(frameType, numth);
  const ControllerFrameKind kind = ControllerFrameKindOf(frameType);
  if (kind == ControllerFrameKind::Status) {
    DecodeStatusFrame(frame, status_, *this);
    const auto now = std::chrono::steady_clock::now();
    history_.Add(status_, now);
    NotifyStatusObservers(now);
  } else {
    RouteReply(kind, frame, length);
  }
  if (frameObserver_) frameObserver_(frame, length);
}

void ControllerSession::RouteReply(ControllerFrameKind kind, const std::uint8_t* frame, std::size_t length) {
  switch (kind) {
    case ControllerFrameKind::ParamRecord: executor_.Params().OnParamsFrame(frame, length); return;
    case ControllerFrameKind::CalibTable: calib_.OnCalibFrame(frame, length); return;
    case ControllerFrameKind::ChannelMap: channelMap_.OnChannelMapReply(frame, length); return;
    case ControllerFrameKind::Status: return;
  }
}

void ControllerSession::NotifyStatusObservers(std::chrono::steady_clock::time_point now) {
  if (statusObservers_.empty()) return;
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

bool ControllerSession::OnBadFrame(std::uint8_t frameType, const std::uint8_t*, std::size_t) {
  if (ControllerFrameKindOf(frameType) != ControllerFrameKind::ParamRecord) return false;
  // A parameter record that does not add up means the controller's firmware
  // speaks another record layout. With Ctrl down it stays at the tail.
  presenter_.OnVersionMismatch();
  return services_.keys.IsCtrlHeld();
}

void ControllerSession::OnFrameIncomplete() { presenter_.OnFrameIncomplete(); }

void ControllerSession::PauseAfterFrame() {
  if (pauseAfterEachFrame_) services_.pump.SleepMilliseconds(1);
}

void ControllerSession::ShowControllerVersion(bool fromUpgradeProgram, double version) {
  controllerVersion_ = FormatText("%.2f", version);
  for (ServiceEvents* events : serviceEvents_) events->OnControllerVersion(portName_, controllerVersion_);
  view_.ShowControllerVersion(VersionAnswerTexts(texts_, fromUpgradeProgram, version));
}

void ControllerSession::ShowLiveFrame(const ControllerStatus& status) { presenter_.OnLiveFrame(status); }

void ControllerSession::OnCommandAnswer(const ControllerStatus& status) { upgradeReplies_.OnCommandAnswer(status); }

void ControllerSession::Present() {
  safety_.RefreshStaleIndicator();
  presenter_.Present();
}

MessageAnswer ControllerSession::ShowMessage(const MessageRequest& request) { return services_.boxes.Show(request); }

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
