#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

class DrawingSurface;

inline constexpr const char* markingFolder = "Mcode";

// A marking file: the pen width, the colour (0x00BBGGRR) and the drawing, a
// short incremental G-code text. The file holds " width \r\n colour \r\n"
// and then the drawing's lines, each ended by CR LF.
struct MarkingFile {
    static constexpr int minWidth = 1, maxWidth = 9;
    static constexpr std::uint32_t maxColour = 16777215;
    // A marking is a symbol: the plot draws no more lines of it than this.
    static constexpr int lineLimit = 10000;

    int penWidth = 1;
    std::uint32_t colour = maxColour;
    // The drawing's lines joined by CR LF, without a line end after the last:
    // what the editor shows, and written back as it was read.
    std::string drawing;
};

// Reads lines 1 and 2 as numbers, blanks ignored: a line without a number
// keeps the default, a number out of range is clamped. The rest is the drawing.
MarkingFile parseMarkingFile(std::string_view text);
std::string formatMarkingFile(const MarkingFile& marking);

// One line of a drawing: the words it holds (X, Y and R as moves, I and J as
// the centre, G the motion), numbers in millimetres (thousandths without a point).
struct MarkingStep {
    bool hasX = false, hasY = false, hasI = false, hasJ = false, hasG = false, hasR = false;
    float x = 0, y = 0, i = 0, j = 0, r = 0;
    int g = 0;
};
// The steps of a drawing, parsed once. A line whose number is beyond single
// precision (or a G beyond 16 bits) ends the drawing there.
std::vector<MarkingStep> parseMarkingDrawing(std::string_view drawing);

// A marking ready to be drawn at its places.
struct ParsedMarking {
    int penWidth = 1;
    std::uint32_t colour = MarkingFile::maxColour;
    std::vector<MarkingStep> steps;
};
ParsedMarking parseMarking(std::string_view fileText);

// What runs on from line to line and from one marking to the next within a
// plotting pass: the motion and the centre offsets.
struct MarkingPen {
    int motion = 0;
    float i = 0, j = 0;
};

// Draws the marking at (x, y): X and Y move the point, I and J replace the
// centre, G sets the motion; motion 0 a dot, 1 a line, 2 and 3 arcs, any
// other nothing. Every line draws, with or without words.
void drawMarking(DrawingSurface& surface, const ParsedMarking& marking, float x, float y, MarkingPen& pen);

} // namespace tarvex
