#include "program/Compare.h"
#include "platform/TextLines.h"
#include "program/Words.h"

#include <algorithm>
#include <functional>

namespace tarvex {
namespace {

std::string uppered(std::string_view s)
{
    std::string out;
    for (char c : s)
        if (c != ' ' && c != '\t')
            out += nc::upper(c);
    return out;
}

// A number's one form: no "+", integer digits without leading zeros and,
// with a decimal point, fraction digits without trailing zeros.
std::string number(std::string_view v, bool point)
{
    std::string sign;
    if (!v.empty() && (v[0] == '+' || v[0] == '-')) {
        if (v[0] == '-')
            sign = "-";
        v.remove_prefix(1);
    }
    const auto dot = v.find('.');
    std::string_view whole = v.substr(0, dot), fraction = dot == std::string_view::npos ? "" : v.substr(dot + 1);
    if (point) {
        while (!fraction.empty() && fraction.back() == '0')
            fraction.remove_suffix(1);
    }
    while (whole.size() > 1 && whole[0] == '0')
        whole.remove_prefix(1);
    if (point && whole.empty())
        whole = "0";
    std::string out = sign + std::string(whole) + (point ? "." + std::string(fraction) : "");
    return out == "-0." || out == "-0" ? out.substr(1) : out;
}

struct Block {
    std::size_t line;
    std::string_view text;
    std::string normal;
};

std::vector<Block> blocks(std::string_view text)
{
    std::vector<Block> out;
    TextLines lines(text);
    std::string_view line;
    for (std::size_t n = 1; lines.next(line); ++n)
        if (std::string normal = normalBlock(line); !normal.empty())
            out.push_back({n, line, std::move(normal)});
    // The tape's leading and trailing "%" frame the program, they are not of it.
    while (!out.empty() && out.back().normal == "%")
        out.pop_back();
    std::size_t lead = 0;
    while (lead < out.size() && out[lead].normal == "%")
        ++lead;
    out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(lead));
    return out;
}

} // namespace

std::string normalBlock(std::string_view line)
{
    std::string out;
    nc::Lexer lexer(line);
    nc::Token t{};
    std::size_t at = 0;
    auto gap = [&](std::size_t to) {
        // Bytes that are no piece of the language (a stray byte) still count.
        for (; at < to; ++at)
            if (line[at] != ' ' && line[at] != '\t')
                out += line[at];
    };
    while (lexer.next(t)) {
        gap(t.begin);
        at = t.end;
        const std::string_view piece = line.substr(t.begin, t.end - t.begin);
        if (t.kind != nc::Piece::Word) {
            out += uppered(piece);
            continue;
        }
        const char letter = nc::upper(piece[0]);
        if (letter == 'N')
            continue; // sequence numbers are the control's to change
        std::string_view value = line.substr(t.value, t.end - t.value);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.remove_suffix(1);
        out += letter;
        if (!t.number) {
            out += uppered(value);
        } else if (nc::hasPoint(value)) {
            out += number(value, true);
        } else if (letter == 'G' || letter == 'M' || letter == 'O' || letter == ':') {
            out += number(value, false);
        } else {
            out += value[0] == '+' ? std::string(value.substr(1)) : std::string(value);
        }
    }
    gap(line.size());
    return out;
}

namespace {

// The differences and, when asked, where the two programs stand level.
std::vector<BlockDifference> difference(std::string_view first, std::string_view second,
                                        std::vector<std::pair<std::size_t, std::size_t>>* level)
{
    const std::vector<Block> a = blocks(first), b = blocks(second);
    std::vector<bool> onlyA(a.size()), onlyB(b.size());
    // Matched blocks after a difference (and the first) are where the two
    // sides are level again.
    auto levels = [&] {
        if (!level)
            return;
        bool after = true;
        for (std::size_t i = 0, j = 0; i < a.size() || j < b.size();) {
            if (i < a.size() && onlyA[i]) {
                ++i, after = true;
            } else if (j < b.size() && onlyB[j]) {
                ++j, after = true;
            } else if (i < a.size() && j < b.size()) {
                if (after)
                    level->emplace_back(static_cast<std::size_t>(a[i].text.data() - first.data()),
                                        static_cast<std::size_t>(b[j].text.data() - second.data()));
                after = false;
                ++i, ++j;
            } else {
                break;
            }
        }
    };
    // The same beginning and end need no search.
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && a[head].normal == b[head].normal)
        ++head;
    std::size_t tailA = a.size(), tailB = b.size();
    while (tailA > head && tailB > head && a[tailA - 1].normal == b[tailB - 1].normal)
        --tailA, --tailB;
    const long n = static_cast<long>(tailA - head), m = static_cast<long>(tailB - head);
    auto same = [&](long x, long y) { return a[head + x].normal == b[head + y].normal; };
    // Myers' shortest edit script, keeping each round's furthest reaches. So
    // many differences that they would take too long: all of the middle
    // removed and added.
    constexpr long maxRounds = 1000;
    std::vector<std::vector<long>> trace;
    std::vector<long> v(static_cast<std::size_t>(2 * std::min(n + m, maxRounds) + 3), 0);
    const long offset = std::min(n + m, maxRounds) + 1;
    long found = -1;
    for (long d = 0; d <= std::min(n + m, maxRounds) && found < 0; ++d) {
        for (long k = -d; k <= d; k += 2) {
            long x = (k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1])) ? v[offset + k + 1]
                                                                                   : v[offset + k - 1] + 1;
            long y = x - k;
            while (x < n && y < m && same(x, y))
                ++x, ++y;
            v[offset + k] = x;
            if (x >= n && y >= m) {
                found = d;
                break;
            }
        }
        trace.push_back(v);
    }
    std::vector<BlockDifference> out;
    if (found < 0) {
        for (std::size_t i = head; i < tailA; ++i) {
            out.push_back({true, a[i].line, a[i].text});
            onlyA[i] = true;
        }
        for (std::size_t i = head; i < tailB; ++i) {
            out.push_back({false, b[i].line, b[i].text});
            onlyB[i] = true;
        }
        levels();
        return out;
    }
    // Back from the end, each round's step: a removal or an addition.
    long x = n, y = m;
    for (long d = found; d > 0; --d) {
        const std::vector<long>& prev = trace[static_cast<std::size_t>(d - 1)];
        const long k = x - y;
        const bool down = k == -d || (k != d && prev[offset + k - 1] < prev[offset + k + 1]);
        const long pk = down ? k + 1 : k - 1;
        const long px = prev[offset + pk], py = px - pk;
        if (down) {
            out.push_back({false, b[head + py].line, b[head + py].text});
            onlyB[head + static_cast<std::size_t>(py)] = true;
        } else {
            out.push_back({true, a[head + px].line, a[head + px].text});
            onlyA[head + static_cast<std::size_t>(px)] = true;
        }
        x = px;
        y = py;
    }
    std::reverse(out.begin(), out.end());
    levels();
    return out;
}

} // namespace

std::vector<BlockDifference> compareBlocks(std::string_view first, std::string_view second)
{
    return difference(first, second, nullptr);
}

Comparison::Comparison(std::string a, std::string b) : first(std::move(a)), second(std::move(b))
{
    differences = difference(first, second, &level);
}

} // namespace tarvex
