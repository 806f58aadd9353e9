// What the line view knows of every bench, built from the messages it
// receives: state, running command, speed, force, last event and the age of
// the newest message. Malformed or foreign messages are counted and ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "env/text_lookup.h"

namespace rolta {

struct BenchRow {
  std::string bench;
  bool online = false;
  std::string link;
  std::string port;
  std::string version;
  std::string command;
  bool recording = false;
  std::optional<double> speed;
  std::string speedUnit;
  std::optional<double> force;
  std::string forceUnit;
  std::string lastEvent;
  std::int64_t lastMessageMs = 0;  // the receiver's wall clock
};

// Delays of live messages from their stamp to their arrival, for the load figures.
struct DelayFigures {
  std::size_t count = 0;
  double medianMs = 0;
  double p99Ms = 0;
};

class LineTable {
 public:
  static constexpr std::size_t kMaxBenches = 1000;
  static constexpr std::size_t kMaxDelaySamples = 1'000'000;

  explicit LineTable(std::string prefix) : prefix_(std::move(prefix)) {}

  // One message as received at `nowMs`; false when it is not one of ours.
  bool Apply(std::string_view topic, std::string_view payload, std::int64_t nowMs);

  // Sorted by bench name.
  std::vector<BenchRow> Rows() const;
  std::size_t Ignored() const { return ignored_; }
  DelayFigures Delays() const;

 private:
  std::string prefix_;
  std::map<std::string, BenchRow, std::less<>> benches_;
  std::size_t ignored_ = 0;
  std::vector<double> delays_;
};

// The columns' captions, untranslated, in order.
std::vector<std::string_view> LineTableCaptions();
// One row's cells as the table shows them, in the captions' order.
std::vector<std::string> LineTableCells(const BenchRow& row, std::int64_t nowMs, const TextLookup& texts);
// The table as aligned text for a terminal.
std::string LineTableText(const std::vector<BenchRow>& rows, std::int64_t nowMs, const TextLookup& texts);
// The table as one JSON array (one object per bench), for scripts.
std::string LineTableJson(const std::vector<BenchRow>& rows, std::int64_t nowMs);

}  // namespace rolta
