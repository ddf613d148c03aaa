// Marking files: their format, and a marking drawn at a place of the plot.
#include "toolpath/Marking.h"
#include "platform/DrawingSurface.h"
#include "platform/Numbers.h"
#include "platform/TextLines.h"
#include "toolpath/Graphics.h"

#include <algorithm>
#include <cmath>

namespace tarvex {
namespace {

// The end of the first line and the start of the next (CR LF, CR or LF).
std::size_t lineEnd(std::string_view t, std::size_t from, std::size_t& next)
{
    std::size_t e = t.find_first_of("\r\n", from);
    if (e == std::string_view::npos) {
        next = t.size();
        return t.size();
    }
    next = e + (t[e] == '\r' && e + 1 < t.size() && t[e + 1] == '\n' ? 2 : 1);
    return e;
}

// The number of a header line, or the fallback when it holds none.
double headerNumber(std::string_view line, double fallback)
{
    const auto k = line.find_first_not_of(" \t");
    if (k == std::string_view::npos || std::string_view("0123456789+-.&").find(line[k]) == std::string_view::npos)
        return fallback;
    bool overflow = false;
    const double v = leadingValue(line, &overflow);
    return overflow || !std::isfinite(v) ? fallback : v;
}

} // namespace

MarkingFile parseMarkingFile(std::string_view text)
{
    MarkingFile m;
    std::size_t next = 0;
    const std::size_t e1 = lineEnd(text, 0, next);
    const std::string_view widthLine = text.substr(0, e1);
    const std::size_t start2 = next;
    const std::size_t e2 = lineEnd(text, start2, next);
    const std::string_view colourLine = text.substr(std::min(start2, text.size()), e2 - std::min(start2, e2));
    const double w = std::nearbyint(headerNumber(widthLine, MarkingFile::minWidth));
    m.penWidth = static_cast<int>(std::clamp<double>(w, MarkingFile::minWidth, MarkingFile::maxWidth));
    const double c = std::nearbyint(headerNumber(colourLine, MarkingFile::maxColour));
    m.colour = static_cast<std::uint32_t>(std::clamp<double>(c, 0, MarkingFile::maxColour));
    // The drawing as it stands, less the line end of its last line.
    std::string_view rest = text.substr(std::min(next, text.size()));
    if (rest.ends_with("\r\n"))
        rest.remove_suffix(2);
    else if (rest.ends_with('\n') || rest.ends_with('\r'))
        rest.remove_suffix(1);
    m.drawing = std::string(rest);
    return m;
}

std::string formatMarkingFile(const MarkingFile& m)
{
    return " " + std::to_string(m.penWidth) + " \r\n " + std::to_string(m.colour) + " \r\n" + m.drawing + "\r\n";
}

std::vector<MarkingStep> parseMarkingDrawing(std::string_view drawing)
{
    std::vector<MarkingStep> steps;
    TextLines lines(drawing);
    std::string_view line;
    while (static_cast<int>(steps.size()) < MarkingFile::lineLimit && lines.next(line)) {
        MarkingStep s;
        bool overflow = false;
        auto word = [&](char a, bool& has, float& v) {
            const std::size_t p = line.find(a);
            if (p != std::string_view::npos) {
                has = true;
                v = addressValue(line, p, overflow);
            }
        };
        word('X', s.hasX, s.x);
        word('Y', s.hasY, s.y);
        word('I', s.hasI, s.i);
        word('J', s.hasJ, s.j);
        word('R', s.hasR, s.r);
        if (const std::size_t g = line.find('G'); g != std::string_view::npos) {
            const double code = std::nearbyint(leadingValue(line.substr(g + 1), &overflow));
            if (code < -32768 || code > 32767)
                break;
            s.hasG = true;
            s.g = static_cast<int>(code);
        }
        if (overflow)
            break;
        steps.push_back(s);
    }
    return steps;
}

ParsedMarking parseMarking(std::string_view fileText)
{
    MarkingFile f = parseMarkingFile(fileText);
    return {f.penWidth, f.colour, parseMarkingDrawing(f.drawing)};
}

void drawMarking(DrawingSurface& surface, const ParsedMarking& marking, float x, float y, MarkingPen& pen)
{
    surface.setPenWidth(marking.penWidth);
    float rx = x, ry = y;
    for (const MarkingStep& s : marking.steps) {
        if (s.hasX)
            x += s.x;
        if (s.hasY)
            y += s.y;
        if (s.hasI)
            pen.i = s.i;
        if (s.hasJ)
            pen.j = s.j;
        if (s.hasG)
            pen.motion = s.g;
        if (!std::isfinite(x) || !std::isfinite(y))
            return;
        if (pen.motion == 0)
            surface.dot(x, y, marking.colour);
        else if (pen.motion == 1)
            surface.line(rx, ry, x, y, marking.colour);
        else if (pen.motion == 2 || pen.motion == 3)
            drawArcMove(surface, rx, ry, {x, y, pen.i, pen.j, static_cast<float>(pen.motion), 0, 0}, marking.colour);
        rx = x;
        ry = y;
    }
}

} // namespace tarvex
