#include "platform/TextLines.h"

#include <algorithm>

namespace tarvex {

std::size_t lineOfByte(std::string_view text, std::size_t byte)
{
    std::size_t line = 0;
    const std::size_t end = std::min(byte, text.size());
    for (std::size_t at = 0; at < end;) {
        if (const std::size_t eol = lineEndLength(text, at)) {
            ++line;
            at += eol;
        } else {
            ++at;
        }
    }
    return line;
}

std::optional<std::size_t> lineOffset(std::string_view text, std::size_t line)
{
    TextLines lines(text);
    std::string_view l;
    for (std::size_t n = 0; lines.next(l); ++n)
        if (n == line)
            return lines.start();
    return std::nullopt;
}

} // namespace tarvex
