#include "program/Compare.h"
#include "platform/TextLines.h"
#include "program/Words.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <unordered_map>

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

std::vector<Block> blocks(std::string_view text, bool keepSequence)
{
    std::vector<Block> out;
    TextLines lines(text);
    std::string_view line;
    for (std::size_t n = 1; lines.next(line); ++n)
        if (std::string normal = normalBlock(line, keepSequence); !normal.empty())
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

std::string normalBlock(std::string_view line, bool keepSequence)
{
    std::string out;
    nc::Lexer lexer(line);
    nc::Token t{};
    std::size_t at = 0;
    auto gap = [&](std::size_t to) {
        // Bytes that are no piece of the language (a stray byte) still
        // count; tape leader (NUL, DEL) does not.
        for (; at < to; ++at)
            if (line[at] != ' ' && line[at] != '\t' && line[at] != '\0' && line[at] != '\x7F')
                out += line[at];
    };
    while (lexer.next(t)) {
        gap(t.begin);
        at = t.end;
        const std::string_view piece = line.substr(t.begin, t.end - t.begin);
        if (t.kind == nc::Piece::Keyword && (uppered(piece) == "DPRNT" || uppered(piece) == "BPRNT")) {
            // What it prints is text, an N in it included.
            out += uppered(piece) + std::string(line.substr(t.end));
            return out;
        }
        if (t.kind != nc::Piece::Word) {
            out += uppered(piece);
            continue;
        }
        const char letter = nc::upper(piece[0]);
        if (letter == 'N' && !keepSequence)
            continue; // sequence numbers are the control's to change
        std::string_view value = line.substr(t.value, t.end - t.value);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.remove_suffix(1);
        out += letter;
        if (!t.number) {
            out += uppered(value);
        } else if (nc::hasPoint(value)) {
            out += number(value, true);
        } else if (std::string_view("GMO:HTSD").find(letter) != std::string_view::npos) {
            out += number(value, false);
        } else {
            out += value[0] == '+' ? std::string(value.substr(1)) : std::string(value);
        }
    }
    gap(line.size());
    return out;
}

std::vector<std::pair<std::size_t, std::size_t>> changedWords(std::string_view line, std::string_view other)
{
    struct Piece {
        std::size_t begin, end;
        std::string normal;
    };
    auto pieces = [](std::string_view l) {
        std::vector<Piece> out;
        nc::Lexer lexer(l);
        nc::Token t{};
        while (lexer.next(t))
            out.push_back({t.begin, t.end, normalBlock(l.substr(t.begin, t.end - t.begin), true)});
        return out;
    };
    const std::vector<Piece> a = pieces(line), b = pieces(other);
    // Longest common subsequence of the two words lists (a block is short).
    std::vector<std::vector<int>> common(a.size() + 1, std::vector<int>(b.size() + 1, 0));
    for (std::size_t i = a.size(); i-- > 0;)
        for (std::size_t j = b.size(); j-- > 0;)
            common[i][j] = a[i].normal == b[j].normal ? common[i + 1][j + 1] + 1
                                                      : std::max(common[i + 1][j], common[i][j + 1]);
    std::vector<std::pair<std::size_t, std::size_t>> out;
    for (std::size_t i = 0, j = 0; i < a.size();) {
        if (j < b.size() && a[i].normal == b[j].normal) {
            ++i, ++j;
        } else if (j < b.size() && common[i][j + 1] >= common[i + 1][j]) {
            ++j;
        } else {
            out.emplace_back(a[i].begin, a[i].end);
            ++i;
        }
    }
    return out;
}

bool refersToSequenceNumbers(std::string_view text)
{
    TextLines lines(text);
    std::string_view line;
    nc::Block b;
    while (lines.next(line)) {
        if (line.find_first_of("GgPpQqOo") == std::string_view::npos)
            continue; // no jump, no P or Q word: nothing that names a sequence number
        nc::readBlock(line, b);
        if (!nc::sequenceReference(b).empty())
            return true;
    }
    return false;
}

namespace {

// Marks what only one side holds in a[lo1, hi1) and b[lo2, hi2): blocks
// that each side holds equally often are anchors, taken in their longest
// common order (patience), and what lies between two anchors is done again
// the same way; a stretch without such blocks gets Myers' shortest edit script,
// or, when that would take too long, is all changed.
class Aligner {
public:
    Aligner(const std::vector<Block>& a, const std::vector<Block>& b)
        : onlyA(a.size()), onlyB(b.size()), a_(a), b_(b) {}

    void run()
    {
        std::vector<std::array<std::size_t, 4>> todo{{0, a_.size(), 0, b_.size()}};
        while (!todo.empty()) {
            auto [lo1, hi1, lo2, hi2] = todo.back();
            todo.pop_back();
            while (lo1 < hi1 && lo2 < hi2 && a_[lo1].normal == b_[lo2].normal)
                ++lo1, ++lo2;
            while (hi1 > lo1 && hi2 > lo2 && a_[hi1 - 1].normal == b_[hi2 - 1].normal)
                --hi1, --hi2;
            if (lo1 == hi1 || lo2 == hi2) {
                mark(lo1, hi1, lo2, hi2);
                continue;
            }
            const std::vector<std::pair<std::size_t, std::size_t>> anchors = unique(lo1, hi1, lo2, hi2);
            if (anchors.empty()) {
                if (!myers(lo1, hi1, lo2, hi2))
                    mark(lo1, hi1, lo2, hi2);
                continue;
            }
            std::size_t from1 = lo1, from2 = lo2;
            for (auto [i, j] : anchors) {
                todo.push_back({from1, i, from2, j});
                from1 = i + 1, from2 = j + 1;
            }
            todo.push_back({from1, hi1, from2, hi2});
        }
    }

    std::vector<bool> onlyA, onlyB;

private:
    void mark(std::size_t lo1, std::size_t hi1, std::size_t lo2, std::size_t hi2)
    {
        std::fill(onlyA.begin() + static_cast<std::ptrdiff_t>(lo1), onlyA.begin() + static_cast<std::ptrdiff_t>(hi1), true);
        std::fill(onlyB.begin() + static_cast<std::ptrdiff_t>(lo2), onlyB.begin() + static_cast<std::ptrdiff_t>(hi2), true);
    }

    // The blocks each side holds equally often, the k-th with the k-th (a
    // program repeats many blocks: "G00Z5."), as pairs in the longest order
    // both keep.
    std::vector<std::pair<std::size_t, std::size_t>> unique(std::size_t lo1, std::size_t hi1, std::size_t lo2,
                                                            std::size_t hi2) const
    {
        struct Seen {
            std::size_t countA = 0, used = 0;
            std::vector<std::size_t> inB;
        };
        std::unordered_map<std::string_view, Seen> seen;
        seen.reserve(hi1 - lo1);
        for (std::size_t i = lo1; i < hi1; ++i)
            ++seen[a_[i].normal].countA;
        for (std::size_t j = lo2; j < hi2; ++j)
            if (auto it = seen.find(b_[j].normal); it != seen.end())
                it->second.inB.push_back(j);
        std::vector<std::pair<std::size_t, std::size_t>> pairs;
        for (std::size_t i = lo1; i < hi1; ++i)
            if (Seen& s = seen.at(a_[i].normal); s.countA == s.inB.size())
                pairs.emplace_back(i, s.inB[s.used++]);
        // Longest increasing run of the b positions, in a's order.
        std::vector<std::size_t> tails, parent(pairs.size());
        for (std::size_t k = 0; k < pairs.size(); ++k) {
            auto pos = std::lower_bound(tails.begin(), tails.end(), pairs[k].second,
                                        [&](std::size_t t, std::size_t j) { return pairs[t].second < j; });
            parent[k] = pos == tails.begin() ? SIZE_MAX : *(pos - 1);
            if (pos == tails.end())
                tails.push_back(k);
            else
                *pos = k;
        }
        std::vector<std::pair<std::size_t, std::size_t>> out;
        for (std::size_t k = tails.empty() ? SIZE_MAX : tails.back(); k != SIZE_MAX; k = parent[k])
            out.push_back(pairs[k]);
        std::reverse(out.begin(), out.end());
        return out;
    }

    // Myers' shortest edit script over a stretch; false when it would take
    // more than a bounded number of rounds.
    bool myers(std::size_t lo1, std::size_t hi1, std::size_t lo2, std::size_t hi2)
    {
        const long n = static_cast<long>(hi1 - lo1), m = static_cast<long>(hi2 - lo2);
        auto same = [&](long x, long y) { return a_[lo1 + x].normal == b_[lo2 + y].normal; };
        const long most = std::min(n + m, maxRounds);
        std::vector<std::vector<long>> trace;
        std::vector<long> v(static_cast<std::size_t>(2 * most + 3), 0);
        const long offset = most + 1;
        long found = -1;
        for (long d = 0; d <= most && found < 0; ++d) {
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
        if (found < 0)
            return false;
        long x = n, y = m;
        for (long d = found; d > 0; --d) {
            const std::vector<long>& prev = trace[static_cast<std::size_t>(d - 1)];
            const long k = x - y;
            const bool down = k == -d || (k != d && prev[offset + k - 1] < prev[offset + k + 1]);
            const long pk = down ? k + 1 : k - 1;
            const long px = prev[offset + pk], py = px - pk;
            if (down)
                onlyB[lo2 + static_cast<std::size_t>(py)] = true;
            else
                onlyA[lo1 + static_cast<std::size_t>(px)] = true;
            x = px;
            y = py;
        }
        return true;
    }

    static constexpr long maxRounds = 1000;
    const std::vector<Block>& a_;
    const std::vector<Block>& b_;
};

// The differences and, when asked, where the two programs stand level.
std::vector<BlockDifference> difference(std::string_view first, std::string_view second,
                                        std::vector<std::pair<std::size_t, std::size_t>>* level)
{
    // Sequence numbers count where either program jumps to them.
    const bool keep = refersToSequenceNumbers(first) || refersToSequenceNumbers(second);
    const std::vector<Block> a = blocks(first, keep), b = blocks(second, keep);
    Aligner align(a, b);
    align.run();
    std::vector<BlockDifference> out;
    bool after = true;
    std::size_t place = 0, lastA = 0, lastB = 0; // lines of the last matched pair
    for (std::size_t i = 0, j = 0; i < a.size() || j < b.size();) {
        if (i < a.size() && align.onlyA[i]) {
            place += !after;
            out.push_back({true, a[i].line, a[i].text, place});
            ++i, after = true;
        } else if (j < b.size() && align.onlyB[j]) {
            place += !after;
            out.push_back({false, b[j].line, b[j].text, place});
            ++j, after = true;
        } else {
            // Matched blocks after a difference (and the first) are where
            // the two sides are level again, and those after lines one side
            // has more of (blank lines).
            if (level && (after || a[i].line - lastA != b[j].line - lastB))
                level->emplace_back(static_cast<std::size_t>(a[i].text.data() - first.data()),
                                    static_cast<std::size_t>(b[j].text.data() - second.data()));
            after = false;
            lastA = a[i].line, lastB = b[j].line;
            ++i, ++j;
        }
    }
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
