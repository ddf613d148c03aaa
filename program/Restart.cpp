// Restart from a block: where the block stands in the program, the scan up
// to it, what the first block and the program after it need, and the
// preamble for a clearance height.
#include "program/Restart.h"
#include "platform/Blanks.h"
#include "platform/TextLines.h"
#include "platform/Utf8.h"
#include "program/RestartState.h"

namespace tarvex {

using namespace restart;
using nc::code;
using nc::Decimal;
using nc::g;

namespace {

// A block that gives one axis twice, an alarm on most controls.
std::string axisTwice(char letter)
{
    return "は軸のアドレス " + std::string(1, letter) + " を2回指令しています（多くの制御装置でアラームになります）。";
}

std::string lineNo(std::size_t line) { return "行 " + std::to_string(line + 1); }

// "送り速度がわかりません（行 12: 繰り返し（DO1）の後）。"
std::string unknown(const std::string& what, const Item& it)
{
    return what + "がわかりません（" + lineNo(it.line) + ": " + it.why + "）。再開できません。";
}

// Where the block stands in the program, and what may run around it: the
// reason when no restart can be there.
std::string placeRefusal(const ProgramMap& map, const ProgramMap::Program& program, std::size_t line)
{
    if (program.called)
        return "サブプログラムの中からは再開できません。メインプログラムの行を選んでください。";
    for (const ProgramMap::Range& r : map.ranges()) {
        if (line < r.first || line > r.last)
            continue;
        switch (r.kind) {
        case ProgramMap::Kind::Subroutine:
            return "サブルーチン（" + r.name + "）の中からは再開できません。メインプログラムの行を選んでください。";
        case ProgramMap::Kind::LocalSubprogram:
            return "サブプログラム（" + r.name + "）の中からは再開できません。メインプログラムの行を選んでください。";
        case ProgramMap::Kind::Loop:
            return "繰り返し（" + r.name + "）の中からは再開できません。" + lineNo(r.first)
                   + " の繰り返しの前から再開してください。";
        case ProgramMap::Kind::Branch:
            return "条件分岐（" + r.name + "）の中からは再開できません。" + lineNo(r.first) + " の前から再開してください。";
        }
    }
    for (const ProgramMap::Jump& j : map.jumps()) {
        if (j.from < program.first || j.from > program.last)
            continue;
        if (!j.to && j.from < line)
            return lineNo(j.from) + " の GOTO の飛び先がわかりません。その後からは再開できません。";
        if (!j.to)
            continue;
        if (*j.to <= j.from && *j.to <= line && line <= j.from)
            return lineNo(j.from) + " の GOTO で繰り返される範囲の中からは再開できません。";
        if (*j.to > j.from && j.from < line && line < *j.to && !j.conditional)
            return lineNo(j.from) + " の GOTO で飛ばされるブロックです。";
    }
    return {};
}

// The block's words, as sent, with the canned cycle's words in force that
// it does not give: the code at its start (after "/" and the sequence
// number), the rest before its comment.
std::string withWords(std::string_view block, const std::string& code, const std::string& words)
{
    std::size_t head = 0;
    while (head < block.size() && (block[head] == ' ' || block[head] == '\t' || block[head] == '/'))
        ++head;
    if (head < block.size() && (block[head] == 'N' || block[head] == 'n')) {
        ++head;
        while (head < block.size() && nc::isDigit(block[head]))
            ++head;
    }
    std::size_t tail = block.find_first_of("(;");
    if (tail == std::string_view::npos)
        tail = block.size();
    while (tail > head && (block[tail - 1] == ' ' || block[tail - 1] == '\t'))
        --tail;
    return std::string(block.substr(0, head)) + code + std::string(block.substr(head, tail - head)) + words
           + std::string(block.substr(tail));
}

// What the restart needs of the first block and the rest of the program.
class Finish {
public:
    Finish(const ProgramMap& map, RestartScan::State& s, std::size_t line) : map_(map), s_(s), line_(line) {}

