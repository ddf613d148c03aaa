#include "serial/Restart.h"
#include "serial/Transfers.h"
#include "platform/Utf8.h"

#include <array>
#include <cstdint>
#include <map>

namespace tarvex {
namespace {

struct Line {
    std::size_t start, length, next;
};

// The lines with their byte offsets; line ends as Save counts them.
std::vector<Line> splitLines(std::string_view text, std::size_t upTo)
{
    std::vector<Line> lines;
    std::size_t at = 0;
    while (at < text.size() && lines.size() <= upTo) {
        std::size_t end = at;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        const std::size_t eol = lineEndLength(text, end);
        lines.push_back({at, end - at, end + eol});
        at = end + eol;
    }
    return lines;
}

// A word of a block as the program writes it: a letter and its number; an
// empty number when a variable or an expression gives the value ("X#1").
struct Word {
    char letter;
    std::string_view number;
};

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
bool digit(char c) { return c >= '0' && c <= '9'; }

// The words of a block; comments in parentheses and anything after ";" are
// not part of it. Letters without a number are left out.
void words(std::string_view block, std::vector<Word>& out)
{
    out.clear();
    for (std::size_t i = 0; i < block.size();) {
        const char c = upper(block[i]);
        if (c == '(') {
            const auto close = block.find(')', i);
            i = close == std::string_view::npos ? block.size() : close + 1;
            continue;
        }
        if (c == ';')
            break;
        if (c < 'A' || c > 'Z') {
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        while (j < block.size() && block[j] == ' ')
            ++j;
        const std::size_t from = j;
        if (j < block.size() && (block[j] == '#' || block[j] == '[')) {
            out.push_back({c, {}});
            i = j + 1;
            continue;
        }
        if (j < block.size() && (block[j] == '+' || block[j] == '-'))
            ++j;
        while (j < block.size() && (digit(block[j]) || block[j] == '.'))
            ++j;
        if (j > from && (digit(block[j - 1]) || block[j - 1] == '.'))
            out.push_back({c, block.substr(from, j - from)});
        i = j > from ? j : i + 1;
    }
}

std::vector<Word> words(std::string_view block)
{
    std::vector<Word> out;
    words(block, out);
    return out;
}

// A G or M code read as a whole number: "01" and "1" are 1, "54.1" is 541
// (tenths kept apart), anything else -1.
int code(std::string_view number)
{
    int value = 0, tenths = 0;
    bool point = false, any = false;
    for (char c : number) {
        if (c == '.') {
            if (point)
                return -1;
            point = true;
        } else if (digit(c)) {
            any = true;
            if (point) {
                if (tenths)
                    return -1;
                tenths = c - '0' + 1;
            } else if ((value = value * 10 + (c - '0')) > 9999) {
                return -1;
            }
        } else {
            return -1;
        }
    }
    if (!any)
        return -1;
    return tenths ? value * 10 + (tenths - 1) : value * 10;
}

constexpr int g(int n) { return n * 10; }

// An exact decimal in millionths; only numbers with a decimal point have a
// value the scan can be sure of (without one, the controller's own input
// unit decides).
struct Decimal {
    std::int64_t micro = 0;
};

std::optional<Decimal> decimal(std::string_view number)
{
    if (number.find('.') == std::string_view::npos)
        return std::nullopt;
    bool negative = false;
    std::size_t i = 0;
    if (i < number.size() && (number[i] == '+' || number[i] == '-'))
        negative = number[i++] == '-';
    std::int64_t whole = 0, fraction = 0;
    int places = 0;
    bool point = false;
    for (; i < number.size(); ++i) {
        const char c = number[i];
        if (c == '.') {
            if (point)
                return std::nullopt;
            point = true;
        } else if (!digit(c)) {
            return std::nullopt;
        } else if (point) {
            if (++places > 6)
                return std::nullopt;
            fraction = fraction * 10 + (c - '0');
        } else if ((whole = whole * 10 + (c - '0')) > 1'000'000'000) {
            return std::nullopt;
        }
    }
    for (; places < 6; ++places)
        fraction *= 10;
    const std::int64_t v = whole * 1'000'000 + fraction;
    return Decimal{negative ? -v : v};
}

std::string format(Decimal d)
{
    std::int64_t v = d.micro;
    std::string out = v < 0 ? "-" : "";
    if (v < 0)
        v = -v;
    out += std::to_string(v / 1'000'000) + ".";
    std::string fraction = std::to_string(v % 1'000'000);
    fraction.insert(0, 6 - fraction.size(), '0');
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    return out + fraction;
}

// The position of one axis before the block: the number of the word that
// put it there, or as computed from increments. Its value is read only when
// an increment needs it.
struct Axis {
    bool known = false;
    std::string word;
};

// The notes, each said once with the line where it first applied.
class Notes {
public:
    void add(std::size_t line, const std::string& what)
    {
        auto [it, fresh] = index_.emplace(what, order_.size());
        if (fresh)
            order_.push_back({what, line, 0, line});
        Note& n = order_[it->second];
        if (fresh || n.last != line)
            ++n.count;
        n.last = line;
    }
    std::vector<std::string> lines() const
    {
        std::vector<std::string> out;
        for (const auto& n : order_)
            out.push_back("行 " + std::to_string(n.line + 1) + ": " + n.what
                          + (n.count > 1 ? "（ほか " + std::to_string(n.count - 1) + " 行）" : ""));
        return out;
    }

private:
    struct Note {
        std::string what;
        std::size_t line, count, last;
    };
    std::map<std::string, std::size_t> index_;
    std::vector<Note> order_;
};

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// A program-number line: O or ":" and a number, perhaps a comment; an O word
// with more after it is a control statement ("o100 call"), no header.
bool isHeader(std::string_view line)
{
    line = trimmed(line);
    if (line.empty() || (line[0] != 'O' && line[0] != 'o' && line[0] != ':'))
        return false;
    std::size_t i = 1;
    while (i < line.size() && digit(line[i]))
        ++i;
    const std::string_view rest = trimmed(line.substr(i));
    return i > 1 && (rest.empty() || rest[0] == '(' || rest[0] == ';');
}

// A statement of the macro language: an assignment or a jump or loop.
bool isMacro(std::string_view block)
{
    if (!trimmed(block).empty() && trimmed(block)[0] == '#')
        return true;
    const std::string_view t = trimmed(block);
    if (!t.empty() && (t[0] == 'O' || t[0] == 'o'))
        return true; // a control statement with an O word
    std::string head;
    for (char c : trimmed(block)) {
        if (c == ' ' || digit(c))
            break;
        head += upper(c);
    }
    // After an optional sequence number.
    if (!head.empty() && head[0] == 'N') {
        std::string_view rest = trimmed(block);
        std::size_t i = 1;
        while (i < rest.size() && (digit(rest[i]) || rest[i] == ' '))
            ++i;
        head.clear();
        for (char c : rest.substr(i)) {
            if (!(upper(c) >= 'A' && upper(c) <= 'Z'))
                break;
            head += upper(c);
        }
    }
    for (std::string_view k : {"IF", "WHILE", "GOTO"})
        if (head.rfind(k, 0) == 0)
            return true;
    return head == "DO" || head == "END";
}

// An O-word control statement ("o100 sub", "o101 while [...]"): its number
// and keyword in lower case; none for any other line.
struct Control {
    std::string number, keyword;
};

std::optional<Control> control(std::string_view line)
{
    line = trimmed(line);
    if (line.empty() || (line[0] != 'o' && line[0] != 'O'))
        return std::nullopt;
    std::size_t i = 1;
    while (i < line.size() && (digit(line[i]) || line[i] == '<' || line[i] == '>' || (line[i] >= 'a' && line[i] <= 'z')
                               || line[i] == '_'))
        ++i;
    Control c{std::string(line.substr(1, i - 1)), {}};
    std::string_view rest = trimmed(line.substr(i));
    for (char ch : rest) {
        if (!((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z')))
            break;
        c.keyword += static_cast<char>(ch | 0x20);
    }
    if (c.number.empty() || c.keyword.empty())
        return std::nullopt;
    return c;
}

// How the region of the program that holds a line ends: M99 (a subprogram),
// M02/M30 (the main program), or neither.
enum class RegionEnd { Sub, Main, Open };

int mCode(const std::vector<Word>& ws, std::initializer_list<int> wanted)
{
    for (const Word& w : ws)
        if (w.letter == 'M')
            for (int m : wanted)
                if (code(w.number) == g(m))
                    return m;
    return -1;
}

RegionEnd regionEnd(std::string_view text, std::size_t from)
{
    while (from < text.size()) {
        std::size_t end = from;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        const std::string_view line = text.substr(from, end - from);
        if (isHeader(line))
            return RegionEnd::Open;
        const int m = mCode(words(line), {99, 2, 30});
        if (m == 99)
            return RegionEnd::Sub;
        if (m == 2 || m == 30)
            return RegionEnd::Main;
        from = end + lineEndLength(text, end);
    }
    return RegionEnd::Open;
}

// The modal state the scan follows.
struct Modal {
    std::string motion;              // G00…G03 as written
    std::string cycle;               // the canned cycle in force, as written; empty when none
    std::string returnLevel;         // G98/G99 as written
    std::size_t cycleLine = 0;
    bool cycleUsed = false;
    std::string plane, units, coordinates, feedMode;
    bool incremental = false;
    std::string lengthOffset;        // "G43", "G44" or "G49" as written
    std::string h;                   // the last H word
    std::string tool, toolChange;    // the last T word, the program's M06 word
    std::string loaded;              // the T word in force when M06 last ran
    bool offsetStale = false;        // a tool change came after the last G43/G44
    std::string compensation;        // G41/G42 in force, as written
    std::size_t compensationLine = 0;
    std::string coordinatesP;        // the P word of G54.1
    std::optional<Decimal> highestZ; // the highest Z position commanded, where sure
    std::string speed, spindle;      // the last S word, M03/M04/M05 as written
    std::string coolant;             // M07/M08/M09 as written
    std::string feed;                // the last F word
    std::array<Axis, 3> axes;        // X, Y, Z
    std::array<bool, 3> used{};      // the axes the program has commanded
    bool movesZ = false;
};

void applyBlock(Modal& m, const std::vector<Word>& ws, std::size_t line, Notes& notes)
{
    bool noPositions = false, unknownPositions = false, setsPositions = false;
    bool cycleBlock = !m.cycle.empty();
    for (const Word& w : ws) {
        if (w.letter != 'G')
            continue;
        const int c = code(w.number);
        const auto word = [&] { return "G" + std::string(w.number); };
        switch (c) {
        case g(0): case g(1): case g(2): case g(3):
            m.motion = word();
            m.cycle.clear();
            cycleBlock = false;
            break;
        case g(73): case g(74): case g(76): case g(81): case g(82): case g(83): case g(84): case g(85):
        case g(86): case g(87): case g(88): case g(89):
            m.cycle = word();
            m.cycleLine = line;
            m.cycleUsed = true;
            cycleBlock = true;
            break;
        case g(80):
            m.cycle.clear();
            m.cycleUsed = true;
            cycleBlock = false;
            break;
        case g(17): case g(18): case g(19): m.plane = word(); break;
        case g(20): case g(21): m.units = word(); break;
        case g(90): m.incremental = false; break;
        case g(91): m.incremental = true; break;
        case g(94): case g(95): m.feedMode = word(); break;
        case g(54): case g(55): case g(56): case g(57): case g(58): case g(59): m.coordinates = word(); break;
        case 541: {
            // The extra work offsets: the number is the P word of the block.
            m.coordinates = word();
            for (const Word& p : ws)
                if (p.letter == 'P')
                    m.coordinates += "P" + std::string(p.number);
            break;
        }
        case g(43): case g(44): case g(49):
            m.lengthOffset = word();
            m.offsetStale = false;
            break;
        case g(40): m.compensation.clear(); break;
        case g(41): case g(42):
            m.compensation = word();
            m.compensationLine = line;
            break;
        case g(98): case g(99): m.returnLevel = word(); break;
        case g(4): noPositions = true; break;      // X and P are the dwell time
        case g(28): case g(30): case g(53):
            unknownPositions = true;
            notes.add(line, word() + " の後の位置はわかりません（次の座標指令まで）");
            break;
        case g(92): case g(52):
            setsPositions = c == g(92);
            noPositions = c == g(52);
            notes.add(line, word() + " による座標系の変更は再現しません。機械側の座標系を確認してください");
            break;
        case g(10):
            noPositions = true;
            notes.add(line, word() + " のデータ設定は解釈していません");
            break;
        case g(65): case g(66): case 661: case g(67):
            // A macro call: its words are arguments, and where it leaves the tool is unknown.
            noPositions = true;
            m.axes = {};
            notes.add(line, "マクロ呼び出し（" + word() + "）: 呼び出し後の位置とモーダル状態はわかりません");
            break;
        default:
            notes.add(line, word() + " は解釈していません");
        }
    }
    for (const Word& w : ws) {
        const auto word = [&] { return std::string(1, w.letter) + std::string(w.number); };
        if (w.number.empty()) {
            // A value from a variable: whatever it set is not known.
            if (w.letter >= 'X' && w.letter <= 'Z') {
                m.axes[w.letter - 'X'] = {};
                m.used[w.letter - 'X'] = true;
                m.movesZ = m.movesZ || w.letter == 'Z';
            } else if (w.letter == 'F') {
                m.feed.clear();
            } else if (w.letter == 'T') {
                m.tool.clear();
            }
            notes.add(line, "変数で指令された値（" + std::string(1, w.letter) + "）は使っていません");
            continue;
        }
        switch (w.letter) {
        case 'M': {
            const int c = code(w.number);
            if (c == g(3) || c == g(4) || c == g(5))
                m.spindle = word();
            else if (c == g(6)) {
                m.toolChange = word();
                // The tool of this block's T word, or the one selected before.
                for (const Word& t : ws)
                    if (t.letter == 'T')
                        m.tool = "T" + std::string(t.number);
                m.loaded = m.tool;
                // A G43/G44 in the same block is the new tool's.
                bool setsOffset = false;
                for (const Word& o : ws)
                    setsOffset = setsOffset || (o.letter == 'G' && (code(o.number) == g(43) || code(o.number) == g(44)));
                m.offsetStale = !m.lengthOffset.empty() && !setsOffset;
            }
            else if (c == g(7) || c == g(8) || c == g(9))
                m.coolant = word();
            else if (c == g(98) || c == g(198)) {
                // Where the subprogram leaves the tool is not known here.
                m.axes = {};
                notes.add(line, "サブプログラムの呼び出し（" + word()
                                    + "）: 呼び出し後の位置とモーダル状態はわかりません");
            }
            break;
        }
        case 'T': m.tool = word(); break;
        case 'S': m.speed = word(); break;
        case 'F': m.feed = word(); break;
        case 'H': m.h = word(); break;
        case 'A': case 'B': case 'C': case 'U': case 'V': case 'W':
            notes.add(line, std::string("軸 ") + w.letter + " の位置は復元しません");
            break;
        case 'X': case 'Y': case 'Z': {
            if (noPositions)
                break;
            const int k = w.letter - 'X';
            Axis& a = m.axes[k];
            m.used[k] = true;
            if (k == 2)
                m.movesZ = true;
            // A cycle's drilling axis (Z in G17, Y in G18, X in G19) gives the
            // hole's bottom, and the tool ends at its return level; repeats
            // (K, L) of incremental holes move it further.
            const int drill = m.plane.empty() || code(std::string_view(m.plane).substr(1)) == g(17) ? 2
                              : code(std::string_view(m.plane).substr(1)) == g(18)                   ? 1
                                                                                                      : 0;
            bool repeats = false;
            for (const Word& r : ws)
                repeats = repeats || r.letter == 'K' || r.letter == 'L';
            if (unknownPositions || (cycleBlock && (k == drill || (repeats && m.incremental)))) {
                a = {};
                break;
            }
            if (!m.incremental || setsPositions) {
                a = {true, std::string(w.number)};
                if (const auto v = decimal(w.number); k == 2 && v && (!m.highestZ || v->micro > m.highestZ->micro))
                    m.highestZ = v;
            } else if (const auto base = a.known ? decimal(a.word) : std::nullopt, step = decimal(w.number);
                       base && step) {
                a.word = format(Decimal{base->micro + step->micro});
                if (k == 2 && (!m.highestZ || base->micro + step->micro > m.highestZ->micro))
                    m.highestZ = Decimal{base->micro + step->micro};
            } else {
                a = {};
                notes.add(line, "G91 の増分指令から位置を求められません（小数点のない数値か、位置が不明）");
            }
            break;
        }
        default: break;
        }
    }
}

} // namespace

std::size_t lineOfByte(std::string_view text, std::size_t byte)
{
    std::size_t line = 0;
    for (std::size_t at = 0; at < std::min(byte, text.size());) {
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
    const std::vector<Line> lines = splitLines(text, line);
    if (line >= lines.size())
        return std::nullopt;
    return lines[line].start;
}

std::optional<std::string> clearanceWord(std::string_view clearance)
{
    clearance = trimmed(clearance);
    if (clearance.empty())
        return std::nullopt;
    std::string number(clearance);
    if (number.find('.') == std::string::npos)
        number += '.';
    const auto d = decimal(number);
    if (!d)
        return std::nullopt;
    return "Z" + format(*d);
}

std::optional<std::size_t> findBlockNumber(std::string_view text, std::string_view number)
{
    number = trimmed(number);
    if (!number.empty() && (number[0] == 'N' || number[0] == 'n'))
        number.remove_prefix(1);
    if (number.empty() || number.size() > 9)
        return std::nullopt;
    long wanted = 0;
    for (char c : number) {
        if (!digit(c))
            return std::nullopt;
        wanted = wanted * 10 + (c - '0');
    }
    std::size_t index = 0;
    for (std::size_t at = 0; at < text.size(); ++index) {
        std::size_t end = at;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        std::string_view block = trimmed(text.substr(at, end - at));
        if (!block.empty() && block[0] == '/')
            block = trimmed(block.substr(1));
        if (!block.empty() && (block[0] == 'N' || block[0] == 'n')) {
            std::size_t i = 1;
            long n = 0;
            while (i < block.size() && digit(block[i]) && i < 11)
                n = n * 10 + (block[i++] - '0');
            if (i > 1 && n == wanted)
                return index;
        }
        at = end + lineEndLength(text, end);
    }
    return std::nullopt;
}

struct RestartScan::State {
    RestartPlan plan;
    Modal m;
    Notes notes;
    bool commandsCycle = false;
    // The plan is complete without a clearance: refused, or from the first block.
    bool final = true;
};

RestartScan::RestartScan(std::string_view text, std::size_t line)
{
    auto state = std::make_shared<State>();
    scan(text, line, *state);
    state_ = std::move(state);
}

void RestartScan::scan(std::string_view text, std::size_t line, State& s)
{
    RestartPlan& plan = s.plan;
    Modal& m = s.m;
    Notes& notes = s.notes;
    plan.line = line;
    const std::vector<Line> lines = splitLines(text, line);
    if (line >= lines.size()) {
        plan.refusal = "行 " + std::to_string(line + 1) + " はありません。";
        return;
    }
    auto lineText = [&](std::size_t n) { return text.substr(lines[n].start, lines[n].length); };

    // The opening lines: a leading "%" and the program-number line after it.
    std::size_t body = 0;
    if (body < lines.size() && trimmed(lineText(body)).substr(0, 1) == "%")
        ++body;
    if (body < lines.size() && isHeader(lineText(body)))
        ++body;
    const std::size_t openingEnd = body > 0 ? lines[body - 1].next : 0;
    if (line <= body) {
        // From the first block: the whole program, as without a restart.
        plan.blockStart = line == body ? openingEnd : 0;
        plan.opening = std::string(text.substr(0, plan.blockStart));
        plan.firstBlock = std::string(lineText(line));
        return;
    }
    plan.opening = std::string(text.substr(0, openingEnd));
    plan.blockStart = lines[line].start;
    plan.firstBlock = std::string(lineText(line));

    if (regionEnd(text, lines[line].start) == RegionEnd::Sub) {
        plan.refusal = "サブプログラムの中からは再開できません。メインプログラムの行を選んでください。";
        return;
    }

    std::vector<Word> ws;
    bool ended = false;
    std::optional<std::size_t> blockSkip, header;
    // O-word subroutine bodies are not run where they stand; loops run their
    // blocks again, which a restart cannot follow.
    std::string subroutine;
    std::vector<Control> loops;
    for (std::size_t n = body; n < line; ++n) {
        const std::string_view raw = lineText(n);
        std::string_view block = trimmed(raw);
        if (block.empty() || block[0] == '%')
            continue;
        if (isHeader(block)) {
            // Another program begins: what came before was not this one's.
            m = Modal{};
            notes = Notes{};
            ended = false;
            header = n;
            continue;
        }
        if (ended)
            continue;
        if (const auto c = control(block)) {
            if (!subroutine.empty()) {
                if (c->keyword == "endsub" && c->number == subroutine)
                    subroutine.clear();
            } else if (c->keyword == "sub") {
                subroutine = c->number;
            } else if (c->keyword == "do" || c->keyword == "repeat"
                       || (c->keyword == "while" && (loops.empty() || loops.back().number != c->number))) {
                loops.push_back(*c);
            } else if (c->keyword == "endwhile" || c->keyword == "endrepeat" || c->keyword == "while") {
                if (!loops.empty())
                    loops.pop_back();
            } else if (c->keyword == "call") {
                m.axes = {};
                notes.add(n, "サブルーチンの呼び出し（o" + c->number + " call）: 呼び出し後の位置とモーダル状態はわかりません");
            } else {
                notes.add(n, "マクロ文は解釈していません");
            }
            continue;
        }
        if (!subroutine.empty())
            continue;
        if (block[0] == '/') {
            if (!blockSkip)
                blockSkip = n;
            block.remove_prefix(1);
        }
        if (isMacro(block)) {
            notes.add(n, "マクロ文は解釈していません");
            continue;
        }
        words(block, ws);
        if (mCode(ws, {2, 30}) >= 0)
            ended = true;
        else if (mCode(ws, {99}) >= 0)
            notes.add(n, "メインプログラム中の M99 は解釈していません");
        applyBlock(m, ws, n, notes);
    }
    if (ended) {
        plan.refusal = "プログラムの終了（M02/M30）の後の行です。";
        return;
    }
    if (!subroutine.empty()) {
        plan.refusal = "サブルーチン（o" + subroutine + "）の中からは再開できません。メインプログラムの行を選んでください。";
        return;
    }
    if (!loops.empty()) {
        plan.refusal = "繰り返し（o" + loops.back().number + " " + loops.back().keyword + "）の中からは再開できません。";
        return;
    }
    // A program after the first in the file: its own number line opens it.
    if (header && *header >= body)
        plan.opening = std::string(text.substr(0, body > 0 && trimmed(lineText(0)).substr(0, 1) == "%" ? lines[0].next : 0))
                       + std::string(text.substr(lines[*header].start, lines[*header].next - lines[*header].start));
    // A block that commands a cycle itself starts it afresh, one that cancels
    // it needs it no more; one that only gives the next hole would need the
    // cycle's state, which is not restored.
    bool commandsCycle = false, endsCycle = false, compensates = false;
    for (const Word& w : words(plan.firstBlock)) {
        const int c = w.letter == 'G' ? code(w.number) : -1;
        commandsCycle = commandsCycle || c == g(73) || c == g(74) || c == g(76) || (c >= g(81) && c <= g(89));
        endsCycle = endsCycle || c == g(80) || (c >= g(0) && c <= g(3));
        compensates = compensates || c == g(40) || c == g(41) || c == g(42);
    }
    if (!m.cycle.empty() && !commandsCycle && !endsCycle) {
        plan.refusal = "固定サイクル " + m.cycle + " の途中のブロックです。サイクルを指令した行 "
                       + std::to_string(m.cycleLine + 1) + " から再開してください。";
        return;
    }
    // The preamble cancels cutter compensation: the path from here would be
    // the programmed one, off by the tool's radius.
    if (!m.compensation.empty() && !compensates) {
        plan.refusal = "工具径補正 " + m.compensation + " の途中のブロックです。補正を指令した行 "
                       + std::to_string(m.compensationLine + 1) + " から再開してください。";
        return;
    }
    if (blockSkip)
        notes.add(*blockSkip, "オプショナルブロックスキップ（/）のブロックも実行されたものとしています");
    plan.movesZ = m.movesZ;
    s.commandsCycle = commandsCycle;
    s.final = false;
}

RestartPlan RestartScan::plan(std::string_view clearance) const
{
    if (state_->final)
        return state_->plan;
    RestartPlan plan = state_->plan;
    const Modal& m = state_->m;
    Notes notes = state_->notes;
    const std::size_t line = plan.line;
    const bool commandsCycle = state_->commandsCycle;

    // The preamble: cancellations, the settings of the program, the tool and
    // spindle, then the approach in absolute coordinates (up, across, down),
    // and last the modal state in force at the block.
    std::vector<std::string> out;
    out.push_back(m.cycleUsed ? "G80G40" : "G40");
    const std::string settings = m.plane + m.units + m.coordinates + m.feedMode;
    if (!settings.empty())
        out.push_back(settings);
    const auto z = clearanceWord(clearance);
    plan.clearanceMissing = m.movesZ && !z;
    if (z && m.movesZ && m.highestZ && decimal(std::string_view(*z).substr(1))->micro < m.highestZ->micro) {
        plan.refusal = "退避高さ " + *z + " は、それまでの最も高い Z" + format(*m.highestZ) + " 以上にしてください。";
        return plan;
    }
    // The tool in the spindle, then the one selected for the next change.
    if (!m.toolChange.empty() && !m.loaded.empty()) {
        out.push_back(m.loaded + m.toolChange);
        if (m.tool != m.loaded)
            out.push_back(m.tool);
    } else if (!m.tool.empty()) {
        out.push_back(m.tool);
    }
    const int length = m.lengthOffset.empty() ? -1 : code(std::string_view(m.lengthOffset).substr(1));
    std::string lengthWords = length < 0 ? "" : length == g(49) ? m.lengthOffset : m.lengthOffset + m.h;
    if (m.offsetStale && length >= 0 && length != g(49)) {
        // The offset in force was the previous tool's; the program sets the new one later.
        lengthWords = "G49";
        notes.add(line, "工具交換の後、工具長補正の指令より前のブロックです。工具長補正は取り消しています（G49）");
    }
    out.push_back("G00G90" + lengthWords + (m.movesZ && z ? *z : ""));
    if (!m.speed.empty() || !m.spindle.empty())
        out.push_back(m.speed + m.spindle);
    std::string across;
    for (int k = 0; k < 2; ++k)
        if (m.axes[k].known)
            across += std::string(1, static_cast<char>('X' + k)) + m.axes[k].word;
    if (!across.empty())
        out.push_back(across);
    if ((m.used[0] && !m.axes[0].known) || (m.used[1] && !m.axes[1].known))
        notes.add(line, "開始点の X/Y のうち位置のわからない軸は移動を書いていません");
    if (!m.coolant.empty())
        out.push_back(m.coolant);
    // Down at feed, only above a known start point: never a rapid plunge,
    // never at a place the program did not reach.
    const bool placeKnown = (!m.used[0] || m.axes[0].known) && (!m.used[1] || m.axes[1].known);
    if (m.movesZ) {
        if (!m.axes[2].known)
            notes.add(line, "Z の位置がわからないため、降下の移動は書いていません");
        else if (!placeKnown)
            notes.add(line, "開始点がわからないため、降下の移動は書いていません");
        else if (m.feed.empty())
            notes.add(line, "送り速度がわからないため、降下の移動は書いていません");
        else
            out.push_back("G01Z" + m.axes[2].word + m.feed);
    }
    // Before a block that starts a cycle, its return level is part of the state.
    std::string modal = (m.incremental ? "G91" : "") + (commandsCycle ? m.returnLevel : "") + m.motion + m.feed;
    if (!modal.empty())
        out.push_back(modal);
    plan.notes = notes.lines();
    for (const std::string& l : out)
        plan.preamble += l + "\r\n";
    return plan;
}

RestartPlan planRestart(std::string_view text, std::size_t line, std::string_view clearance)
{
    return RestartScan(text, line).plan(clearance);
}

std::size_t RestartSend::editorOffset(std::size_t sent) const
{
    if (sent < openingChars)
        return sent;
    if (sent < openingChars + preambleChars)
        return blockChar;
    return blockChar + (sent - openingChars - preambleChars);
}

RestartSend restartSend(std::string_view text, const RestartPlan& plan, std::string_view preamble)
{
    RestartSend s;
    s.text = restartText(text, plan, preamble);
    s.openingChars = utf8::length(plan.opening);
    const std::size_t block = std::min(plan.blockStart, text.size());
    s.preambleChars = utf8::length(std::string_view(s.text).substr(0, s.text.size() - (text.size() - block)))
                      - s.openingChars;
    s.blockChar = utf8::length(text.substr(0, block));
    return s;
}

std::string restartText(std::string_view text, const RestartPlan& plan, std::string_view preamble)
{
    std::string out = plan.opening;
    out += preamble;
    if (!preamble.empty() && preamble.back() != '\n' && preamble.back() != '\r')
        out += "\r\n";
    out += text.substr(std::min(plan.blockStart, text.size()));
    return out;
}

} // namespace tarvex
