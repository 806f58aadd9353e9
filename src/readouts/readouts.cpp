#include "readouts/readouts.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string_view>

#include "readouts/quantities.h"

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
  Keep,
  V1,
  V2,
  V3,
  V4,
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
    {Types(16, 17, 37, 84, 85), {{{T("速度"), F2(V2)}, {T("力矩"), F1(V1)}, {T("转速"), F1(V4)}, {T("参数"), F1(V3)}}}},
    {Types(21, 53, 54, 71, 74, 127), {{{kKeepCaption, F2(V2)}, {T("滑行时间"), F1(V3)}, {T("力"), F1(V1)}, kKeep}}},
    {Types(27, 28, 29, 30, 31, 40, 41, 55, 56, 102, 103, 104, 105, 106), {{{T("速度"), F2(V2)}, kKeep, kKeep, kKeep}}},
    {Types(33, 110, 112, 113), {{kKeep, kKeep, {T("电压"), F3(V1)}, kKeep}}},
    {Types(34, 114, 115, 116), {{{T("速度"), F2(V2)}, {T("力矩"), F1(V1)}, {T("电压"), F3(V3)}, kKeep}}},
    {Types(35),
     {{{T("速度"), F2(V2)}, {kFrequencyCaption, kFrequencyText}, {T("里程"), F3(V3)}, {kSpeedPerFuelCaption, F1(V4)}}}},
    {Types(36, 39, 93, 94), {{{T("速度"), F2(V2)}, {T("--"), kKeepText}, {T("--"), kKeepText}, {T("里程"), F1(V3)}}}},
    {Types(38, 111), {{{T("速度"), F2(V2)}, {T("力矩"), F1(V1)}, {T("--"), kKeepText}, {T("??"), F1(V3)}}}},
    {Types(42), {{{kIoCaption, kIoNumber}, kKeep, kKeep, kKeep}}},
    {Types(43, 124), {{{T("速度"), F2(V2)}, {T("力矩"), kKeepText}, {T("电压"), kKeepText}, {T("引擎转数"), F1(V4)}}}},
    {Types(45), {{{kKeepCaption, F2(V2)}, kKeep, kKeep, {kKeepCaption, F1(V3)}}}},
    {Types(50, 68, 70, 73, 88), {{{kKeepCaption, F2(V2)}, {T("滑行时间"), F1(V3)}, {T("当前负荷"), F2(P1)}, kKeep}}},
    {Types(51), {{{kKeepCaption, F2(V2)}, {T("当前负荷"), F2(P1)}, {T("滑行时间"), F2(V3)}, kKeep}}},
    {Types(52, 80, 82, 89, 90, 91, 92),
     {{{T("速度"), F2(V2)}, {T("力矩"), F1(V1)}, {T("负荷"), F2(P)}, {T("转速"), F1(V4)}}}},
    {Types(58), {{{T("速度"), F2(V2)}, {T("响应时间"), F1(V1)}, {T("响应时间"), F2(V3)}, kKeep}}},
    {Types(66), {{{T("通道1"), F1(V1)}, {T("通道2"), F1(V2)}, {T("通道3"), F1(V3)}, {T("通道4"), F1(V4)}}}},
    {Types(67, 69), {{{T("速度"), F2(V2)}, {T("力矩"), F1(V1)}, {T("油耗"), F1(V4)}, {T("里程"), F1(V3)}}}},
    {Types(75, 98), {{{T("速度"), F1(V2)}, {T("加速度"), F3(A)}, {T("转数"), kRevolutions}, {T("里程"), F1(V3)}}}},
    {Types(76, 123), {{{T("_E(速度"), F1(V2)}, {T("力矩"), F1(V1)}, {T("加速度"), F3(A)}, {T("里程"), F1(V3)}}}},
    {Types(79), {{{kKeepCaption, F1(V2)}, {T("滑行时间"), F1(V3)}, {T("力"), F1(V1)}, {kKeepCaption, F1(V4)}}}},
    {Types(81, 83, 86, 87),
     {{{T("速度"), F2(V2)}, {T("力矩"), F2(V1)}, {T("力矩(小数)"), F2(V1)}, {T("转速"), F1(V4)}}}},
    {Types(95, 101, 107, 108), {{{T("速度"), F3(V2)}, {T("力矩"), F1(V1)}, {T("零点"), F1(V3)}, kKeep}}},
    {Types(96), {{{T("湿度"), F1(V2)}, {T("温度"), F1(V1)}, {T("大气压力"), F2(V3)}, kKeep}}},
    {Types(100), {{{T("湿度"), F2(V2)}, {T("温度"), F2(V1)}, {T("大气压力"), F2(V3)}, kKeep}}},
    {Types(125), {{{T("通道1"), F3(V1)}, {T("通道2"), F3(V2)}, {T("通道3"), F3(V3)}, {T("通道4"), F3(V4)}}}},
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

