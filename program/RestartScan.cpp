// The restart scan: each block of the program up to the chosen one, applied
// to the state item by item, group by group.
#include "program/RestartState.h"

#include <utility>
#include <algorithm>
#include <cmath>

namespace tarvex::restart {

using nc::code;
using nc::Decimal;
using nc::g;

void Notes::add(std::size_t line, const std::string& what)
{
    auto [it, fresh] = index_.emplace(what, order_.size());
    if (fresh)
        order_.push_back({what, line, 0, line});
    Note& n = order_[it->second];
    if (fresh || n.last != line)
        ++n.count;
    n.last = line;
}

std::string variableName(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '/'))
        text.remove_prefix(1);
    std::string name;
    for (char c : text)
        if (c != ' ' && c != '\t')
            name += nc::upper(c);
    return name;
}

std::vector<std::string> Notes::lines() const
{
    std::vector<std::string> out;
    for (const auto& n : order_)
        out.push_back("行 " + std::to_string(n.line + 1) + ": " + n.what
                      + (n.count > 1 ? "（ほか " + std::to_string(n.count - 1) + " 行）" : ""));
    return out;
}

namespace {

constexpr Slot axisSlot[3] = {X, Y, Z};
constexpr Slot shiftSlot[3] = {ShiftX, ShiftY, ShiftZ};
constexpr Slot localSlot[3] = {LocalX, LocalY, LocalZ};

const nc::Word* find(const nc::Block& b, char letter)
{
    for (std::size_t i = b.sequence.empty() ? 0 : 1; i < b.words.size(); ++i)
        if (b.words[i].letter == letter)
            return &b.words[i];
    return nullptr;
}

std::string word(const nc::Word& w) { return std::string(1, w.letter) + std::string(w.text); }

// How often a call with this repeat count is followed: a known count that
// many times, an unknown one (-1, beyond 9999) once and merged afterwards.
long knownRuns(long repeats) { return repeats > 0 && repeats <= 9999 ? repeats : repeats == 0 ? 0 : 1; }

// A whole number written in a word ("0100" is 100); -1 beyond nine digits.
long whole(std::string_view text)
{
    if (!text.empty() && text[0] == '+')
        text.remove_prefix(1);
    long v = 0;
    for (std::size_t i = 0; i < text.size() && nc::isDigit(text[i]); ++i) {
        if (i >= 9)
            return -1;
        v = v * 10 + (text[i] - '0');
    }
    return v;
}

// The larger of a number's readings (thousandths, whole units).
std::optional<Decimal> high(std::string_view number)
{
    const auto r = nc::readings(number);
    if (!r)
        return std::nullopt;
    return std::max(r->first, r->second);
}

std::optional<Decimal> plus(std::optional<Decimal> a, std::optional<Decimal> b)
{
    if (!a || !b)
        return std::nullopt;
    return Decimal{a->micro + b->micro};
}

// The drilling axis of a canned cycle in a plane (Z in G17, Y in G18, X in G19).
int drillAxis(const Item& plane)
{
    if (!plane.known)
        return -1;
    const int p = plane.word.empty() ? g(17) : codeOf(plane);
    return p == g(18) ? 1 : p == g(19) ? 0 : 2;
}

} // namespace

struct Scanner::Flags {
    bool noPositions = false, reference = false, machine = false, probe = false, g92 = false, g52 = false;
    bool macroCall = false, cycleCommanded = false, cancelsCompensation = false;
    bool toTop = false; // G28: Z's reference point is the machine's top
    std::string reason; // the code that makes the positions unknown ("G28")
    // A call made by the block, done after its move.
    std::optional<long> callNumber, localNumber; // M98/G65 P, M97 P
    long repeats = 1;
    bool unknownCall = false; // a call whose program is not known
    std::string callWord;
};

void Scanner::set(Slot slot, std::string_view w) { set(slot, '\0', w); }

// A word as its letter and its text, without making a string of it when it
// is the one in force already.
void Scanner::set(Slot slot, char letter, std::string_view text)
{
    Item& it = s_.items[slot];
    const std::size_t n = text.size() + (letter ? 1 : 0);
    if (it.known && it.word.size() == n && (!letter || it.word[0] == letter)
        && std::string_view(it.word).substr(letter ? 1 : 0) == text)
        return;
    it.word.clear();
    if (letter)
        it.word += letter;
    it.word += text;
    it.known = true;
    it.changed = ++s_.clock;
}

void Scanner::forget(Slot slot, std::size_t line, const std::string& why)
{
    Item& it = s_.items[slot];
    it.refuses = !it.known && it.refuses;
    it.word.clear();
    it.known = false;
    it.changed = ++s_.clock;
    it.line = line;
    it.why = why;
    if (slot == Z)
        s_.zHigh.reset();
}

