// The link's events and field faults, for support: where a program sends
// them is its own choice (the console and rolta-cli write a rotated file).
// Without a sink an event costs one pointer test.
#pragma once

#include <string_view>

namespace rolta {

enum class FieldEvent {
  PortOpened,
  PortOpenFailed,
  PortClosed,
  LineLost,
  Reconnected,
  CommandUnanswered,
  CommandRefused,
  WriteFailed,
  EmergencyStopAlarm,
  UpgradeStarted,
  UpgradeEnded,
  ProgramStarted,
  ProgramEnded,
};

// A short English name for the log line, e.g. "line-lost".
std::string_view FieldEventName(FieldEvent event);

class FieldLogSink {
 public:
  virtual ~FieldLogSink() = default;
  virtual void Write(FieldEvent event, std::string_view detail) = 0;
};

// The program's own sink (its log file); nullptr drops it. Set it before the
// session starts and clear it after the session ends.
void SetFieldLogSink(FieldLogSink* sink);
// A few more sinks see the same events (the test line); the same rules.
// False when every place is taken.
bool AddFieldLogSink(FieldLogSink* sink);
void RemoveFieldLogSink(FieldLogSink* sink);
void LogFieldEvent(FieldEvent event, std::string_view detail);

}  // namespace rolta
