#include "history/history_records.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <ostream>
#include <sstream>

#include "config/param_summary.h"
#include "history/file_digest.h"
#include "upgrade/firmware_upgrade.h"

namespace rolta {
namespace {

constexpr std::string_view kRecordSuffix = ".record";  // a 93-byte parameter record
constexpr std::string_view kMapSuffix = ".map";        // a 40-byte channel map
constexpr std::string_view kTableSuffix = ".table";    // a calibration table's image
constexpr std::string_view kArrow = " → ";

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::optional<double> NumberFromText(std::string_view text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string FlagText(bool on) { return on ? "1" : "0"; }

// Every listed summary line of a record, by its row number.
std::vector<std::pair<std::string, std::string>> SummaryLines(const ControllerParams& values, const TextLookup& texts) {
  std::vector<std::pair<std::string, std::string>> lines;
  for (const SummaryRow& row : SummaryRows()) {
    if (row.listed(values)) lines.emplace_back(std::string(row.number), row.line(values, texts));
  }
  return lines;
}

std::optional<ParamsPayload> RecordFromHex(std::string_view text) {
  const std::optional<std::vector<std::uint8_t>> bytes = BytesFromHex(text);
  if (!bytes || bytes->size() != kParamsPayloadLength) return std::nullopt;
  ParamsPayload payload;
  std::copy(bytes->begin(), bytes->end(), payload.begin());
  return payload;
}

std::optional<ChannelMap> MapFromHex(std::string_view text) {
  const std::optional<std::vector<std::uint8_t>> bytes = BytesFromHex(text);
  if (!bytes || bytes->size() != kChannelMapSize) return std::nullopt;
  ChannelMap map;
  std::copy(bytes->begin(), bytes->end(), map.bytes.begin());
  return map;
}

std::vector<std::pair<std::string, std::string>> MapFields(const ChannelMap& map) {
  std::vector<std::pair<std::string, std::string>> fields;
  for (const ChannelField& field : ChannelFields()) {
    if (field.storeByte == kNoByte) continue;
    fields.emplace_back(std::string(field.label), std::to_string(map.bytes[static_cast<std::size_t>(field.storeByte)]));
  }
  return fields;
}

std::string PointText(const CalibTable& table, std::size_t index) {
  return NumberText(table.First(index)) + "  " + NumberText(table.Second(index));
}

using Lines = std::vector<std::pair<std::string, std::string>>;

// Each value of `after` that `before` has otherwise, as "before → after"
// (with its key in front when `labelled`); one new to `before` as it stands.
std::vector<std::string> ChangedLines(const Lines& before, const Lines& after, bool labelled) {
  const std::map<std::string, std::string> old(before.begin(), before.end());
  std::vector<std::string> changed;
  for (const auto& [key, value] : after) {
    const auto found = old.find(key);
    if (found != old.end() && found->second == value) continue;
    std::string line = labelled ? key + ": " : std::string();
    if (found != old.end()) line += found->second + std::string(kArrow);
    changed.push_back(line + value);
  }
  return changed;
}

void AddChangedFields(HistoryRecord& record, const std::vector<std::string>& changed, const TextLookup& texts) {
  for (std::size_t i = 0; i < changed.size(); ++i) {
    record.fields.push_back({"changed." + std::to_string(i + 1), changed[i]});
  }
  record.summary += ", " + std::to_string(changed.size()) + " " + texts.Lookup("项改变");
}

// A point of an as-found or as-left list, as eight numbers.
std::string CalibrationPointText(const CalibrationPoint& point) {
  return NumberText(point.reference) + ' ' + NumberText(point.voltageMean) + ' ' + NumberText(point.voltageSpread) +
         ' ' + std::to_string(point.samples) + ' ' + NumberText(point.indicated) + ' ' +
         NumberText(point.errorPercentFullScale) + ' ' + NumberText(point.expandedUncertainty) + ' ' +
         FlagText(point.pass);
}

std::optional<CalibrationPoint> CalibrationPointFromText(std::string_view text) {
  std::vector<std::string_view> words;
  while (!text.empty()) {
    const std::size_t space = std::min(text.find(' '), text.size());
    words.push_back(text.substr(0, space));
    text.remove_prefix(std::min(space + 1, text.size()));
  }
  if (words.size() != 8) return std::nullopt;
  std::array<double, 8> numbers{};
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::optional<double> number = NumberFromText(words[i]);
    if (!number) return std::nullopt;
    numbers[i] = *number;
  }
  CalibrationPoint point;
  point.reference = numbers[0];
  point.voltageMean = numbers[1];
  point.voltageSpread = numbers[2];
  point.samples = numbers[3] >= 0 ? static_cast<std::size_t>(numbers[3]) : 0;
  point.indicated = numbers[4];
  point.errorPercentFullScale = numbers[5];
  point.expandedUncertainty = numbers[6];
  point.pass = numbers[7] != 0;
  return point;
}

// One field of a run kept under its key, for each kind of member.
template <typename Value>
struct RunMember {
  std::string_view key;
  Value CalibrationRun::*member;
};
using RunText = RunMember<std::string>;
constexpr RunText kRunTexts[] = {
    {"bench", &CalibrationRun::bench},     {"engineer", &CalibrationRun::engineer},
    {"port", &CalibrationRun::port},       {"controllerVersion", &CalibrationRun::controllerVersion},
    {"unit", &CalibrationRun::unit},       {"sensorSerial", &CalibrationRun::sensorSerial},
    {"message", &CalibrationRun::message}, {"traceability", &CalibrationRun::traceability},
};
using RunNumber = RunMember<double>;
constexpr RunNumber kRunNumbers[] = {
    {"fullScale", &CalibrationRun::fullScale},
    {"tolerancePercentFullScale", &CalibrationRun::tolerancePercentFullScale},
    {"linearityPercentFullScale", &CalibrationRun::linearityPercentFullScale},
};
using RunTime = RunMember<std::int64_t>;
constexpr RunTime kRunTimes[] = {
    {"startedAt", &CalibrationRun::startedAtUnixSeconds},
    {"finishedAt", &CalibrationRun::finishedAtUnixSeconds},
};
using RunFlag = RunMember<bool>;
constexpr RunFlag kRunFlags[] = {
    {"asFoundPass", &CalibrationRun::asFoundPass},
    {"tableStored", &CalibrationRun::tableStored},
    {"tableRestored", &CalibrationRun::tableRestored},
    {"asLeftPass", &CalibrationRun::asLeftPass},
};
using RunPoints = RunMember<std::vector<CalibrationPoint>>;
constexpr RunPoints kRunPoints[] = {
    {"asFound", &CalibrationRun::asFound},
    {"asLeft", &CalibrationRun::asLeft},
};
using RunTable = RunMember<CalibTable>;
constexpr RunTable kRunTables[] = {
    {"before.table", &CalibrationRun::tableBefore},
    {"after.table", &CalibrationRun::tableAfter},
};

std::string_view OutcomeName(CalibrationOutcome outcome) {
  switch (outcome) {
    case CalibrationOutcome::Completed: return "completed";
    case CalibrationOutcome::Aborted: return "aborted";
    case CalibrationOutcome::Failed: return "failed";
  }
  return "failed";
}

std::string PassText(const TextLookup& texts, bool pass) { return texts.Lookup(pass ? "合格" : "不合格"); }

}  // namespace

std::string HexText(std::span<const std::uint8_t> bytes) {
  constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

std::optional<std::vector<std::uint8_t>> BytesFromHex(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> bytes(text.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto [end, error] = std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, bytes[i], 16);
    if (error != std::errc{} || end != text.data() + 2 * i + 2) return std::nullopt;
  }
  return bytes;
}

std::string NumberText(double value) {
  std::array<char, 32> text{};
  const auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} ? std::string(text.data(), end) : std::string("nan");
}

