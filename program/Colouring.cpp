#include "program/Colouring.h"

#include "program/Words.h"

#include <algorithm>
#include <cmath>

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
    // Numbers that belong to no word: a constant of a macro statement
    // ("#1=5.+2") in the macro colour, the digit of a skip level ("/2") in
    // the skip colour.
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (kinds[i] != WordKind::Plain || !(isDigit(line[i]) || line[i] == '.'))
            continue;
        std::size_t left = i;
        while (left > 0 && (line[left - 1] == ' ' || line[left - 1] == '\t'))
            --left;
        if (left == 0)
            continue;
        if (kinds[left - 1] == WordKind::Macro)
            kinds[i] = WordKind::Macro;
        else if (kinds[left - 1] == WordKind::Skip && left == i && line[i - 1] == '/' && line[i] >= '1')
            kinds[i] = WordKind::Skip;
    }
}

WordColours defaultWordColours()
{
    WordColours c;
    c.rgb = {0x000000, 0x0000C0, 0x9A009A, 0x005F5F, 0x8A4500, 0x6A6A6A,
             0xC00000, 0x007000, 0xC00000, 0xA04000, 0x6A1FC0};
    return c;
}

double contrastOnWhite(std::uint32_t rgb)
{
    double luminance = 0;
    for (auto [shift, weight] : {std::pair{16, 0.2126}, {8, 0.7152}, {0, 0.0722}}) {
        const double v = ((rgb >> shift) & 0xFF) / 255.0;
        luminance += weight * (v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
    }
    return 1.05 / (luminance + 0.05);
}

} // namespace tarvex::nc
