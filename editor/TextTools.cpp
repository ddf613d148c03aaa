#include "editor/TextTools.h"
#include "platform/TextLines.h"
#include "platform/Utf8.h"

#include <algorithm>

namespace tarvex {
namespace {

// The length in bytes of the UTF-8 character that starts with lead.
std::size_t charLength(unsigned char lead) { return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4; }

} // namespace

std::optional<std::size_t> findNext(std::string_view text, std::string_view needle, std::size_t from)
{
    if (needle.empty() || from >= text.size())
        return std::nullopt;
    // One character after the caret: UTF-8 never matches inside a character.
    const std::size_t start = from + charLength(static_cast<unsigned char>(text[from]));
    const std::size_t at = text.find(needle, start);
    if (at == std::string_view::npos)
        return std::nullopt;
    return at;
}

std::string replaceAll(std::string_view text, std::string_view find, std::string_view with, long& count)
{
    count = 0;
    if (find.empty())
        return std::string(text);
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    const std::size_t firstLength = charLength(static_cast<unsigned char>(find[0]));
    const std::string_view first = find.substr(0, firstLength);
    std::size_t pos = 0;
    for (;;) {
        const std::size_t at = text.find(first, pos);
        if (at == std::string_view::npos)
            break;
        out.append(text.substr(pos, at - pos));
        // Characters are read and compared one by one; reading stops at the
        // first that does not continue find, and that one is consumed too.
        std::size_t k = at + firstLength, matched = firstLength;
        bool failed = false;
        while (matched < find.size() && k < text.size()) {
            const std::size_t len = std::min(charLength(static_cast<unsigned char>(text[k])), text.size() - k);
            const bool same = matched + len <= find.size() && text.compare(k, len, find.substr(matched, len)) == 0;
            k += len;
            if (!same) {
                failed = true;
                break;
            }
            matched += len;
        }
        if (!failed && matched == find.size()) {
            out.append(with);
            ++count;
        } else {
            out.append(text.substr(at, k - at));
        }
        pos = k;
    }
    out.append(text.substr(pos));
    return out;
}

std::string lineReplace(std::string_view text, std::string_view match, std::string_view block, long& count)
{
    count = 0;
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    TextLines lines(text);
    std::string_view line;
    while (lines.next(line)) {
        if (match.empty() || line.find(match) == std::string_view::npos) {
            out.append(line).append("\r\n");
            continue;
        }
        const std::string number = std::to_string(++count); // "####": no leading zeros
        for (char c : block) {
            if (c == '#')
                out.append(number);
            else
                out += c;
        }
    }
    return out;
}

std::string stripSpaces(std::string_view text, long& count)
{
    count = 0;
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0;;) {
        const std::size_t at = text.find(' ', pos);
        out.append(text.substr(pos, at == std::string_view::npos ? at : at - pos));
        if (at == std::string_view::npos)
            break;
        ++count;
        pos = at + 1;
    }
    return out;
}

CheckResult checkCharacters(std::string_view text, TapeCode code, const std::function<void(std::size_t)>& progress)
{
    CheckResult r;
    std::size_t lineStart = 0, lineEnd = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t at = pos;
        const char32_t c = utf8::next(text, pos);
        ++r.read;
        if (r.read % 100 == 0 && progress)
            progress(r.read);
        const bool legal = code == TapeCode::Eia ? legalInEia(c) : code == TapeCode::Iso ? legalInIso(c) : true;
        if (!legal) {
            r.clean = false;
            r.offset = at;
            r.length = pos - at;
            r.column = utf8::length(text.substr(lineStart, at - lineStart)) + 1;
            return r;
        }
        // Lines end as Save ends them: a line end of two characters ends one line.
        if (at >= lineEnd)
            lineEnd = at + lineEndLength(text, at);
        if (pos == lineEnd) {
            ++r.line;
            lineStart = pos;
        }
    }
    return r;
}

Registration parseRegistration(std::string_view text)
{
    Registration r;
    std::size_t end = text.find_first_of("\r\n");
    if (end == std::string_view::npos)
        end = text.size();
    r.match = std::string(text.substr(0, end));
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
        ++end;
    r.block = std::string(text.substr(std::min(end + 1, text.size())));
    return r;
}

std::string formatRegistration(const Registration& r) { return r.match + "\r\n" + r.block; }

std::string withCrLf(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (text[k] == '\r' || text[k] == '\n') {
            out.append("\r\n");
            if (text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n')
                ++k;
        } else {
            out += text[k];
        }
    }
    return out;
}

} // namespace tarvex
