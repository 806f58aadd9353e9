#include "commands/input_checks.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "env/config_home.h"
#include "env/key_value_file.h"
#include "env/number_text.h"

namespace rolta {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Frame fields name the inputs in the same order as the inputs themselves.
static_assert(static_cast<int>(FieldSource::EndLoad) - static_cast<int>(FieldSource::ParamA) ==
              static_cast<int>(CommandInput::EndLoad));

constexpr InputFieldInfo kInputFields[] = {
    {CommandInput::ParamA, &CommandInputs::ParamA, "恒速/恒功速度/a", LimitKind::Speed},
    {CommandInput::ParamB, &CommandInputs::ParamB, "恒力/加载/b", LimitKind::Force},
    {CommandInput::ParamM, &CommandInputs::ParamM, "设定负荷/m", LimitKind::Power},
    {CommandInput::ParamC, &CommandInputs::ParamC, "速度间隔L/c", LimitKind::None},
    {CommandInput::StartSpeed, &CommandInputs::StartSpeed, "起始速度", LimitKind::Speed},
    {CommandInput::EndSpeed, &CommandInputs::EndSpeed, "结束速度/间隔H", LimitKind::Speed},
    {CommandInput::StartLoad, &CommandInputs::StartLoad, "起始负荷", LimitKind::Power},
    {CommandInput::EndLoad, &CommandInputs::EndLoad, "结束负荷", LimitKind::Power},
};

// The settings file's keys, one row per setting.
struct SafetyKey {
  std::string_view key;
  double SafetySettings::*number;  // nullptr: the on/off setting
};
constexpr SafetyKey kSafetyKeys[] = {
    {"speed_limit", &SafetySettings::speedLimit},
    {"force_limit", &SafetySettings::forceLimit},
    {"power_limit", &SafetySettings::powerLimit},
    {"auto_reconnect", nullptr},
};

std::string NumberText(double value) { return FormatText("%.6g", value); }

std::string_view UnitOf(LimitKind kind) {
  switch (kind) {
    case LimitKind::Speed: return "km/h";
    case LimitKind::Force: return "N";
    case LimitKind::Power: return "kW";
    case LimitKind::None: break;
  }
  return "";
}

}  // namespace

StrictNumber ReadStrictNumber(std::string_view text) {
  constexpr StrictNumber kNotANumber{StrictNumber::Status::NotANumber, 0};
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && IsSpace(text[i])) ++i;
  if (i == n) return {StrictNumber::Status::Number, 0.0};  // an empty field means 0, as it always has
  const std::size_t start = i;
  if (text[i] == '+' || text[i] == '-') ++i;
  std::size_t digits = 0;
  while (i < n && IsDigit(text[i])) ++i, ++digits;
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return kNotANumber;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exponentDigits = 0;
    while (i < n && IsDigit(text[i])) ++i, ++exponentDigits;
    if (exponentDigits == 0) return kNotANumber;
  }
  const std::size_t end = i;
  while (i < n && IsSpace(text[i])) ++i;
  if (i != n) return kNotANumber;
  // The value the frame will carry is read by the same conversion as ever.
  const double value = TextToDouble(text.substr(start, end - start));
  if (!(std::fabs(value) <= FLT_MAX)) return {StrictNumber::Status::OutOfRange, value};
  return {StrictNumber::Status::Number, value};
}

std::optional<double> ParseStrictNumber(std::string_view text) {
  const StrictNumber number = ReadStrictNumber(text);
  if (number.status != StrictNumber::Status::Number) return std::nullopt;
  return number.value;
}

double SafetySettings::LimitFor(LimitKind kind) const {
  switch (kind) {
    case LimitKind::Speed: return speedLimit;
    case LimitKind::Force: return forceLimit;
    case LimitKind::Power: return powerLimit;
    case LimitKind::None: break;
  }
  return HUGE_VAL;
}

std::filesystem::path SafetySettingsPath() { return ConfigHome() / "rolta" / "safety.conf"; }

SafetySettings LoadSafetySettings(const std::filesystem::path& path) {
  SafetySettings settings;
  // Lines without "=", unknown keys and unusable values keep the defaults, as
  // does a file that cannot be read.
  for (const KeyValueLine& line : ReadKeyValueFile(path).lines) {
    if (!line.hasEquals) continue;
    for (const SafetyKey& row : kSafetyKeys) {
      if (row.key != line.key) continue;
      const std::string& value = line.value;
      if (row.number == nullptr) {
        if (value == "1" || value == "true") settings.autoReconnect = true;
        if (value == "0" || value == "false") settings.autoReconnect = false;
        continue;
      }
      // A limit must be a positive number; anything else keeps the default.
      const std::optional<double> number = value.empty() ? std::nullopt : ParseStrictNumber(value);
      if (number && *number > 0) settings.*row.number = *number;
    }
  }
  return settings;
}

