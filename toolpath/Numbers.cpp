#include "toolpath/Numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace tarvex {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

int digitValue(char c, int base)
{
    int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : 99;
    return v < base ? v : -1;
}

// "&H…" and "&O…" (also "&…" as octal): integers of 16 or 32 bits, as typed.
double radixValue(std::string_view t, std::size_t pos, bool* overflow)
{
    int base = 8;
    if (pos < t.size() && (t[pos] == 'H' || t[pos] == 'h'))
        base = 16, ++pos;
    else if (pos < t.size() && (t[pos] == 'O' || t[pos] == 'o'))
        ++pos;
    std::uint64_t v = 0;
    for (; pos < t.size(); ++pos) {
        if (isBlank(t[pos]))
            continue;
        int d = digitValue(t[pos], base);
        if (d < 0)
            break;
        v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
        if (v > 0xFFFFFFFFull) {
            if (overflow)
                *overflow = true;
            return 0;
        }
    }
    if (v <= 0xFFFF)
        return v > 0x7FFF ? static_cast<double>(v) - 65536.0 : static_cast<double>(v);
    return v > 0x7FFFFFFF ? static_cast<double>(v) - 4294967296.0 : static_cast<double>(v);
}

} // namespace

double leadingValue(std::string_view t, bool* overflow)
{
    std::size_t pos = 0;
    auto next = [&]() -> int {
        while (pos < t.size() && isBlank(t[pos]))
            ++pos;
        return pos < t.size() ? static_cast<unsigned char>(t[pos]) : -1;
    };
    int c = next();
    if (c == '&')
        return radixValue(t, pos + 1, overflow);

    // value = (-)significant × 10^exp10; up to 40 significant digits are kept,
    // which is more than a double holds.
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        ++pos;
        c = next();
    }
    std::string sig;
    long exp10 = 0;
    bool digits = false, point = false;
    for (;; ++pos, c = next()) {
        if (c >= '0' && c <= '9') {
            digits = true;
            if (sig.empty() && c == '0') {
                exp10 -= point;
            } else if (sig.size() < 40) {
                sig += static_cast<char>(c);
                exp10 -= point;
            } else {
                exp10 += !point;
            }
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!digits)
        return 0;
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
        std::size_t save = pos;
        ++pos;
        int s = next();
        bool expNegative = false;
        if (s == '+' || s == '-') {
            expNegative = s == '-';
            ++pos;
            s = next();
        }
        long e = 0;
        bool expDigits = false;
        for (; s >= '0' && s <= '9'; ++pos, s = next()) {
            expDigits = true;
            e = std::min(e * 10 + (s - '0'), 1000000000L);
        }
        if (expDigits)
            exp10 += expNegative ? -e : e;
        else
            pos = save;
    }
    if (sig.empty())
        return 0;
    if (exp10 + static_cast<long>(sig.size()) > 309) {
        if (overflow)
            *overflow = true;
        return 0;
    }
    if (exp10 + static_cast<long>(sig.size()) < -330)
        return 0;
    std::string text = (negative ? "-" : "") + sig + "e" + std::to_string(exp10);
    double value = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    if (res.ec == std::errc::result_out_of_range) {
        if (exp10 > 0 && overflow)
            *overflow = true; // else too small: zero
        return 0;
    }
    return value;
}

float addressValue(std::string_view line, std::size_t p, bool& overflow)
{
    std::size_t k = p + 1, end = k;
    bool point = false;
    for (; end < line.size(); ++end) {
        char c = line[end];
        if (c == '.')
            point = true;
        else if (!((c >= '0' && c <= '9') || c == '-'))
            break;
    }
    std::string_view run = line.substr(std::min(k, line.size()), end - std::min(k, line.size()));
    double v = 0;
    auto res = std::from_chars(run.data(), run.data() + run.size(), v);
    if (res.ec == std::errc::result_out_of_range)
        v = leadingValue(run, &overflow); // a huge or tiny run: let the slow reader decide
    else if (res.ec != std::errc())
        v = 0;
    if (overflow || std::fabs(v) > std::numeric_limits<float>::max()) {
        overflow = true;
        return 0;
    }
    float w = static_cast<float>(v);
    if (!point)
        w = w * 0.001f;
    return w;
}

