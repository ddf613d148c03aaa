#include "editor/TextTools.h"
#include "platform/TextLines.h"
#include "platform/Utf8.h"

#include <algorithm>

namespace tarvex {
namespace {

// The length in bytes of the UTF-8 character that starts with lead.
std::size_t charLength(unsigned char lead) { return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4; }

// Whether the text ends in a byte that is no character (its placeholder,
// U+F700 + byte) and is a cp932 lead byte, and next starts with a character
// whose first byte can trail one: written side by side, the file would read
// them as one double-byte character, and the character after the stray byte
// would be gone. Any character beyond ASCII counts, to be safe.
bool wouldJoin(std::string_view text, std::string_view next)
{
    if (text.size() < 3 || next.empty())
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data() + text.size() - 3);
    if (p[0] != 0xEF || p[1] < 0x9C || p[1] > 0x9F)
        return false; // not U+F700 to U+F7FF
    const unsigned byte = ((p[1] & 0x3F) << 6 | (p[2] & 0x3F)) & 0xFF;
    const bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    const auto c = static_cast<unsigned char>(next[0]);
    return lead && ((c >= 0x40 && c <= 0x7E) || c >= 0x80);
}

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
        // A replacement that would put a stray lead byte before a character is left out.
        const bool joins = wouldJoin(out, with.empty() ? text.substr(k) : with) ||
                           (!with.empty() && wouldJoin(with, text.substr(k)));
        if (!failed && matched == find.size() && !joins) {
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
    std::string_view line, replaced;
    std::size_t blockStart = 0;
    while (lines.next(line)) {
        // A block without a final line end whose stray lead byte would take
        // the first character of this line is undone: the line it replaced stays.
        if (!replaced.empty() && wouldJoin(out, line)) {
            out.resize(blockStart);
            out.append(replaced).append("\r\n");
            --count;
        }
        replaced = {};
        if (match.empty() || line.find(match) == std::string_view::npos) {
            out.append(line).append("\r\n");
            continue;
        }
        blockStart = out.size();
        replaced = line;
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
        if (wouldJoin(out, text.substr(at + 1)))
            out += ' '; // the space keeps a stray lead byte from the character after it
        else
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
