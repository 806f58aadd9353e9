#include "cli/cli_documents.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>

namespace rolta::cli {
namespace {

using json = nlohmann::ordered_json;
using P = ControllerParams;

constexpr int kOnOff[] = {0, 1};
constexpr int kBaudDivisors[] = {1, 2, 3, 6, 12};
constexpr int kClockModes[] = {0, 100};
constexpr double kU8 = 255;
constexpr double kFloatMax = 3.4e38;

// name, member, unit, min, max, choices, off value outside the range
constexpr ParamField kParamFields[] = {
    {"rollerSize", &P::rollerSize, "", -kFloatMax, kFloatMax, {}, kNoAlso},
    {"encoderTeeth", &P::encoderTeeth, "teeth/rev", 0, 65535, {}, kNoAlso},
    {"controllerPort", &P::controllerPort, "0 COM1, 1 COM2", 0, 1, {}, kNoAlso},
    {"baudDivisor", &P::baudDivisor, "115200/baud", 0, 0, kBaudDivisors, kNoAlso},
    {"loadMode", &P::loadMode, "", 10, 14, {}, kNoAlso},
    {"fuelOutputType", &P::fuelOutputType, "", 0, 1, {}, kNoAlso},
    {"remoteStart", &P::remoteStart, "", 0, 0, kOnOff, kNoAlso},
    {"zeroMode", &P::zeroMode, "1 dynamic, 0 static", 0, 0, kOnOff, kNoAlso},
    {"autoRestoreSeconds", &P::autoRestoreSeconds, "s", 120, 32767, {}, 0},
    {"clockMode", &P::clockMode, "100 high precision, 0 ordinary", 0, 0, kClockModes, kNoAlso},
    {"liftSpeed", &P::liftSpeed, "km/h", 1, 5, {}, kNoAlso},
    {"lugdownEndSpeed", &P::lugdownEndSpeed, "km/h", 0, kU8, {}, kNoAlso},
    {"stabilityBand", &P::stabilityBand, "fraction", -kFloatMax, kFloatMax, {}, kNoAlso},
    {"liftModule", &P::liftModule, "", 10, 13, {}, kNoAlso},
    {"motorModule", &P::motorModule, "", 10, 11, {}, kNoAlso},
    {"stabilityTime", &P::stabilityTime, "", 0, kU8, {}, kNoAlso},
    {"retarderType", &P::retarderType, "", 10, 17, {}, kNoAlso},
    {"coastStopSpeed", &P::coastStopSpeed, "km/h", 0, kU8, {}, kNoAlso},
    {"lossStopSpeed", &P::lossStopSpeed, "km/h", 0, kU8, {}, kNoAlso},
    {"motorControl", &P::motorControl, "10 starter, 11 inverter", 10, 11, {}, kNoAlso},
    {"lugdownScanMode", &P::lugdownScanMode, "10 steady, 11 dynamic", 10, 11, {}, kNoAlso},
    {"engineSpeedInput", &P::engineSpeedInput, "", 0, 0, kOnOff, kNoAlso},
    {"negativeLogic", &P::negativeLogic, "", 0, 0, kOnOff, kNoAlso},
    {"testRetarderMask", &P::testRetarderMask, "bits FL FR RL RR", 0, 15, {}, kNoAlso},
    {"liftLock", &P::liftLock, "", 0, 0, kOnOff, kNoAlso},
    {"coastRetarderMask", &P::coastRetarderMask, "bits FL FR RL RR", 0, 15, {}, kNoAlso},
    {"powerModule", &P::powerModule, "0 IGBT850, 1 IGBT0, 2 IGBTDC", 0, 2, {}, kNoAlso},
    {"absorbDirection", &P::absorbDirection, "", 0, 0, kOnOff, kNoAlso},
    {"motoringTorqueTest", &P::motoringTorqueTest, "", 0, 0, kOnOff, kNoAlso},
    {"fuelTest", &P::fuelTest, "", 0, 0, kOnOff, kNoAlso},
    {"benchCorrection", &P::benchCorrection, "0.1", -127, 127, {}, kNoAlso},
    {"valveSettleTime", &P::valveSettleTime, "s, 255 monostable", 3, 20, {}, 255},
    {"remoteMonitor", &P::remoteMonitor, "", 0, 0, kOnOff, kNoAlso},
    {"transmitDelay", &P::transmitDelay, "", 0, kU8, {}, kNoAlso},
    {"calibFit", &P::calibFit, "1 least squares, 0 piecewise linear", 0, 0, kOnOff, kNoAlso},
    {"autoChannelConfig", &P::autoChannelConfig, "", 0, 0, kOnOff, kNoAlso},
    {"lugdownScanSpeed", &P::lugdownScanSpeed, "0.1 km/h", 0, 200, {}, kNoAlso},
    {"dieselControlParam", &P::dieselControlParam, "0.01", 0, kU8, {}, kNoAlso},
    {"speedReadParam", &P::speedReadParam, "0.01", 0, kU8, {}, kNoAlso},
    {"smartLiftType", &P::smartLiftType, "0 type I, 1 type II", 0, 1, {}, kNoAlso},
    {"speedThreshold", &P::speedThreshold, "0.1 km/h", 1, 50, {}, kNoAlso},
    {"exitProtectSeconds", &P::exitProtectSeconds, "s", 0, 30, {}, kNoAlso},
    {"exitWaitSeconds", &P::exitWaitSeconds, "s", 0, 60, {}, kNoAlso},
    {"liftLimitChecks", &P::liftLimitChecks, "bit 0 up, bit 1 down", 0, 3, {}, kNoAlso},
    {"scanReadParam", &P::scanReadParam, "0.01", 0, kU8, {}, kNoAlso},
    {"tachometerType", &P::tachometerType, "0 DiSpeed490, 1 RPM5300", 0, 1, {}, kNoAlso},
};

constexpr ParamField kControllerInfoFields[] = {
    {"kernelVersion", &P::kernelVersion, "0.01", 0, 65535, {}, kNoAlso},
    {"hardwareVersion", &P::hardwareVersion, "major.minor nibbles", 0, kU8, {}, kNoAlso},
    {"hardwareModel", &P::hardwareModel, "1 QRX, 2 ASM, 3 VMAS, 4 LUGDN, 5 MASM", 0, kU8, {}, kNoAlso},
};

double NumberOf(const ParamField& field, const ControllerParams& values) {
  return std::visit(
      [&values](auto member) -> double {
        if constexpr (std::is_same_v<decltype(member), float ControllerParams::*>) {
          // Through its shortest text, so the document shows 0.005, not 0.004999999888.
          const std::string text = ShortestFloatText(values.*member);
          return std::strtod(text.c_str(), nullptr);
        } else {
          return static_cast<double>(values.*member);
        }
      },
      field.member);
}

bool IsFloatField(const ParamField& field) {
  return std::holds_alternative<float ControllerParams::*>(field.member);
}

json FieldsObject(std::span<const ParamField> fields, const ControllerParams& values) {
  json object = json::object();
  for (const ParamField& field : fields) {
    if (IsFloatField(field)) {
      object[std::string(field.name)] = NumberOf(field, values);
    } else {
      object[std::string(field.name)] = static_cast<std::int64_t>(NumberOf(field, values));
    }
  }
  return object;
}

bool InRange(const ParamField& field, double value) {
  if (field.also != kNoAlso && value == field.also) return true;
  if (!field.choices.empty()) {
    return std::find(field.choices.begin(), field.choices.end(), value) != field.choices.end();
  }
  return value >= field.min && value <= field.max;
}

std::string RangeText(const ParamField& field) {
  std::ostringstream text;
  if (!field.choices.empty()) {
    text << "one of";
    for (int choice : field.choices) text << ' ' << choice;
  } else {
    text << field.min << ".." << field.max;
  }
  if (field.also != kNoAlso) text << " or " << field.also;
  return text.str();
}

void SetField(const ParamField& field, ControllerParams& values, double value) {
  std::visit(
      [&values, value](auto member) {
        using T = std::remove_reference_t<decltype(values.*member)>;
        values.*member = static_cast<T>(value);
      },
      field.member);
}

std::variant<json, DocumentError> ParseJson(std::string_view text) {
  try {
    return json::parse(text.begin(), text.end());
  } catch (const json::parse_error& error) {
    return DocumentError{std::string("not valid JSON: ") + error.what()};
  }
}

// Top-level keys must be among `allowed`, and `required` must be an object.
std::optional<DocumentError> CheckTop(const json& document, std::initializer_list<std::string_view> allowed,
                                      std::string_view required) {
  if (!document.is_object()) return DocumentError{"the document is not a JSON object"};
  for (const auto& [key, value] : document.items()) {
    if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
      return DocumentError{"unknown key \"" + key + "\""};
    }
    if (!value.is_object()) return DocumentError{"\"" + key + "\" is not an object"};
  }
  if (!document.contains(std::string(required))) {
    return DocumentError{"no \"" + std::string(required) + "\" object"};
  }
  return std::nullopt;
}

const ChannelField* ChannelFieldByLabel(std::string_view label, std::size_t* index) {
  const auto fields = ChannelFields();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].label == label) {
      *index = i;
      return &fields[i];
    }
  }
  return nullptr;
}

