#include "console/readouts.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace rolta {
namespace {

enum class CaptionKind : std::uint8_t {
  Keep,
  Translated,    // the text through the lookup
  Untranslated,  // the text as it stands ("IO")
  Frequency,     // "%s(%sHz)" of the translated "频率" and the scale prefix
  SpeedPerFuel,  // "%s/%s" of the translated "转速" and "油耗"
};

enum class Source : std::uint8_t {
  Keep, V1, V2, V3, V4,
  P,            // V2 * V1 / 360 as float
  P1,           // P truncated to one decimal
  A,            // AccelMilli / 1000
  Revolutions,  // "%d"
  IoNumber,     // "%05d"
  Frequency,    // the number text of ScaleKiloMega(V1)
};

struct CaptionRule {
  CaptionKind kind = CaptionKind::Keep;
  std::string_view text;
};
struct TextRule {
  Source source = Source::Keep;
  int precision = 0;  // "%.<precision>f" for the float sources
};
struct Cell {
  CaptionRule caption;
  TextRule text;
};

struct TypeList {
  std::array<std::uint8_t, 14> types{};
  std::size_t count = 0;
  constexpr bool Contains(std::uint8_t type) const {
    for (std::size_t i = 0; i < count; ++i) {
      if (types[i] == type) return true;
    }
    return false;
  }
};

struct PresentationRow {
  TypeList types;
  std::array<Cell, kReadoutCount> cells;