// Row of each frame type, built from kPresentation so the table stays the one
// place that says which type shows what.
constexpr std::uint8_t kNoRow = 0xFF;
static_assert(std::size(kPresentation) < kNoRow);
constexpr std::array<std::uint8_t, 256> kRowOfType = [] {
  std::array<std::uint8_t, 256> rowOf{};
  rowOf.fill(kNoRow);
  for (std::size_t r = 0; r < std::size(kPresentation); ++r) {
    const TypeList& types = kPresentation[r].types;
    for (std::size_t i = 0; i < types.count; ++i) {
      rowOf[types.types[i]] = static_cast<std::uint8_t>(r);
    }
  }
  return rowOf;
}();

const PresentationRow* FindRow(std::uint8_t type) {
  const std::uint8_t row = kRowOfType[type];
  return row == kNoRow ? nullptr : &kPresentation[row];
}

// Room for any fixed text of a double at the precisions used here: DBL_MAX has
// 309 digits before the point.
constexpr std::size_t kTextBufferSize = 400;

// printf "%.<precision>f" of value into [first, last); nullptr if it does not
// fit. to_chars rounds the exact binary value half to even as printf does,
// keeps the sign of -0.0 and of a negative value that rounds to zero, spells
// NaN and the infinities as printf does ("nan", "-nan", "inf", "-inf"), and
// never looks at the locale.
// 10^precision for the precisions a float can be scaled by exactly: its 24
// mantissa bits times at most 20 bits of 10^6 fit a double's 53.
constexpr std::array<double, 7> kExactScale = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6};

char* WriteFixed(char* first, char* last, double value, int precision) {
  // A float's value (what the controller sends) times 10^precision is exact,
  // so rounding it half to even is printf's rounding of the exact value, and
  // its digits come from the integer to_chars, several times quicker than the
  // floating one. Anything else takes the floating to_chars.
  if (precision >= 0 && precision < static_cast<int>(kExactScale.size()) &&
      std::fabs(value) <= std::numeric_limits<float>::max() &&
      static_cast<double>(static_cast<float>(value)) == value) {
    const double scaled = std::fabs(std::nearbyint(value * kExactScale[static_cast<std::size_t>(precision)]));
    if (scaled < 0x1p53) {
      char digits[24];
      // At least one digit before the point.
      const std::size_t width = static_cast<std::size_t>(precision) + 1;
      char* digitsEnd = std::to_chars(digits, digits + sizeof digits, static_cast<std::uint64_t>(scaled)).ptr;
      const std::size_t count = static_cast<std::size_t>(digitsEnd - digits);
      const std::size_t zeros = count < width ? width - count : 0;
      const std::size_t length = (std::signbit(value) ? 1 : 0) + zeros + count + (precision > 0 ? 1 : 0);
      if (length > static_cast<std::size_t>(last - first)) return nullptr;
      // printf keeps the sign of a negative value that rounds to zero.
      if (std::signbit(value)) *first++ = '-';
      char text[32];
      char* at = std::fill_n(text, zeros, '0');
      at = std::copy(digits, digitsEnd, at);
      const std::ptrdiff_t whole = (at - text) - precision;
      first = std::copy(text, text + whole, first);
      if (precision > 0) {
        *first++ = '.';
        first = std::copy(text + whole, at, first);
      }
      return first;
    }
  }
  const auto result = std::to_chars(first, last, value, std::chars_format::fixed, precision);
  return result.ec == std::errc{} ? result.ptr : nullptr;
}

// printf "%d" / "%0<width>d" into [first, last); nullptr if it does not fit.
// Zeros go between the sign and the digits; the width counts the sign.
char* WriteInt(char* first, char* last, int value, int zeroPadWidth = 0) {
  const bool negative = value < 0;
  // The magnitude as unsigned, so the most negative int has one too.
  const unsigned magnitude = negative ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  char digits[std::numeric_limits<unsigned>::digits10 + 1];
  const char* const digitsEnd = std::to_chars(std::begin(digits), std::end(digits), magnitude).ptr;
  const std::ptrdiff_t digitCount = digitsEnd - digits;
  const std::ptrdiff_t sign = negative ? 1 : 0;
  const std::ptrdiff_t zeros = std::max<std::ptrdiff_t>(zeroPadWidth - sign - digitCount, 0);
  if (sign + zeros + digitCount > last - first) return nullptr;
  if (negative) *first++ = '-';
  first = std::fill_n(first, zeros, '0');
  return std::copy(std::cbegin(digits), digitsEnd, first);
}

