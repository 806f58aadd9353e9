#include "env/number_text.h"

#include <cstdarg>
#include <cstdio>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace rolta {
namespace {

bool IsCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Exponents beyond this decide the result on their own (overflow or
// underflow), whatever the digits; keeps the exponent arithmetic far from
// int64 overflow even for texts of many thousand digits.
constexpr std::int64_t kExponentLimit = 1'000'000'000;

struct ScannedNumber {
  bool negative = false;
  std::string digits;         // significant digits, no leading zeros, no point
  std::int64_t exponent = 0;  // value = digits * 10^exponent
};

// Reads the atof grammar from the start of the text; digits stay empty when
// the number is zero or there is none.
ScannedNumber Scan(std::string_view text) {
  ScannedNumber number;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && IsCSpace(text[i])) ++i;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    number.negative = text[i] == '-';
    ++i;
  }

  bool anyDigit = false;
  std::int64_t pointShift = 0;  // digits kept after the decimal point
  for (; i < n && IsDigit(text[i]); ++i) {
    anyDigit = true;
    if (number.digits.empty() && text[i] == '0') continue;
    number.digits.push_back(text[i]);
  }
  if (i < n && text[i] == '.') {
    ++i;
    for (; i < n && IsDigit(text[i]); ++i) {
      anyDigit = true;
      // A leading zero after the point only moves the scale.
      if (number.digits.empty() && text[i] == '0') {
        ++pointShift;
        continue;
      }
      number.digits.push_back(text[i]);
      ++pointShift;
    }
  }
  if (!anyDigit) return ScannedNumber{};

  // The exponent counts only with at least one digit after e[sign].
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    bool expNegative = false;
    if (j < n && (text[j] == '+' || text[j] == '-')) {
      expNegative = text[j] == '-';
      ++j;
    }
    if (j < n && IsDigit(text[j])) {
      std::int64_t exp = 0;
      for (; j < n && IsDigit(text[j]); ++j) {
        if (exp < kExponentLimit) exp = exp * 10 + (text[j] - '0');
      }
      number.exponent = expNegative ? -exp : exp;
    }
  }
  number.exponent -= pointShift;

  // Trailing zeros only lengthen the span handed to from_chars.
  while (!number.digits.empty() && number.digits.back() == '0') {
    number.digits.pop_back();
    ++number.exponent;
  }
  return number;
}

}  // namespace

double TextToDouble(std::string_view text) {
  const ScannedNumber number = Scan(text);
  const double zero = number.negative ? -0.0 : 0.0;
  const double largest = number.negative ? -std::numeric_limits<double>::max() : std::numeric_limits<double>::max();
  if (number.digits.empty()) return zero;

  // Decimal exponent of the leading digit: the magnitude of the number.
  const std::int64_t magnitude = number.exponent + static_cast<std::int64_t>(number.digits.size()) - 1;
  if (magnitude > 400) return largest;
  if (magnitude < -400) return zero;

  // The accepted span in a normalised form that from_chars reads the same in
  // every locale.
  std::string normalised = number.digits;
  normalised += 'e';
  normalised += std::to_string(number.exponent);

  double value = 0.0;
  const auto [end, ec] =
      std::from_chars(normalised.data(), normalised.data() + normalised.size(), value, std::chars_format::general);
  (void)end;
  if (ec == std::errc::result_out_of_range) return magnitude < 0 ? zero : largest;
  if (ec != std::errc{} || !std::isfinite(value)) return magnitude < 0 ? zero : largest;
  return number.negative ? -value : value;
}

float NarrowToFloat(double value) {
  constexpr double kFloatMax = std::numeric_limits<float>::max();
  if (std::isnan(value)) return std::numeric_limits<float>::quiet_NaN();
  if (value > kFloatMax) return std::numeric_limits<float>::max();
  if (value < -kFloatMax) return -std::numeric_limits<float>::max();
  return static_cast<float>(value);
}

float TextToFloat(std::string_view text) { return NarrowToFloat(TextToDouble(text)); }

std::int32_t TextToInt(std::string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate the magnitude with one step of headroom, then saturate.
  constexpr std::int64_t kMaxMagnitude = static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1;
  std::int64_t magnitude = 0;
  for (; i < n && IsDigit(text[i]); ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > kMaxMagnitude) magnitude = kMaxMagnitude;
  }
  if (negative) return static_cast<std::int32_t>(-magnitude);  // -2^31 fits
  if (magnitude > std::numeric_limits<std::int32_t>::max()) {
    return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(magnitude);
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (needed > 0) {
    text.resize(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(needed));
  }
  va_end(args);
  return text;
}

}  // namespace rolta
