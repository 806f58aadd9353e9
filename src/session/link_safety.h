// The safety side of a controller session: the line going away and coming
// back (automatic reconnection), frames that do not leave the PC, the
// answers to the operator's commands, the emergency stop's alarm and the
// link indicator. It watches the session's port and tells the session's view;
// closing and reopening the port is left to the session (SafetyLine).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "commands/input_checks.h"
#include "env/text_lookup.h"
#include "env/ui_services.h"
#include "link/frame_sync.h"
#include "link/serial_link.h"
#include "session/link_monitor.h"
#include "session/session_view.h"

namespace rolta {

// What link safety asks of the port's owner.
class SafetyLine {
 public:
  virtual ~SafetyLine() = default;
  // The device hung up: close the port and end a running repeat-send loop.
  virtual void CloseLostLine() = 0;
  // The automatic reconnection: open this port again; true when it is open.
  virtual bool ReopenLine(const std::string& port, std::uint32_t baudRate) = 0;
};

class LinkSafety {
 public:
  LinkSafety(const TextLookup& texts, SessionView& view, MessageBoxService& boxes, const SerialLink& port,
             SafetyLine& line);
  LinkSafety(const LinkSafety&) = delete;
  LinkSafety& operator=(const LinkSafety&) = delete;

  void SetClock(const MonotonicClock& clock) { clock_ = &clock; }
  MonoTime Now() const { return clock_->Now(); }

  // The port opened (by the operator or the reconnection), or the operator closed it.
  void OnOpened(const std::string& port, std::uint32_t baudRate);
  void OnClosedByOperator();
  // The device hung up: the port is closed, the view told, the readouts
  // marked stale; without the reconnection a box says so.
  void OnLineLost();

  // One notification of the port: its frames share one clock reading.
  void OnNotified() { notifiedAt_ = Now(); }
  // Bytes and rejected frames the receive path counted so far.
  void OnReceived(const ReceiveCounters& counters);
  // A frame with a good checksum: it may answer the command waited for.
  void OnFrame(std::uint8_t frameType, std::int16_t numth);
  // A frame the session's port was asked to write; see TappedLink.
  void OnWrite(const std::uint8_t* bytes, std::size_t length, std::size_t written, bool wasOpen);

  // Frames written inside it are operator commands whose answers are awaited.
  class CommandScope {
   public:
    CommandScope(LinkSafety& safety, std::string_view caption) : safety_(safety), saved_(safety.commandCaption_) {
      ++safety_.commandDepth_;
      safety_.commandCaption_ = caption;
    }
    ~CommandScope() {
      --safety_.commandDepth_;
      safety_.commandCaption_ = saved_;
    }
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;

   private:
    LinkSafety& safety_;
    std::string_view saved_;
  };

  // The clock-driven rules at `now`: unanswered commands, the reconnection.
  void Tick(MonoTime now);
  // The indicator is composed at the screen's pace: marked stale by every
  // notification, refreshed at the next present.
  void MarkIndicatorStale() { indicatorStale_ = true; }
  void RefreshStaleIndicator();
  // The emergency stop's alarm box, once, when one is due.
  void ShowAlarms();

  const LinkMonitor& Monitor() const { return monitor_; }
  const LinkIndicator& Indicator() const { return indicator_; }
  const SafetySettings& Settings() const { return settings_; }
  void SetSettings(const SafetySettings& settings);
  // The port that hung up while the automatic reconnection waits for it;
  // empty when the channel is open or was closed by the operator.
  const std::string& LostPort() const { return lostPort_; }

 private:
  void TryReconnect(MonoTime now);
  void RefreshIndicator();
  MessageAnswer ShowBox(const MessageRequest& request);
  std::string CommandCaption(std::uint8_t code) const;

  const TextLookup& texts_;
  SessionView& view_;
  MessageBoxService& boxes_;
  const SerialLink& port_;
  SafetyLine& line_;
  CoarseSteadyClock steadyClock_;
  const MonotonicClock* clock_ = &steadyClock_;
  LinkMonitor monitor_;
  LinkIndicator indicator_;
  bool indicatorShown_ = false;
  bool indicatorStale_ = false;
  // When the notification being handled came: one clock read for all its frames.
  MonoTime notifiedAt_{};
  SafetySettings settings_;
  std::string portName_;
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
