// Checks of the operator's typed values before a position is executed: a
// field must hold a complete number (or nothing, which means 0), and a
// speed, force or power set-point above its safety limit needs the
// operator's confirmation. The limits and the automatic reconnection are
// kept in a settings file of ours, beside the 12-byte one.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands/catalogue.h"
#include "commands/command_executor.h"
#include "env/text_lookup.h"
#include "env/ui_services.h"

namespace rolta {

// A complete decimal number: optional white space, sign, digits with an
// optional ".", an optional exponent, optional white space, nothing else.
// Empty (or only white space) reads 0. Letters, "12abc", "nan", "inf" and hex
// are NotANumber; a number beyond the float range of a frame field ("1e39")
// is OutOfRange, its value as read (possibly infinite).
struct StrictNumber {
  enum class Status : std::uint8_t { Number, NotANumber, OutOfRange } status = Status::NotANumber;
  double value = 0;
};
StrictNumber ReadStrictNumber(std::string_view text);
// The value of a Number, nullopt for anything else.
std::optional<double> ParseStrictNumber(std::string_view text);

enum class LimitKind : std::uint8_t { None, Speed, Force, Power };

struct SafetySettings {
  double speedLimit = 200.0;    // km/h
  double forceLimit = 10000.0;  // N
  double powerLimit = 300.0;    // kW
  bool autoReconnect = false;

  double LimitFor(LimitKind kind) const;
  bool operator==(const SafetySettings&) const = default;
};

// $XDG_CONFIG_HOME/rolta/safety.conf, or ~/.config/rolta/safety.conf.
std::filesystem::path SafetySettingsPath();
// Lines "key=value"; unknown keys are ignored, a missing or unusable value
// keeps its default. A missing file gives the defaults.
SafetySettings LoadSafetySettings(const std::filesystem::path& path);
bool SaveSafetySettings(const std::filesystem::path& path, const SafetySettings& settings);

// One text input field of the console.
struct InputFieldInfo {
  CommandInput input;
  std::string CommandInputs::*text;
  std::string_view label;
  LimitKind limit;
};
std::span<const InputFieldInfo> InputFields();
const InputFieldInfo* InputFieldOf(CommandInput input);

struct InputProblem {
  // OutOfRange: a number no frame field can carry; like NotANumber it can
  // only be corrected, never confirmed.
  enum class Kind : std::uint8_t { NotANumber, AboveLimit, OutOfRange } kind = Kind::NotANumber;
  CommandInput input = CommandInput::ParamA;
  std::string text;
  double value = 0;
  double limit = 0;
};

// The text fields a position reads: those it enables and those its frame
// carries, in the order of the console's fields.
std::vector<CommandInput> FieldsReadBy(int position);
// Problems in the order they are put to the operator: the first field that
// is not a number or out of range alone (nothing may be sent), else every
// value above its limit.
std::vector<InputProblem> CheckInputs(int position, const CommandInputs& inputs, const SafetySettings& settings);

// The box for a NotANumber or OutOfRange problem.
MessageRequest InvalidNumberMessage(const TextLookup& lookup, const InputProblem& problem);
// "label: value unit above the safety limit limit unit", the confirmation's first line.
std::string LimitExceededText(const TextLookup& lookup, const InputProblem& problem);
MessageRequest LimitConfirmation(const TextLookup& lookup, const InputProblem& problem);

// Puts the problems to the operator. Returns the field to focus when the
// execution must not go ahead, nullopt when it may.
std::optional<CommandInput> ApproveInputs(int position, const CommandInputs& inputs, const SafetySettings& settings,
                                          const TextLookup& lookup, MessageBoxService& boxes);

}  // namespace rolta
