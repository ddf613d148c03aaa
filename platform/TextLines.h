#pragma once
#include <string_view>

namespace tarvex {

// The lines of a text, as the editor shows them: a line ends at CR LF, CR or
// LF; a final line end does not start another line.
class TextLines {
public:
    explicit TextLines(std::string_view text) : t_(text) {}

    bool next(std::string_view& line)
    {
        if (pos_ >= t_.size())
            return false;
        const char* begin = t_.data() + pos_;
        const char* end = t_.data() + t_.size();
        const char* p = begin;
        while (p < end && *p != '\n' && *p != '\r')
            ++p;
        line = std::string_view(begin, static_cast<std::size_t>(p - begin));
        if (p < end && *p == '\r' && p + 1 < end && p[1] == '\n')
            ++p;
        pos_ = static_cast<std::size_t>(p - t_.data()) + 1;
        return true;
    }

private:
    std::string_view t_;
    std::size_t pos_ = 0;
};

} // namespace tarvex
