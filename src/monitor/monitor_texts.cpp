#include "monitor/monitor_texts.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "commands/catalogue.h"
#include "readouts/console_texts.h"
#include "readouts/quantities.h"
#include "readouts/readouts.h"
#include "env/number_text.h"
#include "link/command_codes.h"
#include "link/frames.h"
#include "link/status_frames.h"

namespace rolta {
namespace {

constexpr std::array<std::string_view, kMonitorColumnCount> kColumnTitles = {"时间(ms)", "方向", "类型", "长度",
                                                                             "校验",     "字节", "内容"};

// What the console sends outside the catalogue, by command byte.
struct SentName {
  std::uint8_t code;
  std::string_view name;
};
constexpr SentName kSentNames[] = {
    {command::kParamWrite, "写QRX参数"},
    {command::kVersion, "版本"},
    {command::kTableBlockRead, "读标定数据块"},
    {command::kTableBlockStore, "写标定数据块"},
    {command::kChannelMapStore, "写硬件通道"},
    {8, "写标定表"},
    {9, "写标定表"},
    {10, "写标定表"},
    {11, "写标定表"},
    {59, "写标定表"},
    {77, "写标定表"},
    {117, "写标定表"},
    {118, "写标定表"},
    {119, "写标定表"},
    {command::kEmergencyStop, "急停"},
    {60, "读标定表"},
    {61, "读标定表"},
    {62, "读标定表"},
    {63, "读标定表"},
    {64, "读标定表"},
    {78, "读标定表"},
    {120, "读标定表"},
    {121, "读标定表"},
    {122, "读标定表"},
    {command::kRomBlock, "固件数据块"},
};

// The name of every command byte: the caption of the first catalogue
// position that sends it, else the name above, else empty.
const std::array<std::string_view, 256>& SentCommandNames() {
  static const std::array<std::string_view, 256> names = [] {
    std::array<std::string_view, 256> table{};
    for (const CatalogueRow& row : CommandCatalogue()) {
      if (row.action == CatalogueAction::RepeatLoop || row.frame == FrameKind::None) continue;
      auto name = [&](std::uint8_t code) {
        if (table[code].empty()) table[code] = row.caption;
      };
      name(row.CommandCode());
      for (std::uint8_t code : row.ShortCodes()) name(code);
    }
    for (const SentName& sent : kSentNames) {
      if (table[sent.code].empty()) table[sent.code] = sent.name;
    }
    return table;
  }();
  return names;
}

// The shortest text that reads back as the same float.
std::string FloatText(float value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

void Append(std::string& to, std::string_view part) {
  if (part.empty()) return;
  if (!to.empty()) to += "; ";
  to += part;
}

std::string SentSummary(const MonitorRow& row, const TextLookup& lookup) {
  std::string summary;
  const std::string_view name = SentCommandNames()[row.code];
  summary = name.empty() ? lookup.Lookup("未知指令") : lookup.Lookup(name);
  const std::uint8_t* p = row.bytes.data();
  std::string values;
  if (!row.Truncated()) {
    // The payloads of the catalogue's frame shapes.
    if (row.length == ParamRequestFrame::kLength) {
      values = FormatText("0x%08X", GetUInt32LE(p + kPayloadOffset));
    } else if (row.length == SetpointFrame::kLength) {
      values = lookup.Lookup("飞轮") + " " + std::to_string(p[6]) + ", " + FloatText(GetFloat32LE(p + 7));
    } else if (row.length == ProfileFrame::kLength) {
      for (int i = 0; i < ProfileFrame::kValueCount; ++i) {
        if (i > 0) values += ", ";
        values += FloatText(GetFloat32LE(p + 6 + 4 * i));
      }
    }
  }
  if (!values.empty()) summary += " (" + values + ")";
  if (row.writeFailed) Append(summary, lookup.Lookup("写入失败"));
  if (!row.checksumGood) Append(summary, lookup.Lookup("校验和错误"));
  return summary;
}

// Captures what the status decoder hands on.
class DecodedStatus final : public StatusFrameSinks {
 public:
  void ShowControllerVersion(bool fromUpgradeProgram, double version) override {
    version_ = {fromUpgradeProgram, version};
  }
  void ShowLiveFrame(const ControllerStatus&) override { live_ = true; }
  std::optional<std::pair<bool, double>> version_;
  bool live_ = false;
};

std::string StatusSummary(const std::uint8_t* frame, const TextLookup& lookup) {
  ControllerStatus status;
  DecodedStatus decoded;
  DecodeStatusFrame(frame, status, decoded);
  std::string summary;
  if (decoded.version_) {
    const ControllerVersionTexts texts = VersionAnswerTexts(lookup, decoded.version_->first, decoded.version_->second);
    Append(summary, texts.caption + " " + texts.value);
    return summary;
  }
  if (decoded.live_) {
    const ReadoutUpdate update = PresentLiveFrame(status, lookup);
    const ReadoutUpdate initial = InitialReadouts(lookup);
    const ReadoutValues values = LiveFrameValues(status);
    for (std::size_t i = 0; i < kReadoutCount; ++i) {
      if (!update[i].text) continue;
      const std::string& caption = update[i].caption ? *update[i].caption : *initial[i].caption;
      std::string field = caption + " " + *update[i].text;
      // The unit the readout shows beside this caption; the frequency's
      // caption carries its own scaled unit.
      const int quantity = values[i].caption == "频率" ? -1 : QuantityOfCaption(values[i].caption, i);
      if (quantity >= 0 && !UnitOf(static_cast<std::size_t>(quantity)).empty()) {
        field += ' ';
        field += UnitOf(static_cast<std::size_t>(quantity));
      }
      Append(summary, field);
    }
    return summary;
  }
  // A type without readouts (block acknowledgement, ...): the four values.
  for (float value : {status.Value1, status.Value2, status.Value3, status.Value4}) Append(summary, FloatText(value));
  return summary;
}

std::string ReceivedSummary(const MonitorRow& row, const TextLookup& lookup) {
  if (!row.checksumGood) return lookup.Lookup("校验和错误");
  if (row.refused) return lookup.Lookup(kRefusedFrameText);
  if (row.Truncated() || row.length < kHeaderLength + 2) return {};
  const std::uint8_t* frame = row.bytes.data();
  std::string summary = FrameStatusText(lookup, row.code, GetInt16LE(frame + row.length - 2));
  switch (ControllerFrameKindOf(row.code)) {
    case ControllerFrameKind::Status:
      if (row.length == kStatusFrameLength) Append(summary, StatusSummary(frame, lookup));
      break;
    case ControllerFrameKind::ParamRecord: Append(summary, lookup.Lookup("参数记录")); break;
    case ControllerFrameKind::CalibTable: Append(summary, lookup.Lookup("标定表")); break;
    case ControllerFrameKind::ChannelMap: Append(summary, lookup.Lookup("硬件通道")); break;
  }
  return summary;
}

std::string Lower(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lowered;
}

std::string CsvField(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

template <typename WriteLine>
void ForEachLine(const LineMonitor& monitor, std::span<const std::uint64_t> sequences, const TextLookup& lookup,
                 WriteLine writeLine) {
  std::vector<std::string> fields(kMonitorColumnCount);
  for (std::size_t c = 0; c < kMonitorColumnCount; ++c) fields[c] = lookup.Lookup(kColumnTitles[c]);
  writeLine(fields);
  for (std::uint64_t sequence : sequences) {
    const MonitorRow* row = monitor.Row(sequence);
    if (!row) continue;
    for (std::size_t c = 0; c < kMonitorColumnCount; ++c) {
      fields[c] = MonitorCell(*row, static_cast<MonitorColumn>(c), lookup);
    }
    writeLine(fields);
  }
}

}  // namespace

std::string_view MonitorColumnTitle(MonitorColumn column) { return kColumnTitles[static_cast<std::size_t>(column)]; }

std::string MonitorTimeText(std::int64_t timeUs) {
  const bool negative = timeUs < 0;
  const std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(timeUs) : static_cast<std::uint64_t>(timeUs);
  return FormatText("%s%llu.%03llu", negative ? "-" : "", static_cast<unsigned long long>(magnitude / 1000),
                    static_cast<unsigned long long>(magnitude % 1000));
}

std::string MonitorHexText(const MonitorRow& row) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(row.bytes.size() * 3 + 4);
  for (std::uint8_t byte : row.bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  if (row.Truncated()) text += " …";
  return text;
}

std::string MonitorSummary(const MonitorRow& row, const TextLookup& lookup) {
  switch (row.direction) {
    case LineDirection::Sent: return SentSummary(row, lookup);
    case LineDirection::Received: return ReceivedSummary(row, lookup);
    case LineDirection::Skipped: return lookup.Lookup("跳过的字节") + ": " + std::to_string(row.length);
  }
  return {};
}

std::string MonitorCell(const MonitorRow& row, MonitorColumn column, const TextLookup& lookup) {
  const bool skipped = row.direction == LineDirection::Skipped;
  switch (column) {
    case MonitorColumn::Time: return MonitorTimeText(row.timeUs);
    case MonitorColumn::Direction:
      return lookup.Lookup(row.direction == LineDirection::Sent       ? "发送"
                           : row.direction == LineDirection::Received ? "接收"
                                                                      : "跳过");
    case MonitorColumn::Code: return skipped ? std::string() : std::to_string(row.code);
    case MonitorColumn::Length: return std::to_string(row.length);
    case MonitorColumn::Checksum:
      if (skipped) return {};
      return lookup.Lookup(!row.checksumGood ? "错误" : row.refused ? "拒收" : "正确");
    case MonitorColumn::Bytes: return MonitorHexText(row);
    case MonitorColumn::Summary: return MonitorSummary(row, lookup);
  }
  return {};
}

std::vector<MonitorCounterText> MonitorCounterTexts(const MonitorCounters& counters, const FrameRates& rates,
                                                    std::uint32_t ringHighWater, LineClock::time_point now,
                                                    const TextLookup& lookup) {
  auto number = [](std::uint64_t n) { return std::to_string(n); };
  std::string sinceLast = "-";
  if (counters.lastFrameAt) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - *counters.lastFrameAt).count();
    sinceLast = std::to_string(std::max<std::int64_t>(ms, 0)) + " ms";
  }
  return {
      {lookup.Lookup("发送帧/秒"), FormatFixed(rates.sent, 1)},
      {lookup.Lookup("接收帧/秒"), FormatFixed(rates.received, 1)},
      {lookup.Lookup("发送帧"), number(counters.framesSent)},
      {lookup.Lookup("接收帧"), number(counters.framesReceived)},
      {lookup.Lookup("校验和错误"), number(counters.checksumFailures)},
      {lookup.Lookup("跳过的字节"), number(counters.bytesSkipped)},
      {lookup.Lookup("接收缓冲峰值"), number(ringHighWater)},
      {lookup.Lookup("距上一帧"), sinceLast},
      {lookup.Lookup("写入失败"), number(counters.writeFailures)},
      {lookup.Lookup("丢弃的行"), number(counters.rowsDropped + counters.rowsNotKept)},
      {lookup.Lookup("拒收的帧"), number(counters.framesRefused)},
  };
}

std::string MonitorRowsAsText(const LineMonitor& monitor, std::span<const std::uint64_t> sequences,
                              const TextLookup& lookup) {
  std::string text;
  ForEachLine(monitor, sequences, lookup, [&](const std::vector<std::string>& fields) {
    for (std::size_t c = 0; c < fields.size(); ++c) {
      if (c > 0) text += '\t';
      text += fields[c];
    }
    text += '\n';
  });
  return text;
}

std::string MonitorRowsAsCsv(const LineMonitor& monitor, std::span<const std::uint64_t> sequences,
                             const TextLookup& lookup) {
  std::string text = "\xEF\xBB\xBF";
  ForEachLine(monitor, sequences, lookup, [&](const std::vector<std::string>& fields) {
    for (std::size_t c = 0; c < fields.size(); ++c) {
      if (c > 0) text += ',';
      text += CsvField(fields[c]);
    }
    text += "\r\n";
  });
  return text;
}

std::vector<std::vector<std::string>> ParseCsv(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  bool quoted = false;
  bool any = false;  // something of the current record was read
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else {
        quoted = false;
      }
      continue;
    }
    any = true;
    if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      record.push_back(std::move(field));
      field.clear();
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      record.push_back(std::move(field));
      field.clear();
      records.push_back(std::move(record));
      record.clear();
      any = false;
    } else {
      field += c;
    }
  }
  if (any || quoted) {
    record.push_back(std::move(field));
    records.push_back(std::move(record));
  }
  return records;
}

