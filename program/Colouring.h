#pragma once
// What kind of word each byte of a program line is, for the editor's colours.
#include <array>
#include <cstdint>
#include <string_view>

namespace tarvex::nc {

enum class WordKind : std::uint8_t {
    Plain,         // blanks, stray bytes, line ends
    GCode,         // G
    MCode,         // M
    Axis,          // X Y Z I J K R and every other address letter
    Feed,          // F S T H D
    Sequence,      // N
    ProgramNumber, // O, ":"
    Comment,       // ( … ), ; …
    Percent,       // %
    Skip,          // a block-skip "/"
    Macro,         // #, [ ], keywords, operators, a word's value that is no number
};
inline constexpr int wordKinds = 11;

// Marks the bytes of one line without its line end: kinds[i] is line[i]'s.
void colourLine(std::string_view line, WordKind* kinds);

// Colours as 0xRRGGBB by kind, and whether the editor colours at all.
struct WordColours {
    bool on = true;
    std::array<std::uint32_t, wordKinds> rgb{};
    friend bool operator==(const WordColours&, const WordColours&) = default;
};
// Readable on the editor's white background.
WordColours defaultWordColours();

// The contrast of a colour against the editor's white (WCAG: 1 to 21).
double contrastOnWhite(std::uint32_t rgb);

} // namespace tarvex::nc