void Scanner::forgetAll(std::size_t line, const std::string& why)
{
    for (int i = 0; i < SlotCount; ++i)
        forget(static_cast<Slot>(i), line, why);
    reached(std::nullopt, line, why);
}

void Scanner::merge(std::uint32_t stamp, std::size_t line, const std::string& why)
{
    for (int i = 0; i < SlotCount; ++i)
        if (s_.items[i].changed > stamp)
            forget(static_cast<Slot>(i), line, why);
    if (s_.incrementalZ > stamp)
        reached(std::nullopt, line, why);
}

void Scanner::reached(std::optional<Decimal> h, std::size_t line, const std::string& why)
{
    if (!h) {
        // Under the machine's top, wherever it is.
        if (!s_.highestUnknown && !s_.top) {
            s_.highestUnknown = line;
            s_.highestWhy = why;
        }
        return;
    }
    if (!s_.highest || *h > *s_.highest)
        s_.highest = h;
}

std::optional<Decimal> Scanner::value(Slot axis) const
{
    const Item& it = s_.items[axis];
    return it.known && !it.word.empty() ? nc::decimal(it.word) : std::nullopt;
}

// The shift of program coordinates against the frame without G92/G52 on an
// axis; none when it is not known.
std::optional<Decimal> Scanner::shiftOf(int axis) const
{
    std::optional<Decimal> total = Decimal{};
    for (Slot s : {shiftSlot[axis], localSlot[axis]}) {
        const Item& it = s_.items[s];
        if (!it.known)
            return std::nullopt;
        if (!it.word.empty())
            total = plus(total, nc::decimal(it.word));
    }
    return total;
}

void Scanner::run(std::size_t from, std::size_t to, int depth)
{
    // Loops, branches and jumps around these lines: a stamp where each
    // begins, and what changed since is unknown where it ends.
    struct Event {
        std::size_t line;
        std::size_t region;
    };
    struct Region {
        std::uint32_t stamp = 0;
        std::size_t line;
        std::string why;
    };
    std::vector<Region> regions;
    std::vector<Event> starts, ends; // a stamp before the start line, the merge after the end line
    auto add = [&](std::size_t first, std::size_t last, std::size_t line, std::string why) {
        if (first > last || first < from || last >= to)
            return; // a region the lines do not hold whole
        regions.push_back({0, line, std::move(why)});
        starts.push_back({first, regions.size() - 1});
        ends.push_back({last, regions.size() - 1});
    };
    for (const ProgramMap::Range& r : map_.ranges())
        if (r.kind == ProgramMap::Kind::Loop)
            add(r.first, r.last, r.first, "繰り返し（" + r.name + "）の後");
        else if (r.kind == ProgramMap::Kind::Branch)
            add(r.first, r.last, r.first, "条件分岐（" + r.name + "）の後");
    std::vector<ProgramMap::Range> locals;
    for (const ProgramMap::Range& r : map_.ranges())
        if (r.kind == ProgramMap::Kind::LocalSubprogram && r.first > from && r.first < to)
            locals.push_back(r);
    for (const ProgramMap::Jump& j : map_.jumps()) {
        if (!j.to)
            continue;
        if (*j.to > j.from)
            add(j.from + 1, *j.to - 1, j.from, "GOTO で飛ばされることのある範囲の後");
        else
            add(*j.to, j.from, j.from, "GOTO で繰り返される範囲の後");
    }
    auto byLine = [](const Event& a, const Event& b) { return a.line < b.line; };
    std::sort(starts.begin(), starts.end(), byLine);
    std::sort(ends.begin(), ends.end(), byLine);
    auto nextStart = starts.begin(), nextEnd = ends.begin();
    while (nextStart != starts.end() && nextStart->line < from)
        ++nextStart;
    while (nextEnd != ends.end() && nextEnd->line < from)
        ++nextEnd;

    nc::Block b;
    for (std::size_t n = from; n < to; ++n) {
        if (exhausted_ || ++steps_ > map_.lineCount() + extraSteps) {
            if (!std::exchange(exhausted_, true))
                forgetAll(n, "サブプログラムの呼び出しで実行される行が多すぎて、状態を確かめられません");
            return;
        }
        // Lines passed over (a subroutine body where it is defined) hold no events.
        for (; nextStart != starts.end() && nextStart->line <= n; ++nextStart)
            if (nextStart->line == n)
                regions[nextStart->region].stamp = s_.clock;
        nc::readBlock(map_.line(n), b);
        bool ends99 = false;
        if (b.skip && s_.skipOn) {
            // Skipped: block skip is on.
        } else {
            if (b.skip && !s_.skipped)
                s_.skipped = n;
            switch (b.kind) {
            case nc::Statement::Assignment:
                // The variables are not restored: what uses them after the block cannot restart.
                if (const auto eq = map_.line(n).find('='); eq != std::string_view::npos)
                    s_.assigned.emplace(variableName(map_.line(n).substr(0, eq)), n);
                s_.notes.add(n, "マクロ文は解釈していません");
                break;
            case nc::Statement::If:
            case nc::Statement::While:
            case nc::Statement::Do:
            case nc::Statement::End:
            case nc::Statement::Goto: s_.notes.add(n, "マクロ文は解釈していません"); break;
            case nc::Statement::OWord:
                if (b.keyword == "sub") {
                    // Defined here, run where it is called.
                    if (const auto* r = map_.subroutine("o" + b.oName))
                        n = std::max(n, std::min(r->last, to - 1));
                } else if (b.keyword == "call") {
                    const auto* r = map_.subroutine("o" + b.oName);
                    if (r && depth < 8)
                        run(r->first + 1, r->last, depth + 1);
                    else
                        forgetAll(n, "呼び出したサブルーチン o" + b.oName + " がこのファイルにありません");
                } else if (b.keyword == "return" && depth > 0) {
                    ends99 = true;
                }
                break;
            case nc::Statement::Block:
                if (depth == 0)
                    for (const nc::Word& w : b.words)
                        if (const int c = w.letter == 'M' && w.number ? code(w.text) : -1;
                            c == g(2) || c == g(30) || c == g(99)) {
                            if (!b.skip)
                                s_.ended = s_.ended.value_or(n);
                            else
                                s_.skippedEnd = s_.skippedEnd.value_or(n);
                        }
                if (s_.ended)
                    return;
                if (!b.keyword.empty() && b.keyword != "CALL")
                    s_.notes.add(n, "マクロ文は解釈していません");
                block(b, n, depth);
                for (const nc::Word& w : b.words)
                    ends99 = ends99 || (depth > 0 && w.letter == 'M' && w.number && code(w.text) == g(99));
                break;
            default: break;
            }
        }
        for (; nextEnd != ends.end() && nextEnd->line <= n; ++nextEnd)
            if (nextEnd->line == n)
                merge(regions[nextEnd->region].stamp, regions[nextEnd->region].line, regions[nextEnd->region].why);
        if (ends99)
            return;
        // A local subprogram is run where it is called, not where it stands.
        if (depth == 0)
            for (const ProgramMap::Range& r : locals)
                if (r.first == n + 1)
                    n = std::min(r.last, to - 1);
    }
}

