// Number formats used by the windows, the export and the command line.
#pragma once

#include <string>

namespace qvl {

// The decimal separator numbers are written with ('.' unless a program sets another one).
char DecimalSeparator();
void SetDecimalSeparator(char separator);

// Fixed notation: the value rounded to `precision` significant digits, shown with exactly
// `digits` decimals (zero-padded). A value with more integer digits than `precision` is shown
// in scientific notation instead. Not-a-number gives "NAN", infinities "INF" and "-INF".
// A result that rounds to zero carries no minus sign.
std::string FormatFixed(double value, int precision, int digits);

// printf-like formatting into a string ("%d", "%.1f", "%s", ...), always with '.' as the
// decimal point.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Parses a number written with '.' (or the separator above); returns false for anything else
// (empty text, trailing characters).
bool TryParseDouble(const std::string& text, double& value);
bool TryParseInt(const std::string& text, long long& value);

}  // namespace qvl
