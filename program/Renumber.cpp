#include "program/Renumber.h"
#include "platform/TextLines.h"
#include "program/Words.h"

#include <algorithm>
#include <utility>

namespace tarvex {
namespace {

// Where a block's N word stands or goes: its first piece after a "/" (a
// keyword such as POPEN or DPRNT included, never inside its brackets); end
// is past an N word that is there.
std::pair<std::size_t, std::size_t> sequencePlace(std::string_view line)
{
    nc::Lexer lexer(line);
    nc::Token t{};
    while (lexer.next(t))
        if (t.kind != nc::Piece::Skip) {
            const bool hasN = t.kind == nc::Piece::Word && nc::upper(line[t.begin]) == 'N';
            return {t.begin, hasN ? t.end : t.begin};
        }
    return {line.size(), line.size()};
}

// A program-number line, also one with words after the number ("O1000 G90 G21"): left alone.
bool programLine(const nc::Block& b)
{
    return b.kind == nc::Statement::Header
           || (b.kind == nc::Statement::Block && !b.words.empty() && (b.words[0].letter == 'O' || b.words[0].letter == ':'));
}

} // namespace

Renumbered renumber(std::string_view text, const RenumberOptions& options)
{
    Renumbered r;
    if (!options.remove && (options.step < 1 || options.every < 1)) {
        r.refusal = "増分と間隔は 1 以上にしてください。";
        return r;
    }
    TextLines lines(text);
    std::string_view line;
    nc::Block b;
    // Numbers beyond five digits cannot be: say which step would fit.
    if (!options.remove) {
        long most = 0, count = 0;
        for (std::size_t k = 0; lines.next(line); ++k) {
            nc::readBlock(line, b);
            if (programLine(b))
                count = 0;
            else if (b.kind == nc::Statement::Block && (!options.existing || !b.sequence.empty()))
                most = std::max(most, ++count);
        }
        const long numbered = (most + options.every - 1) / options.every;
        if (numbered > 0 && options.start + (numbered - 1) * options.step > 99999) {
            const long fits = numbered > 1 ? (99999 - options.start) / (numbered - 1) : 0;
            r.refusal = "番号を付けるブロックが " + std::to_string(numbered) + " あり、N" + std::to_string(options.start)
                        + " から " + std::to_string(options.step) + " ずつでは N99999 を超えます。"
                        + (fits >= 1 ? "増分を " + std::to_string(fits) + " 以下にしてください。"
                                     : "開始番号を小さくしてください。");
            return r;
        }
        lines = TextLines(text);
    }
    r.text.reserve(text.size() + text.size() / 8);
    long next = options.start, number = 0, seen = 0;
    while (lines.next(line)) {
        ++number;
        nc::readBlock(line, b);
        const std::string_view rest = text.substr(lines.start() + line.size(), lines.position() - lines.start() - line.size());
        if (const std::string why = nc::sequenceReference(b); !why.empty()) {
            r.refusal = "行 " + std::to_string(number) + " の " + why
                        + " がシーケンス番号を参照しています。番号を付け直すと参照先が変わります。";
            return r;
        }
        if (programLine(b))
            next = options.start, seen = 0;
        if (b.kind != nc::Statement::Block || programLine(b)) {
            r.text.append(line).append(rest);
            continue;
        }
        const auto [at, end] = sequencePlace(line);
        const bool hasN = end > at;
        r.text.append(line.substr(0, at));
        const bool chosen = !options.existing || hasN;
        if (options.remove) {
            r.blocks += hasN;
        } else if (!chosen) {
            r.text.append(line.substr(at, end - at)); // left as it was
        } else if (seen++ % options.every == 0) {
            const std::string digits = std::to_string(next);
            r.text += 'N';
            r.text.append(digits.size() < static_cast<std::size_t>(options.width)
                              ? static_cast<std::size_t>(options.width) - digits.size()
                              : 0,
                          '0');
            r.text += digits;
            next += options.step;
            ++r.blocks;
        }
        r.text.append(line.substr(end)).append(rest);
    }
    return r;
}

} // namespace tarvex
