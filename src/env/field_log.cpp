#include "env/field_log.h"

#include <atomic>

namespace rolta {
namespace {

std::atomic<FieldLogSink*> currentSink{nullptr};

}  // namespace

std::string_view FieldEventName(FieldEvent event) {
  switch (event) {
    case FieldEvent::PortOpened: return "port-opened";
    case FieldEvent::PortOpenFailed: return "port-open-failed";
    case FieldEvent::PortClosed: return "port-closed";
    case FieldEvent::LineLost: return "line-lost";
    case FieldEvent::Reconnected: return "reconnected";
    case FieldEvent::CommandUnanswered: return "command-unanswered";
    case FieldEvent::CommandRefused: return "command-refused";
    case FieldEvent::WriteFailed: return "write-failed";
    case FieldEvent::EmergencyStopAlarm: return "estop-alarm";
    case FieldEvent::UpgradeStarted: return "upgrade-started";
    case FieldEvent::UpgradeEnded: return "upgrade-ended";
    case FieldEvent::ProgramStarted: return "program-started";
    case FieldEvent::ProgramEnded: return "program-ended";
  }
  return "event";
}

void SetFieldLogSink(FieldLogSink* sink) { currentSink.store(sink, std::memory_order_release); }

void LogFieldEvent(FieldEvent event, std::string_view detail) {
  if (FieldLogSink* sink = currentSink.load(std::memory_order_acquire)) sink->Write(event, detail);
}

}  // namespace rolta