// The end of a rotation, polar coordinates or scaling: the point the tool
// stands at was reached under it, and the positions the scan holds are the
// program's words, not that point. Unknown until the program gives them again.
void Scanner::endMode(Slot mode, int axes, std::size_t line, const std::string& why)
{
    const Item& m = s_.items[mode];
    if (!m.word.empty() || !m.known)
        for (int k = 0; k < axes; ++k) {
            forget(axisSlot[k], line, why);
            s_.items[axisSlot[k]].refuses = true;
        }
    set(mode, "");
}

void Scanner::block(const nc::Block& b, std::size_t line, int depth)
{
    if (const char letter = nc::repeatedAxis(b); letter && !s_.alarm && !b.keyword.size()) {
        s_.alarm = line;
        s_.alarmLetter = letter;
    }
    Flags f;
    std::vector<const nc::Word*> ms;
    for (std::size_t i = b.sequence.empty() ? 0 : 1; i < b.words.size(); ++i) {
        const nc::Word& w = b.words[i];
        if (w.letter == 'G') {
            if (!w.number)
                forgetAll(line, "G コードが変数で指令されています");
            else
                gCode(code(w.text), w, b, line, f);
        } else if (w.letter == 'M') {
            ms.push_back(&w);
        }
    }
    // The words of one letter. A macro call's words are its arguments.
    for (std::size_t i = b.sequence.empty() ? 0 : 1; i < b.words.size() && !f.macroCall; ++i) {
        const nc::Word& w = b.words[i];
        auto take = [&](Slot slot) {
            if (w.number)
                set(slot, w.letter, w.text);
            else
                forget(slot, line, "変数で指令された値（" + std::string(1, w.letter) + "）");
        };
        switch (w.letter) {
        case 'F': take(Feed); break;
        case 'S': take(Speed); break;
        case 'T': take(Selected); break;
        case 'H': take(H); break;
        case 'A':
        case 'B':
        case 'C':
            if (!f.noPositions && !s_.rotary) {
                s_.rotary = line;
                s_.rotaryWord = word(w);
            }
            break;
        case 'U':
        case 'V':
        case 'W': s_.notes.add(line, std::string("軸 ") + w.letter + " の位置は復元しません"); break;
        default: break;
        }
    }
    if (!f.macroCall)
        mCodes(ms, b, line, depth, f);
    positions(b, line, f);
    if (f.callNumber)
        call(*f.callNumber, f.repeats, line, depth, f.callWord);
    else if (f.localNumber)
        callLocal(*f.localNumber, f.repeats, line, depth, f.callWord);
    else if (f.unknownCall)
        forgetAll(line, f.callWord + " の呼び出し先がわかりません");
}

