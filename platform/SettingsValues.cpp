#include "platform/SettingsStore.h"
#include "platform/Blanks.h"

#include <charconv>
#include <cmath>
#include <strings.h>

namespace tarvex {
namespace {

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace

std::string formatBool(bool value) { return value ? "True" : "False"; }

std::string formatNumber(float value)
{
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
}

std::optional<bool> parseBool(std::string_view text)
{
    text = trimBlanks(text);
    if (equalsNoCase(text, "True"))
        return true;
    if (equalsNoCase(text, "False"))
        return false;
    // A number converts as any nonzero value being true.
    if (auto n = parseNumber(text))
        return *n != 0.0f;
    return std::nullopt;
}

std::optional<float> parseNumber(std::string_view text)
{
    text = trimBlanks(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    float value = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || res.ec != std::errc() || res.ptr != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

bool readBool(const SettingsStore& s, std::string_view section, std::string_view key, bool fallback)
{
    return parseBool(s.read(section, key, formatBool(fallback))).value_or(fallback);
}

float readNumber(const SettingsStore& s, std::string_view section, std::string_view key, float fallback)
{
    return parseNumber(s.read(section, key, formatNumber(fallback))).value_or(fallback);
}

float readNumberWithin(const SettingsStore& s, std::string_view section, std::string_view key, float fallback,
                       float least, float most)
{
    const float n = readNumber(s, section, key, fallback);
    return n >= least && n <= most ? n : fallback;
}

int readInt16(const SettingsStore& s, std::string_view section, std::string_view key, int fallback)
{
    auto n = parseNumber(s.read(section, key, std::to_string(fallback)));
    if (!n)
        return fallback;
    // Halves round to even, as the conversion to an integer does.
    float r = std::nearbyint(*n);
    if (r < -32768.0f || r > 32767.0f)
        return fallback;
    return static_cast<int>(r);
}

void writeBool(SettingsStore& s, std::string_view section, std::string_view key, bool value)
{
    s.write(section, key, formatBool(value));
}

void writeNumber(SettingsStore& s, std::string_view section, std::string_view key, float value)
{
    s.write(section, key, formatNumber(value));
}

} // namespace tarvex
