#include "platform/Utf8.h"

namespace tarvex::utf8 {

char32_t next(std::string_view s, std::size_t& pos)
{
    auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char c = b(pos);
    if (c < 0x80) {
        ++pos;
        return c;
    }
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
    if (extra < 0 || c > 0xF4 || s.size() - pos <= static_cast<std::size_t>(extra)) {
        ++pos;
        return 0xFFFD;
    }
    char32_t cp = c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        unsigned char t = b(pos + k);
        if ((t & 0xC0) != 0x80) {
            ++pos;
            return 0xFFFD;
        }
        cp = (cp << 6) | (t & 0x3F);
    }
    static constexpr char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
    if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return 0xFFFD;
    }
    pos += extra + 1;
    return cp;
}

bool valid(std::string_view s)
{
    for (std::size_t pos = 0; pos < s.size();) {
        const std::size_t at = pos;
        if (next(s, pos) == 0xFFFD && pos - at != 3)
            return false;
    }
    return true;
}

void append(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::size_t length(std::string_view s)
{
    std::size_t n = 0;
    for (std::size_t pos = 0; pos < s.size(); ++n)
        next(s, pos);
    return n;
}

std::size_t offsetOf(std::string_view s, std::size_t chars)
{
    std::size_t pos = 0;
    for (std::size_t n = 0; n < chars && pos < s.size(); ++n)
        next(s, pos);
    return pos;
}

} // namespace tarvex::utf8