void Scanner::gCode(int c, const nc::Word& w, const nc::Block& b, std::size_t line, Flags& f)
{
    const std::string gw = word(w);
    auto cancelCycle = [&] {
        if (!s_.items[Cycle].word.empty() || !s_.items[Cycle].known)
            for (Slot s : {Cycle, CycleDepth, CycleR, CycleQ, CycleP})
                set(s, "");
    };
    switch (c) {
    // Motion, and the canned cycles that group 1 cancels.
    case g(0): case g(1): case g(2): case g(3):
        set(Motion, gw);
        cancelCycle();
        break;
    case g(73): case g(74): case g(76): case g(81): case g(82): case g(83): case g(84): case g(85): case g(86):
    case g(87): case g(88): case g(89):
        if (s_.items[Cycle].word.empty() && s_.items[Cycle].known) {
            // The level the tool returns to with G98: where the cycle began.
            if (s_.items[Z].known)
                set(InitialLevel, s_.items[Z].word);
            else
                forget(InitialLevel, s_.items[Z].line, s_.items[Z].why);
        }
        set(Cycle, gw);
        s_.cycleUsed = true;
        s_.cycleLine = line;
        f.cycleCommanded = true;
        break;
    case g(80):
        cancelCycle();
        s_.cycleUsed = true;
        break;
    // Modal settings, one group each.
    case g(17): case g(18): case g(19): set(Plane, gw); break;
    case g(20): case g(21):
        if (const Item& u = s_.items[Units]; !s_.unitsSwitch && !u.word.empty() && u.word != gw
                                             && codeOf(u) != c)
            s_.unitsSwitch = line;
        set(Units, gw);
        break;
    case g(90): case g(91): set(Distance, code(w.text) == g(91) ? "G91" : "G90"); break;
    case g(93): case g(94): case g(95): set(FeedMode, gw); break;
    case g(54): case g(55): case g(56): case g(57): case g(58): case g(59): set(WorkOffset, gw); break;
    case 541: case g(154): {
        // The extra work offsets: the number is the P word of the block.
        const nc::Word* p = find(b, 'P');
        if (p && !p->number)
            forget(WorkOffset, line, "変数で指令された値（P）");
        else
            set(WorkOffset, gw + (p ? word(*p) : ""));
        break;
    }
    case g(43): case g(44):
        set(LengthOffset, gw);
        s_.offsetPending = false;
        break;
    case g(49): set(LengthOffset, gw); break;
    case g(40):
        if (!s_.items[Compensation].word.empty() || !s_.items[Compensation].known)
            s_.compensationEnding = !find(b, 'X') && !find(b, 'Y'); // the cancelling move comes later
        set(Compensation, "");
        f.cancelsCompensation = true;
        break;
    case g(41): case g(42):
        set(Compensation, gw);
        s_.compensationLine = line;
        s_.compensationEnding = false;
        break;
    case g(98): case g(99): set(ReturnLevel, gw); break;
    case g(68): set(Rotation, gw); s_.items[Rotation].line = line; break;
    case g(69): endMode(Rotation, 2, line, gw + " の前の座標回転中の位置"); break;
    case g(16): set(Polar, gw); s_.items[Polar].line = line; break;
    case g(15): endMode(Polar, 2, line, gw + " の前の極座標指令の位置"); break;
    case g(51): case 511: set(Scaling, gw); s_.items[Scaling].line = line; break;
    case g(50): case 501: endMode(Scaling, 3, line, gw + " の前のスケーリング中の位置"); break;
    // Modes that leave the path as programmed.
    case g(5): case 51: case g(8): case g(9): case g(67): break;
    // Exact stop and the cutting modes: said again by the preamble.
    case g(61): case 611: case g(62): case g(63): case g(64): set(PathMode, gw); break;
    // Blocks whose words are no positions, or whose positions are not known after.
    case g(4): f.noPositions = true; break; // X and P are the dwell time
    case g(10):
        f.noPositions = true;
        s_.notes.add(line, gw + " のデータ設定は解釈していません");
        break;
    case g(28): case g(30):
        f.reference = true;
        f.toTop = c == g(28);
        f.reason = gw;
        break;
    case g(53): f.machine = true; f.reason = gw; break;
    case g(31): f.probe = true; f.reason = gw; break;
    case g(92): f.g92 = true; break;
    case 921:
        for (int k = 0; k < 3; ++k) {
            set(shiftSlot[k], "");
            set(localSlot[k], "");
        }
        break;
    case 922: case 923:
        for (int k = 0; k < 3; ++k)
            forget(shiftSlot[k], line, gw + " による座標系のずれ");
        break;
    case g(52): f.g52 = true; break;
    case g(65): {
        f.macroCall = true;
        f.noPositions = true;
        const nc::Word* p = find(b, 'P');
        const nc::Word* l = find(b, 'L');
        f.callWord = gw + (p ? word(*p) : "");
        if (p && p->number)
            f.callNumber = whole(p->text);
        else
            f.unknownCall = true;
        if (l)
            f.repeats = l->number ? whole(l->text) : -1;
        break;
    }
    case g(66): case 661:
        f.noPositions = true;
        f.macroCall = true;
        forgetAll(line, gw + " のモーダル呼び出し");
        break;
    default: s_.notes.add(line, gw + " は解釈していません");
    }
}

