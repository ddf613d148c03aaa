// Every reader of text that comes from outside, on random bytes: the device
// profile and colour file readers, the cp932 codec, the save line-end rule
// the tape codes and the restart scan. Each checks a property, not a value: nothing crashes,
// and what goes round comes back.
#include "editor/LineEnds.h"
#include "platform/Utf8.h"
#include "platform/posix/Cp932Codec.h"
#include "serial/DeviceProfile.h"
#include "platform/TextLines.h"
#include "program/Restart.h"
#include "serial/TapeCode.h"
#include "toolpath/ConditionTable.h"
#include "toolpath/Marking.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace tarvex;

namespace {

// Says which property failed before the fuzzer records the input.
void holdsAt(bool holds, int line)
{
    if (!holds) {
        std::fprintf(stderr, "property at line %d does not hold\n", line);
        std::abort();
    }
}
#define check(holds) holdsAt((holds), __LINE__)

const Cp932Codec& codec()
{
    static const Cp932Codec c;
    return c;
}

std::string withoutLineEnds(std::string_view s)
{
    std::string out;
    for (char c : s)
        if (c != '\r' && c != '\n')
            out += c;
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // The codec keeps every byte, and what it gives is UTF-8.
    const std::string text = codec().decode(bytes);
    check(utf8::valid(text));
    check(codec().encode(text) == bytes);
    check(codec().byteLength(text) == bytes.size());
    // Read in pieces cut after whole characters, a text decodes as it does whole.
    const std::size_t whole = codec().wholeCharacters(bytes.substr(0, size / 2));
    check(codec().decode(bytes.substr(0, whole)) + codec().decode(bytes.substr(whole)) == text);

    // Save: every line end becomes CR LF, nothing else changes, a second
    // pass changes nothing, and pieces give what the whole gives.
    const std::string saved = normaliseLineEnds(bytes);
    check(withoutLineEnds(saved) == withoutLineEnds(bytes));
    check(normaliseLineEnds(saved) == saved);
    for (std::size_t k = 0; k < saved.size(); ++k)
        check((saved[k] != '\r' || (k + 1 < saved.size() && saved[k + 1] == '\n'))
              && (saved[k] != '\n' || (k > 0 && saved[k - 1] == '\r')));
    LineEndNormaliser pieces;
    std::string fed;
    for (std::size_t at = 0; at < bytes.size(); at += 7)
        pieces.feed(bytes.substr(at, 7), fed);
    check(fed == saved);

    // A profile as loaded survives a save and a reload unchanged, unless a
    // text holds a double quote, which its format cannot always carry.
    DeviceProfile loaded;
    parseProfile(text, loaded);
    DeviceProfile reloaded;
    parseProfile(formatProfile(loaded), reloaded);
    bool quote = false;
    for (const std::string* t : {&loaded.parity, &loaded.handshake, &loaded.partner})
        quote = quote || t->find('"') != std::string::npos;
    for (const auto& c : loaded.inCodes)
        quote = quote || c.find('"') != std::string::npos;
    for (const auto& c : loaded.outCodes)
        quote = quote || c.find('"') != std::string::npos;
    check(quote || reloaded == loaded);
    for (const auto& c : loaded.inCodes)
        controlCode(c);

    // The same for the display conditions of the colour file. A name with a
    // double quote cannot be written in its format (the condition editor
    // refuses one); such a file is only read.
    ConditionTable table;
    parseColourFile(table, text);
    bool quoted = false;
    for (const auto& name : table.conditionName)
        quoted = quoted || name.find('"') != std::string::npos;
    ConditionTable again;
    parseColourFile(again, formatColourFile(table));
    check(quoted || (again.conditionName == table.conditionName && again.conditionColour == table.conditionColour));

    // A marking file: whatever it holds reads, its numbers in range, and what
    // the editor writes of it reads back the same.
    const MarkingFile marking = parseMarkingFile(text);
    check(marking.penWidth >= MarkingFile::minWidth && marking.penWidth <= MarkingFile::maxWidth);
    check(marking.colour <= MarkingFile::maxColour);
    const MarkingFile written = parseMarkingFile(formatMarkingFile(marking));
    check(written.penWidth == marking.penWidth && written.colour == marking.colour && written.drawing == marking.drawing);
    check(parseMarkingDrawing(marking.drawing).size() <= static_cast<std::size_t>(MarkingFile::lineLimit));

    // A restart from any of the first lines: the text sent is the opening
    // lines, the preamble and the rest unchanged, the preamble is plain ASCII
    // words, and the editor offsets stay inside the text.
    const std::size_t chars = utf8::length(text);
    for (std::size_t line = 0; line < 8; ++line) {
        const auto at = lineOffset(text, line);
        if (!at)
            break;
        check(lineOfByte(text, *at) == line);
        const RestartPlan plan = planRestart(text, line, "10");
        if (!plan.refusal.empty())
            continue;
        for (char c : plan.preamble)
            check(static_cast<unsigned char>(c) < 0x80);
        const RestartSend send = restartSend(text, plan, plan.preamble);
        check(send.text.compare(0, plan.opening.size(), plan.opening) == 0);
        // The first block may gain words (a cycle's, an arc mode) but keeps
        // every byte of its own, in order.
        const std::string_view rest = std::string_view(text).substr(plan.blockEnd);
        check(send.text.size() >= plan.firstBlock.size() + rest.size() && send.text.ends_with(rest));
        check(send.text.compare(send.text.size() - rest.size() - plan.firstBlock.size(), plan.firstBlock.size(),
                                plan.firstBlock) == 0);
        const std::string_view own = std::string_view(text).substr(plan.blockStart, plan.blockEnd - plan.blockStart);
        std::size_t kept = 0;
        for (char c : plan.firstBlock)
            kept += kept < own.size() && c == own[kept];
        check(kept == own.size());
        auto high = [](std::string_view s) {
            std::string h;
            for (char c : s)
                if (static_cast<unsigned char>(c) >= 0x80)
                    h += c;
            return h;
        };
        check(high(plan.firstBlock) == high(own));
        check(send.editorOffset(utf8::length(send.text)) <= chars);
    }
    findBlockNumber(text, text.substr(0, 12));

    // Tape codes: any received bytes convert; a text sent and received again
    // comes back as the characters its code carries (the line ends as LF).
    for (TapeCode code : {TapeCode::Iso, TapeCode::Eia, TapeCode::Ascii}) {
        decodeFromLine(bytes, code);
        const std::string line = encodeForLine(text, code, bytes);
        if (code == TapeCode::Ascii) {
            check(decodeFromLine(line, code) == bytes);
            continue;
        }
        std::string carried;
        for (std::size_t pos = 0; pos < text.size();) {
            const char32_t c = utf8::next(text, pos);
            if (c != '\r' && (code == TapeCode::Iso ? legalInIso(c) : legalInEia(c)))
                carried += static_cast<char>(c);
        }
        check(decodeFromLine(line, code) == carried);
    }
    return 0;
}
