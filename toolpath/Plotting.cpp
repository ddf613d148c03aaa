// The plotting pass, the replay and the markings: the segment table drawn
// through the drawing surface.
#include "platform/Cpu.h"
#include "platform/FileSystem.h"
#include "platform/TextCodec.h"
#include "platform/UiServices.h"
#include "toolpath/Graphics.h"
#include "toolpath/ConditionTable.h"
#include "toolpath/Marking.h"

#include <chrono>
#include <algorithm>
#include <cmath>
#include <map>
#include <optional>

namespace tarvex {
namespace {

// A colour at a third of its brightness: the path already cut.
std::uint32_t dimmed(std::uint32_t bgr)
{
    return ((bgr & 0xFF) / 3) | (((bgr >> 8) & 0xFF) / 3) << 8 | (((bgr >> 16) & 0xFF) / 3) << 16;
}

constexpr float pi = 3.14159265358979f;
constexpr float twoPi = 6.28318530717959f;
constexpr float halfPi = 1.5707964f;
constexpr float threeHalfPi = 4.712389f;

float fatan(float v) { return static_cast<float>(std::atan(static_cast<double>(v))); }

using Pen = DrawingSurface::PenStyle;

} // namespace

Graphics::Graphics(FileSystem& fs, const TextCodec& codec, std::string progDir, SegmentTable& table,
                   ConditionTable& conds)
    : segments(table), conditions(conds), fs_(fs), codec_(codec), progDir_(std::move(progDir))
{
}


void arcAngles(float px, float py, float ex, float ey, float i, float j, float& start, float& end, bool forDxf)
{
    // Angles of the start point and of the end point as seen from the centre.
    auto raise = [forDxf](float a) { return (forDxf ? a < 0 : a <= 0) ? a + twoPi : a; };
    const float cx = px + i, cy = py + j;
    if (i != 0)
        start = raise(fatan(j / i) + (i > 0 ? pi : 0.0f));
    else
        start = j >= 0 ? threeHalfPi : halfPi;
    const float dx = ex - cx, dy = ey - cy;
    if (dx != 0)
        end = raise(fatan(dy / dx) + (ex < cx ? pi : 0.0f));
    else
        end = dy >= 0 ? halfPi : threeHalfPi;
    // An arc that ends where it starts, about a centre of its own, is a full
    // circle. Its end angle, taken from a centre rounded to single precision,
    // need not equal the start angle: equal it is.
    if (ex == px && ey == py && (i != 0 || j != 0))
        end = start;
}

bool Graphics::userPoint(double px, double py, int width, int height, float& x, float& y) const
{
    if (width <= 0 || height <= 0 || plotRight == plotLeft || plotTop == plotBottom)
        return false;
    x = static_cast<float>(plotLeft + px * (static_cast<double>(plotRight) - plotLeft) / width);
    y = static_cast<float>(plotTop + py * (static_cast<double>(plotBottom) - plotTop) / height);
    return true;
}

bool Graphics::viewFit(DrawingSurface& surface)
{
    PlotView& v = view;
    v.viewWidth = std::fabs(v.maxX - v.minX);
    v.centreX = v.viewWidth / 2 + v.minX;
    v.viewHeight = std::fabs(v.maxY - v.minY);
    v.centreY = v.maxY - v.viewHeight / 2;
    const float pw = static_cast<float>(surface.width()), ph = static_cast<float>(surface.height());
    if (pw <= 0 || ph <= 0 || !(v.viewWidth > 0) || !(v.viewHeight > 0) || !std::isfinite(v.viewWidth)
        || !std::isfinite(v.viewHeight))
        return false; // nothing can be fitted: the pass ends here
    const float sy = ph / v.viewHeight, sx = pw / v.viewWidth;
    if (sx >= sy) {
        // Limited by the height: the whole height shows, the width is centred.
        const float k = pw / ph;
        plotTop = v.maxY;
        plotBottom = v.minY;
        plotLeft = v.centreX - v.viewHeight / 2 * k;
        plotRight = v.viewHeight / 2 * k + v.centreX;
    } else {
        const float k = ph / pw;
        plotLeft = v.minX;
        plotRight = v.maxX;
        plotTop = v.viewWidth / 2 * k + v.centreY;
        plotBottom = v.centreY - v.viewWidth / 2 * k;
    }
    surface.setUserCoordinates(plotLeft, plotTop, plotRight, plotBottom);
    return true;
}

namespace {

int conditionOf(const PathSegment& s)
{
    const int c = static_cast<int>(s.condition);
    return c >= 0 && c < ConditionTable::count ? c : 0;
}

} // namespace

void drawArcMove(DrawingSurface& surface, float px, float py, const PathSegment& s, std::uint32_t colour)
{
    float aS, aE;
    arcAngles(px, py, s.x, s.y, s.i, s.j, aS, aE);
    const float r = std::sqrt(s.i * s.i + s.j * s.j);
    // Clockwise moves are drawn counter-clockwise from the end angle to the start angle.
    if (s.motion == 2)
        surface.arc(px + s.i, py + s.j, r, colour, aE, aS);
    else
        surface.arc(px + s.i, py + s.j, r, colour, aS, aE);
}

void Graphics::GrSub(DrawingSurface& surface)
{
    clearUpperVectorState();
    if (!viewFit(surface))
        return;
    surface.clear();
    surface.setPenStyle(Pen::Solid);
    surface.setPenWidth(1);
    conditions.conditionColour[0] = ConditionTable::white;
    float px = 0, py = 0;
    for (int n = 0; n <= segments.segmentCount; ++n) {
        const PathSegment& s = segments[n];
        const int c = conditionOf(s);
        if (conditions.conditionVisible[c]) {
            const std::uint32_t colour = n < dimBefore ? dimmed(conditions.conditionColour[c]) : conditions.conditionColour[c];
            const int motion = static_cast<int>(s.motion);
            if (motion == 0) {
                if (showRapids) {
                    surface.setPenStyle(Pen::Dotted);
                    surface.line(px, py, s.x, s.y, colour);
                    surface.setPenStyle(Pen::Solid);
                } else {
                    surface.dot(s.x, s.y, colour);
                }
            } else if (motion == 8) {
                surface.setPenWidth(2);
                surface.dot(s.x, s.y, colour);
                surface.setPenWidth(1);
            } else if (motion == 1 || motion == 2 || motion == 3) {
                if (s.selected == 1)
                    surface.setPenWidth(3);
                if (motion == 1)
                    surface.line(px, py, s.x, s.y, colour);
                else
                    drawArcMove(surface, px, py, s, colour);
                surface.setPenWidth(1);
            }
        }
        px = s.x;
        py = s.y;
    }
    if (showMarkings)
        drawMarkings(surface);
    if (dimBefore >= 0 && dimBefore <= segments.segmentCount + 1) {
        // The restart point: a ring and a cross, a fiftieth of the view across.
        const float x = dimBefore > 0 ? segments[dimBefore - 1].x : 0, y = dimBefore > 0 ? segments[dimBefore - 1].y : 0;
        const float r = std::max(std::fabs(plotRight - plotLeft), std::fabs(plotTop - plotBottom)) / 50;
        constexpr std::uint32_t mark = 0x0000FF; // red
        surface.setPenWidth(2);
        surface.arc(x, y, r, mark, 0, 0); // the whole circle
        surface.line(x - 2 * r, y, x + 2 * r, y, mark);
        surface.line(x, y - 2 * r, x, y + 2 * r, mark);
        surface.setPenWidth(1);
    }
    surface.present();
}

void Graphics::drawSelected(DrawingSurface& surface, int first, int last)
{
    if (first > last || !viewFit(surface))
        return;
    surface.setPenStyle(Pen::Solid);
    surface.setPenWidth(3);
    for (int n = std::max(first, 0); n <= last && n <= segments.segmentCount; ++n) {
        const PathSegment& s = segments[n];
        const int c = conditionOf(s);
        const int motion = static_cast<int>(s.motion);
        if (s.selected != 1 || !conditions.conditionVisible[c] || motion < 1 || motion > 3)
            continue;
        const float px = n > 0 ? segments[n - 1].x : 0.0f, py = n > 0 ? segments[n - 1].y : 0.0f;
        const std::uint32_t colour = c == 0 ? ConditionTable::white : conditions.conditionColour[c];
        if (motion == 1)
            surface.line(px, py, s.x, s.y, colour);
        else
            drawArcMove(surface, px, py, s, colour);
    }
    surface.setPenWidth(1);
    surface.present();
}

void Graphics::drawMarkings(DrawingSurface& surface)
{
    // Each marking is read and parsed once per pass, however often it is placed.
    std::map<std::string, std::optional<ParsedMarking>> parsed;
    MarkingPen pen;
    for (int k = 0; k <= markings.markingCount; ++k) {
        const MarkingPlace& place = markings.markingTable[k];
        auto it = parsed.find(place.name);
        if (it == parsed.end()) {
            std::string bytes;
            std::optional<ParsedMarking> m;
            // A marking removed since the expansion is left out; the others still draw.
            if (!fs_.readFile(joinPath(joinPath(progDir_, markingFolder), place.name), bytes, smallFileLimit))
                m = parseMarking(codec_.decode(bytes));
            it = parsed.emplace(place.name, std::move(m)).first;
        }
        if (it->second)
            drawMarking(surface, *it->second, place.x, place.y, pen);
    }
}

bool Graphics::GrSub1(DrawingSurface& surface, int penWidth)
{
    replay_ = {};
    if (!viewFit(surface))
        return false;
    replay_.running = true;
    replay_.penWidth = penWidth;
    return true;
}

std::optional<std::chrono::microseconds> Graphics::replayStep(DrawingSurface& surface, int sliderValue,
                                                               std::chrono::steady_clock::time_point now)
{
    using namespace std::chrono;
    if (!replay_.running)
        return std::nullopt;
    const microseconds delay((static_cast<long>(sliderValue) * 1000 + 1) * replayMicrosecondsPerYield);
    // The wait runs from the last element drawn, at the slider's value now:
    // a move of the slider acts at once.
    if (!replay_.last)
        replay_.last = now;
    // A step draws for a few milliseconds at most: the window answers between.
    const auto budget = steady_clock::now() + 8ms;
    surface.setPenStyle(Pen::Solid);
    surface.setPenWidth(replay_.penWidth);
    bool drawn = false;
    for (; replay_.next <= segments.segmentCount; ++replay_.next) {
        const PathSegment s = segments[replay_.next];
        const int c = conditionOf(s);
        if (conditions.conditionVisible[c]) {
            if (*replay_.last + delay > now || (drawn && steady_clock::now() > budget))
                break;
            const std::uint32_t colour = conditions.conditionColour[c];
            const int motion = static_cast<int>(s.motion);
            if (motion == 0 || motion == 8)
                surface.dot(s.x, s.y, colour);
            else if (motion == 1)
                surface.line(replay_.px, replay_.py, s.x, s.y, colour);
            else if (motion == 2 || motion == 3)
                drawArcMove(surface, replay_.px, replay_.py, s, colour);
            drawn = true;
            // Behind time (a busy window) it catches up, but not in one burst.
            replay_.last = std::max(*replay_.last + delay, now - 50ms);
        }
        replay_.px = s.x;
        replay_.py = s.y;
    }
    if (drawn)
        surface.present();
    if (replay_.next > segments.segmentCount) {
        replay_.running = false;
        return std::nullopt;
    }
    return std::max(microseconds(0), duration_cast<microseconds>(*replay_.last + delay - now));
}

void Graphics::GrphCmd(int command, DrawingSurface& surface)
{
    if (command != 2)
        return;
    PlotView& v = view;
    v.viewWidth = v.viewWidth * 0.5f;
    const float hw = v.viewWidth * 0.5f;
    v.viewHeight = v.viewHeight * 0.5f;
    const float hh = v.viewHeight * 0.5f;
    v.minX = v.centreX - hw;
    v.maxX = hw + v.centreX;
    v.maxY = hh + v.centreY;
    v.minY = v.centreY - hh;
    GrSub(surface);
}

} // namespace tarvex