void Scanner::mCodes(const std::vector<const nc::Word*>& ms, const nc::Block& b, std::size_t line, int, Flags& f)
{
    // The tool change first: a spindle code in the same block is the new tool's.
    for (const nc::Word* w : ms)
        if (w->number && code(w->text) == g(6)) {
            s_.toolChanged = true;
            s_.toolChangeLine = line;
            s_.toolChangeWord = word(*w);
            if (const Item& t = s_.items[Selected]; t.known)
                set(Loaded, t.word);
            else
                forget(Loaded, t.line, t.why);
            bool setsOffset = false;
            for (const nc::Word& o : b.words)
                setsOffset = setsOffset || (o.letter == 'G' && o.number && nc::isLengthOffset(code(o.text)));
            s_.offsetPending = !setsOffset;
            // The spindle stops for the change and starts again with the
            // program's next M03/M04; the new tool stands where the change
            // left it, not at the last tool's height.
            set(Spindle, "M05");
            forget(Z, line, "工具交換の後の Z の位置");
        }
    for (const nc::Word* w : ms) {
        const int c = w->number ? code(w->text) : -1;
        switch (c) {
        case g(3): case g(4): case g(5):
            set(Spindle, word(*w));
            s_.unknownM.reset();
            break;
        case g(7): set(Mist, word(*w)); break;
        case g(8): set(Flood, word(*w)); break;
        case g(9):
            set(Mist, "");
            set(Flood, "");
            s_.items[Mist].line = line; // coolant was commanded off here
            break;
        case g(19): set(Spindle, "M05"); break; // oriented: stopped, as M05 leaves it
        case g(6): case g(0): case g(1): case g(2): case g(30): case g(99): break;
        case g(98): case g(198): case g(97): {
            const nc::Word* p = find(b, 'P');
            const nc::Word* l = find(b, 'L');
            f.callWord = word(*w) + (p ? word(*p) : "");
            if (c == g(198) || !p || !p->number) {
                f.unknownCall = true; // not in this file, or computed
                break;
            }
            const long number = whole(p->text);
            f.repeats = l ? (l->number ? whole(l->text) : -1) : 1;
            if (c == g(97)) {
                f.localNumber = number;
            } else if (!l && number > 9999 && !map_.program(number)) {
                // "P30012": three times O0012.
                f.repeats = number / 10000;
                f.callNumber = number % 10000;
            } else {
                f.callNumber = number;
            }
            break;
        }
        default:
            s_.unknownM = line;
            s_.unknownMWord = word(*w);
        }
    }
}

void Scanner::call(long number, long repeats, std::size_t line, int depth, const std::string& what)
{
    const ProgramMap::Program* p = map_.program(number);
    if (!p || depth >= 8) {
        forgetAll(line, what + " で呼び出したプログラムがこのファイルにありません");
        return;
    }
    const std::uint32_t stamp = s_.clock;
    // A known count runs the program that many times: the state after it is
    // the last run's (a G90 at its end is in force), increments add up.
    const long runs = knownRuns(repeats);
    for (long k = 0; k < runs; ++k)
        run(p->first + 1, p->last + 1, depth + 1);
    if (runs != repeats)
        merge(stamp, line, what + " の繰り返し呼び出し");
}