  constexpr bool UsesFrequency() const {
    for (const Cell& cell : cells) {
      if (cell.caption.kind == CaptionKind::Frequency || cell.text.source == Source::Frequency) {
        return true;
      }
    }
    return false;
  }
};

template <typename... T>
constexpr TypeList Types(T... types) {
  static_assert(sizeof...(T) <= 14);
  return {{static_cast<std::uint8_t>(types)...}, sizeof...(T)};
}

constexpr CaptionRule T(std::string_view text) { return {CaptionKind::Translated, text}; }
constexpr CaptionRule kKeepCaption{};
constexpr CaptionRule kIoCaption{CaptionKind::Untranslated, "IO"};
constexpr CaptionRule kFrequencyCaption{CaptionKind::Frequency, {}};
constexpr CaptionRule kSpeedPerFuelCaption{CaptionKind::SpeedPerFuel, {}};

constexpr TextRule F1(Source source) { return {source, 1}; }
constexpr TextRule F2(Source source) { return {source, 2}; }
constexpr TextRule F3(Source source) { return {source, 3}; }
constexpr TextRule kKeepText{};
constexpr TextRule kRevolutions{Source::Revolutions, 0};
constexpr TextRule kIoNumber{Source::IoNumber, 0};
constexpr TextRule kFrequencyText{Source::Frequency, 0};

constexpr Cell kKeep{kKeepCaption, kKeepText};

using enum Source;

// Columns: ReadoutSpeed, ReadoutTorque, ReadoutVoltage, ReadoutDistance.
constexpr PresentationRow kPresentation[] = {
    {Types(16, 17, 37, 84, 85),
     {{{T("速度"), F2(V2)}, {T("力矩"), F1(V1)}, {T("转速"), F1(V4)}, {T("参数"), F1(V3)}}}},
    {Types(21, 53, 54, 71, 74, 127),
     {{{kKeepCaption, F2(V2)}, {T("滑行时间"), F1(V3)}, {T("力"), F1(V1)}, kKeep}}},
    {Types(27, 28, 29, 30, 31, 40, 41, 55, 56, 102, 103, 104, 105, 106),
     {{{T("速度"), F2(V2)}, kKeep, kKeep, kKeep}}},
    {Types(33, 110, 112, 113),
     {{kKeep, kKeep, {T("电压"), F3(V1)}, kKeep}}},
    {Types(34, 114, 115, 116),
     {{{T("速度"), F2(V2)}, {T("力矩"), F1(V1)}, {T("电压"), F3(V3)}, kKeep}}},
    {Types(35),
     {{{T("速度"), F2(V2)}, {kFrequencyCaption, kFrequencyText}, {T("里程"), F3(V3)},
       {kSpeedPerFuelCaption, F1(V4)}}}},
    {Types(36, 39, 93, 94),
     {{{T("速度"), F2(V2)}, {T("--"), kKeepText}, {T("--"), kKeepText}, {T("里程"), F1(V3)}}}},
    {Types(38, 111),
     {{{T("速度"), F2(V2)}, {T("力矩"), F1(V1)}, {T("--"), kKeepText}, {T("??"), F1(V3)}}}},
    {Types(42),
     {{{kIoCaption, kIoNumber}, kKeep, kKeep, kKeep}}},
    {Types(43, 124),
     {{{T("速度"), F2(V2)}, {T("力矩"), kKeepText}, {T("电压"), kKeepText},
       {T("引擎转数"), F1(V4)}}}},
    {Types(45),
     {{{kKeepCaption, F2(V2)}, kKeep, kKeep, {kKeepCaption, F1(V3)}}}},
    {Types(50, 68, 70, 73, 88),
     {{{kKeepCaption, F2(V2)}, {T("滑行时间"), F1(V3)}, {T("当前负荷"), F2(P1)}, kKeep}}},
    {Types(51),
     {{{kKeepCaption, F2(V2)}, {T("当前负荷"), F2(P1)}, {T("滑行时间"), F2(V3)}, kKeep}}},
    {Types(52, 80, 82, 89, 90, 91, 92),
     {{{T("速度"), F2(V2)}, {T("力矩"), F1(V1)}, {T("负荷"), F2(P)}, {T("转速"), F1(V4)}}}},
    {Types(58),
     {{{T("速度"), F2(V2)}, {T("响应时间"), F1(V1)}, {T("响应时间"), F2(V3)}, kKeep}}},
    {Types(66),
     {{{T("通道1"), F1(V1)}, {T("通道2"), F1(V2)}, {T("通道3"), F1(V3)}, {T("通道4"), F1(V4)}}}},
    {Types(67, 69),
     {{{T("速度"), F2(V2)}, {T("力矩"), F1(V1)}, {T("油耗"), F1(V4)}, {T("里程"), F1(V3)}}}},
    {Types(75, 98),
     {{{T("速度"), F1(V2)}, {T("加速度"), F3(A)}, {T("转数"), kRevolutions},
       {T("里程"), F1(V3)}}}},
    {Types(76, 123),
     {{{T("_E(速度"), F1(V2)}, {T("力矩"), F1(V1)}, {T("加速度"), F3(A)}, {T("里程"), F1(V3)}}}},
    {Types(79),
     {{{kKeepCaption, F1(V2)}, {T("滑行时间"), F1(V3)}, {T("力"), F1(V1)},
       {kKeepCaption, F1(V4)}}}},
    {Types(81, 83, 86, 87),
     {{{T("速度"), F2(V2)}, {T("力矩"), F2(V1)}, {T("力矩(小数)"), F2(V1)},
       {T("转速"), F1(V4)}}}},
    {Types(95, 101, 107, 108),
     {{{T("速度"), F3(V2)}, {T("力矩"), F1(V1)}, {T("零点"), F1(V3)}, kKeep}}},
    {Types(96),
     {{{T("湿度"), F1(V2)}, {T("温度"), F1(V1)}, {T("大气压力"), F2(V3)}, kKeep}}},
    {Types(100),
     {{{T("湿度"), F2(V2)}, {T("温度"), F2(V1)}, {T("大气压力"), F2(V3)}, kKeep}}},
    {Types(125),
     {{{T("通道1"), F3(V1)}, {T("通道2"), F3(V2)}, {T("通道3"), F3(V3)}, {T("通道4"), F3(V4)}}}},
};

// A type has at most one row.
constexpr bool TypesAreUnique() {
  for (int type = 0; type < 256; ++type) {
    int rows = 0;
    for (const PresentationRow& row : kPresentation) {
      if (row.types.Contains(static_cast<std::uint8_t>(type))) ++rows;
    }
    if (rows > 1) return false;
  }
  return true;
}
static_assert(TypesAreUnique());

const PresentationRow* FindRow(std::uint8_t type) {
  for (const PresentationRow& row : kPresentation) {
    if (row.types.Contains(type)) return &row;
  }
  return nullptr;
}

// printf "%d" / "%05d": zeros go between the sign and the digits.
std::string FormatInt(int value, std::size_t zeroPadWidth = 0) {
  char buffer[16];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, result.ptr);
  const std::size_t signLength = value < 0 ? 1 : 0;
  if (text.size() < zeroPadWidth) text.insert(signLength, zeroPadWidth - text.size(), '0');
  return text;
}