std::optional<CalibTable> TableFromHex(std::string_view text) {
  const std::optional<std::vector<std::uint8_t>> bytes = BytesFromHex(text);
  if (!bytes || bytes->size() < 2 || (bytes->size() - 2) % 8 != 0) return std::nullopt;
  const std::size_t capacity = (bytes->size() - 2) / 8;
  if (capacity > CalibTable::kMaxCapacity) return std::nullopt;
  CalibTable table(capacity);
  std::copy(bytes->begin(), bytes->end(), table.Image().begin());
  return table;
}

std::string_view CalibChannelCaption(CalibChannel channel) { return CalibChannelInfo(channel).fetchCaption; }

HistoryRecord ConnectRecord(const TextLookup& texts, std::string_view port, std::string_view controllerVersion) {
  HistoryRecord record{HistoryKind::Connect, texts.Lookup("连接") + " " + std::string(port), {}};
  record.fields.push_back({"port", std::string(port)});
  if (!controllerVersion.empty()) {
    record.fields.push_back({"controllerVersion", std::string(controllerVersion)});
    record.summary += ", " + texts.Lookup("控制器版本") + " " + std::string(controllerVersion);
  }
  return record;
}

HistoryRecord ParamsWriteRecord(const TextLookup& texts, const std::optional<ParamsPayload>& before,
                                const ParamsPayload& written) {
  const IdentityLookup asWritten;
  HistoryRecord record{HistoryKind::ParamsWrite, texts.Lookup("参数写入"), {}};
  if (before) record.fields.push_back({"before.record", HexText(*before)});
  record.fields.push_back({"after.record", HexText(written)});
  if (before) {
    // The write carries no controller's own fields (model, versions): they
    // are the controller's as it reported them, not a change.
    const ControllerParams old = DecodeParams(*before);
    ControllerParams sent = DecodeParams(written);
    sent.kernelVersion = old.kernelVersion;
    sent.hardwareVersion = old.hardwareVersion;
    sent.hardwareModel = old.hardwareModel;
    AddChangedFields(record, ChangedLines(SummaryLines(old, asWritten), SummaryLines(sent, asWritten), false), texts);
  }
  return record;
}

