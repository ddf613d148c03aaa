#include "program/Renumber.h"
#include "platform/TextLines.h"
#include "program/Words.h"

namespace tarvex {
namespace {

// What in a block refers to a sequence number: a jump, a return or a local
// call to a block, a lathe cycle's first and last blocks.
std::string reference(const nc::Block& b)
{
    if (b.keyword == "GOTO" || (b.conditional && b.target >= 0))
        return "GOTO";
    bool p = false;
    int refers = 0; // the M code (positive) or the G code (negative) that refers, in tenths
    for (const nc::Word& w : b.words) {
        p = p || w.letter == 'P';
        const int c = w.number ? nc::code(w.text) : -1;
        if ((w.letter == 'M' && (c == nc::g(97) || c == nc::g(99)))
            || (w.letter == 'G' && c >= nc::g(70) && c <= nc::g(73)))
            refers = w.letter == 'M' ? c : -c;
    }
    if (refers > 0 && p)
        return "M" + std::to_string(refers / 10) + " P";
    // A lathe cycle names its blocks with P (and Q); a mill's G73 peck cycle has Q alone.
    if (refers < 0 && p)
        return "G" + std::to_string(-refers / 10) + " P/Q";
    return {};
}

} // namespace

Renumbered renumber(std::string_view text, const RenumberOptions& options)
{
    Renumbered r;
    r.text.reserve(text.size() + text.size() / 8);
    TextLines lines(text);
    std::string_view line;
    nc::Block b;
    long next = options.start, number = 0;
    while (lines.next(line)) {
        ++number;
        nc::readBlock(line, b);
        const std::string_view rest = text.substr(lines.start() + line.size(), lines.position() - lines.start() - line.size());
        if (const std::string why = reference(b); !why.empty()) {
            r.refusal = "行 " + std::to_string(number) + " の " + why
                        + " がシーケンス番号を参照しています。番号を付け直すと参照先が変わります。";
            return r;
        }
        if (b.kind == nc::Statement::Header)
            next = options.start;
        if (b.kind != nc::Statement::Block) {
            r.text.append(line).append(rest);
            continue;
        }
        // The first word, after a "/": the N word it is, or the place for one.
        nc::Lexer lexer(line);
        nc::Token t{};
        while (lexer.next(t) && t.kind != nc::Piece::Word) {
        }
        const bool hasN = t.kind == nc::Piece::Word && nc::upper(line[t.begin]) == 'N';
        const std::size_t at = t.kind == nc::Piece::Word ? t.begin : line.size();
        const std::size_t end = hasN ? t.end : at;
        r.text.append(line.substr(0, at));
        if (!options.remove) {
            if (next > 99999) {
                r.refusal = "行 " + std::to_string(number) + " の番号 N" + std::to_string(next) + " が 99999 を超えます。";
                return r;
            }
            r.text += 'N';
            r.text += std::to_string(next);
            next += options.step;
            ++r.blocks;
        } else if (hasN) {
            ++r.blocks;
        }
        r.text.append(line.substr(end)).append(rest);
    }
    return r;
}

} // namespace tarvex