bool SaveSafetySettings(const std::filesystem::path& path, const SafetySettings& settings) {
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  std::ostringstream text;
  text << "# ROLTA safety settings: set-point limits and automatic reconnection\n";
  for (const SafetyKey& row : kSafetyKeys) {
    text << row.key << '=';
    if (row.number != nullptr)
      text << NumberText(settings.*row.number);
    else
      text << (settings.autoReconnect ? 1 : 0);
    text << '\n';
  }
  // Written beside and renamed, so a failed write never leaves half a file.
  const std::filesystem::path temporary = path.string() + ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    if (!out) return false;
    out << text.str();
    out.flush();
    if (!out) return false;
  }
  std::filesystem::rename(temporary, path, error);
  return !error;
}

std::span<const InputFieldInfo> InputFields() { return kInputFields; }

const InputFieldInfo* InputFieldOf(CommandInput input) {
  for (const InputFieldInfo& field : kInputFields) {
    if (field.input == input) return &field;
  }
  return nullptr;
}

std::vector<CommandInput> FieldsReadBy(int position) {
  std::vector<CommandInput> fields;
  const CatalogueRow* row = CatalogueRowAt(position);
  if (row == nullptr || row->action != CatalogueAction::Send) return fields;
  const InputSet enabled = InputsEnabledFor(position);
  for (const InputFieldInfo& field : kInputFields) {
    bool read = enabled.Has(field.input);
    // Some coast-downs carry a field they do not enable: what it holds goes out.
    if (row->frame == FrameKind::Profile || row->frame == FrameKind::Setpoint) {
      for (FieldSource source : row->fields) {
        const int index = static_cast<int>(source) - static_cast<int>(FieldSource::ParamA);
        if (index == static_cast<int>(field.input) && source >= FieldSource::ParamA && source <= FieldSource::EndLoad) {
          read = true;
        }
      }
    }
    if (read) fields.push_back(field.input);
  }
  return fields;
}

std::vector<InputProblem> CheckInputs(int position, const CommandInputs& inputs, const SafetySettings& settings) {
  std::vector<InputProblem> limits;
  for (CommandInput input : FieldsReadBy(position)) {
    const InputFieldInfo& field = *InputFieldOf(input);
    const std::string& text = inputs.*field.text;
    const StrictNumber number = ReadStrictNumber(text);
    switch (number.status) {
      case StrictNumber::Status::Number: break;
      case StrictNumber::Status::NotANumber: return {{InputProblem::Kind::NotANumber, input, text, 0, 0}};
      case StrictNumber::Status::OutOfRange:
        return {{InputProblem::Kind::OutOfRange, input, text, number.value, static_cast<double>(FLT_MAX)}};
    }
    const double limit = settings.LimitFor(field.limit);
    if (std::fabs(number.value) > limit) {
      limits.push_back({InputProblem::Kind::AboveLimit, input, text, number.value, limit});
    }
  }
  return limits;
}

MessageRequest InvalidNumberMessage(const TextLookup& lookup, const InputProblem& problem) {
  const InputFieldInfo& field = *InputFieldOf(problem.input);
  const bool outOfRange = problem.kind == InputProblem::Kind::OutOfRange;
  std::string text = lookup.Lookup(outOfRange ? "输入的数值超出范围" : "输入的不是有效数字") + ": " +
                     lookup.Lookup(field.label) + " \"" + problem.text + "\"";
  if (outOfRange) text += " (±" + NumberText(problem.limit) + ")";
  text += "\n" + lookup.Lookup("指令未发送。");
  return {text, lookup.Lookup("输入错误"), MessageIcon::Warning, MessageButtons::Ok};
}

std::string LimitExceededText(const TextLookup& lookup, const InputProblem& problem) {
  const InputFieldInfo& field = *InputFieldOf(problem.input);
  const std::string unit(UnitOf(field.limit));
  return lookup.Lookup(field.label) + ": " + NumberText(problem.value) + " " + unit + " " +
         lookup.Lookup("超过安全限值") + " " + NumberText(problem.limit) + " " + unit;
}

MessageRequest LimitConfirmation(const TextLookup& lookup, const InputProblem& problem) {
  std::string text = LimitExceededText(lookup, problem) + "\n" + lookup.Lookup("仍要执行吗?");
  return {text, lookup.Lookup(kConfirmCaption), MessageIcon::Warning, MessageButtons::OkCancel};
}

std::optional<CommandInput> ApproveInputs(int position, const CommandInputs& inputs, const SafetySettings& settings,
                                          const TextLookup& lookup, MessageBoxService& boxes) {
  for (const InputProblem& problem : CheckInputs(position, inputs, settings)) {
    if (problem.kind != InputProblem::Kind::AboveLimit) {
      boxes.Show(InvalidNumberMessage(lookup, problem));
      return problem.input;
    }
    if (boxes.Show(LimitConfirmation(lookup, problem)) != MessageAnswer::Ok) return problem.input;
  }
  return std::nullopt;
}

}  // namespace rolta
