#include "program/Colouring.h"

#include "program/Words.h"

#include <algorithm>

namespace tarvex::nc {
namespace {

WordKind letterKind(char letter)
{
    switch (upper(letter)) {
    case 'G': return WordKind::GCode;
    case 'M': return WordKind::MCode;
    case 'N': return WordKind::Sequence;
    case 'O':
    case ':': return WordKind::ProgramNumber;
    case 'F':
    case 'S':
    case 'T':
    case 'H':
    case 'D': return WordKind::Feed;
    default: return WordKind::Axis;
    }
}

} // namespace

void colourLine(std::string_view line, WordKind* kinds)
{
    std::fill(kinds, kinds + line.size(), WordKind::Plain);
    Lexer lexer(line);
    Token t;
    while (lexer.next(t)) {
        WordKind kind = WordKind::Macro;
        switch (t.kind) {
        case Piece::Word:
            // The letter and a plain number in the word's colour; a value
            // from a variable or an expression reads as macro text.
            kind = letterKind(line[t.begin]);
            if (!t.number) {
                std::fill(kinds + t.begin, kinds + t.value, kind);
                std::fill(kinds + t.value, kinds + t.end, WordKind::Macro);
                continue;
            }
            break;
        case Piece::Comment: kind = WordKind::Comment; break;
        case Piece::Percent: kind = WordKind::Percent; break;
        case Piece::Skip: kind = WordKind::Skip; break;
        default: break;
        }
        std::fill(kinds + t.begin, kinds + t.end, kind);
    }
}

WordColours defaultWordColours()
{
    WordColours c;
    c.rgb = {0x000000, 0x0000C0, 0x9A009A, 0x005F5F, 0x8A4500, 0x6A6A6A,
             0xC00000, 0x007000, 0xC00000, 0xA04000, 0x6A1FC0};
    return c;
}

} // namespace tarvex::nc