HistoryRecord ChannelMapRecord(const TextLookup& texts, const std::optional<ChannelMap>& before,
                               const ChannelMap& stored) {
  HistoryRecord record{HistoryKind::ChannelMapStore, texts.Lookup("通道配置存储"), {}};
  if (before) record.fields.push_back({"before.map", HexText(before->bytes)});
  record.fields.push_back({"after.map", HexText(stored.bytes)});
  if (before) AddChangedFields(record, ChangedLines(MapFields(*before), MapFields(stored), true), texts);
  return record;
}

HistoryRecord CalibStoreRecord(const TextLookup& texts, CalibChannel channel, const std::optional<CalibTable>& before,
                               const CalibTable& stored) {
  HistoryRecord record{HistoryKind::CalibStore,
                       texts.Lookup(CalibChannelCaption(channel)) + " " + texts.Lookup("标定数据存储") + ", " +
                           std::to_string(stored.PointCount()) + " " + texts.Lookup("点"),
                       {}};
  record.fields.push_back({"channel", std::string(CalibChannelCaption(channel))});
  if (before) record.fields.push_back({"before.table", HexText(before->Image())});
  record.fields.push_back({"after.table", HexText(stored.Image())});
  return record;
}

HistoryRecord FirmwareUpgradeRecord(const TextLookup& texts, const std::filesystem::path& file, int result) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  const std::string resultText = UpgradeReport(texts, result).text;
  HistoryRecord record{HistoryKind::FirmwareUpgrade,
                       texts.Lookup("控制器升级") + " " + file.filename().string() + ": " + resultText,
                       {}};
  record.fields.push_back({"file", file.string()});
  record.fields.push_back({"size", error ? std::string() : std::to_string(size)});
  record.fields.push_back({"sha256", FileSha256(file).value_or(std::string())});
  record.fields.push_back({"result", std::to_string(result)});
  record.fields.push_back({"resultText", resultText});
  return record;
}