    // The reason for no restart; empty when the preamble can be composed.
    std::string operator()()
    {
        const nc::Block b = nc::readBlock(map_.line(line_));
        if (const char letter = nc::repeatedAxis(b); letter && b.keyword.empty())
            return "このブロック" + axisTwice(letter) + "再開できません。";
        for (std::size_t i = b.sequence.empty() ? 0 : 1; i < b.words.size(); ++i) {
            const nc::Word& w = b.words[i];
            const int c = w.letter == 'G' && w.number ? code(w.text) : -1;
            commandsCycle_ = commandsCycle_ || nc::isCannedCycle(c);
            endsCycle_ = endsCycle_ || c == g(80) || (c >= g(0) && c <= g(3));
            motion_ = c >= g(0) && c <= g(3) ? c : motion_;
            moves_ = moves_ || w.letter == 'X' || w.letter == 'Y' || w.letter == 'Z';
            startsSpindle_ = startsSpindle_ || (w.letter == 'M' && w.number && (code(w.text) == g(3) || code(w.text) == g(4)));
            givesSpeed_ = givesSpeed_ || w.letter == 'S';
            hole_ = hole_ || moves_ || w.letter == 'R';
            feed_ = feed_ || w.letter == 'F';
        }
        const Item* items = s_.items.data();
        if (s_.unitsSwitch)
            return lineNo(*s_.unitsSwitch) + " でインチ/ミリ（G20/G21）が切り替わっています。切り替えの後からは再開できません。";
        for (auto [slot, what] : {std::pair{Rotation, "座標回転"}, {Polar, "極座標指令"}, {Scaling, "スケーリング"}}) {
            if (!items[slot].known)
                return unknown(what, items[slot]);
            if (!items[slot].word.empty())
                return lineNo(items[slot].line) + " の " + items[slot].word + "（" + what
                       + "）が有効なブロックです。再開前文では戻せないため、再開できません。";
        }
        for (Slot axis : {X, Y, Z})
            if (!items[axis].known && items[axis].refuses)
                return unknown(std::string("開始点の ") + static_cast<char>('X' + (axis - X)) + " ", items[axis]);
        if (items[FeedMode].known && codeOf(items[FeedMode]) == g(93))
            return "逆時間送り（G93）が有効なブロックです。再開前文では戻せないため、再開できません。";
        if (s_.rotary)
            return lineNo(*s_.rotary) + " の回転軸 " + s_.rotaryWord + " の位置は再開前文で戻せないため、再開できません。";
        if (items[Plane].known && codeOf(items[Plane]) == g(18) && !s_.used[1] && s_.used[0] && s_.used[2])
            return "旋盤のプログラム（G18 で X と Z）です。仕上げた径を削らない近づき方がまだないため、再開できません。";
        if (const Item& c = items[Compensation]; !c.known || !c.word.empty() || s_.compensationEnding)
            return !c.known            ? unknown("工具径補正", c)
                   : c.word.empty() ? "工具径補正を G40 で取り消す移動がまだのブロックです。補正を指令した行 "
                                          + std::to_string(s_.compensationLine + 1) + " から再開してください。"
                                    : "工具径補正 " + c.word + " の途中のブロックです。補正を指令した行 "
                                          + std::to_string(s_.compensationLine + 1) + " から再開してください。";
        if (std::string why = cycle(b); !why.empty())
            return why;
        if (std::string why = lengthOffset(); !why.empty())
            return why;
        if (std::string why = variables(); !why.empty())
            return why;
        return compose();
    }

private:
    // A cycle restated or continued by the block gets the cycle's words in
    // force that it lacks: the preamble cancels the cycle, and a control
    // refuses a cycle without them.
    std::string cycle(const nc::Block& b)
    {
        const Item& cyc = s_.items[Cycle];
        if (!cyc.known && !endsCycle_)
            return unknown("固定サイクル", cyc);
        const bool inForce = !cyc.word.empty() && !endsCycle_;
        if (!inForce && !commandsCycle_)
            return {};
        if (inForce && !commandsCycle_ && !hole_)
            return "固定サイクル " + cyc.word + " の途中の、穴の位置のないブロックです。次の穴のブロックか、サイクルを指令した行 "
                   + std::to_string(s_.cycleLine + 1) + " から再開してください。";
        if (inForce && !commandsCycle_ && s_.items[Distance].word == "G91")
            return "G91 の固定サイクル " + cyc.word + " の途中のブロックです。サイクルを指令した行 "
                   + std::to_string(s_.cycleLine + 1) + " から再開してください。";
        // The approach comes down along Z, which in G18 and G19 is a position
        // of the hole, while the cycle's own axis (Y, X) keeps the height the
        // machine stopped at: a hole would be drilled at the clearance, the
        // rapids of the plane run at an unknown level.
        if (const Item& p = s_.items[Plane]; !p.word.empty() && codeOf(p) != g(17))
            return "G18/G19 平面の固定サイクルのブロックです。接近は Z 方向のため、ここからは再開できません。";
        std::string code = inForce && !commandsCycle_ ? cyc.word : "", words;
        for (auto [slot, letter] : {std::pair{CycleDepth, 'Z'}, {CycleR, 'R'}, {CycleQ, 'Q'}, {CycleP, 'P'}}) {
            bool given = false;
            for (const nc::Word& w : b.words)
                given = given || w.letter == letter;
            const Item& it = s_.items[slot];
            if (given)
                continue;
            if (!it.known)
                return unknown("固定サイクルの " + std::string(1, letter), it);
            words += it.word;
        }
        if (code.empty() && words.empty())
            return {};
        s_.plan.firstBlock = withWords(map_.line(line_), code, words);
        s_.notes.add(line_, "固定サイクルの " + code + words + "（行 " + std::to_string(s_.cycleLine + 1)
                                + " からの指令）を最初のブロックに加えました");
        return {};
    }

