// Conversion of the operator's typed texts into numbers, with the rules of the
// C library's atof and atoi but without their locale: a "." is always the
// decimal point, whatever LC_NUMERIC says, so a German desktop reads "1.5" as
// 1.5 and not as 1.
//
// Accepted: leading white space (space, \t, \n, \v, \f, \r), an optional sign,
// decimal digits with an optional ".", an optional exponent (e or E, optional
// sign, at least one digit; an "e" without digits is left unread). Reading
// stops at the first character that does not fit; no digits at all reads 0.
// Hexadecimal numbers, "inf" and "nan" are not numbers here ("0x1A" reads the
// leading 0).
//
// Results are always finite: a text too large for the result type reads as
// the largest finite value of that sign, a text too small reads as zero of
// that sign. A typed text can therefore never put an infinity or a NaN into a
// frame.
#pragma once

#include <cstdint>
#include <string_view>

namespace rolta {

// atof: the nearest double, clamped to +-DBL_MAX.
double TextToDouble(std::string_view text);

// atof, then rounded to single precision (as a float32 frame field takes it),
// clamped to +-FLT_MAX.
float TextToFloat(std::string_view text);

// Narrows a double to float the way TextToFloat does: nearest float, values
// beyond the float range clamp to +-FLT_MAX, NaN stays NaN.
float NarrowToFloat(double value);

// atoi: optional sign and decimal digits, no decimal point, no exponent;
// saturates at INT32_MIN / INT32_MAX instead of wrapping.
std::int32_t TextToInt(std::string_view text);

// printf-style formatting into a std::string.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace rolta