namespace {

// Decimal digits and the exponent of their first digit: value = 0.d1d2d3… × 10^(exp+1).
struct Decimal {
    bool negative = false;
    std::string digits; // no leading zeros; empty for zero
    int exp = 0;        // position of the first digit: 10^exp
};

Decimal fromScientific(const char* s)
{
    Decimal d;
    if (*s == '-')
        d.negative = true, ++s;
    for (; *s && *s != 'e' && *s != 'E'; ++s)
        if (*s >= '0' && *s <= '9')
            d.digits += *s;
    int e = *s ? std::atoi(s + 1) : 0;
    std::size_t lead = d.digits.find_first_not_of('0');
    if (lead == std::string::npos) {
        d.digits.clear();
        return d;
    }
    d.digits.erase(0, lead);
    d.exp = e - static_cast<int>(lead);
    while (!d.digits.empty() && d.digits.back() == '0')
        d.digits.pop_back();
    return d;
}

std::string applyPattern(Decimal d, std::string_view pattern)
{
    auto dot = pattern.find('.');
    std::string_view intPart = pattern.substr(0, dot);
    std::string_view fracPart = dot == std::string_view::npos ? std::string_view{} : pattern.substr(dot + 1);
    int minInt = 0, minFrac = 0, maxFrac = static_cast<int>(fracPart.size());
    for (char c : intPart)
        minInt += c == '0';
    for (char c : fracPart)
        minFrac += c == '0';

    // Digit at 10^p for p from high to low; round at 10^-maxFrac, half away from zero.
    auto digitAt = [&](int p) -> int {
        int k = d.exp - p;
        return k >= 0 && k < static_cast<int>(d.digits.size()) ? d.digits[static_cast<std::size_t>(k)] - '0' : 0;
    };
    int high = std::max(d.exp, 0);
    std::string digits; // from 10^high down to 10^-maxFrac
    for (int p = high; p >= -maxFrac; --p)
        digits += static_cast<char>('0' + digitAt(p));
    if (!d.digits.empty() && digitAt(-maxFrac - 1) >= 5) {
        int k = static_cast<int>(digits.size()) - 1;
        while (k >= 0 && digits[static_cast<std::size_t>(k)] == '9')
            digits[static_cast<std::size_t>(k--)] = '0';
        if (k < 0)
            digits.insert(digits.begin(), '1');
        else
            ++digits[static_cast<std::size_t>(k)];
    }
    std::string integer = digits.substr(0, digits.size() - static_cast<std::size_t>(maxFrac));
    std::string fraction = digits.substr(digits.size() - static_cast<std::size_t>(maxFrac));
    integer.erase(0, std::min(integer.find_first_not_of('0'), integer.size()));
    while (static_cast<int>(integer.size()) < minInt)
        integer.insert(integer.begin(), '0');
    while (static_cast<int>(fraction.size()) > minFrac && fraction.back() == '0')
        fraction.pop_back();
    const bool zero = (integer + fraction).find_first_not_of('0') == std::string::npos;
    std::string out = d.negative && !zero ? "-" : "";
    out += integer;
    if (!fraction.empty() || dot != std::string_view::npos)
        if (!fraction.empty())
            out += "." + fraction;
    return out;
}

} // namespace

std::string formatPattern(double value, std::string_view pattern)
{
    if (!std::isfinite(value))
        return std::isnan(value) ? "NaN" : value < 0 ? "-Infinity" : "Infinity";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", value);
    return applyPattern(fromScientific(buf), pattern);
}

std::string formatPattern(float value, std::string_view pattern)
{
    if (!std::isfinite(value))
        return formatPattern(static_cast<double>(value), pattern);
    char buf[40];
    auto res = std::to_chars(buf, buf + sizeof buf - 1, value, std::chars_format::scientific);
    *res.ptr = '\0';
    return applyPattern(fromScientific(buf), pattern);
}

std::string callName(char prefix, std::string_view rest)
{
    std::size_t pos = 0;
    while (pos < rest.size() && rest[pos] == ' ')
        ++pos;
    bool negative = false;
    if (pos < rest.size() && (rest[pos] == '-' || rest[pos] == '+'))
        negative = rest[pos++] == '-';
    std::string digits;
    while (pos < rest.size() && rest[pos] >= '0' && rest[pos] <= '9')
        digits += rest[pos++];
    bool roundUp = pos + 1 < rest.size() && rest[pos] == '.' && rest[pos + 1] >= '5' && rest[pos + 1] <= '9';
    bool fraction = pos + 1 < rest.size() && rest[pos] == '.' && rest[pos + 1] >= '0' && rest[pos + 1] <= '9';
    if (digits.empty() && !fraction)
        return std::string(1, prefix);
    if (roundUp) {
        int k = static_cast<int>(digits.size()) - 1;
        while (k >= 0 && digits[static_cast<std::size_t>(k)] == '9')
            digits[static_cast<std::size_t>(k--)] = '0';
        if (k < 0)
            digits.insert(digits.begin(), '1');
        else
            ++digits[static_cast<std::size_t>(k)];
    }
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
    if (digits.empty())
        return std::string(1, prefix) + "0";
    return std::string(1, prefix) + (negative ? "-" : "") + digits;
}

} // namespace tarvex