// ScaleKiloMega's text into [first, last); returns the prefix and the text's end.
struct ScaledFrequencyEnd {
  char prefix;
  char* end;
};
ScaledFrequencyEnd WriteScaledFrequency(char* first, char* last, float x) {
  const double kilo = x / 1000.0;
  const double mega = x / 1000000.0;
  // Quotients of a float stay within the float range, so the narrowing is exact
  // rounding and never overflows.
  if (kilo >= 1.0 && mega >= 1.0) {
    return {'M', WriteFixed(first, last, static_cast<float>(mega), 4)};
  }
  if (kilo >= 1.0) return {'K', WriteFixed(first, last, static_cast<float>(kilo), 3)};
  return {' ', WriteFixed(first, last, x, 2)};
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
  // The load is an integer count of tenths, which has no sign: a load just
  // below zero truncates to -0.0, which must read "0.00", not "-0.00"
  // (adding +0 turns -0 into +0 and changes nothing else).
  derived.p1 = std::trunc(derived.p * 10.0f) / 10.0f + 0.0f;
  derived.a = status.AccelMilli / 1000.0;
  return derived;
}

// The frequency of type 35, scaled once per frame for its caption and its text.
struct FrequencyText {
  char prefix = ' ';
  char text[kTextBufferSize];
  const char* end = text;
};

// Writes the text of a cell's value into [first, last) and returns its end
// (nullptr if it does not fit).
const char* WriteValue(char* first, char* last, const TextRule& rule, const ControllerStatus& status,
                       const DerivedValues& derived, const FrequencyText& frequency) {
  switch (rule.source) {
    case Source::V1: return WriteFixed(first, last, status.Value1, rule.precision);
    case Source::V2: return WriteFixed(first, last, status.Value2, rule.precision);
    case Source::V3: return WriteFixed(first, last, status.Value3, rule.precision);
    case Source::V4: return WriteFixed(first, last, status.Value4, rule.precision);
    case Source::P: return WriteFixed(first, last, derived.p, rule.precision);
    case Source::P1: return WriteFixed(first, last, derived.p1, rule.precision);
    case Source::A: return WriteFixed(first, last, derived.a, rule.precision);
    case Source::Revolutions: return WriteInt(first, last, status.Revolutions);
    case Source::IoNumber: return WriteInt(first, last, status.IoNumber(), 5);
    case Source::Frequency:
      if (frequency.end == nullptr || last - first < frequency.end - frequency.text) return nullptr;
      return std::copy(frequency.text, frequency.end, first);
    case Source::Keep: break;
  }
  return first;
}

std::string MakeCaption(const CaptionRule& rule, const TextLookup& lookup, const FrequencyText& frequency) {
  switch (rule.kind) {
    case CaptionKind::Translated: return lookup.Lookup(rule.text);
    case CaptionKind::Untranslated: return std::string(rule.text);
    case CaptionKind::Frequency: {
      std::string caption = lookup.Lookup("频率");
      caption += '(';
      caption += frequency.prefix;
      caption += "Hz)";
      return caption;
    }
    case CaptionKind::SpeedPerFuel: {
      std::string caption = lookup.Lookup("转速");
      caption += '/';
      caption += lookup.Lookup("油耗");
      return caption;
    }
    case CaptionKind::Keep: break;
  }
  return {};
}

// An empty text for one that did not fit, as before.
std::string TextOf(const char* first, const char* end) {
  return end == nullptr ? std::string() : std::string(first, end);
}

// Builds a cell's caption where the optional keeps it: the optional constructs
// its string from this conversion, so the looked-up string is made in place
// instead of being made and then moved.
struct CaptionOf {
  const CaptionRule& rule;
  const TextLookup& lookup;
  const FrequencyText& frequency;
  operator std::string() const { return MakeCaption(rule, lookup, frequency); }
};

// Characters a std::string holds without allocating (libstdc++; elsewhere at
// least as many), and enough for every ordinary reading.
constexpr std::size_t kInlineRoom = 15;
constexpr char kBlank[kInlineRoom] = {};

// Sets `text` to what `write(first, last)` writes; `write` returns the end, or
// nullptr when the text does not fit. The string is sized to its inline room by
// a fixed-size copy, written in place and cut to length: no intermediate
// buffer and no memcpy call per text, which is most of a readout's cost.
template <typename Write>
void SetText(std::optional<std::string>& text, Write write) {
  // A string kept from an earlier frame is reused as it is; its inline room
  // is at least kInlineRoom.
  std::string& inlineText = text ? *text : text.emplace(kBlank, kInlineRoom);
  inlineText.resize(kInlineRoom);
  char* const first = inlineText.data();
  if (const char* end = write(first, first + kInlineRoom)) {
    inlineText.resize(static_cast<std::size_t>(end - first));
    return;
  }
  char wide[kTextBufferSize];
  inlineText = TextOf(wide, write(wide, wide + sizeof wide));
}

}  // namespace