constexpr CalibName kCalibNames[] = {
    {CalibChannel::Temperature, "temperature"},     {CalibChannel::Humidity, "humidity"},
    {CalibChannel::AirPressure, "pressure"},        {CalibChannel::Speed, "speed"},
    {CalibChannel::TorqueFrontLeft, "torque-fl"},   {CalibChannel::TorqueFrontRight, "torque-fr"},
    {CalibChannel::TorqueRearLeft, "torque-rl"},    {CalibChannel::TorqueRearRight, "torque-rr"},
    {CalibChannel::Loss, "loss"},                   {CalibChannel::Variable, "var"},
};

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<float> ParseFiniteFloat(std::string_view text) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  float value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::string ShortestFloatText(float value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::span<const ParamField> ParamFields() { return kParamFields; }
std::span<const ParamField> ControllerInfoFields() { return kControllerInfoFields; }

std::string ParamsToJson(const ControllerParams& values) {
  json units = json::object();
  for (const ParamField& field : kParamFields) {
    if (!field.unit.empty()) units[std::string(field.name)] = field.unit;
  }
  const json document{{"controller", FieldsObject(kControllerInfoFields, values)},
                      {"settings", FieldsObject(kParamFields, values)},
                      {"units", units}};
  return document.dump(2) + "\n";
}

std::variant<ControllerParams, DocumentError> ParamsFromJson(std::string_view text,
                                                             const ControllerParams& base) {
  auto parsed = ParseJson(text);
  if (auto* error = std::get_if<DocumentError>(&parsed)) return *error;
  const json& document = std::get<json>(parsed);
  if (auto error = CheckTop(document, {"controller", "settings", "units"}, "settings")) return *error;
  ControllerParams values = base;
  for (const auto& [name, value] : document.at("settings").items()) {
    const std::string& key = name;  // clang 14 cannot capture a structured binding
    const auto* field = std::find_if(std::begin(kParamFields), std::end(kParamFields),
                                     [&key](const ParamField& f) { return f.name == key; });
    if (field == std::end(kParamFields)) {
      const bool readOnly = std::any_of(std::begin(kControllerInfoFields), std::end(kControllerInfoFields),
                                        [&key](const ParamField& f) { return f.name == key; });
      return DocumentError{"field \"" + key + "\": " +
                           (readOnly ? "the controller's own, cannot be written" : "unknown field")};
    }
    if (!value.is_number()) return DocumentError{"field \"" + key + "\": not a number"};
    const double number = value.get<double>();
    if (!IsFloatField(*field) && !value.is_number_integer()) {
      return DocumentError{"field \"" + key + "\": must be a whole number"};
    }
    if (!std::isfinite(number) || !InRange(*field, number)) {
      return DocumentError{"field \"" + key + "\": " + value.dump() + " is out of range (" +
                           RangeText(*field) + ")"};
    }
    SetField(*field, values, number);
  }
  return values;
}

std::vector<std::string> ParamsDifferences(const ControllerParams& sent, const ControllerParams& back) {
  std::vector<std::string> names;
  for (const ParamField& field : kParamFields) {
    const double a = NumberOf(field, sent);
    const double b = NumberOf(field, back);
    if (a != b) {
      std::ostringstream line;
      line << field.name << " (sent " << a << ", the controller holds " << b << ")";
      names.push_back(line.str());
    }
  }
  return names;
}

std::string ChannelMapToJson(const ChannelMapEditor& editor) {
  json channels = json::object();
  const auto fields = ChannelFields();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].replyByte == kNoByte) continue;
    channels[std::string(fields[i].label)] = static_cast<int>(ChannelByteFromText(editor.Text(i)));
  }
  return json{{"channels", channels}}.dump(2, ' ', false) + "\n";
}

