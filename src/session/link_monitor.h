// What the operator needs to know about the line beyond the status line: is
// anything arriving, does it pass its checksum, has the device gone, and did
// the controller answer the last command. Fed by the session with every
// frame sent and received; time comes from an injected clock so the rules
// are testable without waiting.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "env/text_lookup.h"

namespace rolta {

using MonoTime = std::chrono::steady_clock::time_point;

class MonotonicClock {
 public:
  virtual ~MonotonicClock() = default;
  virtual MonoTime Now() const = 0;
};

class SteadyClock final : public MonotonicClock {
 public:
  MonoTime Now() const override { return std::chrono::steady_clock::now(); }
};

// The same clock read at the scheduler tick's resolution (a few ms), for a
// fraction of the cost: the link state and the answers are shown in ms, and
// the receive path reads the clock once per notification.
class CoarseSteadyClock final : public MonotonicClock {
 public:
  MonoTime Now() const override;
};

enum class LinkState : std::uint8_t {
  Closed,      // no channel
  OpenNoData,  // open, nothing received since
  Receiving,   // good frames within the silence limit
  Silent,      // frames came before, none for more than the silence limit
  Garbled,     // bytes arrive but no frame passes its checksum
  Lost,        // the device hung up
};

enum class AckState : std::uint8_t { None, Waiting, Answered, Refused, NoAnswer };

struct LinkReport {
  LinkState state = LinkState::Closed;
  int framesPerSecond = 0;           // Receiving
  int silentSeconds = 0;             // Silent
  std::uint64_t rejectedFrames = 0;  // Garbled: frames that failed their checksum meanwhile
  std::string port;                  // Lost: the port that went away
  bool reconnecting = false;         // Lost: automatic reconnection is on
  // The last command sent and what became of it.
  AckState ack = AckState::None;
  std::string_view command;  // its caption, untranslated
  int answerMs = 0;          // Answered
  // Readouts show values that are no longer live.
  bool readoutsStale = false;

  bool operator==(const LinkReport&) const = default;
};

enum class LinkSeverity : std::uint8_t { Normal, Warning, Alarm };

// The indicator beside the status line, as the window shows it.
struct LinkIndicator {
  std::string text;
  LinkSeverity severity = LinkSeverity::Normal;
  bool readoutsStale = false;
  bool operator==(const LinkIndicator&) const = default;
};
LinkIndicator LinkIndicatorFor(const TextLookup& lookup, const LinkReport& report);

class LinkMonitor {
 public:
  static constexpr std::chrono::milliseconds kSilenceLimit{2000};
  static constexpr std::chrono::milliseconds kAnswerLimit{1000};

  void OnOpened(MonoTime now);
  void OnClosed();
  void OnLineLost(std::string port, bool reconnecting);
  void SetReconnecting(bool reconnecting) { reconnecting_ = reconnecting; }

  // Bytes taken from the channel and frames that failed their checksum.
  void OnReceived(std::uint64_t bytes, std::uint64_t rejectedFrames, MonoTime now);
  // A frame with a good checksum. Returns what it did to the pending command
  // (Answered or Refused), None when it was not its answer.
  AckState OnFrame(std::uint8_t frameType, std::int16_t numth, MonoTime now);

  // A command frame went out; it replaces the one waited for before.
  void OnCommandSent(std::uint8_t code, std::string_view caption, MonoTime now);
  // Advances the clock-driven rules. Returns true when the pending command
  // has just gone unanswered for the answer limit.
  bool Tick(MonoTime now);

  LinkReport Report(MonoTime now) const;
  std::uint8_t PendingCode() const { return pendingCode_; }
  AckState Ack() const { return ack_; }
  // Commands sent since the start: tells a command from the same one sent again.
  std::uint64_t CommandsSent() const { return commandsSent_; }

 private:
  LinkState base_ = LinkState::Closed;  // Closed, Lost or open
  std::string lostPort_;
  bool reconnecting_ = false;
  bool everReceived_ = false;  // since program start: the readouts hold old values

  bool anyBytes_ = false;
  bool anyGoodFrame_ = false;
  MonoTime openedAt_{};
  MonoTime lastByte_{};
  MonoTime lastGoodFrame_{};
  std::uint64_t rejectedSinceGood_ = 0;

  // Frame rate over windows of about a second.
  MonoTime rateWindowStart_{};
  int rateCount_ = 0;
  int framesPerSecond_ = 0;

  std::uint8_t pendingCode_ = 0;
  std::string_view pendingCaption_;
  MonoTime sentAt_{};
  AckState ack_ = AckState::None;
  int answerMs_ = 0;
  std::uint64_t commandsSent_ = 0;
};

}  // namespace rolta