    // After a tool change the length offset in force is the last tool's:
    // the new one is the first G43/G44 the program gives for it, at or after
    // the block, before anything moves Z or changes the tool again.
    std::string lengthOffset()
    {
        if (!s_.toolChanged || !s_.offsetPending || !map_.usesLengthOffset())
            return {};
        std::optional<std::string> h;
        if (const Item& it = s_.items[H]; it.known)
            h = it.word;
        const std::optional<NextOffset> next = nextLengthOffset(h);
        if (!next)
            return "工具交換（" + lineNo(s_.toolChangeLine) + "）の後、工具長補正（G43/G44）の前に Z が動くか、"
                   "補正がないブロックです。工具長補正なしに Z を動かせないため、再開できません。";
        if (!next->h || next->h->empty())
            return lineNo(next->line) + " の " + next->offset
                   + " の H がわかりません。工具交換の後の工具長補正を決められないため、再開できません。";
        s_.retract = "G00G90" + next->offset + *next->h;
        s_.notes.add(next->line, "工具交換の後のブロックです。工具長補正はこの行の " + next->offset + *next->h + " を使っています");
        return {};
    }

    // The first G43/G44 at or after the block, before anything moves Z,
    // cancels the offset, changes the tool, calls or ends the program: its
    // line, its word and the H in force there (h: the one before the block).
    struct NextOffset {
        std::size_t line;
        std::string offset;
        std::optional<std::string> h;
    };
    std::optional<NextOffset> nextLengthOffset(std::optional<std::string> h) const
    {
        const ProgramMap::Program& p = map_.programOf(line_);
        nc::Block b;
        for (std::size_t n = line_; n <= p.last; ++n) {
            nc::readBlock(map_.line(n), b);
            if (b.kind != nc::Statement::Block && b.kind != nc::Statement::Empty && b.kind != nc::Statement::Percent)
                return std::nullopt;
            std::string offset;
            bool z = false, stop = false, data = false;
            for (const nc::Word& w : b.words) {
                const int c = w.number && (w.letter == 'G' || w.letter == 'M') ? code(w.text) : -1;
                if (w.letter == 'G' && nc::isLengthOffset(c))
                    offset = "G" + std::string(w.text);
                if (w.letter == 'H')
                    h = w.number ? std::optional(std::string("H") + std::string(w.text)) : std::nullopt;
                z = z || w.letter == 'Z';
                // The Z of a data setting (G10 L2 … Z…) or a macro call's argument moves nothing.
                data = data || (w.letter == 'G' && (c == g(10) || c == g(65)));
                stop = stop || (w.letter == 'G' && c == g(49))
                       || (w.letter == 'M' && (c == g(6) || c == g(30) || c == g(2) || c == g(99) || nc::callsProgram('M', c)));
            }
            if (!offset.empty())
                return NextOffset{n, offset, h};
            if (stop || (z && !data))
                return std::nullopt;
        }
        return std::nullopt;
    }