void Scanner::callLocal(long number, long repeats, std::size_t line, int depth, const std::string& what)
{
    const ProgramMap::Range* r = map_.localSubprogram(number);
    if (!r || depth >= 8) {
        forgetAll(line, what + " の呼び出し先がこのプログラムにありません");
        return;
    }
    const std::uint32_t stamp = s_.clock;
    const long runs = knownRuns(repeats);
    for (long k = 0; k < runs; ++k)
        run(r->first, r->last + 1, depth + 1);
    if (runs != repeats)
        merge(stamp, line, what + " の繰り返し呼び出し");
}

void Scanner::shift(const nc::Block& b, std::size_t line, bool local)
{
    for (int k = 0; k < 3; ++k) {
        const nc::Word* w = find(b, static_cast<char>('X' + k));
        if (!w)
            continue;
        const std::optional<Decimal> v = w->number ? nc::decimal(w->text) : std::nullopt;
        const std::string why = std::string(local ? "G52" : "G92") + " による座標系のずれ";
        s_.shiftLine = line;
        if (local) {
            if (v)
                set(localSlot[k], nc::format(*v));
            else
                forget(localSlot[k], line, why);
            // The tool stays; its coordinates change with the shift.
            forget(axisSlot[k], line, "G52 の後の位置");
            continue;
        }
        // The program's coordinates now read v where the tool stands.
        const auto base = plus(value(axisSlot[k]), shiftOf(k));
        if (base && v) {
            set(shiftSlot[k], nc::format(Decimal{base->micro - v->micro}));
            set(localSlot[k], "");
        } else {
            forget(shiftSlot[k], line, why + "（G92 を指令した位置がわかりません）");
        }
        if (w->number)
            set(axisSlot[k], std::string(w->text));
        else
            forget(axisSlot[k], line, why);
    }
}