HistoryRecord CalibrationRunRecord(const TextLookup& texts, const CalibrationRun& run) {
  HistoryRecord record{HistoryKind::CalibrationRun,
                       texts.Lookup(CalibChannelCaption(run.channel)) + " " + texts.Lookup("标定向导") + ": " +
                           texts.Lookup("校前") + " " + PassText(texts, run.asFoundPass),
                       {}};
  if (run.outcome == CalibrationOutcome::Completed) {
    record.summary += ", " + texts.Lookup("校后") + " " + PassText(texts, run.asLeftPass);
  } else {
    record.summary += ", " + texts.Lookup(run.outcome == CalibrationOutcome::Aborted ? "已中止" : "失败");
  }
  std::vector<HistoryField>& fields = record.fields;
  fields.push_back({"channel", std::string(CalibChannelCaption(run.channel))});
  for (const RunText& text : kRunTexts) fields.push_back({std::string(text.key), run.*text.member});
  fields.push_back({"reference.kind", run.reference.kind});
  fields.push_back({"reference.description", run.reference.description});
  fields.push_back({"reference.certificate", run.reference.certificate});
  fields.push_back({"reference.expandedUncertainty", NumberText(run.reference.expandedUncertainty)});
  for (const RunNumber& number : kRunNumbers)
    fields.push_back({std::string(number.key), NumberText(run.*number.member)});
  for (const RunTime& time : kRunTimes) fields.push_back({std::string(time.key), std::to_string(run.*time.member)});
  for (const RunFlag& flag : kRunFlags) fields.push_back({std::string(flag.key), FlagText(run.*flag.member)});
  for (const RunTable& table : kRunTables)
    fields.push_back({std::string(table.key), HexText((run.*table.member).Image())});
  for (const RunPoints& points : kRunPoints) {
    const std::vector<CalibrationPoint>& list = run.*points.member;
    fields.push_back({std::string(points.key) + ".count", std::to_string(list.size())});
    for (std::size_t i = 0; i < list.size(); ++i) {
      fields.push_back({std::string(points.key) + "." + std::to_string(i + 1), CalibrationPointText(list[i])});
    }
  }
  fields.push_back({"outcome", std::string(OutcomeName(run.outcome))});
  return record;
}

std::optional<CalibrationRun> CalibrationRunOf(const HistoryEntry& entry) {
  if (entry.kind != HistoryKind::CalibrationRun) return std::nullopt;
  CalibrationRun run;
  const auto field = [&entry](std::string_view key) { return entry.Field(key); };
  const std::string* channel = field("channel");
  const auto row = std::find_if(CalibChannels().begin(), CalibChannels().end(), [channel](const CalibChannelRow& r) {
    return channel != nullptr && r.fetchCaption == *channel;
  });
  if (row == CalibChannels().end()) return std::nullopt;
  run.channel = row->channel;
  for (const RunText& text : kRunTexts) {
    const std::string* value = field(text.key);
    if (value == nullptr) return std::nullopt;
    run.*text.member = *value;
  }
  const std::string* kind = field("reference.kind");
  const std::string* description = field("reference.description");
  const std::string* certificate = field("reference.certificate");
  const std::string* uncertainty = field("reference.expandedUncertainty");
  if (!kind || !description || !certificate || !uncertainty) return std::nullopt;
  run.reference = {*kind, *description, *certificate, NumberFromText(*uncertainty).value_or(0)};
  for (const RunNumber& number : kRunNumbers) {
    const std::string* value = field(number.key);
    const std::optional<double> parsed = value ? NumberFromText(*value) : std::nullopt;
    if (!parsed) return std::nullopt;
    run.*number.member = *parsed;
  }
  for (const RunTime& time : kRunTimes) {
    const std::string* value = field(time.key);
    std::int64_t seconds = 0;
    if (!value || std::from_chars(value->data(), value->data() + value->size(), seconds).ec != std::errc{}) {
      return std::nullopt;
    }
    run.*time.member = seconds;
  }
  for (const RunFlag& flag : kRunFlags) {
    const std::string* value = field(flag.key);
    if (!value) return std::nullopt;
    run.*flag.member = *value == "1";
  }
  for (const RunTable& table : kRunTables) {
    const std::string* value = field(table.key);
    std::optional<CalibTable> parsed = value ? TableFromHex(*value) : std::nullopt;
    if (!parsed) return std::nullopt;
    run.*table.member = *parsed;
  }
  for (const RunPoints& points : kRunPoints) {
    const std::string* count = field(std::string(points.key) + ".count");
    std::size_t n = 0;
    if (!count || std::from_chars(count->data(), count->data() + count->size(), n).ec != std::errc{}) {
      return std::nullopt;
    }
    for (std::size_t i = 0; i < n; ++i) {
      const std::string* text = field(std::string(points.key) + "." + std::to_string(i + 1));
      std::optional<CalibrationPoint> point = text ? CalibrationPointFromText(*text) : std::nullopt;
      if (!point) return std::nullopt;
      (run.*points.member).push_back(*point);
    }
  }
  const std::string* outcome = field("outcome");
  if (!outcome) return std::nullopt;
  run.outcome = *outcome == "completed" ? CalibrationOutcome::Completed
                : *outcome == "aborted" ? CalibrationOutcome::Aborted
                                        : CalibrationOutcome::Failed;
  return run;
}