struct DerivedValues {
  float p = 0.0f;
  float p1 = 0.0f;
  double a = 0.0;
};

DerivedValues Derive(const ControllerStatus& status) {
  DerivedValues derived;
  // In float arithmetic throughout; an overflow becomes an infinity, never
  // undefined behaviour, and std::trunc needs no integer range.
  derived.p = status.Value2 * status.Value1 / 360.0f;
  derived.p1 = std::trunc(derived.p * 10.0f) / 10.0f;
  derived.a = status.AccelMilli / 1000.0;
  return derived;
}

std::string FormatValue(const TextRule& rule, const ControllerStatus& status,
                        const DerivedValues& derived, const ScaledFrequency& frequency) {
  switch (rule.source) {
    case Source::V1: return FormatFixed(status.Value1, rule.precision);
    case Source::V2: return FormatFixed(status.Value2, rule.precision);
    case Source::V3: return FormatFixed(status.Value3, rule.precision);
    case Source::V4: return FormatFixed(status.Value4, rule.precision);
    case Source::P: return FormatFixed(derived.p, rule.precision);
    case Source::P1: return FormatFixed(derived.p1, rule.precision);
    case Source::A: return FormatFixed(derived.a, rule.precision);
    case Source::Revolutions: return FormatInt(status.Revolutions);
    case Source::IoNumber: return FormatInt(status.IoNumber(), 5);
    case Source::Frequency: return frequency.text;
    case Source::Keep: break;
  }
  return {};
}

std::string FormatCaption(const CaptionRule& rule, const TextLookup& lookup,
                          const ScaledFrequency& frequency) {
  switch (rule.kind) {
    case CaptionKind::Translated: return lookup.Lookup(rule.text);
    case CaptionKind::Untranslated: return std::string(rule.text);
    case CaptionKind::Frequency: return lookup.Lookup("频率") + "(" + frequency.prefix + "Hz)";
    case CaptionKind::SpeedPerFuel: return lookup.Lookup("转速") + "/" + lookup.Lookup("油耗");
    case CaptionKind::Keep: break;
  }
  return {};
}

}  // namespace

std::string FormatFixed(double value, int precision) {
  // Wide enough for DBL_MAX with every digit before the point.
  char buffer[400];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
  if (result.ec != std::errc{}) return {};
  return std::string(buffer, result.ptr);
}

ScaledFrequency ScaleKiloMega(float x) {
  const double kilo = x / 1000.0;
  const double mega = x / 1000000.0;
  // Quotients of a float stay within the float range, so the narrowing is exact
  // rounding and never overflows.
  if (kilo >= 1.0 && mega >= 1.0) return {"M", FormatFixed(static_cast<float>(mega), 4)};
  if (kilo >= 1.0) return {"K", FormatFixed(static_cast<float>(kilo), 3)};
  return {" ", FormatFixed(x, 2)};
}

ReadoutUpdate InitialReadouts(const TextLookup& lookup) {
  static constexpr std::string_view kStartCaptions[kReadoutCount] = {"速度", "力矩", "电压", "里程"};
  ReadoutUpdate update;
  for (std::size_t i = 0; i < kReadoutCount; ++i) {
    update[i] = {lookup.Lookup(kStartCaptions[i]), "0"};
  }
  return update;
}

ReadoutUpdate PresentLiveFrame(const ControllerStatus& status, const TextLookup& lookup) {
  ReadoutUpdate update;
  const PresentationRow* row = FindRow(status.FrameType);
  if (row == nullptr) return update;

  const DerivedValues derived = Derive(status);
  const ScaledFrequency frequency =
      row->UsesFrequency() ? ScaleKiloMega(status.Value1) : ScaledFrequency{};
  for (std::size_t i = 0; i < kReadoutCount; ++i) {
    const Cell& cell = row->cells[i];
    if (cell.caption.kind != CaptionKind::Keep) {
      update[i].caption = FormatCaption(cell.caption, lookup, frequency);
    }
    if (cell.text.source != Source::Keep) {
      update[i].text = FormatValue(cell.text, status, derived, frequency);
    }
  }
  return update;
}

}  // namespace rolta
