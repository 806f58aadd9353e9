// One connection to the controller for one rolta-cli command: a
// ControllerSession with a terminal view and host services (no window
// system), whose channel notifications are handled on the calling thread
// while the command waits for an answer.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>

#include "cli/cli_args.h"
#include "cli/cli_runner.h"
#include "env/text_lookup.h"
#include "env/ui_services.h"
#include "session/controller_session.h"

namespace rolta::cli {

// The channel's notifications, posted by its monitor thread and handled on
// the thread that runs the command.
class Notifications {
 public:
  void Post(std::uint32_t events);
  std::deque<std::uint32_t> Take(std::chrono::nanoseconds timeout);

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::uint32_t> queue_;
};

class TerminalView final : public SessionView {
 public:
  void ShowStatusLine(const std::string&) override {}
  void ShowReadouts(const ReadoutUpdate&) override {}
  void ShowControllerVersion(const ControllerVersionTexts& texts) override { version = texts; }
  void RequestPresent() override {}
  void OnChannelClosed() override { channelClosed = true; }
  void StartExternalProgram(const std::string&) override {}
  std::string CurrentDirectory() const override;
  void ShowChannelMapWindow() override {}
  ControllerVersionTexts version;
  // The line was lost (hang-up, device gone); the command ends with a port error.
  bool channelClosed = false;
};

// A box is printed; its question is answered OK, as an operator who runs the
// command has already decided. Once the line is lost the program says so in
// its own words (the console's box speaks of its buttons).
class TerminalBoxes final : public MessageBoxService {
 public:
  TerminalBoxes(std::ostream& err, const TerminalView& view) : err_(err), view_(view) {}
  MessageAnswer Show(const MessageRequest& request) override;

 private:
  std::ostream& err_;
  const TerminalView& view_;
};

class TerminalKeys final : public KeyState {
 public:
  explicit TerminalKeys(const std::atomic<bool>& interrupted) : interrupted_(interrupted) {}
  // Ctrl-C stands for both keys: it ends the repeat-send loop and cancels an upgrade.
  bool IsCtrlHeld() const override { return interrupted_.load(); }
  bool IsEscapeHeld() const override { return interrupted_.load(); }

 private:
  const std::atomic<bool>& interrupted_;
};

class TerminalPump final : public EventPump {
 public:
  explicit TerminalPump(Notifications& notifications) : notifications_(notifications) {}
  void ProcessPendingEvents() override;
  void SleepMilliseconds(int milliseconds) override;
  void Handle(const std::deque<std::uint32_t>& events);
  // A pause during which notifications are handled as they come.
  void ServeUntil(std::chrono::steady_clock::time_point until);
  ControllerSession* session = nullptr;

 private:
  Notifications& notifications_;
};

enum class WaitResult { Done, TimeOut, Interrupted, LineLost };

// One connection to the controller for one command.
class Line {
 public:
  Line(const CliEnvironment& environment, std::ostream& err);
  ~Line();
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  // kExitDone, or the exit code of a port that could not be opened (said on `err`).
  int Open(const CliRequest& request);

  const std::string& PortName() const { return port_; }

  // Handles the channel's notifications until `done` holds or the time is up.
  WaitResult WaitUntil(const std::function<bool()>& done, double seconds);

  ControllerSession& Session() { return session_; }
  TerminalView& View() { return view_; }
  TerminalPump& Pump() { return pump_; }
  const TextLookup& Texts() const { return texts_; }

 private:
  const CliEnvironment& environment_;
  const TextLookup& texts_;
  Notifications notifications_;
  TerminalView view_;
  TerminalBoxes boxes_;
  TerminalKeys keys_;
  TerminalPump pump_;
  ControllerSession session_;
  std::ostream& err_;
  std::string port_;
};

}  // namespace rolta::cli
