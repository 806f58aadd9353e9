#include "env/field_log.h"

#include <array>
#include <atomic>

namespace rolta {
namespace {

// The program's sink first, then the added ones; empty places are nullptr.
constexpr std::size_t kSinkPlaces = 4;
std::array<std::atomic<FieldLogSink*>, kSinkPlaces> sinks{};

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

void SetFieldLogSink(FieldLogSink* sink) { sinks[0].store(sink, std::memory_order_release); }

bool AddFieldLogSink(FieldLogSink* sink) {
  for (std::size_t i = 1; i < kSinkPlaces; ++i) {
    FieldLogSink* empty = nullptr;
    if (sinks[i].compare_exchange_strong(empty, sink, std::memory_order_acq_rel)) return true;
  }
  return false;
}

void RemoveFieldLogSink(FieldLogSink* sink) {
  for (std::size_t i = 1; i < kSinkPlaces; ++i) {
    FieldLogSink* expected = sink;
    sinks[i].compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
  }
}

void LogFieldEvent(FieldEvent event, std::string_view detail) {
  for (const std::atomic<FieldLogSink*>& place : sinks) {
    if (FieldLogSink* sink = place.load(std::memory_order_acquire)) sink->Write(event, detail);
  }
}

}  // namespace rolta