    // Variables assigned before the block are not restored.
    std::string variables()
    {
        if (s_.assigned.empty())
            return {};
        const ProgramMap::Program& p = map_.programOf(line_);
        nc::Token t;
        for (std::size_t n = line_; n <= p.last; ++n) {
            const std::string_view l = map_.line(n);
            for (nc::Lexer lexer(l); lexer.next(t);) {
                if (t.kind != nc::Piece::Variable && !(t.kind == nc::Piece::Word && t.value < t.end && l[t.value] == '#'))
                    continue;
                const std::size_t at = t.kind == nc::Piece::Variable ? t.begin : t.value;
                std::size_t end = at + 1;
                while (end < l.size() && (nc::isDigit(l[end]) || l[end] == '<' || l[end] == '>' || nc::isLetter(l[end])))
                    ++end;
                const auto it = s_.assigned.find(variableName(l.substr(at, end - at)));
                if (it != s_.assigned.end())
                    return lineNo(n) + " で使う変数 " + it->first + " は、再開するブロックより前の " + lineNo(it->second)
                           + " で代入されています。変数は戻せないため、再開できません。";
            }
        }
        return {};
    }

    std::string need(Slot slot, const std::string& what)
    {
        return s_.items[slot].known ? std::string() : unknown(what, s_.items[slot]);
    }

