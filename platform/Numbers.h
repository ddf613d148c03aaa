#pragma once
#include <string>
#include <string_view>

namespace tarvex {

// The leading-number value of a text: blanks, tabs and line feeds anywhere
// are ignored; then the longest prefix that reads as a decimal number (sign,
// digits, point, exponent "E" or "D") is taken, 0 when there is none.
// "&H" and "&O" prefixes read hexadecimal and octal integers ("&H93" is 147;
// four-digit values above &H7FFF are negative, as 16-bit integers).
// overflow is set when the number is beyond the range of a double.
double leadingValue(std::string_view text, bool* overflow = nullptr);

// The value of the address letter at position p of a line: the run of
// characters from "0123456789.-" after it, read as a leading-number value;
// a run without a point is in thousandths (X1000 and X1. are both 1).
// Single precision; overflow is set when the value is beyond it.
float addressValue(std::string_view line, std::size_t p, bool& overflow);

// A number shown through a display pattern such as "####0.0##": "0" a required
// digit, "#" an optional one, "." the decimal point. Rounded half away from
// zero, never grouped; integer digits beyond the pattern are still written.
// A double is first taken to its 15 significant digits, a float to the
// shortest digits that read back as the same float.
std::string formatPattern(double value, std::string_view pattern);
std::string formatPattern(float value, std::string_view pattern);

// A pattern read once, for formatting many numbers.
struct NumberPattern {
    int minInt = 0, minFrac = 0, maxFrac = 0;
    explicit NumberPattern(std::string_view pattern);
};
void appendPattern(std::string& out, double value, const NumberPattern& pattern);
void appendPattern(std::string& out, float value, const NumberPattern& pattern);

// The name of a called program: prefix + the number at the start of rest as a
// whole number without leading zeros ("0100" gives "100", "12.5" gives "13");
// what follows the number (a repeat count, a comment) is not part of it.
std::string callName(char prefix, std::string_view rest);

} // namespace tarvex