std::variant<std::map<std::size_t, std::uint8_t>, DocumentError> ChannelMapFromJson(std::string_view text) {
  auto parsed = ParseJson(text);
  if (auto* error = std::get_if<DocumentError>(&parsed)) return *error;
  const json& document = std::get<json>(parsed);
  if (auto error = CheckTop(document, {"channels"}, "channels")) return *error;
  std::map<std::size_t, std::uint8_t> values;
  for (const auto& [key, value] : document.at("channels").items()) {
    std::size_t index = 0;
    const ChannelField* field = ChannelFieldByLabel(key, &index);
    if (field == nullptr) return DocumentError{"channel \"" + key + "\": unknown channel"};
    if (field->storeByte == kNoByte) {
      return DocumentError{"channel \"" + key + "\": reserved, no frame carries it"};
    }
    if (!value.is_number_integer() || value.get<std::int64_t>() < 0 || value.get<std::int64_t>() > 255) {
      return DocumentError{"channel \"" + key + "\": " + value.dump() + " is not a channel number 0..255"};
    }
    values[index] = static_cast<std::uint8_t>(value.get<int>());
  }
  return values;
}

std::string ChannelMapText(const ChannelMapEditor& editor) {
  std::string text;
  const auto fields = ChannelFields();
  for (const ChannelGroupInfo& group : ChannelGroups()) {
    text += std::string(group.title) + "\n";
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].group != group.group || fields[i].replyByte == kNoByte) continue;
      text += "  " + std::string(fields[i].label) + "\t" + editor.Text(i) + "\n";
    }
  }
  return text;
}

