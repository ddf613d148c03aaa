#include "view/PlotTools.h"
#include "platform/Numbers.h"
#include "platform/SettingsStore.h"
#include "program/Estimate.h"
#include "toolpath/Graphics.h"

#include <algorithm>
#include <cmath>

namespace tarvex {
namespace {

constexpr float pi = 3.14159265358979f;
constexpr float twoPi = 6.28318530717959f;

float fatan(float v) { return static_cast<float>(std::atan(static_cast<double>(v))); }

// The angle of (u, v) seen from a centre, in (0, 2π].
float angleOf(float u, float v)
{
    if (u == 0)
        return v >= 0 ? pi / 2 : 3 * pi / 2;
    float a = fatan(v / u) + (u < 0 ? pi : 0.0f);
    if (a <= 0)
        a += twoPi;
    return a;
}

float distance(float x1, float y1, float x2, float y2)
{
    const float dx = x2 - x1, dy = y2 - y1;
    return std::sqrt(dx * dx + dy * dy);
}

} // namespace

ArcGeometry arcGeometry(float px, float py, const PathSegment& s)
{
    ArcGeometry a;
    a.r = std::sqrt(s.i * s.i + s.j * s.j);
    a.cx = px + s.i;
    a.cy = py + s.j;
    const float start = angleOf(-s.i, -s.j);
    // Back at its start about a centre of its own: the full circle, whatever
    // the centre's rounding makes of the end angle.
    const float end = s.x == px && s.y == py && (s.i != 0 || s.j != 0) ? start : angleOf(s.x - a.cx, s.y - a.cy);
    // Both directions run counter-clockwise from lo to hi.
    a.lo = s.motion == 2 ? end : start;
    a.hi = s.motion == 2 ? start : end;
    return a;
}

float ArcGeometry::length() const
{
    float top = hi;
    if (lo > top)
        top += twoPi;
    const float sweep = top - lo;
    return sweep == 0 ? r * twoPi : r * sweep;
}

std::string positionText(float x, float y)
{
    return "X" + formatPattern(x, "####0.0##") + " Y" + formatPattern(y, "####0.0##");
}

std::string lengthReport(double total)
{
    // Shown as the single-precision total it stands for.
    return "選択周長 : " + formatPattern(static_cast<float>(total), "######0.0##") + "㎜";
}

std::string timeReport(double seconds, long noFeed)
{
    return "加工時間 : " + clockText(seconds) + (noFeed > 0 ? "（送りなし " + std::to_string(noFeed) + " 要素）" : "");
}

PathTotals pathTotals(const SegmentTable& t)
{
    PathTotals totals;
    float px = 0, py = 0;
    for (int n = 0; n <= t.segmentCount; ++n) {
        const PathSegment& s = t[n];
        const int motion = static_cast<int>(s.motion);
        if (motion == 0)
            totals.rapid += distance(px, py, s.x, s.y);
        else if (motion == 1)
            totals.cutting += distance(px, py, s.x, s.y);
        else if (motion == 2 || motion == 3)
            totals.cutting += arcGeometry(px, py, s).length();
        px = s.x;
        py = s.y;
    }
    return totals;
}

int lengthToolMode(bool tansen, bool lenzoku, bool select)
{
    if (tansen)
        return select ? tool::singleSelect : tool::singleRelease;
    if (lenzoku)
        return select ? tool::chainSelect : tool::chainRelease;
    return tool::none;
}

ToolWindowPlace toolWindowPlace(const SettingsStore& s, const char* const keys[4], const int defaults[4], int screenWidth,
                                int screenHeight)
{
    int v[4];
    for (int k = 0; k < 4; ++k)
        v[k] = static_cast<int>(
            std::clamp(readNumber(s, "Tarvex", keys[k], static_cast<float>(defaults[k])), -1e9f, 1e9f));
    ToolWindowPlace p{std::max(v[0], 0), std::max(v[1], 0), std::min(v[2], screenWidth), std::min(v[3], screenHeight)};
    // A size that cannot be meant reads as the default.
    if (p.width <= 0)
        p.width = std::min(defaults[2], screenWidth);
    if (p.height <= 0)
        p.height = std::min(defaults[3], screenHeight);
    // Nor does it open beyond the right or bottom edge (a screen since unplugged).
    p.left = std::max(0, std::min(p.left, screenWidth - p.width));
    p.top = std::max(0, std::min(p.top, screenHeight - p.height));
    return p;
}

void saveToolWindowPlace(SettingsStore& s, const char* const keys[4], const ToolWindowPlace& p)
{
    const int v[4] = {p.left, p.top, p.width, p.height};
    for (int k = 0; k < 4; ++k)
        writeNumber(s, "Tarvex", keys[k], static_cast<float>(v[k]));
}

PlotTools::PlotTools(Graphics& graphics, const bool* conditionVisible) : g_(graphics), visible_(conditionVisible) {}

PlotTools::Outcome PlotTools::press(float x, float y, DrawingSurface& surface)
{
    if (toolMode == tool::move || toolMode == tool::zoom) {
        // The clicked point becomes the centre; the window keeps its size.
        PlotView& v = g_.view;
        v.minX += x - v.centreX;
        v.maxX += x - v.centreX;
        v.maxY += y - v.centreY;
        v.minY += y - v.centreY;
        v.centreX = x;
        v.centreY = y;
        if (toolMode == tool::zoom)
            g_.GrphCmd(2, surface);
        else
            g_.GrSub(surface);
        return Outcome::ViewMoved;
    }
    if (toolMode < tool::singleSelect)
        return Outcome::Nothing;
    // The selection is drawn thick: what a pick adds is drawn over the plot,
    // what it releases needs the plot drawn again.
    if (measureAt(x, y)) {
        if (toolMode == tool::singleSelect || toolMode == tool::chainSelect)
            g_.drawSelected(surface, changedFirst_, changedLast_);
        else
            g_.GrSub(surface);
    }
    return Outcome::Measured;
}

bool PlotTools::measureAt(float x, float y)
{
    lastPress = pick(x, y);
    if (lastPress < 0)
        return false;
    if (toolMode == tool::singleSelect || toolMode == tool::singleRelease)
        measureSingle();
    else
        measureChain();
    return true;
}

long PlotTools::pick(float X, float Y)
{
    const SegmentTable& t = g_.segments;
    float best = pickTolerance;
    long picked = -1;
    float px = 0, py = 0;
    for (int n = 0; n <= t.segmentCount; ++n) {
        const PathSegment& s = t[n];
        const int motion = static_cast<int>(s.motion);
        const int c = static_cast<int>(s.condition);
        const bool shown = c >= 0 && c < 21 && visible_[c];
        if (shown && motion == 1) {
            const float dx = s.x - px, dy = s.y - py;
            // Eight tests, each strict: a click must lie inside the line's box
            // (between its ends for an axis-parallel line). Oblique lines are
            // scored by the difference of their dx/dy ratios.
            auto take = [&](bool inside, float score) {
                if (inside && score < best) {
                    best = score;
                    picked = n;
                }
            };
            const bool inX1 = px < X && X < s.x, inX2 = s.x < X && X < px;
            const bool inY1 = py < Y && Y < s.y, inY2 = s.y < Y && Y < py;
            take(dy == 0 && inX1, std::fabs(Y - py));
            take(dy == 0 && inX2, std::fabs(Y - py));
            take(dx == 0 && inY1, std::fabs(X - px));
            take(dx == 0 && inY2, std::fabs(X - px));
            // The slopes only for a click inside the box: a full scan divides rarely.
            if ((inX1 || inX2) && (inY1 || inY2)) {
                const float slopeSeg = dy != 0 ? dx / dy : 0.0f;
                const float ex = s.x - X, ey = s.y - Y;
                const float slopeClick = ey != 0 ? ex / ey : 0.0f;
                const float slope = std::fabs(slopeSeg - slopeClick);
                take(slopeSeg >= 0 && inX1 && inY1, slope);
                take(slopeSeg >= 0 && inX2 && inY2, slope);
                take(slopeSeg < 0 && inX1 && inY2, slope);
                take(slopeSeg < 0 && inX2 && inY1, slope);
            }
        } else if (shown && (motion == 2 || motion == 3)) {
            // The distance first; the angles only for an arc the click is near.
            const float r = std::sqrt(s.i * s.i + s.j * s.j);
            const float D = distance(px + s.i, py + s.j, X, Y);
            if (D - best < r && r < D + best) {
                const ArcGeometry a = arcGeometry(px, py, s);
                const float A = angleOf(X - a.cx, Y - a.cy);
                // A range through angle 0 is all but the gap between hi and lo; a
                // full circle has no gap at all, not even at its start.
                const bool within = a.lo < a.hi   ? a.lo < A && A < a.hi
                                    : a.lo == a.hi ? true
                                                   : !(a.hi <= A && A <= a.lo);
                if (within) {
                    best = std::fabs(a.r - D);
                    picked = n;
                    pickedLo_ = a.lo;
                    pickedHi_ = a.hi;
                }
            }
        }
        px = s.x;
        py = s.y;
    }
    if (picked >= 0)
        pickedSegment = picked;
    return picked;
}

void PlotTools::measureSingle()
{
    const SegmentTable& t = g_.segments;
    PathSegment& s = g_.segments[static_cast<int>(pickedSegment)];
    float length;
    if (s.motion > 1) {
        ArcGeometry a;
        a.r = std::sqrt(s.i * s.i + s.j * s.j);
        a.lo = pickedLo_;
        a.hi = pickedHi_;
        length = a.length();
    } else {
        const float px = pickedSegment > 0 ? t[static_cast<int>(pickedSegment) - 1].x : 0.0f;
        const float py = pickedSegment > 0 ? t[static_cast<int>(pickedSegment) - 1].y : 0.0f;
        length = distance(px, py, s.x, s.y);
    }
    changedFirst_ = changedLast_ = static_cast<int>(pickedSegment);
    if (toolMode == tool::singleSelect && s.selected == 0)
        select(static_cast<int>(pickedSegment), length);
    else if (toolMode == tool::singleRelease && s.selected == 1)
        release(static_cast<int>(pickedSegment), length);
}

void PlotTools::select(int n, float length)
{
    g_.segments[n].selected = 1;
    ++selectedCount_;
    selectedLength += length;
    if (timeOf) {
        // Kept, so that a release takes away what was added, whatever the
        // path or its feeds have become since.
        if (!timed_)
            timed_.reset(new float[SegmentTable::capacity]);
        const auto t = timeOf(n, length);
        timed_[n] = t ? static_cast<float>(*t) : -1;
        selectedSeconds += t.value_or(0);
        selectedNoFeed += !t;
    }
}

void PlotTools::release(int n, float length)
{
    g_.segments[n].selected = 0;
    // With nothing left selected the totals are exactly 0, whatever rounding
    // the additions and subtractions left over.
    selectedLength = --selectedCount_ > 0 ? selectedLength - length : 0;
    if (timed_) {
        const float t = timed_[n];
        selectedSeconds = selectedCount_ > 0 ? selectedSeconds - std::max(t, 0.0f) : 0;
        selectedNoFeed = selectedCount_ > 0 ? selectedNoFeed - (t < 0) : 0;
    }
}

void PlotTools::measureChain()
{
    SegmentTable& t = g_.segments;
    // The chain runs from the rapid move before the picked element to the
    // next rapid move; before any rapid it starts at segment 0, from the origin.
    int start = static_cast<int>(pickedSegment);
    while (start >= 0 && static_cast<int>(t[start].motion) != 0)
        --start;
    float px = start >= 0 ? t[start].x : 0.0f, py = start >= 0 ? t[start].y : 0.0f;
    changedFirst_ = start + 1;
    int n = start + 1;
    for (; n <= t.segmentCount; ++n) {
        PathSegment& s = t[n];
        const int motion = static_cast<int>(s.motion);
        if (motion == 0)
            break;
        // A positioning move is passed over, but the path goes on from its end,
        // as the plot draws it.
        if (motion == 1 || motion == 2 || motion == 3) {
            const float length = motion == 1 ? distance(px, py, s.x, s.y) : arcGeometry(px, py, s).length();
            if (toolMode == tool::chainSelect && s.selected == 0)
                select(n, length);
            else if (toolMode == tool::chainRelease && s.selected == 1)
                release(n, length);
        }
        px = s.x;
        py = s.y;
    }
    changedLast_ = n - 1;
}

void PlotTools::clearSelection()
{
    // Records beyond the current path too: a shorter expansion (block skip)
    // leaves their flags, which a longer one would bring back.
    SegmentTable& t = g_.segments;
    for (int n = 0; n < SegmentTable::capacity; ++n)
        t[n].selected = 0;
    selectedLength = selectedSeconds = 0;
    selectedCount_ = selectedNoFeed = 0;
}

} // namespace tarvex
