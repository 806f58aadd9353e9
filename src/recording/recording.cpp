#include "recording/recording.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "readouts/readouts.h"
#include "env/number_text.h"

namespace rolta {
namespace {

constexpr double kEmpty = std::numeric_limits<double>::quiet_NaN();

constexpr int kRawColumns = 5;  // numth, v1..v4

constexpr std::string_view kFixedHeader = "time,t_ms,type";

// One header cell as written and as read back: the name, and " [unit]"
// when the column has a unit. Reads the cell's units into `units`; false
// when the cell is not this column's.
bool ReadHeaderCell(std::string_view cell, std::size_t column, BenchUnits& units) {
  const Quantity& q = Quantities()[column];
  if (!cell.starts_with(q.column)) return false;
  std::string_view unit = cell.substr(q.column.size());
  if (!unit.empty()) {
    if (!unit.starts_with(" [") || !unit.ends_with(']') || unit.size() < 4) return false;
    unit = unit.substr(2, unit.size() - 3);
  }
  if (q.bench == BenchQuantity::Distance) {
    const int choice = DistanceUnitIndex(unit);
    if (choice < 0) return false;
    units.distance = static_cast<std::uint8_t>(choice);
    return true;
  }
  return unit == q.unit || (!q.formerUnit.empty() && unit == q.formerUnit);
}

// The header's cells after time, t_ms and type; nullopt when it is not a
// recording's header.
std::optional<BenchUnits> ReadHeader(std::string_view line) {
  if (!line.starts_with(kFixedHeader)) return std::nullopt;
  line.remove_prefix(kFixedHeader.size());
  BenchUnits units;
  for (std::size_t column = 0; column < Quantities().size(); ++column) {
    if (!line.starts_with(',')) return std::nullopt;
    line.remove_prefix(1);
    const std::size_t comma = line.find(',');
    if (!ReadHeaderCell(line.substr(0, comma), column, units)) return std::nullopt;
    line.remove_prefix(comma == std::string_view::npos ? line.size() : comma);
  }
  if (!line.empty()) return std::nullopt;
  return units;
}

// Shortest text that reads back to the same double.
void AppendNumber(std::string& out, double value) {
  if (std::isnan(value)) return;
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (ec == std::errc()) out.append(buffer, end);
}

bool ParseDouble(std::string_view text, double& value) {
  if (text.empty()) {
    value = kEmpty;
    return true;
  }
  // to_chars writes inf and nan for values a controller may send; from_chars reads them back.
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size();
}

}  // namespace

std::span<const RecordColumn> RecordColumns() { return Quantities(); }

int RecordColumnIndex(std::string_view name) { return QuantityIndex(name); }

int RecordColumnOfCaption(std::string_view caption, std::size_t readout) { return QuantityOfCaption(caption, readout); }

void FillRecordRow(const ControllerStatus& status, double msSinceStart, RecordRow& row) {
  row.msSinceStart = msSinceStart;
  row.frameType = status.FrameType;
  row.values.assign(Quantities().size(), kEmpty);
  row.values[0] = status.Numth;
  row.values[1] = status.Value1;
  row.values[2] = status.Value2;
  row.values[3] = status.Value3;
  row.values[4] = status.Value4;
  const ReadoutValues readouts = LiveFrameValues(status);
  for (std::size_t i = 0; i < kReadoutCount; ++i) {
    if (readouts[i].caption.empty()) continue;
    const int column = RecordColumnOfCaption(readouts[i].caption, i);
    if (column >= kRawColumns) row.values[static_cast<std::size_t>(column)] = readouts[i].value;
  }
}

RecordRow MakeRecordRow(const ControllerStatus& status, double msSinceStart) {
  RecordRow row;
  FillRecordRow(status, msSinceStart, row);
  return row;
}

std::string RecordHeader(BenchUnits units) {
  std::string header(kFixedHeader);
  for (std::size_t column = 0; column < Quantities().size(); ++column) {
    header += ',';
    header += NameWithUnit(Quantities()[column].column, UnitOf(column, units));
  }
  header += "\r\n";
  return header;
}

void AppendRecordRow(std::string& out, std::string_view wallClock, const RecordRow& row) {
  out += wallClock;
  out += ',';
  out += FormatFixed(row.msSinceStart, 3);
  out += ',';
  char buffer[8];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, static_cast<unsigned>(row.frameType));
  out.append(buffer, ec == std::errc() ? end : buffer);
  for (const double value : row.values) {
    out += ',';
    AppendNumber(out, value);
  }
  out += "\r\n";
}