void Scanner::positions(const nc::Block& b, std::size_t line, const Flags& f)
{
    if (f.g92 || f.g52) {
        shift(b, line, f.g52);
        return;
    }
    if (f.noPositions)
        return;
    const nc::Word* axis[3] = {find(b, 'X'), find(b, 'Y'), find(b, 'Z')};
    if ((axis[0] || axis[1]) && s_.compensationEnding && !f.cancelsCompensation)
        s_.compensationEnding = false;
    const Item& distance = s_.items[Distance];
    const bool incremental = distance.word == "G91";
    // Where the move starts, for arcs in G18/G19 (whose top may be higher than their ends).
    std::array<std::optional<std::string>, 3> from;
    if (const int p = codeOf(s_.items[Plane]); p == g(18) || p == g(19))
        for (int k = 0; k < 3; ++k)
            if (s_.items[axisSlot[k]].known && !s_.items[axisSlot[k]].word.empty())
                from[k] = s_.items[axisSlot[k]].word;

    // One axis moved by its word, absolute or incremental.
    auto move = [&](int k, const nc::Word& w) {
        s_.used[k] = true;
        s_.atTop = s_.atTop && k != 2;
        s_.movesZ = s_.movesZ || k == 2;
        if (!w.number) {
            forget(axisSlot[k], line, "変数で指令された値（" + std::string(1, w.letter) + "）");
            if (k == 2)
                reached(std::nullopt, line, "Z が変数で指令されています");
            return;
        }
        if (!distance.known) {
            forget(axisSlot[k], distance.line, distance.why);
            if (k == 2)
                reached(std::nullopt, distance.line, distance.why);
            return;
        }
        if (k == 2 && !nc::hasPoint(w.text) && nc::decimal(w.text) == std::nullopt)
            s_.noPointZ = s_.noPointZ.value_or(line);
        if (!incremental) {
            set(axisSlot[k], w.text);
            if (k == 2) {
                s_.zHigh = plus(high(w.text), shiftOf(2));
                reached(s_.zHigh, line, "G92/G52 のずれがわかりません");
            }
            return;
        }
        if (const auto sum = plus(value(axisSlot[k]), nc::decimal(w.text)))
            set(axisSlot[k], nc::format(*sum));
        else {
            forget(axisSlot[k], line, "G91 の増分指令から位置を求められません（小数点のない数値か、位置が不明）");
            s_.notes.add(line, "G91 の増分指令から位置を求められません（小数点のない数値か、位置が不明）");
        }
        if (k == 2) {
            s_.incrementalZ = ++s_.clock;
            s_.zHigh = plus(s_.zHigh, high(w.text));
            reached(s_.zHigh, line, "G91 の Z の位置がわかりません");
        }
    };

    if (f.reference || f.machine || f.probe) {
        for (int k = 0; k < 3; ++k) {
            if (!axis[k])
                continue;
            if (k == 2 && f.toTop) {
                // Z's reference point is the machine's top: above every
                // height, its intermediate point included.
                s_.top = line;
                s_.atTop = true;
                s_.highestUnknown.reset();
                s_.used[2] = true;
                s_.movesZ = true;
                forget(axisSlot[k], line, f.reason + " の後の位置");
                continue;
            }
            // G28/G30 pass the intermediate point, a height the tool reaches.
            if (f.reference)
                move(k, *axis[k]);
            s_.used[k] = true;
            forget(axisSlot[k], line, f.reason + " の後の位置");
        }
        return;
    }

    const Item& cycle = s_.items[Cycle];
    const nc::Word* rWord = find(b, 'R');
    const bool hole = (!cycle.word.empty() || !cycle.known)
                      && (f.cycleCommanded || axis[0] || axis[1] || axis[2] || rWord);
    if (!hole) {
        for (int k = 0; k < 3; ++k)
            if (axis[k])
                move(k, *axis[k]);
        const int m = codeOf(s_.items[Motion]);
        if ((m == g(2) || m == g(3)) && (axis[0] || axis[1] || axis[2]))
            arcTop(b, line, from);
        // Whether the tool's height was reached at rapid, with no cut since.
        if (axis[2])
            s_.zByRapid = m == g(0);
        else if ((axis[0] || axis[1]) && m != g(0))
            s_.zByRapid = false;
        return;
    }

    // A hole of a canned cycle: the tool goes to it, down and back to the
    // return level; the cycle's words stay in force for the next holes.
    const int drill = drillAxis(s_.items[Plane]);
    for (auto [letter, slot] : {std::pair{'R', CycleR}, {'Q', CycleQ}, {'P', CycleP}})
        if (const nc::Word* w = find(b, letter))
            w->number ? set(slot, word(*w)) : forget(slot, line, "変数で指令された値（" + std::string(1, letter) + "）");
    if (drill >= 0 && axis[drill])
        axis[drill]->number ? set(CycleDepth, word(*axis[drill]))
                            : forget(CycleDepth, line, "変数で指令された値（" + std::string(1, axis[drill]->letter) + "）");
    const bool repeats = find(b, 'K') || find(b, 'L');
    for (int k = 0; k < 3; ++k) {
        if (k == drill || !axis[k])
            continue;
        move(k, *axis[k]);
        if (repeats && incremental)
            forget(axisSlot[k], line, "G91 の穴あけの繰り返し");
    }
    if (drill != 2) {
        if (drill >= 0 && axis[drill])
            s_.used[drill] = true;
        if (drill >= 0)
            forget(axisSlot[drill], line, "固定サイクルの穴あけ軸の位置");
        return;
    }
    s_.used[2] = true;
    s_.movesZ = true;
    // The R level: absolute in G90, from the initial level in G91.
    const Item& r = s_.items[CycleR];
    const Item& initial = s_.items[InitialLevel];
    std::optional<std::string> rLevel;
    std::optional<Decimal> rHigh;
    if (r.known && !r.word.empty() && distance.known) {
        const std::string_view rv = std::string_view(r.word).substr(1);
        if (!incremental) {
            rLevel = std::string(rv);
            rHigh = high(rv);
        } else if (const auto sum = plus(initial.known ? nc::decimal(initial.word) : std::nullopt, nc::decimal(rv))) {
            rLevel = nc::format(*sum);
            rHigh = sum;
        }
    }
    reached(plus(rHigh, shiftOf(2)), line, "固定サイクルの R 点がわかりません");
    const Item& level = s_.items[ReturnLevel];
    // G98 returns to the initial level, or to the R level where that is
    // higher on some controls: the higher of the two is where the tool can be.
    const std::optional<Decimal> initialHigh = initial.known ? high(initial.word) : std::nullopt;
    if (level.known && codeOf(level) == g(99) && rLevel)
        set(Z, *rLevel);
    else if (level.known && codeOf(level) == g(98) && initialHigh && (!r.known || r.word.empty() || (rHigh && *rHigh <= *initialHigh)))
        set(Z, initial.word);
    else if (level.known && codeOf(level) == g(98) && initialHigh && rLevel && rHigh)
        set(Z, *rLevel);
    else
        forget(Z, line, "固定サイクルの戻り位置（G98/G99 と R 点）がわかりません");
    if (s_.items[Z].known)
        s_.zHigh = plus(high(s_.items[Z].word), shiftOf(2));
    s_.zByRapid = true; // the retract to the return level is a rapid
}

