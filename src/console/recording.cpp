#include "console/recording.h"

#include <charconv>
#include <cmath>
#include <ctime>
#include <limits>

#include "console/readouts.h"
#include "env/number_text.h"

namespace rolta {
namespace {

constexpr double kEmpty = std::numeric_limits<double>::quiet_NaN();

// The file's columns after time, t_ms and type. Names and units are part of
// the file format: append, never rename or reorder.
constexpr RecordColumn kColumns[] = {
    {"numth", "", "Numth"},
    {"v1", "", "V1"},
    {"v2", "", "V2"},
    {"v3", "", "V3"},
    {"v4", "", "V4"},
    {"speed", "km/h", "速度"},
    {"force", "daN", "力"},
    {"power", "kW", "负荷"},
    {"coast_time", "s", "滑行时间"},
    {"roller_rpm", "r/min", "转速"},
    {"engine_rpm", "r/min", "引擎转数"},
    {"param", "", "参数"},
    {"distance", "m", "里程"},
    {"voltage", "V", "电压"},
    {"fuel", "", "油耗"},
    {"rpm_per_fuel", "", "转速/油耗"},
    {"frequency", "Hz", "频率"},
    {"acceleration", "m/s2", "加速度"},
    {"revolutions", "", "转数"},
    {"response_1", "", "响应时间"},
    {"response_2", "", "响应时间"},
    {"zero_point", "", "零点"},
    {"channel_1", "", "通道1"},
    {"channel_2", "", "通道2"},
    {"channel_3", "", "通道3"},
    {"channel_4", "", "通道4"},
    {"humidity", "%", "湿度"},
    {"temperature", "°C", "温度"},
    {"pressure", "kPa", "大气压力"},
    {"io", "", "IO"},
    {"unnamed", "", "??"},
};
constexpr int kRawColumns = 5;  // numth, v1..v4

// Which column a readout caption's value goes to. A readout position of -1
// matches any readout; "响应时间" names two different values of type 58.
struct CaptionColumn {
  std::string_view caption;
  int readout;
  std::string_view column;
};
constexpr CaptionColumn kCaptionColumns[] = {
    {"速度", -1, "speed"},          {"_E(速度", -1, "speed"},
    {"力矩", -1, "force"},          {"力", -1, "force"},
    {"力矩(小数)", -1, "force"},    {"负荷", -1, "power"},
    {"当前负荷", -1, "power"},      {"滑行时间", -1, "coast_time"},
    {"转速", -1, "roller_rpm"},     {"引擎转数", -1, "engine_rpm"},
    {"参数", -1, "param"},          {"里程", -1, "distance"},
    {"电压", -1, "voltage"},        {"油耗", -1, "fuel"},
    {"转速/油耗", -1, "rpm_per_fuel"}, {"频率", -1, "frequency"},
    {"加速度", -1, "acceleration"}, {"转数", -1, "revolutions"},
    {"响应时间", 1, "response_1"},  {"响应时间", 2, "response_2"},
    {"零点", -1, "zero_point"},     {"通道1", -1, "channel_1"},
    {"通道2", -1, "channel_2"},     {"通道3", -1, "channel_3"},
    {"通道4", -1, "channel_4"},     {"湿度", -1, "humidity"},
    {"温度", -1, "temperature"},    {"大气压力", -1, "pressure"},
    {"IO", -1, "io"},               {"??", -1, "unnamed"},
};

constexpr std::string_view kFixedHeader = "time,t_ms,type";

std::string HeaderCell(const RecordColumn& column) {
  std::string cell(column.name);
  if (!column.unit.empty()) {
    cell += " [";
    cell += column.unit;
    cell += ']';
  }
  return cell;
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

std::span<const RecordColumn> RecordColumns() { return kColumns; }

int RecordColumnIndex(std::string_view name) {
  for (std::size_t i = 0; i < std::size(kColumns); ++i) {
    if (kColumns[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

int RecordColumnOfCaption(std::string_view caption, std::size_t readout) {
  for (const CaptionColumn& entry : kCaptionColumns) {
    if (entry.caption == caption && (entry.readout < 0 || static_cast<std::size_t>(entry.readout) == readout)) {
      return RecordColumnIndex(entry.column);
    }
  }
  return -1;
}

void FillRecordRow(const ControllerStatus& status, double msSinceStart, RecordRow& row) {
  row.msSinceStart = msSinceStart;
  row.frameType = status.FrameType;
  row.values.assign(std::size(kColumns), kEmpty);
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

std::string RecordHeader() {
  std::string header(kFixedHeader);
  for (const RecordColumn& column : kColumns) {
    header += ',';
    header += HeaderCell(column);
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
  const std::string header = RecordHeader();
  const std::string_view expectedHeader(header.data(), header.size() - 2);
  const std::size_t cellCount = kRecordFixedColumns + std::size(kColumns);
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
      if (first != expectedHeader) return fail("不是ROLTA记录文件");
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
      row.values.resize(std::size(kColumns));
      for (std::size_t i = 0; good && i < std::size(kColumns); ++i) {
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
