// Reads arbitrary text as a recording file, as the trend window's replay
// does, and checks the result: rows within the limit, each with every
// column, an error naming a line that exists, and a file written back from
// what was read reads back to the same rows and writes the same text again.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include "recording/recording.h"
#include "env/text_lookup.h"
#include "fuzz_support.h"

namespace {

using rolta::fuzz::Check;

// Small enough that the fuzzer reaches the limit.
constexpr std::size_t kMaxRows = 40;

std::string Written(const rolta::Recording& recording) {
  std::string text = rolta::RecordHeader();
  for (std::size_t i = 0; i < recording.rows.size(); ++i) {
    rolta::AppendRecordRow(text, recording.wallClock[i], recording.rows[i]);
  }
  return text;
}

rolta::RecordParseResult Parse(const std::string& text) {
  std::istringstream in(text);
  return rolta::ParseRecording(in, kMaxRows);
}

bool SameValue(double a, double b) { return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const rolta::RecordParseResult first = Parse(text);
  const rolta::Recording& read = first.recording;
  const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;

  Check(read.rows.size() <= kMaxRows, "no more rows than the limit");
  Check(read.wallClock.size() == read.rows.size(), "a wall clock per row");
  Check(read.rows.size() < lines, "rows come after the header line");
  for (std::size_t i = 0; i < read.rows.size(); ++i) {
    Check(read.rows[i].values.size() == rolta::RecordColumns().size(), "every row has every column");
    Check(std::isfinite(read.rows[i].msSinceStart), "the time since the start is a number");
    Check(!read.wallClock[i].empty() && read.wallClock[i].find_first_of(",\n") == std::string::npos,
          "a wall clock is one cell");
  }
  if (first.error) {
    Check(first.error->line >= 1 && first.error->line <= lines, "the error names a line of the file");
    Check(!first.cutOffTail, "a cut-off tail is no error");
    Check(!rolta::RecordParseErrorText(rolta::IdentityLookup(), "f.csv", *first.error).empty(), "an error has a text");
    if (first.error->line == 1) Check(read.rows.empty(), "no rows without a header");
    return 0;
  }

  // What was read, written and read again: t_ms keeps three decimals, every
  // other cell its exact value.
  const std::string once = Written(read);
  const rolta::RecordParseResult second = Parse(once);
  Check(!second.error && !second.cutOffTail, "a written recording reads back whole");
  Check(second.recording.rows.size() == read.rows.size() && second.recording.wallClock == read.wallClock,
        "rows and wall clocks come back");
  for (std::size_t i = 0; i < read.rows.size(); ++i) {
    const rolta::RecordRow& a = read.rows[i];
    const rolta::RecordRow& b = second.recording.rows[i];
    Check(a.frameType == b.frameType, "the frame type comes back");
    Check(std::fabs(a.msSinceStart - b.msSinceStart) <= 0.0005 * (1 + 1e-9) + std::fabs(a.msSinceStart) * 1e-15,
          "t_ms comes back to three decimals");
    for (std::size_t c = 0; c < a.values.size(); ++c) {
      Check(SameValue(a.values[c], b.values[c]), "every value comes back exactly");
    }
  }
  Check(Written(second.recording) == once, "writing what was read back gives the same text");
  return 0;
}
