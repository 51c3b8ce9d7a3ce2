#pragma once

#include "data/floating_point.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace dravo2 {
inline namespace data {

// The number format of every value the window shows: rounded to `digits` significant digits
// (1..18, half away from zero after an 18-digit expansion), trailing zeros dropped, fixed
// notation while the decimal exponent E of 0.d1d2... x 10^E lies in -3..digits, else
// d.dddE-x. Zero is "0"; a value that is not finite is "NAN", "INF" or "-INF".
std::string GeneralNumberText(Real value, int digits, char separator = '.');

// The shortest text that reads back to the same double: the fewest significant digits that do,
// in fixed notation while the decimal exponent E of d.ddd x 10^E lies in -4..15, else as d.ddde-x
// (no plus sign, no leading zeros in the exponent). Zero is "0"; values that are not finite are
// named as GeneralNumberText names them.
std::string ShortestNumberText(double value, char separator = '.');

// The shortest text that reads back to the same double, as std::to_chars writes it: fixed or
// scientific notation, whichever is shorter ("0.001", "1e-05", "1e+20"), "nan", "inf" or "-inf"
// for a value that is not finite; `separator` in place of the full stop. The form of the tables
// and files the commands write.
std::string RoundTripText(double value, char separator = '.');

// Appends RoundTripText(value) to `out`, for tables of many numbers.
void AppendRoundTripText(std::string& out, double value);

// A parameter field as a real number: optional sign, digits with an optional `separator` and
// fraction, optional exponent, spaces around. Throws ConversionError
// "'<text>' is not a valid floating point value"; a value beyond the extended range is no number.
Real TextToReal(std::string_view text, char separator = '.');

// TextToReal rounded to the double it is stored in ("Floating point overflow" beyond its range).
double TextToDouble(std::string_view text, char separator = '.');

// An integer field: optional sign and decimal digits within the 32-bit range, spaces around.
// Throws ConversionError "'<text>' is not a valid integer value".
std::int32_t TextToInteger(std::string_view text);

// The syntax of a number read from a data row: optional sign, digits, optional full stop and
// digits, optional exponent; no spaces. Returns false where `text` is not such a number.
bool ParseDataNumber(std::string_view text, Real& value);

// The 23-character value of a result file: sign (space or '-'), 15 significant digits as d.d...,
// 'E', exponent sign and four exponent digits; "Nan", "+Inf", "-Inf" right-aligned.
std::string ResultValueText(double value);

} // namespace data
} // namespace dravo2