MonitorTypeFilter ReadMonitorTypeFilter(std::string_view typed, const TextLookup& lookup) {
  std::string_view digits = typed;
  while (!digits.empty() && std::isspace(static_cast<unsigned char>(digits.front()))) digits.remove_prefix(1);
  while (!digits.empty() && std::isspace(static_cast<unsigned char>(digits.back()))) digits.remove_suffix(1);
  if (digits.empty()) return {};
  int base = 10;
  if (digits.starts_with("0x") || digits.starts_with("0X")) {
    base = 16;
    digits.remove_prefix(2);
  }
  unsigned value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (!digits.empty() && error == std::errc() && end == digits.data() + digits.size() && value <= 0xFF) {
    return {static_cast<std::uint8_t>(value), {}};
  }
  return {std::nullopt, lookup.Lookup("类型过滤无效") + ": \"" + std::string(typed) + "\"\n" +
                            lookup.Lookup("类型应为 0 到 255 的数或 0x00 到 0xFF, 过滤未改变。")};
}

std::optional<std::size_t> FindMonitorRow(const LineMonitor& monitor, std::span<const std::uint64_t> sequences,
                                          std::size_t from, std::string_view needle, const TextLookup& lookup) {
  if (needle.empty() || sequences.empty()) return std::nullopt;
  const std::string wanted = Lower(needle);
  from %= sequences.size();
  for (std::size_t n = 0; n < sequences.size(); ++n) {
    const std::size_t index = (from + n) % sequences.size();
    const MonitorRow* row = monitor.Row(sequences[index]);
    if (!row) continue;
    for (std::size_t c = 0; c < kMonitorColumnCount; ++c) {
      if (Lower(MonitorCell(*row, static_cast<MonitorColumn>(c), lookup)).find(wanted) != std::string::npos) {
        return index;
      }
    }
  }
  return std::nullopt;
}

}  // namespace rolta