    // The preamble without the retract's height: cancellations, settings,
    // the tool, then (after the retract) spindle, across, coolant, down and
    // the modal state at the block.
    std::string compose()
    {
        const Item* items = s_.items.data();
        for (auto [slot, what] : {std::pair{Plane, "平面（G17/G18/G19）"}, {Units, "インチ/ミリ（G20/G21）"},
                                  {WorkOffset, "ワーク座標系"}, {FeedMode, "送りの指定（G94/G95）"},
                                  {Distance, "アブソリュート/インクリメンタル（G90/G91）"},
                                  {motion_ < 0 ? Motion : Plane, "移動の G コード"}, {ReturnLevel, "固定サイクルの戻り位置（G98/G99）"}, {Spindle, "主軸の回転"},
                                  {Mist, "クーラント"}, {Flood, "クーラント"}, {PathMode, "切削モード（G61/G64）"}})
            if (std::string why = need(slot, what); !why.empty())
                return why;
        for (int k = 0; k < 3; ++k)
            for (Slot slot : {static_cast<Slot>(ShiftX + k), static_cast<Slot>(LocalX + k)})
                if (std::string why = need(slot, "座標系のずれ（G92/G52）"); !why.empty())
                    return why;
        if (s_.unknownM)
            return lineNo(*s_.unknownM) + " の " + s_.unknownMWord
                   + " は解釈できない M コードです（主軸やクーラントを変えるかもしれません）。最後の M03/M04/M05 の後にあるため、再開できません。";
        if (s_.movesZ && s_.highestUnknown)
            return "それまでの最も高い Z がわかりません（" + lineNo(*s_.highestUnknown) + ": " + s_.highestWhy
                   + "）。退避高さを確かめられないため、再開できません。";

        if (s_.top && s_.movesZ && s_.atTop) {
            // The block starts at the top: the preamble stays there.
            // An offset in force there is cancelled (the top is the top
            // whatever the offset), when the program takes its next one
            // before Z moves; no offset can be taken on without a Z move.
            s_.topOffset = items[LengthOffset].word;
            if (const int c = codeOf(items[LengthOffset]); nc::isLengthOffset(c) || !items[LengthOffset].known) {
                if (!nextLengthOffset(std::nullopt))
                    return "機械の上端（" + lineNo(*s_.top) + " の G28）で工具長補正が有効なブロックです。"
                           "次の工具長補正の前に Z が動くため、再開できません。";
                s_.topOffset = "G49";
            }
            s_.notes.add(*s_.top, "Z を G28 で機械の上端に戻して始めます（このブロックでは Z は上端にあります）");
        } else if (s_.top && s_.movesZ) {
            s_.notes.add(*s_.top, "Z を G28 で機械の上端に戻してから開始点の上へ移動し、退避高さまで下ろします");
        }
        std::vector<std::string>& out = s_.before;
        out.push_back(s_.cycleUsed ? "G80G40" : "G40");
        const std::string settings = items[Plane].word + items[Units].word + items[WorkOffset].word + items[FeedMode].word
                                     + items[PathMode].word;
        if (!settings.empty())
            out.push_back(settings);
        // Shifts by G92 or G52, said again as one local shift.
        std::string shift;
        for (int k = 0; k < 3; ++k) {
            Decimal total{};
            for (Slot slot : {static_cast<Slot>(ShiftX + k), static_cast<Slot>(LocalX + k)})
                if (!items[slot].word.empty())
                    total.micro += nc::decimal(items[slot].word)->micro;
            if (total.micro != 0)
                shift += std::string(1, static_cast<char>('X' + k)) + nc::format(total);
        }
        if (!shift.empty()) {
            out.push_back("G52" + shift);
            s_.notes.add(s_.shiftLine.value_or(line_), "G92/G52 による座標系のずれを G52" + shift + " で設定し直しています");
        }
        // The tool in the spindle, then the one selected for the next change.
        if (s_.toolChanged) {
            if (std::string why = need(Loaded, "主軸の工具（T）"); !why.empty())
                return why;
            if (items[Loaded].word.empty())
                return "工具交換（" + lineNo(s_.toolChangeLine) + "）の工具番号（T）がわかりません。再開できません。";
            out.push_back(items[Loaded].word + s_.toolChangeWord);
            if (!items[Selected].known)
                return unknown("次の工具（T）", items[Selected]);
            if (items[Selected].word != items[Loaded].word && !items[Selected].word.empty())
                out.push_back(items[Selected].word);
        } else if (!items[Selected].word.empty() || !items[Selected].known) {
            if (std::string why = need(Selected, "工具（T）"); !why.empty())
                return why;
            out.push_back(items[Selected].word);
        }
        if (s_.retract.empty()) {
            const int length = codeOf(items[LengthOffset]);
            if (nc::isLengthOffset(length) || !items[LengthOffset].known) {
                if (std::string why = need(LengthOffset, "工具長補正"); !why.empty())
                    return why;
                if (std::string why = need(H, "工具長補正の番号（H）"); !why.empty())
                    return why;
                s_.retract = "G00G90" + items[LengthOffset].word + items[H].word;
            } else {
                s_.retract = "G00G90" + items[LengthOffset].word;
            }
        }

        std::vector<std::string>& after = s_.after;
        const Item& spindle = items[Spindle];
        if (const int c = codeOf(spindle); c == g(3) || c == g(4)) {
            if (std::string why = need(Speed, "主軸の回転数（S）"); !why.empty())
                return why;
            after.push_back(items[Speed].word + spindle.word);
        } else {
            // The speed in force goes with it also while the spindle is off:
            // an M03 without S later turns at the last S the control had.
            const std::string speed = items[Speed].known ? items[Speed].word : "";
            if (!speed.empty() || !spindle.word.empty())
                after.push_back(speed + spindle.word);
            if (!items[Speed].known && startsSpindle_ && !givesSpeed_)
                return need(Speed, "主軸の回転数（S）");
        }
        std::string across;
        bool placeKnown = true;
        for (int k = 0; k < 2; ++k) {
            if (items[X + k].known && !items[X + k].word.empty())
                across += std::string(1, static_cast<char>('X' + k)) + items[X + k].word;
            else if (s_.used[k])
                placeKnown = false;
        }
        // Without a height to go to, the offset is only taken on (a G00
        // without an axis moves nothing anyway) and the move across says G00.
        if (!s_.movesZ)
            s_.retract.erase(0, 3);
        // The move across comes before the retract's G00 after a return to the top.
        if ((!s_.movesZ || s_.top) && !across.empty())
            across.insert(0, "G00");
        if (!across.empty())
            after.push_back(across);
        s_.acrossEnd = after.size();
        if (!placeKnown)
            s_.notes.add(line_, "開始点の X/Y のうち位置のわからない軸は移動を書いていません");
        for (Slot c : {Mist, Flood})
            if (!items[c].word.empty())
                after.push_back(items[c].word);
        if (items[Mist].word.empty() && items[Flood].word.empty() && (items[Mist].changed || items[Flood].changed))
            after.push_back("M09");

        // The feed in force: the block or the descent needs it.
        const int motion = motion_ >= 0 ? motion_ : codeOf(items[Motion]);
        const bool blockFeeds = !feed_ && ((moves_ && motion >= g(1) && motion <= g(3)) || commandsCycle_
                                           || (!items[Cycle].word.empty() && !endsCycle_));
        const Item& feed = items[Feed];
        const bool descends = s_.movesZ && items[Z].known && !items[Z].word.empty() && placeKnown;
        if (!feed.known && (blockFeeds || (descends && !s_.zByRapid)))
            return unknown("送り速度（F）", feed);
        // Down only above a known start point, never at a place the program
        // did not reach: at rapid to a height the program reached at rapid
        // and has not cut at since, else at feed; never a rapid plunge.
        if (s_.movesZ && s_.top && s_.atTop) {
            // The block starts at the top, where the preamble left the tool.
        } else if (s_.movesZ) {
            if (!items[Z].known || items[Z].word.empty())
                s_.notes.add(line_, "Z の位置がわからないため、降下の移動は書いていません");
            else if (!placeKnown)
                s_.notes.add(line_, "開始点がわからないため、降下の移動は書いていません");
            else if (s_.zByRapid)
                after.push_back("G00Z" + items[Z].word);
            else if (feed.word.empty())
                s_.notes.add(line_, "送り速度がわからないため、降下の移動は書いていません");
            else
                after.push_back("G01Z" + items[Z].word + feed.word);
        }
        // The motion mode, unless the block gives its own. An arc mode goes
        // into a block that moves, since a G02/G03 without an end point is
        // refused by some controls.
        std::string motionWord = motion_ >= 0 ? "" : items[Motion].word;
        if (const int c = codeOf(items[Motion]); (c == g(2) || c == g(3)) && motion_ < 0 && moves_
                                                  && (items[Cycle].word.empty() || endsCycle_)) {
            s_.plan.firstBlock = withWords(s_.plan.firstBlock, motionWord, "");
            s_.notes.add(line_, "円弧の " + motionWord + " を最初のブロックに加えました");
            motionWord.clear();
        }
        const std::string modal = (items[Distance].word == "G91" ? "G91" : "") + items[ReturnLevel].word
                                  + motionWord + feed.word;
        if (!modal.empty())
            after.push_back(modal);
        if (s_.noPointZ)
            s_.notes.add(*s_.noPointZ, "小数点のない Z は 2 とおり（1/1000 と整数）に読み、高い方を最も高い Z としています");
        return {};
    }

