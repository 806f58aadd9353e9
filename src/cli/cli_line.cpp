#include "cli/cli_line.h"

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <utility>

#include "cli/cli_command.h"
#include "env/precise_pause.h"
#include "console/console_settings.h"
#include "readouts/console_texts.h"

namespace rolta::cli {

using Clock = std::chrono::steady_clock;

void Notifications::Post(std::uint32_t events) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(events);
  }
  ready_.notify_one();
}

std::deque<std::uint32_t> Notifications::Take(std::chrono::nanoseconds timeout) {
  std::unique_lock lock(mutex_);
  ready_.wait_for(lock, timeout, [this] { return !queue_.empty(); });
  return std::exchange(queue_, {});
}

std::string TerminalView::CurrentDirectory() const { return std::filesystem::current_path().string(); }

MessageAnswer TerminalBoxes::Show(const MessageRequest& request) {
  if (!view_.channelClosed) err_ << request.caption << ": " << request.text << "\n";
  return MessageAnswer::Ok;
}

void TerminalPump::ProcessPendingEvents() { Handle(notifications_.Take(std::chrono::milliseconds(0))); }

void TerminalPump::SleepMilliseconds(int milliseconds) { PauseThread(std::chrono::milliseconds(milliseconds)); }

void TerminalPump::ServeUntil(Clock::time_point until) {
  for (auto left = until - Clock::now(); left.count() > 0; left = until - Clock::now()) {
    Handle(notifications_.Take(left));
  }
}

void TerminalPump::Handle(const std::deque<std::uint32_t>& events) {
  if (session == nullptr) return;
  for (std::uint32_t e : events) session->OnCommNotify(e);
}

Line::Line(const CliEnvironment& environment, std::ostream& err)
    : environment_(environment),
      texts_(environment.texts),
      boxes_(err, view_),
      keys_(environment.interrupted),
      pump_(notifications_),
      session_(texts_, view_, HostServices{boxes_, pump_, keys_}),
      err_(err) {
  pump_.session = &session_;
  // Frames are handled as they come; nothing here paints between them.
  session_.SetPauseAfterEachFrame(false);
  session_.Port().SetNotifyCallback([this](std::uint32_t events) { notifications_.Post(events); });
}

Line::~Line() {
  session_.SetFrameObserver({});
  session_.Close();
}

int Line::Open(const CliRequest& request) {
  std::string port = request.port;
  if (port.empty()) {
    const int index = environment_.settingsPortIndex;
    if (index < 0 || static_cast<std::size_t>(index) >= environment_.ports.size()) {
      err_ << Say(texts_, "No --port given, and the console's settings name no port of the list.") << "\n";
      return kExitUsage;
    }
    port = environment_.ports[static_cast<std::size_t>(index)];
  }
  const std::uint32_t baud = request.baud != 0 ? request.baud : BaudFromSpeedIndex(environment_.settingsSpeedIndex);
  if (!session_.Open(port, baud)) {
    err_ << OpenFailureMessage(texts_, port, session_.OpenError()).text << "\n";
    return kExitPortError;
  }
  port_ = port;
  return kExitDone;
}

WaitResult Line::WaitUntil(const std::function<bool()>& done, double seconds) {
  const auto deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  while (true) {
    pump_.ProcessPendingEvents();
    session_.Tick();  // the session's timer: held frames, unanswered commands
    if (done()) return WaitResult::Done;
    if (view_.channelClosed) return WaitResult::LineLost;
    if (environment_.interrupted.load()) return WaitResult::Interrupted;
    const auto now = Clock::now();
    if (now >= deadline) return WaitResult::TimeOut;
    const auto slice = std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(50));
    pump_.Handle(notifications_.Take(std::chrono::duration_cast<std::chrono::milliseconds>(slice) +
                                     std::chrono::milliseconds(1)));
    if (done()) return WaitResult::Done;
  }
}

}  // namespace rolta::cli