HistoryRecord CoastDownRecord(const TextLookup& texts, const CoastAnalysis& analysis, double massKg) {
  const RoadLoad& load = analysis.direct.load;
  HistoryRecord record{HistoryKind::CoastDown,
                       texts.Lookup("滑行分析") + ": F0 " + NumberText(load.f0) + " N, F1 " + NumberText(load.f1) +
                           " N/(km/h), F2 " + NumberText(load.f2) + " N/(km/h)²",
                       {}};
  record.fields = {
      {"massKg", NumberText(massKg)},
      {"interval.f0", NumberText(analysis.interval.load.f0)},
      {"interval.f1", NumberText(analysis.interval.load.f1)},
      {"interval.f2", NumberText(analysis.interval.load.f2)},
      {"interval.rms", NumberText(analysis.interval.rms)},
      {"direct.f0", NumberText(load.f0)},
      {"direct.f1", NumberText(load.f1)},
      {"direct.f2", NumberText(load.f2)},
      {"direct.rms", NumberText(analysis.direct.rms)},
      {"bands", std::to_string(analysis.bands.size())},
  };
  return record;
}

std::vector<HistoryField> ReadableFields(const HistoryEntry& entry) {
  const IdentityLookup asWritten;
  std::vector<HistoryField> readable;
  for (const HistoryField& field : entry.fields) {
    if (EndsWith(field.key, kRecordSuffix)) {
      if (const std::optional<ParamsPayload> record = RecordFromHex(field.value)) {
        const std::string prefix = field.key.substr(0, field.key.size() - kRecordSuffix.size());
        for (const auto& [number, line] : SummaryLines(DecodeParams(*record), asWritten)) {
          readable.push_back({prefix + "." + number, line});
        }
        continue;
      }
    } else if (EndsWith(field.key, kMapSuffix)) {
      if (const std::optional<ChannelMap> map = MapFromHex(field.value)) {
        const std::string prefix = field.key.substr(0, field.key.size() - kMapSuffix.size());
        for (const auto& [label, value] : MapFields(*map)) readable.push_back({prefix + "." + label, value});
        continue;
      }
    } else if (EndsWith(field.key, kTableSuffix)) {
      if (const std::optional<CalibTable> table = TableFromHex(field.value)) {
        const std::string prefix = field.key.substr(0, field.key.size() - kTableSuffix.size());
        readable.push_back({prefix + ".count", std::to_string(table->Count())});
        for (std::size_t i = 0; i < table->PointCount(); ++i) {
          readable.push_back({prefix + "." + std::to_string(i + 1), PointText(*table, i)});
        }
        continue;
      }
    }
    readable.push_back(field);
  }
  return readable;
}

std::vector<FieldChange> DiffEntries(const HistoryEntry& before, const HistoryEntry& after) {
  const std::vector<HistoryField> left = ReadableFields(before);
  const std::vector<HistoryField> right = ReadableFields(after);
  const auto find = [](const std::vector<HistoryField>& fields, const std::string& key) {
    return std::find_if(fields.begin(), fields.end(), [&key](const HistoryField& f) { return f.key == key; });
  };
  std::vector<FieldChange> changes;
  for (const HistoryField& field : left) {
    const auto other = find(right, field.key);
    if (other == right.end()) {
      changes.push_back({field.key, field.value, {}});
    } else if (other->value != field.value) {
      changes.push_back({field.key, field.value, other->value});
    }
  }
  for (const HistoryField& field : right) {
    if (find(left, field.key) == left.end()) changes.push_back({field.key, {}, field.value});
  }
  return changes;
}

void WriteHistoryCsv(std::ostream& out, std::span<const HistoryEntry> entries) {
  const auto cell = [&out](std::string_view text) {
    out << '"';
    for (const char c : text) {
      if (c == '"') out << '"';
      out << c;
    }
    out << '"';
  };
  out << "id,time_utc,bench,engineer,kind,summary,fields\r\n";
  for (const HistoryEntry& entry : entries) {
    out << entry.id << ',' << UtcTimeText(entry.timeUtc) << ',';
    cell(entry.bench);
    out << ',';
    cell(entry.engineer);
    out << ',' << HistoryKindName(entry.kind) << ',';
    cell(entry.summary);
    out << ',';
    std::string fields;
    for (const HistoryField& field : entry.fields) fields += field.key + "=" + field.value + "\n";
    cell(fields);
    out << "\r\n";
  }
}

}  // namespace rolta