    const ProgramMap& map_;
    RestartScan::State& s_;
    std::size_t line_;
    bool commandsCycle_ = false, endsCycle_ = false, moves_ = false, feed_ = false, hole_ = false,
         startsSpindle_ = false, givesSpeed_ = false;
    int motion_ = -1;
};

} // namespace

RestartScan::RestartScan(std::string_view text, std::size_t line) : RestartScan(ProgramMap(text), line) {}

RestartScan::RestartScan(const ProgramMap& map, std::size_t line)
{
    auto state = std::make_shared<State>();
    State& s = *state;
    state_ = state;
    RestartPlan& plan = s.plan;
    plan.line = line;
    if (line >= map.lineCount()) {
        plan.refusal = lineNo(line) + " はありません。";
        return;
    }
    const std::string_view text = map.text();
    const ProgramMap::Program& program = map.programOf(line);
    // The opening lines: a leading "%" and the program's number line.
    const bool percent = nc::readBlock(map.line(0)).kind == nc::Statement::Percent;
    std::size_t body = program.header ? *program.header + 1 : program.first + (program.first == 0 && percent ? 1 : 0);
    if (program.first == 0) {
        plan.opening = std::string(text.substr(0, body < map.lineCount() ? map.lineStart(body) : text.size()));
    } else {
        if (percent)
            plan.opening = std::string(text.substr(0, map.nextLine(0)));
        plan.opening += std::string(text.substr(map.lineStart(*program.header), map.nextLine(*program.header) - map.lineStart(*program.header)));
    }
    // From the first block: the whole program, as without a restart.
    const std::size_t block = std::max(line, body);
    plan.blockStart = block < map.lineCount() ? map.lineStart(block) : text.size();
    plan.firstBlock = block < map.lineCount() ? std::string(map.line(block)) : std::string();
    plan.blockEnd = plan.blockStart + plan.firstBlock.size();
    // A called program from its start is no program of its own: no tool,
    // no offset, no spindle, and its M99 repeats it for ever.
    if (line <= body && !program.called)
        return;

    if (std::string why = placeRefusal(map, program, line); !why.empty()) {
        plan.refusal = why;
        return;
    }
    restart::Scanner(map, s).run(body, line, 0);
    if (s.skippedEnd && !s.ended) {
        // A block after "/M30" is reached only with block skip on: then every "/" block is passed over.
        const std::size_t skippedEnd = *s.skippedEnd;
        RestartPlan kept = plan;
        s = State{};
        s.plan = std::move(kept);
        s.skipOn = true;
        restart::Scanner(map, s).run(body, line, 0);
        s.notes.add(skippedEnd, "/ の付いた終了の後のブロックです。ブロックスキップをオンにして送ってください"
                                "（それまでの / のブロックは飛ばしたものとしています）");
    } else if (s.skipped) {
        s.notes.add(*s.skipped, "オプショナルブロックスキップ（/）のブロックも実行されたものとしています");
    }
    if (s.ended) {
        plan.refusal = lineNo(*s.ended) + " でプログラムが終わっています（M02/M30/M99）。その後からは再開できません。";
        return;
    }
    if (s.alarm) {
        plan.refusal = lineNo(*s.alarm) + " " + axisTwice(s.alarmLetter) + "その後からは再開できません。";
        return;
    }
    plan.movesZ = s.movesZ;
    if (std::string why = Finish(map, s, line)(); !why.empty()) {
        plan.refusal = why;
        return;
    }
    s.final = false;
}

RestartPlan RestartScan::plan(std::string_view clearance) const
{
    const State& s = *state_;
    if (s.final)
        return s.plan;
    RestartPlan plan = s.plan;
    const auto z = clearanceWord(clearance);
    plan.clearanceMissing = s.movesZ && !z;
    if (z && s.movesZ && s.highest) {
        // Heights are kept without the G92/G52 shifts; the clearance is in program coordinates.
        Decimal shift{};
        for (restart::Slot slot : {restart::ShiftZ, restart::LocalZ})
            if (!s.items[slot].word.empty())
                shift.micro += nc::decimal(s.items[slot].word)->micro;
        if (nc::decimal(std::string_view(*z).substr(1))->micro + shift.micro < s.highest->micro) {
            plan.refusal = "退避高さ " + *z + " は、それまでの最も高い Z" + nc::format(Decimal{s.highest->micro - shift.micro})
                           + " 以上にしてください。";
            return plan;
        }
    }
    plan.notes = s.notes.lines();
    for (const std::string& l : s.before)
        plan.preamble += l + "\r\n";
    const std::string retract = s.retract + (s.movesZ && z ? *z : "") + "\r\n";
    // After a return to the machine's top the tool goes up there as the
    // program did, across, and down to the clearance with its offset.
    const bool top = s.top && s.movesZ;
    if (top)
        plan.preamble += "G91G28Z0\r\nG90" + (s.atTop ? s.topOffset : "") + "\r\n";
    else
        plan.preamble += retract;
    // At the top the block starts there: no descent.
    for (std::size_t k = 0; k < s.after.size(); ++k) {
        if (top && !s.atTop && k == s.acrossEnd)
            plan.preamble += retract;
        plan.preamble += s.after[k] + "\r\n";
    }
    if (top && !s.atTop && s.acrossEnd >= s.after.size())
        plan.preamble += retract;
    return plan;
}

RestartPlan planRestart(std::string_view text, std::size_t line, std::string_view clearance)
{
    return RestartScan(text, line).plan(clearance);
}

std::optional<std::string> clearanceWord(std::string_view clearance)
{
    clearance = trimBlanks(clearance);
    if (clearance.empty())
        return std::nullopt;
    std::string number(clearance);
    if (!nc::hasPoint(number))
        number += '.';
    const auto d = nc::decimal(number);
    if (!d)
        return std::nullopt;
    return "Z" + nc::format(*d);
}

std::optional<std::size_t> findBlockNumber(std::string_view text, std::string_view number)
{
    number = trimBlanks(number);
    if (!number.empty() && (number[0] == 'N' || number[0] == 'n'))
        number.remove_prefix(1);
    const std::optional<long> sought = nc::whole(number);
    if (!sought)
        return std::nullopt;
    const long wanted = *sought;
    TextLines lines(text);
    std::string_view l;
    nc::Block b;
    for (std::size_t index = 0; lines.next(l); ++index) {
        if (l.find_first_of("Nn") == std::string_view::npos)
            continue;
        nc::readBlock(l, b);
        if (b.sequence.empty() || b.sequence.size() > 10)
            continue;
        long n = 0;
        for (char c : b.sequence)
            n = nc::isDigit(c) ? n * 10 + (c - '0') : n;
        if (n == wanted)
            return index;
    }
    return std::nullopt;
}

std::size_t RestartSend::editorOffset(std::size_t sent) const
{
    if (sent < openingChars)
        return sent;
    sent -= openingChars;
    if (sent < preambleChars)
        return blockChar;
    sent -= preambleChars;
    if (sent < firstChars)
        return blockChar + std::min(sent, firstShownChars);
    return blockChar + firstShownChars + (sent - firstChars);
}

RestartSend restartSend(std::string_view text, const RestartPlan& plan, std::string_view preamble)
{
    RestartSend s;
    s.text = restartText(text, plan, preamble);
    s.openingChars = utf8::length(plan.opening);
    const std::size_t rest = text.size() - std::min(plan.blockEnd, text.size());
    s.firstChars = utf8::length(plan.firstBlock);
    s.preambleChars = utf8::length(std::string_view(s.text).substr(0, s.text.size() - rest)) - s.openingChars - s.firstChars;
    s.blockChar = utf8::length(text.substr(0, std::min(plan.blockStart, text.size())));
    s.firstShownChars = utf8::length(text.substr(std::min(plan.blockStart, text.size()),
                                                 std::min(plan.blockEnd, text.size()) - std::min(plan.blockStart, text.size())));
    return s;
}

std::string restartText(std::string_view text, const RestartPlan& plan, std::string_view preamble)
{
    std::string out = plan.opening;
    out += preamble;
    if (!preamble.empty() && preamble.back() != '\n' && preamble.back() != '\r')
        out += "\r\n";
    out += plan.firstBlock;
    out += text.substr(std::min(plan.blockEnd, text.size()));
    return out;
}

} // namespace tarvex
