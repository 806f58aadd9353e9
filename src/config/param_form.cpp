#include "config/param_form.h"
#include <algorithm>
#include <cctype>
#include <type_traits>

#include "env/number_text.h"
#include "env/shown_text.h"

namespace rolta {
namespace {

using P = ControllerParams;
using Id = FormControlId;
using SV = std::string_view;

constexpr SV kPortItems[] = {"COM1", "COM2"};
constexpr std::uint8_t kPortCodes[] = {0, 1};
constexpr SV kBaudItems[] = {"9600", "19.2K", "38.4K", "57.6K", "115.2K"};
constexpr std::uint8_t kBaudCodes[] = {12, 6, 3, 2, 1};
constexpr SV kLiftSpeedItems[] = {"1", "2", "3", "4", "5"};
constexpr SV kLiftModuleItems[] = {"举升普通模块", "举升智能模块", "普通模块高电平升", "普通模块低电平升"};
constexpr std::uint8_t kLiftModuleCodes[] = {10, 11, 12, 13};
constexpr SV kSmartLiftItems[] = {"I型", "II型"};
constexpr std::uint8_t kSmartLiftCodes[] = {0, 1};
constexpr SV kScanModeItems[] = {"稳态", "动态"};
constexpr std::uint8_t kScanModeCodes[] = {10, 11};
constexpr SV kLoadModeItems[] = {"恒负荷模式5", "恒负荷模式4", "恒负荷模式3", "恒负荷模式2", "恒负荷模式1"};
constexpr std::uint8_t kLoadModeCodes[] = {14, 13, 12, 11, 10};
constexpr SV kRetarderItems[] = {"KLOFT涡流机",        "KLAM涡流机", "FRELASA涡流机", "CLC涡流机",
                                 "KLOFT涡流机(250KW)", "ESP",        "WWW",           "Z4"};
constexpr SV kTachometerItems[] = {"DiSpeed490", "RPM5300"};
constexpr SV kFuelOutputItems[] = {"频率型", "计数型"};
constexpr SV kPowerItems[] = {"IGBT850", "IGBT0", "IGBTDC"};

// The settle-time selector: "单稳态", then 3 to 19 seconds.
constexpr int kSettleFirstSeconds = 3;
constexpr int kSettleLastSeconds = 19;

constexpr FormControl Edit(Id id, SV group, SV caption, FieldRef field, SV text, EditLoad load, EditStore store,
                           SV unit = {}) {
  FormControl c{id, group, caption, unit, FormKind::Edit, field};
  c.text = text;
  c.editLoad = load;
  c.editStore = store;
  return c;
}
constexpr FormControl Codes(Id id, SV group, SV caption, FieldRef field, std::span<const SV> items,
                            std::span<const std::uint8_t> codes, int position, int other, int none, SV unit = {}) {
  FormControl c{id, group, caption, unit, FormKind::Selector, field};
  c.items = items;
  c.codes = codes;
  c.position = position;
  c.other = other;
  c.none = none;
  return c;
}
constexpr FormControl Offset(Id id, SV group, SV caption, FieldRef field, std::span<const SV> items, int base,
                             int below, int position, SV unit = {}) {
  FormControl c{id, group, caption, unit, FormKind::Selector, field};
  c.items = items;
  c.selector = SelectorRule::Offset;
  c.base = base;
  c.other = below;
  c.position = position;
  return c;
}
constexpr FormControl Check(Id id, SV group, SV caption, FieldRef field, CheckLoad load, std::uint8_t on = 1,
                            std::uint8_t off = 0, bool checked = false) {
  FormControl c{id, group, caption, {}, FormKind::Check, field};
  c.checkLoad = load;
  c.onCode = on;
  c.offCode = off;
  c.checked = checked;
  return c;
}
constexpr FormControl Bit(Id id, SV group, SV caption, U8Field field, std::uint8_t bit) {
  return Check(id, group, caption, field, CheckLoad::Bit, bit, 0);
}

constexpr int kNoneFF = 0xFF;

// The form, group by group; a row's place is its FormControlId.
constexpr FormControl kControls[] = {
    Edit(Id::RollerSize, "测功机参数", "滚筒尺寸:", &P::rollerSize, "216", EditLoad::Float2, EditStore::RollerSize),
    Edit(Id::EncoderTeeth, "测功机参数", "编码器齿数:", &P::encoderTeeth, "60", EditLoad::Integer, EditStore::Integer),
    Edit(Id::Year, "当前时间参数", "年", &P::clockYear, {}, EditLoad::Clock, EditStore::Integer),
    Edit(Id::Month, "当前时间参数", "月", &P::clockMonth, {}, EditLoad::Clock, EditStore::Integer),
    Edit(Id::Day, "当前时间参数", "日", &P::clockDay, {}, EditLoad::Clock, EditStore::Integer),
    Edit(Id::Hour, "当前时间参数", "时", &P::clockHour, {}, EditLoad::Clock, EditStore::Integer),
    Edit(Id::Minute, "当前时间参数", "分", &P::clockMinute, {}, EditLoad::Clock, EditStore::Integer),
    Edit(Id::Second, "当前时间参数", "秒", &P::clockSecond, {}, EditLoad::Clock, EditStore::Integer),
    Edit(Id::SpeedThreshold, "运行参数", "速度阀值：", &P::speedThreshold, {}, EditLoad::Tenths,
         EditStore::SpeedThreshold),
    Edit(Id::ExitProtect, "运行参数", "出车保护：", &P::exitProtectSeconds, {}, EditLoad::Integer,
         EditStore::ExitProtect),
    Edit(Id::ExitWait, "运行参数", "出车等待：", &P::exitWaitSeconds, {}, EditLoad::Integer, EditStore::ExitWait),
    Codes(Id::ControllerPort, "通讯", "通讯口:", &P::controllerPort, kPortItems, kPortCodes, 0, kLeave, kNoneFF),
    Codes(Id::BaudRate, "通讯", "通讯速度:", &P::baudDivisor, kBaudItems, kBaudCodes, 3, 3, 2),
    Edit(Id::TransmitDelay, "通讯", "发送速度:", &P::transmitDelay, "10", EditLoad::Integer, EditStore::Integer),
    Edit(Id::AutoRestore, "自动恢复", {}, &P::autoRestoreSeconds, "0", EditLoad::Integer, EditStore::AutoRestore, "秒"),
    Check(Id::NegativeLogic, "IO方向", "负逻辑", &P::negativeLogic, CheckLoad::NonZero),
    Check(Id::AbsorbDirection, "MASM", "功率吸收方向(1)", &P::absorbDirection, CheckLoad::NonZero),
    Edit(Id::SpeedReadParam, "MASM", "发系", &P::speedReadParam, "1", EditLoad::Hundredths, EditStore::Coefficient),
    Check(Id::RemoteStart, "辅助项目", "启动遥控", &P::remoteStart, CheckLoad::NonZero),
    Check(Id::DynamicZero, "辅助项目", "动态零点", &P::zeroMode, CheckLoad::NonZero, 1, 0, true),
    Check(Id::RemoteMonitor, "辅助项目", "监控", &P::remoteMonitor, CheckLoad::NonZero),
    Check(Id::CalibFit, "辅助项目", "最小二乘法曲线拟合", &P::calibFit, CheckLoad::NonZero),
    Edit(Id::DieselControlParam, "辅助项目", "柴系", &P::dieselControlParam, "1", EditLoad::Hundredths,
         EditStore::Coefficient),
    Offset(Id::LiftSpeed, "举升控制", "举升升保护速度", &P::liftSpeed, kLiftSpeedItems, 1, 0, 0, "km/h"),
    [] {
      FormControl c{Id::ValveSettle, "举升控制", "电磁阀稳定时间", "秒", FormKind::Selector, &P::valveSettleTime};
      c.selector = SelectorRule::SettleTime;
      return c;
    }(),
    Edit(Id::ScanReadParam, "举升控制", "扫系", &P::scanReadParam, "1", EditLoad::Hundredths, EditStore::Coefficient),
    Bit(Id::LiftUpCheck, "举升控制", "举升升限位判定", &P::liftLimitChecks, 0x01),
    Bit(Id::LiftDownCheck, "举升控制", "举升降限位判定", &P::liftLimitChecks, 0x02),
    Codes(Id::LiftModule, "举升控制", "举升控制模块类型", &P::liftModule, kLiftModuleItems, kLiftModuleCodes, 0, kLeave,
          kLeave),
    Codes(Id::SmartLiftType, "举升控制", {}, &P::smartLiftType, kSmartLiftItems, kSmartLiftCodes, kNoSelection, 0,
          kNoneFF),
    Check(Id::LiftLock, "举升控制", "强制锁定", &P::liftLock, CheckLoad::NonZero),
    Edit(Id::LugdownEndSpeed, "LugDn参数配置", "截止", &P::lugdownEndSpeed, "20", EditLoad::Integer,
         EditStore::Integer),
    Edit(Id::LugdownScanSpeed, "LugDn参数配置", "扫描速度", &P::lugdownScanSpeed, "0.6", EditLoad::Tenths,
         EditStore::ScanSpeed),
    Edit(Id::StabilityTime, "LugDn参数配置", "稳定时间", &P::stabilityTime, "5", EditLoad::Integer, EditStore::Integer),
    Edit(Id::StabilityBand, "LugDn参数配置", "判稳区间", &P::stabilityBand, "0.5", EditLoad::Percent,
         EditStore::StabilityBand),
    Codes(Id::LugdownScanMode, "LugDn参数配置", "LugDn类型", &P::lugdownScanMode, kScanModeItems, kScanModeCodes,
          kNoSelection, kLeave, kLeave),
    Codes(Id::LoadMode, "恒负荷控制模式", {}, &P::loadMode, kLoadModeItems, kLoadModeCodes, 2, 0, 14),
    Offset(Id::RetarderType, "涡流机类型", {}, &P::retarderType, kRetarderItems, 10, 1, 1),
    Edit(Id::CoastStop, "滑行参数", "停机点", &P::coastStopSpeed, "6", EditLoad::Integer, EditStore::Integer),
    Edit(Id::LossStop, "损耗参数km/h", "停机点", &P::lossStopSpeed, {}, EditLoad::Integer, EditStore::Integer),
    Check(Id::MotoringTorque, "反拖扭矩", "允许测试", &P::motoringTorqueTest, CheckLoad::NonZero),
    Check(Id::AutoChannel, "力传感器", "自动配置FL通道", &P::autoChannelConfig, CheckLoad::NonZero),
    Check(Id::MotorModule, "反拖电机", "智能模块", &P::motorModule, CheckLoad::IsOn, 11, 10),
    Check(Id::MotorControl, "反拖电机", "变频器", &P::motorControl, CheckLoad::IsOn, 11, 10),
    Offset(Id::Tachometer, "控制器参数", {}, &P::tachometerType, kTachometerItems, 0, 0, 0),
    Check(Id::EngineSpeed, "控制器参数", "引擎转数", &P::engineSpeedInput, CheckLoad::IsOn, 1, 0),
    Check(Id::FuelTest, "油耗控制", "油耗测试", &P::fuelTest, CheckLoad::Fuel, 1, 0),
    Offset(Id::FuelOutputType, "油耗控制", "输出类型", &P::fuelOutputType, kFuelOutputItems, 0, 0, 0),
    Bit(Id::TestFL, "涡流器配置", "FL", &P::testRetarderMask, 0x01),
    Bit(Id::TestFR, "涡流器配置", "FR", &P::testRetarderMask, 0x02),
    Bit(Id::TestRL, "涡流器配置", "RL", &P::testRetarderMask, 0x04),
    Bit(Id::TestRR, "涡流器配置", "RR", &P::testRetarderMask, 0x08),
    Bit(Id::CoastFL, "滑行涡流器配置", "FL", &P::coastRetarderMask, 0x01),
    Bit(Id::CoastFR, "滑行涡流器配置", "FR", &P::coastRetarderMask, 0x02),
    Bit(Id::CoastRL, "滑行涡流器配置", "RL", &P::coastRetarderMask, 0x04),
    Bit(Id::CoastRR, "滑行涡流器配置", "RR", &P::coastRetarderMask, 0x08),
    Offset(Id::PowerModule, "电源类型", {}, &P::powerModule, kPowerItems, 0, 0, 0),
    Edit(Id::BenchCorrection, "修正", {}, &P::benchCorrection, "0.0", EditLoad::Tenths, EditStore::BenchCorrection),
    Check(Id::ClockMode, "定时器", "高精度定时器", &P::clockMode, CheckLoad::IsOn, 100, 0),
};
static_assert(std::size(kControls) == kFormControlCount);
static_assert([] {
  for (std::size_t i = 0; i < std::size(kControls); ++i) {
    if (static_cast<std::size_t>(kControls[i].id) != i) return false;
  }
  return true;
}());

// The field's value as a number, its signedness kept.
double FieldNumber(const P& values, const FieldRef& field) {
  return std::visit([&](auto member) { return static_cast<double>(values.*member); }, field);
}
std::int64_t FieldInteger(const P& values, const FieldRef& field) {
  return std::visit(
      [&](auto member) -> std::int64_t {
        if constexpr (std::is_same_v<decltype(member), F32Field>) {
          return 0;
        } else {
          return static_cast<std::int64_t>(values.*member);
        }
      },
      field);
}
// Stores an integer into the field, keeping the field's low bits.
void SetInteger(P& values, const FieldRef& field, std::int64_t value) {
  std::visit(
      [&](auto member) {
        using M = std::remove_reference_t<decltype(values.*member)>;
        if constexpr (std::is_same_v<M, float>) {
          values.*member = static_cast<float>(value);
        } else {
          using U = std::make_unsigned_t<M>;
          values.*member = static_cast<M>(static_cast<U>(value));
        }
      },
      field);
}

std::string ClockText(Id id, const std::optional<LocalTime>& now) {
  if (!now) {
    const bool date = id == Id::Year || id == Id::Month || id == Id::Day;
    return date ? "0" : "-1";
  }
  switch (id) {
    case Id::Year: return std::to_string(now->year);
    case Id::Month: return std::to_string(now->month);
    case Id::Day: return std::to_string(now->day);
    case Id::Hour: return std::to_string(now->hour);
    case Id::Minute: return std::to_string(now->minute);
    default: return std::to_string(now->second);
  }
}

std::string EditText(const FormControl& control, const P& values) {
  const double v = FieldNumber(values, control.field);
  switch (control.editLoad) {
    case EditLoad::Float2: return FixedText(v, 2);
    case EditLoad::Integer: return std::to_string(FieldInteger(values, control.field));
    case EditLoad::Tenths: return FixedText(v / 10.0, 1);
    case EditLoad::Hundredths: return FixedText(v / 100.0, 2);
    case EditLoad::Percent: return FixedText(v * 100.0, 1);
    case EditLoad::Clock: break;
  }
  return {};
}

// A selector given a position beyond its list ends with no selection.
int Bounded(int position, std::size_t count) {
  return position >= 0 && static_cast<std::size_t>(position) < count ? position : kNoSelection;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::span<const FormControl> FormControls() { return kControls; }
const FormControl& FormControlOf(FormControlId id) { return kControls[static_cast<std::size_t>(id)]; }

MessageRequest SettleTimeMessage(const TextLookup& lookup) {
  return {lookup.Lookup("电磁伐延时参数<3秒(恢复缺省值=3秒)"), lookup.Lookup("参数有误"), MessageIcon::Question,
          MessageButtons::Ok};
}
MessageRequest AutoRestoreMessage(const TextLookup& lookup) {
  return {lookup.Lookup("自动恢复时间必须大于120秒,您现在已经关闭了该功能!"), lookup.Lookup("提示"), MessageIcon::Stop,
          MessageButtons::Ok};
}
MessageRequest AutoChannelNote(const TextLookup& lookup) {
  return {lookup.Lookup("只有测试台架使用1个力传感器的时候才能获得正确的自动通道配置"), lookup.Lookup("注意"),
          MessageIcon::None, MessageButtons::Ok};
}
MessageRequest RetarderAdvice(const TextLookup& lookup) {
  return {"电源类型建议选择\"IGBTDC\"", lookup.Lookup("强烈建议"), MessageIcon::Warning, MessageButtons::Ok};
}

ParamsForm::ParamsForm(ParamsExchange& exchange, const TextLookup& lookup, MessageBoxService& messages,
                       const LocalClock& clock)
    : exchange_(exchange),
      lookup_(lookup),
      messages_(messages),
      clock_(clock),
      title_(ShownText(lookup, kSetHardTitle)) {
  const std::optional<LocalTime> now = clock_.Now();
  for (const FormControl& control : kControls) {
    ControlState& s = state_[control.id];
    s.text = control.editLoad == EditLoad::Clock ? ClockText(control.id, now) : std::string(control.text);
    s.selection = control.position;
    s.checked = control.checked;
  }
  UpdateScanCaption();
}

std::vector<std::string> ParamsForm::Items(FormControlId id) const {
  std::vector<std::string> items;
  const FormControl& control = FormControlOf(id);
  if (control.selector == SelectorRule::SettleTime && control.kind == FormKind::Selector) {
    items.push_back(lookup_.Lookup("单稳态"));
    const std::string seconds = lookup_.Lookup("秒");
    for (int s = kSettleFirstSeconds; s <= kSettleLastSeconds; ++s) {
      items.push_back(std::to_string(s) + seconds);
    }
    return items;
  }
  for (SV item : control.items) items.emplace_back(item);
  return items;
}

bool ParamsForm::Load() {
  const std::optional<ParamsPayload>& record = exchange_.FormRecord();
  if (!record) return false;
  const ControllerParams values = DecodeParams(*record);

  static constexpr SV kModels[] = {"QRX", "ASM", "VMAS", "LUGDN", "MASM"};
  const std::string model = lookup_.Lookup("硬件型号");
  title_ = values.hardwareModel >= 1 && values.hardwareModel <= 5
               ? model + ShownText(lookup_, "：") + std::string(kModels[values.hardwareModel - 1])
               : model + ShownText(lookup_, "：") + lookup_.Lookup("未知");

  const std::optional<LocalTime> now = clock_.Now();
  for (const FormControl& control : kControls) LoadControl(control, values, now);
  ApplyFuelEnabling(true, &values);
  UpdateScanCaption();
  return true;
}

void ParamsForm::LoadControl(const FormControl& control, const ControllerParams& values,
                             const std::optional<LocalTime>& now) {
  ControlState& s = state_[control.id];
  const std::int64_t value = FieldInteger(values, control.field);
  switch (control.kind) {
    case FormKind::Edit:
      s.text = control.editLoad == EditLoad::Clock ? ClockText(control.id, now) : EditText(control, values);
      return;
    case FormKind::Check:
      switch (control.checkLoad) {
        case CheckLoad::NonZero: s.checked = value != 0; return;
        case CheckLoad::IsOn: s.checked = value == control.onCode; return;
        case CheckLoad::Bit: s.checked = (value & control.onCode) != 0; return;
        case CheckLoad::Fuel: return;  // ApplyFuelEnabling
      }
      return;
    case FormKind::Selector:
      switch (control.selector) {
        case SelectorRule::Codes: {
          const auto found = std::find(control.codes.begin(), control.codes.end(), value);
          if (found != control.codes.end()) {
            s.selection = static_cast<int>(found - control.codes.begin());
          } else if (control.other != kLeave) {
            s.selection = control.other;
          }
          return;
        }
        case SelectorRule::Offset:
          s.selection = value < control.base ? control.other
                                             : Bounded(static_cast<int>(value - control.base), control.items.size());
          return;
        case SelectorRule::SettleTime: LoadSettleTime(static_cast<std::uint8_t>(value)); return;
      }
  }
}

void ParamsForm::LoadSettleTime(std::uint8_t raw) {
  ControlState& s = state_[Id::ValveSettle];
  const int v = static_cast<std::int8_t>(raw);
  const std::size_t count = kSettleLastSeconds - kSettleFirstSeconds + 2;
  if (v == -1) {
    s.selection = 0;
  } else if (v >= kSettleFirstSeconds) {
    s.selection = Bounded(v - 2, count);
  } else if (v < -1) {
    s.selection = kNoSelection;
  } else {
    // 0, 1 and 2 seconds are too short: the selection stays and the operator is told.
    messages_.Show(SettleTimeMessage(lookup_));
  }
}

void ParamsForm::ApplyFuelEnabling(bool fromLoad, const ControllerParams* values) {
  ControlState& fuel = state_[Id::FuelTest];
  ControlState& output = state_[Id::FuelOutputType];
  const bool engine = fromLoad ? values->engineSpeedInput == 1 : state_[Id::EngineSpeed].checked;
  if (engine) {
    fuel.enabled = true;
    if (fromLoad) fuel.checked = values->fuelTest == 1;
    output.enabled = output.captionEnabled = fuel.checked;
  } else {
    // The check mark stays as it was; fuelTest is still sent from it.
    fuel.enabled = output.enabled = output.captionEnabled = false;
  }
}

void ParamsForm::UpdateScanCaption() {
  state_[Id::LugdownScanSpeed].captionEnabled = state_[Id::LugdownScanMode].selection == 0;
}

void ParamsForm::OnScanModeChanged() { UpdateScanCaption(); }

void ParamsForm::OnEngineSpeedClicked() { ApplyFuelEnabling(false, nullptr); }

void ParamsForm::OnFuelTestClicked() {
  ControlState& output = state_[Id::FuelOutputType];
  output.enabled = output.captionEnabled = state_[Id::FuelTest].checked && state_[Id::EngineSpeed].checked;
}

void ParamsForm::OnAutoChannelClicked() {
  if (state_[Id::AutoChannel].checked) messages_.Show(AutoChannelNote(lookup_));
}

void ParamsForm::OnRetarderDropDownClosed(std::string_view selectedText) {
  if (EqualsIgnoringCase(selectedText, "Z4")) messages_.Show(RetarderAdvice(lookup_));
}

ControllerParams ParamsForm::Build() {
  ControllerParams values = exchange_.LastWritten();
  // Bit fields are made of their check boxes alone.
  for (const FormControl& control : kControls) {
    if (control.kind == FormKind::Check && control.checkLoad == CheckLoad::Bit) {
      SetInteger(values, control.field, 0);
    }
  }
  for (const FormControl& control : kControls) StoreControl(control, values);
  return values;
}

void ParamsForm::StoreControl(const FormControl& control, ControllerParams& values) {
  namespace r = param_rules;
  const ControlState& s = state_[control.id];
  switch (control.kind) {
    case FormKind::Check:
      if (control.checkLoad == CheckLoad::Bit) {
        if (s.checked) {
          SetInteger(values, control.field, FieldInteger(values, control.field) | control.onCode);
        }
      } else {
        SetInteger(values, control.field, s.checked ? control.onCode : control.offCode);
      }
      return;
    case FormKind::Selector:
      switch (control.selector) {
        case SelectorRule::Codes:
          if (s.selection >= 0 && static_cast<std::size_t>(s.selection) < control.codes.size()) {
            SetInteger(values, control.field, control.codes[static_cast<std::size_t>(s.selection)]);
          } else if (control.none != kLeave) {
            SetInteger(values, control.field, control.none);
          }
          return;
        case SelectorRule::Offset: SetInteger(values, control.field, control.base + s.selection); return;
        case SelectorRule::SettleTime: values.valveSettleTime = r::ValveSettleTime(s.selection); return;
      }
      return;
    case FormKind::Edit: break;
  }
  const std::string_view text = s.text;
  switch (control.editStore) {
    case EditStore::RollerSize: values.rollerSize = r::RollerSize(text); return;
    case EditStore::StabilityBand: values.stabilityBand = r::StabilityBand(text); return;
    case EditStore::Integer: SetInteger(values, control.field, TextToInt(text)); return;
    case EditStore::Coefficient: SetInteger(values, control.field, r::Coefficient(text)); return;
    case EditStore::SpeedThreshold: values.speedThreshold = r::SpeedThreshold(text); return;
    case EditStore::ExitProtect: values.exitProtectSeconds = r::CappedSeconds(text, r::kExitProtectCap); return;
    case EditStore::ExitWait: values.exitWaitSeconds = r::CappedSeconds(text, r::kExitWaitCap); return;
    case EditStore::BenchCorrection: values.benchCorrection = r::BenchCorrection(text); return;
    case EditStore::ScanSpeed: values.lugdownScanSpeed = r::ScanSpeed(text); return;
    case EditStore::AutoRestore: {
      const r::AutoRestore restore = r::AutoRestoreSeconds(text);
      values.autoRestoreSeconds = restore.seconds;
      if (restore.refused) messages_.Show(AutoRestoreMessage(lookup_));
      return;
    }
  }
}

std::size_t ParamsForm::OnSet() {
  messages_.Show(ParamsHintMessage(lookup_));
  const ControllerParams values = Build();
  UpdateScanCaption();
  return exchange_.SendParams(values, clock_.Now());
}

}  // namespace rolta