std::string IsoLocalTime(std::chrono::system_clock::time_point at) {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(at.time_since_epoch()).count();
  std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  long millis = static_cast<long>(ms % 1000);
  if (millis < 0) {
    millis += 1000;
    --seconds;
  }
  std::tm local{};
  localtime_r(&seconds, &local);
  const long offset = local.tm_gmtoff / 60;
  const long absOffset = offset < 0 ? -offset : offset;
  return FormatText("%04d-%02d-%02dT%02d:%02d:%02d.%03ld%c%02ld:%02ld", local.tm_year + 1900, local.tm_mon + 1,
                    local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, millis, offset < 0 ? '-' : '+',
                    absOffset / 60, absOffset % 60);
}

std::filesystem::path DefaultRecordFolder() {
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : ".") / "rolta-records";
}

std::string DefaultRecordFileName(std::chrono::system_clock::time_point at) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
  std::tm local{};
  localtime_r(&seconds, &local);
  return FormatText("%04d%02d%02d-%02d%02d%02d.csv", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                    local.tm_hour, local.tm_min, local.tm_sec);
}

RecordParseResult ParseRecording(std::istream& in, std::size_t maxRows) {
  RecordParseResult result;
  std::string line;
  std::size_t lineNumber = 0;
  const std::size_t columnCount = Quantities().size();
  const std::size_t cellCount = kRecordFixedColumns + columnCount;
  std::vector<std::string_view> cells;
  cells.reserve(cellCount + 1);
  auto fail = [&](std::string_view reason) {
    result.error = RecordParseError{lineNumber, std::string(reason)};
    return result;
  };

  while (std::getline(in, line)) {
    ++lineNumber;
    const bool complete = !in.eof();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (lineNumber == 1) {
      // A UTF-8 byte order mark, as a spreadsheet may add when it saves.
      std::string_view first(line);
      if (first.starts_with("\xEF\xBB\xBF")) first.remove_prefix(3);
      const std::optional<BenchUnits> units = ReadHeader(first);
      if (!units) return fail("不是ROLTA记录文件");
      result.recording.units = *units;
      continue;
    }
    if (line.empty() && !complete) break;
    cells.clear();
    std::string_view rest(line);
    while (true) {
      const std::size_t comma = rest.find(',');
      cells.push_back(rest.substr(0, comma));
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
      if (cells.size() > cellCount) break;
    }
    RecordRow row;
    bool good = cells.size() == cellCount && !cells[0].empty();
    if (good) {
      unsigned type = 0;
      const auto [ptr, ec] = std::from_chars(cells[2].data(), cells[2].data() + cells[2].size(), type);
      good = ec == std::errc() && ptr == cells[2].data() + cells[2].size() && type <= 255;
      row.frameType = static_cast<std::uint8_t>(type);
      good = good && ParseDouble(cells[1], row.msSinceStart) && std::isfinite(row.msSinceStart);
      row.values.resize(columnCount);
      for (std::size_t i = 0; good && i < columnCount; ++i) {
        good = ParseDouble(cells[kRecordFixedColumns + i], row.values[i]);
      }
    }
    if (!good) {
      if (!complete) {
        result.cutOffTail = true;
        break;
      }
      return fail(cells.size() == cellCount ? "数值无法读取" : "列数不对");
    }
    if (result.recording.rows.size() >= maxRows) return fail("记录文件太大");
    result.recording.wallClock.emplace_back(cells[0]);
    result.recording.rows.push_back(std::move(row));
  }
  if (lineNumber == 0) {
    lineNumber = 1;
    return fail("不是ROLTA记录文件");
  }
  return result;
}

std::string RecordParseErrorText(const TextLookup& texts, const std::string& path, const RecordParseError& error) {
  return FormatText("%s: %s %zu: %s", path.c_str(), texts.Lookup("行").c_str(), error.line,
                    texts.Lookup(error.reason).c_str());
}

}  // namespace rolta
