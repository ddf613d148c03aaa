#include "platform/Numbers.h"

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

// value = (-)0.d1d2d3… × 10^(exp + 1): digits of a number in scientific text
// ("1.2345e+01", as to_chars writes it) and the power of ten of the first.
struct Digits {
    bool negative = false;
    char d[24];
    int n = 0;
    int exp = 0;
};

Digits scientificDigits(const char* s, const char* end)
{
    Digits out;
    if (s < end && *s == '-')
        out.negative = true, ++s;
    for (; s < end && *s != 'e'; ++s)
        if (*s >= '0' && *s <= '9' && out.n < 24)
            out.d[out.n++] = *s;
    int e = 0;
    std::from_chars(s + 1 + (s + 1 < end && s[1] == '+'), end, e);
    out.exp = e;
    while (out.n > 0 && out.d[out.n - 1] == '0')
        --out.n;
    if (out.n > 0 && out.d[0] == '0')
        out.n = 0; // zero
    return out;
}

void applyPattern(std::string& out, const Digits& v, const NumberPattern& pattern)
{
    const int minInt = pattern.minInt, minFrac = pattern.minFrac, maxFrac = pattern.maxFrac;
    // Most numbers need no rounding: their digits are written as they are.
    if (v.n > 0 && v.n - 1 - v.exp <= maxFrac && v.exp < 40 && v.exp > -40) {
        char buf[128];
        char* p = buf;
        if (v.negative)
            *p++ = '-';
        const int intDigits = std::max(v.exp + 1, 0);
        for (int k = intDigits; k < minInt; ++k)
            *p++ = '0';
        for (int k = 0; k < intDigits; ++k)
            *p++ = k < v.n ? v.d[k] : '0';
        const int fracDigits = std::max(v.n - intDigits, 0) + std::max(-v.exp - 1, 0);
        if (fracDigits > 0 || minFrac > 0) {
            *p++ = '.';
            for (int k = 0; k < -v.exp - 1; ++k)
                *p++ = '0';
            for (int k = intDigits; k < v.n; ++k)
                *p++ = v.d[k];
            for (int k = fracDigits; k < minFrac; ++k)
                *p++ = '0';
        }
        out.append(buf, p);
        return;
    }
    // The digits from 10^high down to 10^-maxFrac, rounded half away from zero.
    const int high = std::max(v.exp, 0);
    char digits[400];
    const int count = high + maxFrac + 1;
    if (count + 1 > static_cast<int>(sizeof digits)) {
        out += v.negative ? "-Infinity" : "Infinity";
        return;
    }
    auto digitAt = [&](int p) {
        const int k = v.exp - p;
        return k >= 0 && k < v.n ? v.d[k] : '0';
    };
    for (int k = 0; k < count; ++k)
        digits[k + 1] = digitAt(high - k);
    digits[0] = '0'; // room for a carry
    if (digitAt(-maxFrac - 1) >= '5') {
        int k = count;
        while (digits[k] == '9')
            digits[k--] = '0';
        ++digits[k];
    }
    const char* intBegin = digits;
    const char* intEnd = digits + 1 + high + 1;
    while (intBegin < intEnd && *intBegin == '0')
        ++intBegin;
    const char* fracBegin = intEnd;
    const char* fracEnd = digits + count + 1;
    while (fracEnd - fracBegin > minFrac && fracEnd[-1] == '0')
        --fracEnd;

    bool zero = intBegin == intEnd;
    for (const char* p = fracBegin; zero && p < fracEnd; ++p)
        zero = *p == '0';
    if (v.negative && !zero)
        out += '-';
    for (int k = static_cast<int>(intEnd - intBegin); k < minInt; ++k)
        out += '0';
    out.append(intBegin, intEnd);
    if (fracEnd > fracBegin) {
        out += '.';
        out.append(fracBegin, fracEnd);
    }
}

} // namespace

NumberPattern::NumberPattern(std::string_view pattern)
{
    const auto dot = pattern.find('.');
    for (char c : pattern.substr(0, dot))
        minInt += c == '0';
    if (dot != std::string_view::npos) {
        const std::string_view frac = pattern.substr(dot + 1);
        maxFrac = static_cast<int>(frac.size());
        for (char c : frac)
            minFrac += c == '0';
    }
}

void appendPattern(std::string& out, double value, const NumberPattern& pattern)
{
    if (!std::isfinite(value)) {
        out += std::isnan(value) ? "NaN" : value < 0 ? "-Infinity" : "Infinity";
        return;
    }
    char buf[40];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
    applyPattern(out, scientificDigits(buf, res.ptr), pattern);
}

void appendPattern(std::string& out, float value, const NumberPattern& pattern)
{
    if (!std::isfinite(value))
        return appendPattern(out, static_cast<double>(value), pattern);
    char buf[40];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    applyPattern(out, scientificDigits(buf, res.ptr), pattern);
}

std::string formatPattern(double value, std::string_view pattern)
{
    std::string out;
    appendPattern(out, value, NumberPattern(pattern));
    return out;
}

std::string formatPattern(float value, std::string_view pattern)
{
    std::string out;
    appendPattern(out, value, NumberPattern(pattern));
    return out;
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
