#include "testline/line_table.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "readouts/readouts.h"

namespace rolta {

using Json = nlohmann::json;

namespace {

constexpr std::string_view kCaptions[] = {"测试台", "状态", "命令", "速度", "力", "最后事件", "时长"};

std::string FieldText(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// A reading of a live message: its value when it is a number.
void TakeReading(const Json& values, const char* name, std::optional<double>& value, std::string& unit) {
  const auto it = values.find(name);
  if (it == values.end() || !it->is_object()) return;
  const auto number = it->find("value");
  value = number != it->end() && number->is_number() ? std::optional(number->get<double>()) : std::nullopt;
  unit = FieldText(*it, "unit");
}

std::string AgeText(std::int64_t ms) {
  if (ms < 0) ms = 0;
  if (ms < 60'000) return FormatFixed(static_cast<double>(ms) / 1000.0, 1) + " s";
  return std::to_string(ms / 60'000) + " min";
}

std::size_t DisplayWidth(std::string_view text) {
  // A CJK character takes two columns; every UTF-8 lead byte starts one character.
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) == 0x80) continue;
    width += c >= 0xE0 ? 2 : 1;
  }
  return width;
}

}  // namespace

bool LineTable::Apply(std::string_view topic, std::string_view payload, std::int64_t nowMs) {
  // <prefix>/<bench>/<leaf>
  if (topic.size() <= prefix_.size() + 1 || !topic.starts_with(prefix_) || topic[prefix_.size()] != '/') {
    return ++ignored_, false;
  }
  const std::string_view rest = topic.substr(prefix_.size() + 1);
  const std::size_t slash = rest.find('/');
  if (slash == std::string_view::npos || slash == 0) return ++ignored_, false;
  const std::string_view bench = rest.substr(0, slash);
  const std::string_view leaf = rest.substr(slash + 1);
  if (leaf != "state" && leaf != "live" && leaf != "event") return ++ignored_, false;
  const Json json = Json::parse(payload, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return ++ignored_, false;
  auto it = benches_.find(bench);
  if (it == benches_.end()) {
    if (benches_.size() >= kMaxBenches) return ++ignored_, false;
    it = benches_.emplace(std::string(bench), BenchRow{}).first;
    it->second.bench = bench;
  }
  BenchRow& row = it->second;
  row.lastMessageMs = nowMs;
  if (leaf == "state") {
    const auto online = json.find("online");
    row.online = online != json.end() && online->is_boolean() && online->get<bool>();
    row.link = FieldText(json, "link");
    row.port = FieldText(json, "port");
    row.version = FieldText(json, "version");
    row.command = FieldText(json, "command");
    const auto recording = json.find("recording");
    row.recording = recording != json.end() && recording->is_boolean() && recording->get<bool>();
  } else if (leaf == "live") {
    const auto values = json.find("values");
    if (values != json.end() && values->is_object()) {
      TakeReading(*values, "speed", row.speed, row.speedUnit);
      TakeReading(*values, "force", row.force, row.forceUnit);
    }
  } else {
    row.lastEvent = FieldText(json, "kind");
  }
  const auto stamp = json.find("t");
  if (leaf == "live" && stamp != json.end() && stamp->is_number_integer() && delays_.size() < kMaxDelaySamples) {
    delays_.push_back(static_cast<double>(nowMs - stamp->get<std::int64_t>()));
  }
  return true;
}

std::vector<BenchRow> LineTable::Rows() const {
  std::vector<BenchRow> rows;
  rows.reserve(benches_.size());
  for (const auto& entry : benches_) rows.push_back(entry.second);
  return rows;
}

DelayFigures LineTable::Delays() const {
  DelayFigures figures;
  figures.count = delays_.size();
  if (delays_.empty()) return figures;
  std::vector<double> sorted = delays_;
  std::sort(sorted.begin(), sorted.end());
  const auto at = [&sorted](double share) {
    return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(share * static_cast<double>(sorted.size())))];
  };
  figures.medianMs = at(0.5);
  figures.p99Ms = at(0.99);
  return figures;
}

std::vector<std::string_view> LineTableCaptions() { return {std::begin(kCaptions), std::end(kCaptions)}; }

std::vector<std::string> LineTableCells(const BenchRow& row, std::int64_t nowMs, const TextLookup& texts) {
  const auto reading = [](const std::optional<double>& value, const std::string& unit) {
    if (!value) return std::string("--");
    return FormatFixed(*value, 1) + (unit.empty() ? "" : " " + unit);
  };
  std::string state = row.online ? texts.Lookup("在线") : texts.Lookup("离线");
  if (row.online && !row.link.empty()) state += " " + row.link;
  if (row.recording) state += " " + texts.Lookup("记录中");
  return {row.bench,
          state,
          texts.Lookup(row.command),
          reading(row.speed, row.speedUnit),
          reading(row.force, row.forceUnit),
          row.lastEvent,
          AgeText(nowMs - row.lastMessageMs)};
}

std::string LineTableText(const std::vector<BenchRow>& rows, std::int64_t nowMs, const TextLookup& texts) {
  std::vector<std::vector<std::string>> lines;
  std::vector<std::string> header;
  for (std::string_view caption : kCaptions) header.push_back(texts.Lookup(caption));
  lines.push_back(std::move(header));
  for (const BenchRow& row : rows) lines.push_back(LineTableCells(row, nowMs, texts));
  std::vector<std::size_t> widths(std::size(kCaptions), 0);
  for (const auto& cells : lines) {
    for (std::size_t i = 0; i < cells.size(); ++i) widths[i] = std::max(widths[i], DisplayWidth(cells[i]));
  }
  std::string text;
  for (const auto& cells : lines) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
      text += cells[i];
      if (i + 1 < cells.size()) text.append(widths[i] - DisplayWidth(cells[i]) + 2, ' ');
    }
    text += '\n';
  }
  return text;
}

std::string LineTableJson(const std::vector<BenchRow>& rows, std::int64_t nowMs) {
  Json benches = Json::array();
  for (const BenchRow& row : rows) {
    const auto number = [](const std::optional<double>& v) { return v ? Json(*v) : Json(nullptr); };
    benches.push_back(Json{{"bench", row.bench},
                           {"online", row.online},
                           {"link", row.link},
                           {"port", row.port},
                           {"version", row.version},
                           {"command", row.command},
                           {"recording", row.recording},
                           {"speed", number(row.speed)},
                           {"speed_unit", row.speedUnit},
                           {"force", number(row.force)},
                           {"force_unit", row.forceUnit},
                           {"last_event", row.lastEvent},
                           {"age_ms", nowMs - row.lastMessageMs}});
  }
  return benches.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace rolta