std::span<const CalibName> CalibNames() { return kCalibNames; }

std::string_view CalibNameOf(CalibChannel channel) {
  for (const CalibName& name : kCalibNames) {
    if (name.channel == channel) return name.name;
  }
  return {};
}

std::optional<CalibChannel> CalibChannelByName(std::string_view name) {
  for (const CalibName& entry : kCalibNames) {
    if (entry.name == name) return entry.channel;
  }
  for (const CalibChannelRow& row : CalibChannels()) {
    if (row.fetchCaption == name || row.storeCaption == name) return row.channel;
  }
  return std::nullopt;
}

std::string CalibToCsv(const CalibTable& table, std::size_t points) {
  std::string text = "first,second\n";
  for (std::size_t i = 0; i < points; ++i) {
    text += ShortestFloatText(table.First(i)) + "," + ShortestFloatText(table.Second(i)) + "\n";
  }
  return text;
}

std::string CalibToText(const CalibTable& table, std::size_t points) {
  std::string text;
  for (const CalibDisplayRow& row : DisplayRows(table, points)) {
    text += row.number + "\t" + row.first + "\t" + row.second + "\n";
  }
  return text;
}

std::variant<std::vector<CalibGridRow>, DocumentError> CalibFromCsv(std::string_view text,
                                                                    std::size_t capacity) {
  std::vector<CalibGridRow> rows;
  std::size_t lineNumber = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line = Trim(text.substr(start, end - start));
    start = end + 1;
    ++lineNumber;
    if (line.empty() || (lineNumber == 1 && line == "first,second")) continue;
    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos || line.find(',', comma + 1) != std::string_view::npos) {
      return DocumentError{where + "needs two values separated by one comma"};
    }
    const std::optional<float> first = ParseFiniteFloat(line.substr(0, comma));
    const std::optional<float> second = ParseFiniteFloat(line.substr(comma + 1));
    if (!first || !second) return DocumentError{where + "\"" + std::string(line) + "\" is not two finite numbers"};
    if (rows.size() == capacity) {
      return DocumentError{where + "the table holds at most " + std::to_string(capacity) + " points"};
    }
    rows.push_back({ShortestFloatText(*first), ShortestFloatText(*second)});
  }
  return rows;
}

std::string CalibFileName(CalibChannel channel) {
  return "calib-" + std::string(CalibNameOf(channel)) + ".csv";
}

namespace {
json ManifestFiles() {
  json calib = json::object();
  for (const CalibName& name : kCalibNames) calib[std::string(name.name)] = CalibFileName(name.channel);
  return json{{"params", kParamsFile}, {"channels", kChannelsFile}, {"calib", calib}};
}
constexpr std::string_view kBackupFormat = "rolta-backup/1";
}  // namespace

std::string BackupManifest() {
  return json{{"format", kBackupFormat}, {"files", ManifestFiles()}}.dump(2) + "\n";
}

std::optional<DocumentError> CheckManifest(std::string_view text) {
  auto parsed = ParseJson(text);
  if (auto* error = std::get_if<DocumentError>(&parsed)) return *error;
  const json& document = std::get<json>(parsed);
  if (!document.is_object() || document.value("format", json()) != kBackupFormat) {
    return DocumentError{"not a backup manifest of format " + std::string(kBackupFormat)};
  }
  if (document.value("files", json()) != ManifestFiles()) {
    return DocumentError{"the manifest lists other files than a backup holds"};
  }
  return std::nullopt;
}

}  // namespace rolta::cli
