// The settings form "控制器参数设定" without its widgets: one table of its
// controls (group, caption, field, value at creation, how a received value
// sets the control and how the control sets the field), the state of every
// control, loading a reply, the enabling rules and reactions, and "设置".
// The window holds the widgets and copies this state in and out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "config/controller_params.h"
#include "config/params_exchange.h"
#include "env/text_lookup.h"
#include "env/ui_services.h"

namespace rolta {

inline constexpr std::string_view kSetHardTitle = "控制器参数设定";

enum class FormControlId : std::uint8_t {
  RollerSize,
  EncoderTeeth,
  Year,
  Month,
  Day,
  Hour,
  Minute,
  Second,
  SpeedThreshold,
  ExitProtect,
  ExitWait,
  ControllerPort,
  BaudRate,
  TransmitDelay,
  AutoRestore,
  NegativeLogic,
  AbsorbDirection,
  SpeedReadParam,
  RemoteStart,
  DynamicZero,
  RemoteMonitor,
  CalibFit,
  DieselControlParam,
  LiftSpeed,
  ValveSettle,
  ScanReadParam,
  LiftUpCheck,
  LiftDownCheck,
  LiftModule,
  SmartLiftType,
  LiftLock,
  LugdownEndSpeed,
  LugdownScanSpeed,
  StabilityTime,
  StabilityBand,
  LugdownScanMode,
  LoadMode,
  RetarderType,
  CoastStop,
  LossStop,
  MotoringTorque,
  AutoChannel,
  MotorModule,
  MotorControl,
  Tachometer,
  EngineSpeed,
  FuelTest,
  FuelOutputType,
  TestFL,
  TestFR,
  TestRL,
  TestRR,
  CoastFL,
  CoastFR,
  CoastRL,
  CoastRR,
  PowerModule,
  BenchCorrection,
  ClockMode,
  Count,
};
inline constexpr std::size_t kFormControlCount = static_cast<std::size_t>(FormControlId::Count);

enum class FormKind : std::uint8_t { Edit, Selector, Check };

// How a received value sets an edit's text.
enum class EditLoad : std::uint8_t {
  Float2,      // "%.2f" of the value
  Integer,     // "%d"
  Tenths,      // "%.1f" of value / 10
  Hundredths,  // "%.2f" of value / 100
  Percent,     // "%.1f" of value * 100
  Clock,       // the PC's local time, not the record
};
// How an edit's text sets its field (the conversion rules).
enum class EditStore : std::uint8_t {
  RollerSize,
  StabilityBand,
  Integer,
  Coefficient,
  SpeedThreshold,
  ExitProtect,
  ExitWait,
  BenchCorrection,
  ScanSpeed,
  AutoRestore,
};
// How a received value picks a selector position, and back.
enum class SelectorRule : std::uint8_t {
  Codes,       // codes[position]
  Offset,      // position = value - base; beyond the list: none; below 0: `other`
  SettleTime,  // the lift solenoid-valve settle time
};
// How a received value sets a check box.
enum class CheckLoad : std::uint8_t {
  NonZero,  // on if not 0
  IsOn,     // on if value == onCode
  Bit,      // on if (value & onCode)
  Fuel,     // by the fuel-test enabling rule
};

// Special positions of a selector's `other` and stores' `none`.
inline constexpr int kNoSelection = -1;
inline constexpr int kLeave = -2;

using U8Field = std::uint8_t ControllerParams::*;
using S8Field = std::int8_t ControllerParams::*;
using U16Field = std::uint16_t ControllerParams::*;
using S16Field = std::int16_t ControllerParams::*;
using F32Field = float ControllerParams::*;
using FieldRef = std::variant<U8Field, S8Field, U16Field, S16Field, F32Field>;

struct FormControl {
  FormControlId id;
  std::string_view group;
  std::string_view caption;  // label before an edit or selector; a check box's text
  std::string_view unit;     // label after the control
  FormKind kind;
  FieldRef field;
  // At creation.
  std::string_view text{};      // edit
  int position = kNoSelection;  // selector
  bool checked = false;         // check box
  // Edits.
  EditLoad editLoad = EditLoad::Integer;
  EditStore editStore = EditStore::Integer;
  // Selectors.
  std::span<const std::string_view> items{};
  SelectorRule selector = SelectorRule::Codes;
  std::span<const std::uint8_t> codes{};
  int base = 0;        // Offset
  int other = kLeave;  // position for a value not in the list (Codes) or below it (Offset)
  int none = kLeave;   // code stored with no selection (Codes); kLeave keeps the field
  // Check boxes.
  CheckLoad checkLoad = CheckLoad::NonZero;
  std::uint8_t onCode = 1;  // or the bit
  std::uint8_t offCode = 0;
};

std::span<const FormControl> FormControls();
const FormControl& FormControlOf(FormControlId id);

struct ControlState {
  std::string text;
  int selection = kNoSelection;
  bool checked = false;
  bool enabled = true;
  bool captionEnabled = true;
  bool operator==(const ControlState&) const = default;
};

struct FormState {
  std::array<ControlState, kFormControlCount> controls;
  ControlState& operator[](FormControlId id) { return controls[static_cast<std::size_t>(id)]; }
  const ControlState& operator[](FormControlId id) const { return controls[static_cast<std::size_t>(id)]; }
};

// Messages of the form.
MessageRequest SettleTimeMessage(const TextLookup& lookup);
MessageRequest AutoRestoreMessage(const TextLookup& lookup);
MessageRequest AutoChannelNote(const TextLookup& lookup);
MessageRequest RetarderAdvice(const TextLookup& lookup);

class ParamsForm {
 public:
  ParamsForm(ParamsExchange& exchange, const TextLookup& lookup, MessageBoxService& messages, const LocalClock& clock);

  FormState& State() { return state_; }
  const FormState& State() const { return state_; }
  const std::string& Title() const { return title_; }
  // A selector's entries as the form fills it (the settle-time texts translated).
  std::vector<std::string> Items(FormControlId id) const;

  // LoadParams: the form's last record into the controls; the clock from
  // the PC. Does nothing before the first record (false then).
  bool Load();

  // Control reactions.
  void OnScanModeChanged();
  void OnEngineSpeedClicked();
  void OnFuelTestClicked();
  void OnAutoChannelClicked();
  void OnRetarderDropDownClosed(std::string_view selectedText);

  // The Store column over the previous write; rule 9 may show its message.
  ControllerParams Build();
  // "设置" up to the send: hint, build, caption, encode and write. The
  // window hides itself afterwards. Returns the bytes written.
  std::size_t OnSet();

 private:
  void LoadControl(const FormControl& control, const ControllerParams& values, const std::optional<LocalTime>& now);
  void LoadSettleTime(std::uint8_t value);
  void StoreControl(const FormControl& control, ControllerParams& values);
  void UpdateScanCaption();
  void ApplyFuelEnabling(bool fromLoad, const ControllerParams* values);

  ParamsExchange& exchange_;
  const TextLookup& lookup_;
  MessageBoxService& messages_;
  const LocalClock& clock_;
  FormState state_;
  std::string title_;
};

}  // namespace rolta
