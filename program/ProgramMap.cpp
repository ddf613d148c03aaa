#include "program/ProgramMap.h"
#include "platform/TextLines.h"
#include "program/Words.h"

#include <algorithm>
#include <map>

namespace tarvex {
ProgramMap::ProgramMap(std::string_view text) : text_(text)
{
    struct Open {
        std::string name, keyword;
        std::size_t line;
    };
    std::vector<Open> oWords, macroLoops;
    std::set<long> called, localCalls;
    struct PendingJump {
        std::size_t from;
        long target;
        bool conditional;
    };
    std::vector<PendingJump> pending;
    std::vector<std::vector<std::size_t>> m99s; // per program
    std::vector<bool> hasM99;

    programs_.push_back({0, 0, std::nullopt, -1, false});
    bool statements = false; // the program so far holds more than "%" lines and comments
    m99s.emplace_back();
    nc::Block b;
    TextLines lines(text);
    std::string_view l;
    for (std::size_t n = 0; lines.next(l); ++n) {
        starts_.push_back(lines.start());
        // Every line is read as the control reads it: "M098P100" and
        // "M\t98P100" are calls as much as "M98P100".
        nc::readBlock(l, b);
        const bool before = statements;
        statements = statements || (b.kind != nc::Statement::Empty && b.kind != nc::Statement::Percent);
        switch (b.kind) {
        case nc::Statement::Header:
            if (before || programs_.back().header) {
                programs_.back().last = n - 1;
                programs_.push_back({n, n, n, nc::whole(b.words[0].text).value_or(-1), false});
                m99s.emplace_back();
            } else {
                programs_.back().header = n;
                programs_.back().number = nc::whole(b.words[0].text).value_or(-1);
            }
            statements = false;
            break;
        case nc::Statement::OWord: {
            const std::string& k = b.keyword;
            auto close = [&](std::vector<Open>& stack, std::initializer_list<const char*> openers, Kind kind) {
                for (auto it = stack.rbegin(); it != stack.rend(); ++it)
                    if (it->name == b.oName && std::find(openers.begin(), openers.end(), it->keyword) != openers.end()) {
                        ranges_.push_back({kind, it->line, n, "o" + b.oName});
                        stack.erase(std::next(it).base(), stack.end());
                        return true;
                    }
                return false;
            };
            if (k == "sub" || k == "do" || k == "repeat" || k == "if")
                oWords.push_back({b.oName, k, n});
            else if (k == "endsub")
                close(oWords, {"sub"}, Kind::Subroutine);
            else if (k == "endrepeat")
                close(oWords, {"repeat"}, Kind::Loop);
            else if (k == "endwhile")
                close(oWords, {"while"}, Kind::Loop);
            else if (k == "endif")
                close(oWords, {"if"}, Kind::Branch);
            else if (k == "while" && !close(oWords, {"do"}, Kind::Loop))
                oWords.push_back({b.oName, k, n});
            break;
        }
        case nc::Statement::While:
        case nc::Statement::Do: macroLoops.push_back({std::to_string(b.target), "DO", n}); break;
        case nc::Statement::End:
            for (auto it = macroLoops.rbegin(); it != macroLoops.rend(); ++it)
                if (it->name == std::to_string(b.target)) {
                    ranges_.push_back({Kind::Loop, it->line, n, it->name == "-1" ? "WHILE" : "DO" + it->name});
                    macroLoops.erase(std::next(it).base(), macroLoops.end());
                    break;
                }
            break;
        case nc::Statement::If:
        case nc::Statement::Goto:
            if (b.kind == nc::Statement::Goto || b.conditional)
                pending.push_back({n, b.target, b.conditional});
            break;
        case nc::Statement::Block: {
            bool call = false, local = false, m99 = false;
            for (const nc::Word& w : b.words) {
                const int c = w.number ? nc::code(w.text) : -1;
                if (w.letter == 'G' && nc::isLengthOffset(c))
                    usesLengthOffset_ = true;
                call = call || nc::callsProgram(w.letter, c);
                local = local || nc::callsLocal(w.letter, c);
                m99 = m99 || (w.letter == 'M' && c == nc::g(99));
            }
            if (b.keyword == "CALL")
                call = true;
            for (const nc::Word& w : b.words) {
                if (!((call && (w.letter == 'P' || (b.keyword == "CALL" && w.letter == 'O'))) || (local && w.letter == 'P')))
                    continue;
                const auto v = w.number ? nc::whole(std::string_view(w.text).substr(w.text[0] == '+' ? 1 : 0)) : std::nullopt;
                if (!v) {
                    computedCall_ = computedCall_ || call;
                    continue;
                }
                (local ? localCalls : called).insert(*v);
                if (!local && *v > 9999)
                    called.insert(*v % 10000); // a repeat count written before the number
            }
            if (m99)
                m99s.back().push_back(n);
            break;
        }
        default: break;
        }
    }
    const std::size_t lastLine = starts_.empty() ? 0 : starts_.size() - 1;
    programs_.back().last = lastLine;
    // What is never closed runs to the end of the file.
    for (const Open& o : oWords)
        ranges_.push_back({o.keyword == "sub"  ? Kind::Subroutine
                           : o.keyword == "if" ? Kind::Branch
                                               : Kind::Loop,
                           o.line, lastLine, "o" + o.name});
    for (const Open& o : macroLoops)
        ranges_.push_back({Kind::Loop, o.line, lastLine, o.name == "-1" ? "WHILE" : "DO" + o.name});

    for (std::size_t i = 0; i < programs_.size(); ++i) {
        Program& p = programs_[i];
        p.called = p.number >= 0 && (called.count(p.number) || (computedCall_ && !m99s[i].empty()));
    }

    // Jump targets and local subprograms: the sequence numbers, read only
    // when something refers to them.
    if (pending.empty() && localCalls.empty())
        return;
    std::map<long, std::vector<std::size_t>> sequences;
    for (std::size_t n = 0; n < starts_.size(); ++n) {
        nc::readBlock(line(n), b);
        if (const auto v = nc::whole(b.sequence))
            sequences[*v].push_back(n);
    }
    for (const PendingJump& j : pending) {
        const Program& p = programOf(j.from);
        std::optional<std::size_t> to;
        if (auto it = sequences.find(j.target); j.target >= 0 && it != sequences.end()) {
            // Forward first, then from the start of the program.
            for (std::size_t at : it->second)
                if (at > j.from && at <= p.last) {
                    to = at;
                    break;
                }
            for (std::size_t at : it->second)
                if (!to && at >= p.first && at <= j.from)
                    to = at;
        }
        jumps_.push_back({j.from, to, j.conditional});
    }
    for (long n : localCalls) {
        const auto it = sequences.find(n);
        if (it == sequences.end())
            continue;
        const std::size_t first = it->second.front();
        const Program& p = programOf(first);
        const std::size_t i = static_cast<std::size_t>(&p - programs_.data());
        const auto end = std::lower_bound(m99s[i].begin(), m99s[i].end(), first);
        ranges_.push_back({Kind::LocalSubprogram, first, end == m99s[i].end() ? p.last : *end, "N" + std::to_string(n)});
    }
}

std::string_view ProgramMap::line(std::size_t n) const
{
    const std::size_t start = starts_[n], next = nextLine(n);
    std::size_t stop = start;
    while (stop < next && text_[stop] != '\r' && text_[stop] != '\n')
        ++stop;
    return text_.substr(start, stop - start);
}

const ProgramMap::Program& ProgramMap::programOf(std::size_t line) const
{
    auto it = std::upper_bound(programs_.begin(), programs_.end(), line,
                               [](std::size_t l, const Program& p) { return l < p.first; });
    return it == programs_.begin() ? programs_.front() : *std::prev(it);
}

const ProgramMap::Range* ProgramMap::subroutine(const std::string& name) const
{
    for (const Range& r : ranges_)
        if (r.kind == Kind::Subroutine && r.name == name)
            return &r;
    return nullptr;
}

const ProgramMap::Program* ProgramMap::program(long number) const
{
    for (const Program& p : programs_)
        if (p.header && p.number == number && p.number >= 0)
            return &p;
    return nullptr;
}

const ProgramMap::Range* ProgramMap::localSubprogram(long n) const
{
    for (const Range& r : ranges_)
        if (r.kind == Kind::LocalSubprogram && r.name == "N" + std::to_string(n))
            return &r;
    return nullptr;
}

} // namespace tarvex
