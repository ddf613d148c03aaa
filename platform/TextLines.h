#pragma once
#include <cstddef>
#include <optional>
#include <string_view>

namespace tarvex {

// The one rule for where lines end, as Save writes them: CR LF, LF CR, a
// lone CR and a lone LF each end one line. Every line number typed or shown
// counts lines by it.

// The length of the line end at a position (0 when none starts there).
inline std::size_t lineEndLength(std::string_view text, std::size_t at)
{
    if (at >= text.size() || (text[at] != '\r' && text[at] != '\n'))
        return 0;
    const char partner = text[at] == '\r' ? '\n' : '\r';
    return at + 1 < text.size() && text[at + 1] == partner ? 2 : 1;
}

// The lines of a text, with where each begins; a final line end does not
// start another line.
class TextLines {
public:
    explicit TextLines(std::string_view text) : t_(text) {}

    bool next(std::string_view& line)
    {
        if (pos_ >= t_.size())
            return false;
        start_ = pos_;
        const char* begin = t_.data() + pos_;
        const char* end = t_.data() + t_.size();
        const char* p = begin;
        while (p < end && *p != '\n' && *p != '\r')
            ++p;
        line = std::string_view(begin, static_cast<std::size_t>(p - begin));
        const std::size_t eol = static_cast<std::size_t>(p - t_.data());
        pos_ = eol + lineEndLength(t_, eol);
        return true;
    }
    // Where the line last returned begins, and where the next one does.
    std::size_t start() const { return start_; }
    std::size_t position() const { return pos_; }

private:
    std::string_view t_;
    std::size_t pos_ = 0, start_ = 0;
};

// The line (from 0) that holds a byte offset; an offset at the end of a
// text that ends with a line end is on the line after it.
std::size_t lineOfByte(std::string_view text, std::size_t byte);

// Where a line (from 0) begins; none beyond the last line.
std::optional<std::size_t> lineOffset(std::string_view text, std::size_t line);

} // namespace tarvex