std::string FormatFixed(double value, int precision) {
  char buffer[kTextBufferSize];
  return TextOf(buffer, WriteFixed(buffer, buffer + sizeof buffer, value, precision));
}

ScaledFrequency ScaleKiloMega(float x) {
  char buffer[kTextBufferSize];
  const ScaledFrequencyEnd scaled = WriteScaledFrequency(buffer, buffer + sizeof buffer, x);
  return {std::string(1, scaled.prefix), TextOf(buffer, scaled.end)};
}

ReadoutUpdate InitialReadouts(const TextLookup& lookup) {
  static constexpr std::string_view kStartCaptions[kReadoutCount] = {"速度", "力矩", "电压", "里程"};
  ReadoutUpdate update;
  for (std::size_t i = 0; i < kReadoutCount; ++i) {
    update[i] = {lookup.Lookup(kStartCaptions[i]), "0"};
  }
  return update;
}

ReadoutValues LiveFrameValues(const ControllerStatus& status) {
  static constexpr std::string_view kStartCaptions[kReadoutCount] = {"速度", "力矩", "电压", "里程"};
  ReadoutValues values{};
  const PresentationRow* row = FindRow(status.FrameType);
  if (row == nullptr) return values;
  const DerivedValues derived = Derive(status);
  for (std::size_t i = 0; i < kReadoutCount; ++i) {
    const Cell& cell = row->cells[i];
    ReadoutValue& out = values[i];
    switch (cell.text.source) {
      case Source::Keep: continue;
      case Source::V1:
      case Source::Frequency: out.value = status.Value1; break;
      case Source::V2: out.value = status.Value2; break;
      case Source::V3: out.value = status.Value3; break;
      case Source::V4: out.value = status.Value4; break;
      case Source::P: out.value = derived.p; break;
      case Source::P1: out.value = derived.p1; break;
      case Source::A: out.value = derived.a; break;
      case Source::Revolutions: out.value = status.Revolutions; break;
      case Source::IoNumber: out.value = status.IoNumber(); break;
    }
    switch (cell.caption.kind) {
      case CaptionKind::Keep: out.caption = kStartCaptions[i]; break;
      case CaptionKind::Translated:
      case CaptionKind::Untranslated: out.caption = cell.caption.text; break;
      case CaptionKind::Frequency: out.caption = "频率"; break;
      case CaptionKind::SpeedPerFuel: out.caption = "转速/油耗"; break;
    }
  }
  return values;
}

ReadoutUpdate PresentLiveFrame(const ControllerStatus& status, const TextLookup& lookup) {
  ReadoutUpdate update;
  PresentLiveFrame(status, lookup, update);
  return update;
}

void PresentLiveFrame(const ControllerStatus& status, const TextLookup& lookup, ReadoutUpdate& update) {
  const PresentationRow* row = FindRow(status.FrameType);
  if (row == nullptr) {
    for (ReadoutChange& change : update) change = {};
    return;
  }

  const DerivedValues derived = Derive(status);
  FrequencyText frequency;
  if (row->UsesFrequency()) {
    const ScaledFrequencyEnd scaled =
        WriteScaledFrequency(frequency.text, frequency.text + sizeof frequency.text, status.Value1);
    frequency.prefix = scaled.prefix;
    frequency.end = scaled.end;
  }
  for (std::size_t i = 0; i < kReadoutCount; ++i) {
    const Cell& cell = row->cells[i];
    if (cell.caption.kind == CaptionKind::Keep) {
      update[i].caption.reset();
    } else if (update[i].caption) {
      *update[i].caption = MakeCaption(cell.caption, lookup, frequency);
    } else {
      update[i].caption.emplace(CaptionOf{cell.caption, lookup, frequency});
    }
    if (cell.text.source == Source::Keep) {
      update[i].text.reset();
    } else {
      SetText(update[i].text,
              [&](char* first, char* last) { return WriteValue(first, last, cell.text, status, derived, frequency); });
    }
  }
}

ReadoutUnits::ReadoutUnits(const TextLookup& lookup) {
  for (const std::string_view caption : QuantityCaptions()) {
    // A caption at every readout position names one quantity; "响应时间"
    // names one of two, both without a unit.
    captions_.emplace_back(lookup.Lookup(caption), QuantityOfCaption(caption, 1));
  }
}

const std::string& ReadoutUnits::UnitOf(std::string_view shownCaption) const {
  for (const auto& [caption, quantity] : captions_) {
    if (caption == shownCaption && quantity >= 0) return rolta::UnitOf(static_cast<std::size_t>(quantity));
  }
  return none_;
}

}  // namespace rolta