// The top of an arc in the G18 or G19 plane, which can lie above both of
// its ends: the centre's height plus the radius when the arc passes it.
void Scanner::arcTop(const nc::Block& b, std::size_t line, const std::array<std::optional<std::string>, 3>& from)
{
    const Item& plane = s_.items[Plane];
    const int p = plane.known && !plane.word.empty() ? codeOf(plane) : g(17);
    if (p != g(18) && p != g(19))
        return;
    // The plane's axes (u, v), G02 clockwise in them: Z-X in G18, Y-Z in G19.
    const int u = p == g(18) ? 2 : 1, v = p == g(18) ? 0 : 2;
    const char offsetU = p == g(18) ? 'K' : 'J', offsetV = p == g(18) ? 'I' : 'K';
    std::array<std::optional<std::string>, 3> to;
    for (int k = 0; k < 3; ++k)
        if (s_.items[axisSlot[k]].known && !s_.items[axisSlot[k]].word.empty())
            to[k] = s_.items[axisSlot[k]].word;
    const nc::Word* r = find(b, 'R');
    const nc::Word* ou = find(b, offsetU);
    const nc::Word* ov = find(b, offsetV);
    // Both readings of numbers without a decimal point; the higher top counts.
    std::optional<double> top;
    for (int reading = 0; reading < 2; ++reading) {
        auto read = [&](std::string_view text) -> std::optional<double> {
            const auto rd = nc::readings(text);
            if (!rd)
                return std::nullopt;
            return (reading ? rd->second : rd->first).micro / 1e6;
        };
        auto num = [&](const nc::Word* w) -> std::optional<double> {
            return !w ? std::optional(0.0) : w->number ? read(w->text) : std::nullopt;
        };
        const auto pu0 = from[u] ? read(*from[u]) : std::nullopt, pv0 = from[v] ? read(*from[v]) : std::nullopt;
        const auto pu1 = to[u] ? read(*to[u]) : std::nullopt, pv1 = to[v] ? read(*to[v]) : std::nullopt;
        if (!pu0 || !pv0 || !pu1 || !pv1) {
            reached(std::nullopt, line, "円弧の始点か終点がわかりません");
            return;
        }
        const double u0 = *pu0, v0 = *pv0, u1 = *pu1, v1 = *pv1;
        const bool cw = codeOf(s_.items[Motion]) == g(2);
        double cu, cv;
        if (r) {
            const auto rad = num(r);
            if (!rad) {
                reached(std::nullopt, line, "円弧の半径がわかりません");
                return;
            }
            const double du = u1 - u0, dv = v1 - v0, chord = std::hypot(du, dv);
            if (chord == 0)
                return;
            const double d = std::sqrt(std::max(0.0, *rad * *rad - chord * chord / 4));
            // Counter-clockwise arcs of at most half a turn have their centre left of the chord.
            const double side = (cw ? -1.0 : 1.0) * (*rad > 0 ? 1.0 : -1.0);
            cu = (u0 + u1) / 2 - side * d * dv / chord;
            cv = (v0 + v1) / 2 + side * d * du / chord;
        } else {
            const auto iu = num(ou), iv = num(ov);
            if (!iu || !iv) {
                reached(std::nullopt, line, "円弧の中心がわかりません");
                return;
            }
            cu = u0 + *iu;
            cv = v0 + *iv;
        }
        const double radius = std::hypot(u0 - cu, v0 - cv);
        const double a0 = std::atan2(v0 - cv, u0 - cu), a1 = std::atan2(v1 - cv, u1 - cu);
        const double want = u == 2 ? 0.0 : M_PI / 2; // the direction of +Z
        auto ccwFrom = [](double a, double b) { // the turn from a to b, counter-clockwise, in [0, 2π)
            double d = std::fmod(b - a, 2 * M_PI);
            return d < 0 ? d + 2 * M_PI : d;
        };
        const double sweep = cw ? ccwFrom(a1, a0) : ccwFrom(a0, a1);
        const double toWant = cw ? ccwFrom(want, a0) : ccwFrom(a0, want);
        const bool full = sweep == 0;
        if (full || toWant <= sweep) {
            const double t = (u == 2 ? cu : cv) + radius;
            top = std::max(top.value_or(t), t);
        }
    }
    if (top)
        reached(plus(Decimal{static_cast<std::int64_t>(std::ceil(*top * 1e6))}, shiftOf(2)), line,
                "G92/G52 のずれがわかりません");
}

} // namespace tarvex::restart
