// The test line's messages, JSON on three topics per bench:
//   <prefix>/<bench>/state  retained: online, port, link state, controller
//                           version, running command, recording (the last
//                           will says offline)
//   <prefix>/<bench>/live   the readouts as numbers with their units
//   <prefix>/<bench>/event  QoS 1: what happened, numbered per run
// Every message carries "t", the publisher's wall clock in ms, so a viewer
// can tell its age and the delay on the way.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "analysis/coast_analysis.h"
#include "link/status_frames.h"
#include "readouts/readouts.h"

namespace rolta {

std::int64_t WallClockMs();

enum class TestLineTopic { State, Live, Event };
std::string TopicOf(std::string_view prefix, std::string_view bench, TestLineTopic topic);

struct BenchState {
  bool online = true;
  std::string port;
  std::string link;  // the link indicator's text, untranslated
  std::string severity = "normal";
  std::string controllerVersion;
  std::string command;  // the caption of the command last sent, untranslated
  bool recording = false;
  bool operator==(const BenchState&) const = default;
};
std::string StateJson(const BenchState& state, std::int64_t unixMs);

// One readout of a live frame: its quantity's column name, value and unit.
struct LiveReading {
  std::string_view name;
  double value = 0;
  std::string_view unit;
};
struct LiveSample {
  std::uint8_t frameType = 0;
  std::array<LiveReading, kReadoutCount> readings{};
  std::size_t count = 0;
};
// The readouts a status frame carries; count 0 for a frame without readouts.
LiveSample LiveSampleOf(const ControllerStatus& status);
std::string LiveJson(const LiveSample& sample, std::int64_t unixMs);

// `detailJson` is a JSON value; any other text is sent as a JSON string.
std::string EventJson(std::string_view kind, std::string_view detailJson, std::int64_t run, std::uint64_t seq,
                      std::int64_t unixMs);
// A coast-down's result: the mass and both fits' road-load coefficients.
std::string CoastDownEventJson(const CoastAnalysis& analysis, double massKg);
// A JSON string holding `text`.
std::string JsonString(std::string_view text);

}  // namespace rolta
