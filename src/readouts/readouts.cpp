#include "readouts/readouts.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
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

// Exact "%.<precision>f" for |value| < 1e15 and precision 0..4, which covers
// every reading a controller sends: value = mantissa * 2^exponent exactly, so
// value * 10^precision is mantissa * 10^precision shifted right, rounded half
// to even on the bits shifted out, as printf rounds the exact binary value.
// Below 1e15 the rounded result stays below 10^19, so it fits 64 bits;
// mantissa * 10^4 < 2^67 fits 128.
constexpr double kExactLimit = 1e15;
constexpr int kExactMaxPrecision = 4;

// 10^0 .. 10^19.
constexpr std::array<std::uint64_t, 20> kPow10 = [] {
  std::array<std::uint64_t, 20> powers{};
  std::uint64_t power = 1;
  for (std::uint64_t& p : powers) {
    p = power;
    power *= 10;
  }
  return powers;
}();

// Decimal digits of value, 0 for 0: from the bit length (1233 / 4096 is just
// above log10(2)) and one comparison, without a loop.
int DecimalDigits(std::uint64_t value) {
  const int guess = (std::bit_width(value) * 1233) >> 12;
  return guess + (value >= kPow10[static_cast<std::size_t>(guess)] ? 1 : 0);
}

// "00" "01" ... "99".
constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (std::size_t i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

void WritePair(char* at, std::uint64_t twoDigits) {
  std::memcpy(at, &kDigitPairs[static_cast<std::size_t>(twoDigits) * 2], 2);
}

// The lowest `count` decimal digits of value, zero-padded, written so that
// they end at `end`. Four digits per step: one multiply-divide carries from
// step to step and the two pairs of a step do not depend on each other, so
// the digits do not wait on a chain of divisions by ten.
void WriteDigitsBackward(char* end, std::uint64_t value, int count) {
  for (; count >= 4; count -= 4) {
    const std::uint64_t group = value % 10000;
    value /= 10000;
    end -= 4;
    WritePair(end, group / 100);
    WritePair(end + 2, group % 100);
  }
  if (count >= 2) {
    end -= 2;
    WritePair(end, value % 100);
    value /= 100;
    count -= 2;
  }
  if (count == 1) *--end = static_cast<char>('0' + value % 10);
}

// Digits before and after the point; constant divisors, so no division
// instruction.
struct FixedDigits {
  std::uint64_t whole;
  std::uint64_t fraction;
};
FixedDigits SplitAtPoint(std::uint64_t scaled, int precision) {
  switch (precision) {
    case 1: return {scaled / 10, scaled % 10};
    case 2: return {scaled / 100, scaled % 100};
    case 3: return {scaled / 1000, scaled % 1000};
    case 4: return {scaled / 10000, scaled % 10000};
    default: return {scaled, 0};
  }
}

// scaled / 2^shift rounded half to even on the bits shifted out; shift is at
// least 1 and below the width of U.
template <typename U>
std::uint64_t RoundHalfEvenShifted(U scaled, int shift) {
  const U quotient = scaled >> shift;
  const U rest = scaled - (quotient << shift);
  const U half = U{1} << (shift - 1);
  const bool up = rest > half || (rest == half && (quotient & 1) != 0);
  return static_cast<std::uint64_t>(quotient) + (up ? 1 : 0);
}

// Exact "%.<precision>f" for |value| < 1e15 and precision 0..4 into
// [first, last); nullptr if it does not fit.
char* WriteExactFixed(char* first, char* last, double value, int precision) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const bool negative = (bits >> 63) != 0;
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
  int exponent = -1074;  // subnormal
  if (biased != 0) {
    mantissa |= std::uint64_t{1} << 52;
    exponent = biased - 1075;
  }
  const std::uint64_t scale = kPow10[static_cast<std::size_t>(precision)];
  std::uint64_t rounded = 0;
  if (mantissa != 0) {
    // Without its trailing zero bits the mantissa of a value that came from a
    // float has at most 24 bits, so the product fits 64 bits.
    const int zeros = std::countr_zero(mantissa);
    mantissa >>= zeros;
    exponent += zeros;
    if (exponent >= 0) {
      rounded = (mantissa << exponent) * scale;  // a whole number below 1e15
    } else if (-exponent < 64 && mantissa < (std::uint64_t{1} << 50)) {
      rounded = RoundHalfEvenShifted(mantissa * scale, -exponent);
    } else if (-exponent < 128) {
      rounded = RoundHalfEvenShifted(static_cast<unsigned __int128>(mantissa) * scale, -exponent);
    }
    // From 128 bits on the product (below 2^67) is under half a unit: 0.
  }

  // At least one digit before the point. printf keeps the sign of a negative
  // value that rounds to zero, and of -0.0.
  const FixedDigits digits = SplitAtPoint(rounded, precision);
  const int whole = std::max(DecimalDigits(digits.whole), 1);
  const int length = (negative ? 1 : 0) + whole + (precision > 0 ? 1 + precision : 0);
  if (length > last - first) return nullptr;
  char* const end = first + length;
  char* wholeEnd = end;
  if (precision > 0) {
    WriteDigitsBackward(end, digits.fraction, precision);
    wholeEnd = end - precision - 1;
    *wholeEnd = '.';
  }
  WriteDigitsBackward(wholeEnd, digits.whole, whole);
  if (negative) *first = '-';
  return end;
}

// "%.<precision>f" of value into [first, last); nullptr if it does not fit.
char* WriteFixed(char* first, char* last, double value, int precision) {
  if (precision >= 0 && precision <= kExactMaxPrecision && std::fabs(value) < kExactLimit) {
    return WriteExactFixed(first, last, value, precision);
  }
  // NaN, infinities, huge values and other precisions.
  const auto result = std::to_chars(first, last, value, std::chars_format::fixed, precision);
  return result.ec == std::errc{} ? result.ptr : nullptr;
}

// printf "%d" / "%0<width>d" into [first, last); nullptr if it does not fit.
// Zeros go between the sign and the digits; the width counts the sign.
char* WriteInt(char* first, char* last, int value, int zeroPadWidth = 0) {
  const bool negative = value < 0;
  const auto bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(value));
  const std::uint64_t magnitude = negative ? std::uint64_t{0} - bits : bits;
  const int digits = std::max({DecimalDigits(magnitude), zeroPadWidth - (negative ? 1 : 0), 1});
  const int length = (negative ? 1 : 0) + digits;
  if (length > last - first) return nullptr;
  WriteDigitsBackward(first + length, magnitude, digits);
  if (negative) *first = '-';
  return first + length;
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
const char* WriteValue(char* first, char* last, const TextRule& rule,
                       const ControllerStatus& status, const DerivedValues& derived,
                       const FrequencyText& frequency) {
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

std::string MakeCaption(const CaptionRule& rule, const TextLookup& lookup,
                        const FrequencyText& frequency) {
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
      case Source::V1: case Source::Frequency: out.value = status.Value1; break;
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
      case CaptionKind::Translated: case CaptionKind::Untranslated: out.caption = cell.caption.text; break;
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
    const ScaledFrequencyEnd scaled = WriteScaledFrequency(
        frequency.text, frequency.text + sizeof frequency.text, status.Value1);
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
      SetText(update[i].text, [&](char* first, char* last) {
        return WriteValue(first, last, cell.text, status, derived, frequency);
      });
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
