// The recording file: one CSV row per decoded status frame, its columns and
// units from one table, written and read back here. The named columns take
// the numbers behind the readouts (LiveFrameValues), so a file holds what the
// console showed; the raw Value1..Value4 and Numth are kept beside them.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <istream>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "readouts/quantities.h"
#include "env/text_lookup.h"
#include "link/status_frames.h"

namespace rolta {

// The columns of every row after the fixed ones (time, ms, type), in file
// order: numth, v1..v4, then one per quantity the readouts show. They are the
// quantity table (console/quantities.h): name, unit and trend caption.
using RecordColumn = Quantity;
std::span<const RecordColumn> RecordColumns();
inline constexpr std::size_t kRecordFixedColumns = 3;  // time, t_ms, type
// Index into RecordColumns() of a named column, or -1.
int RecordColumnIndex(std::string_view name);
// The column a readout's value goes to, by its caption and readout position; -1
// for captions that name no value ("--").
int RecordColumnOfCaption(std::string_view caption, std::size_t readout);

// The values one frame puts into the columns; NaN marks an empty cell.
struct RecordRow {
  double msSinceStart = 0;
  std::uint8_t frameType = 0;
  std::vector<double> values;  // RecordColumns().size() entries
};
RecordRow MakeRecordRow(const ControllerStatus& status, double msSinceStart);
void FillRecordRow(const ControllerStatus& status, double msSinceStart, RecordRow& row);

// "time,t_ms,type,numth,v1,...,speed [km/h],..." and CR LF: the units the
// file is written with stand in its header.
std::string RecordHeader(BenchUnits units = CurrentBenchUnits());
// One row, CR LF at the end. wallClock is "YYYY-MM-DDTHH:MM:SS.mmm+hh:mm".
void AppendRecordRow(std::string& out, std::string_view wallClock, const RecordRow& row);

// ISO 8601 local time with milliseconds and the zone offset.
std::string IsoLocalTime(std::chrono::system_clock::time_point at);
// The default file name: YYYYMMDD-HHMMSS.csv of the local time.
std::string DefaultRecordFileName(std::chrono::system_clock::time_point at);

// ~/rolta-records: where recordings go unless the operator chooses another file.
std::filesystem::path DefaultRecordFolder();

// A recording read back.
struct Recording {
  std::vector<std::string> wallClock;
  std::vector<RecordRow> rows;
  BenchUnits units;  // as its header states them
};
struct RecordParseError {
  std::size_t line = 0;  // 1-based
  std::string reason;    // untranslated key of RecordParseReason
  bool operator==(const RecordParseError&) const = default;
};
struct RecordParseResult {
  Recording recording;
  std::optional<RecordParseError> error;
  // The last line had no line end and did not read: a recording cut off by a
  // crash or a full disk. It is left out; the rows before it stand.
  bool cutOffTail = false;
};
// Reads a file this console wrote. Stops at the first line that does not fit
// and says which; nothing is guessed. The header's units are read as they
// stand: a bench unit may be any of its choices, and an older spelling of a
// unit is taken for the same unit.
RecordParseResult ParseRecording(std::istream& in, std::size_t maxRows = 20'000'000);

// The text for a file that could not be read: its path, line and reason.
std::string RecordParseErrorText(const TextLookup& texts, const std::string& path, const RecordParseError& error);

}  // namespace rolta
