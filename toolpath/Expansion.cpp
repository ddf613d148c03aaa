// The expansion: the program text, read line by line with plain substring
// tests, becomes the segment table, the extents and the marking places.
#include "platform/Cpu.h"
#include "platform/FileSystem.h"
#include "platform/TextCodec.h"
#include "toolpath/Graphics.h"
#include "platform/Numbers.h"
#include "toolpath/SubprogramStore.h"
#include "platform/TextLines.h"
#include "toolpath/ConditionTable.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace tarvex {
namespace {

constexpr std::size_t npos = std::string_view::npos;
constexpr int maxNesting = 8;

// What one line contains: the substring tests of the interpreter, gathered in
// one pass over the line, and the first position of each address letter.
struct LineScan {
    bool percent = false, paren = false, g04 = false, g92 = false;
    bool g0 = false, g100 = false, g90 = false, g91 = false, g8 = false, g1 = false, g2 = false, g3 = false;
    bool m98p = false, g65p = false, g22l = false, call = false;
    std::size_t x = npos, y = npos, i = npos, j = npos, r = npos, m = npos, p = npos, l = npos, o = npos;

    explicit LineScan(std::string_view t)
    {
        const std::size_t n = t.size();
        auto at = [&](std::size_t k) { return k < n ? t[k] : '\0'; };
        auto first = [](std::size_t& slot, std::size_t k) {
            if (slot == npos)
                slot = k;
        };
        for (std::size_t k = 0; k < n; ++k) {
            switch (t[k]) {
            case 'G': {
                const char a = at(k + 1), b = at(k + 2), c = at(k + 3);
                if (a == '0') {
                    g0 = true;
                    g1 |= b == '1';
                    g2 |= b == '2';
                    g3 |= b == '3';
                    g04 |= b == '4';
                } else if (a == '1') {
                    g1 = true;
                    g100 |= b == '0' && c == '0';
                } else if (a == '2') {
                    g2 = true;
                    g22l |= b == '2' && c == 'L';
                } else if (a == '3') {
                    g3 = true;
                } else if (a == '8') {
                    g8 = true;
                } else if (a == '9') {
                    g90 |= b == '0';
                    g91 |= b == '1';
                    g92 |= b == '2';
                } else if (a == '6') {
                    g65p |= b == '5' && c == 'P';
                }
                break;
            }
            case 'M':
                first(m, k);
                m98p |= at(k + 1) == '9' && at(k + 2) == '8' && at(k + 3) == 'P';
                break;
            case 'C': call |= at(k + 1) == 'A' && at(k + 2) == 'L' && at(k + 3) == 'L'; break;
            case '%': percent = true; break;
            case '(': paren = true; break;
            case 'X': first(x, k); break;
            case 'Y': first(y, k); break;
            case 'I': first(i, k); break;
            case 'J': first(j, k); break;
            case 'R': first(r, k); break;
            case 'P': first(p, k); break;
            case 'L': first(l, k); break;
            case 'O': first(o, k); break;
            default: break;
            }
        }
    }
};

// Thrown when an error ends the expansion, with what ended it.
struct Stop {
    ExpansionStop::Kind kind;
};
// Thrown when a called program is not in the store: every open level is left.
struct Missing {};

float fatan(float v) { return static_cast<float>(std::atan(static_cast<double>(v))); }
float fcos(float v) { return static_cast<float>(std::cos(static_cast<double>(v))); }
float fsin(float v) { return static_cast<float>(std::sin(static_cast<double>(v))); }

float checked(float v)
{
    if (!std::isfinite(v))
        throw Stop{ExpansionStop::Overflow};
    return v;
}

} // namespace

// The two candidate centres lie on the perpendicular bisector of the chord,
// at distance d = sqrt(R² - c²) from its midpoint M (c the half chord).
// The first candidate is taken unless its sweep is on the wrong side of
// 180 degrees for the sign of R (positive R: at most 180, negative: at least).
RadiusCentre radiusCentre(float prevX, float prevY, float curX, float curY, float R, int motion, float& I, float& J)
{
    constexpr float deg = 57.2957795130824f, rad = 0.0174532925199433f;
    const float hx = (curX - prevX) * 0.5f, hy = (curY - prevY) * 0.5f;
    const float mx = prevX + hx, my = prevY + hy;
    float c = std::sqrt(hx * hx + hy * hy);
    const float R2 = R * R;
    float under = R2 - c * c;
    // A radius or chord within single precision whose square is beyond it:
    // the squares in double. Only a radius or length beyond it is an overflow.
    std::optional<double> wide;
    if (!std::isfinite(c) || !std::isfinite(R2) || !std::isfinite(under)) {
        const double cd = std::hypot(static_cast<double>(hx), static_cast<double>(hy));
        if (!std::isfinite(R) || !(cd <= std::numeric_limits<float>::max()))
            return RadiusCentre::Overflow;
        c = static_cast<float>(cd);
        wide = static_cast<double>(R) * R - cd * cd;
        under = *wide < 0 ? -1.0f : 1.0f;
    }
    // An R that is the half chord but for rounding (the half chord of a
    // chord not exact in binary comes out a unit in the last place off)
    // is a half circle about the midpoint: the square root of a rounding
    // error would move the centre off it, or end the expansion. Only an R
    // truly too small ends it; the rounding comes from the coordinates, so
    // the tolerance scales with the largest of them and R.
    const bool halfCircle = std::fabs(c - std::fabs(R)) <= 1e-6f * std::fabs(R);
    const float scale = std::max({std::fabs(R), std::fabs(prevX), std::fabs(prevY), std::fabs(curX), std::fabs(curY)});
    if (under < 0 && c - std::fabs(R) > 1e-6f * scale)
        return RadiusCentre::TooSmall;
    const float d = halfCircle || under < 0 ? 0.0f : wide ? static_cast<float>(std::sqrt(*wide)) : std::sqrt(under);
    const float a = hx != 0 ? fatan(hy / hx) * deg + 90.0f : 180.0f;
    const float ca = fcos(a * rad), sa = fsin(a * rad);
    const float cx = mx + d * ca, cy = my + d * sa;
    // Start angle seen from the centre, then the end angle, in degrees.
    const float sx = cx - prevX, sy = cy - prevY;
    float b = sx != 0 ? std::fabs(fatan(sy / sx)) * deg : 90.0f;
    if (sx >= 0 && sy >= 0)
        b += 180;
    else if (sx >= 0 && sy < 0)
        b = 180 - b;
    else if (sx < 0 && sy >= 0)
        b = 360 - b;
    const float ex = curX - cx, ey = curY - cy;
    float e = ex != 0 ? std::fabs(fatan(ey / ex)) * deg : 90.0f;
    if (ex >= 0 && ey < 0)
        e = 360 - e;
    else if (ex < 0 && ey >= 0)
        e = 180 - e;
    else if (ex < 0 && ey < 0)
        e += 180;
    float sweep;
    if (motion == 3) {
        if (b > e)
            e += 360;
        sweep = std::fabs(e - b);
    } else {
        if (e > b)
            b += 360;
        sweep = std::fabs(b - e);
    }
    I = sx;
    J = sy;
    if ((R > 0 && sweep > 180) || (R < 0 && sweep < 180)) {
        const float ox = mx - d * ca, oy = my - d * sa;
        I = ox - prevX;
        J = oy - prevY;
    }
    return std::isfinite(I) && std::isfinite(J) ? RadiusCentre::Ok : RadiusCentre::Overflow;
}

class Expansion {
public:
    Expansion(Graphics& g, FileSystem& fs, const TextCodec& codec, const std::string& progDir)
        : g_(g), fs_(fs), codec_(codec), progDir_(progDir)
    {
        for (int k = 1; k < ConditionTable::count; ++k) {
            const std::string& name = g.conditions.conditionName[k];
            if (name.empty())
                continue;
            // The first character may be a multi-byte one.
            auto lead = static_cast<unsigned char>(name[0]);
            std::size_t len = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
            len = std::min(len, name.size());
            bool overflow = false;
            double value = leadingValue(std::string_view(name).substr(len), &overflow);
            if (overflow)
                continue; // such a name can never match
            conditions_.push_back({k, name.substr(0, len), value});
        }
    }

    ExpansionEnd run(std::string_view text)
    {
        SegmentTable& t = g_.segments;
        t.segmentCount = -1;
        g_.markings.markingCount = -1;
        g_.view.minX = g_.view.maxX = g_.view.maxY = g_.view.minY = 0;
        g_.lastStop = {};
        long lineNumber = 0;
        try {
            // The marking drawings that exist; a missing folder has none.
            if (auto names = fs_.list(joinPath(progDir_, "Mcode")))
                markingNames_.insert(names->begin(), names->end());
            // The text is read where it is, not through a work file another
            // expansion (another window, a script) could rewrite meanwhile.
            TextLines lines(text);
            std::string_view line;
            while (lines.next(line)) {
                line_ = ++lineNumber;
                mainLine(line);
            }
        } catch (const Stop& stop) {
            g_.lastStop = {stop.kind, lineNumber};
            return ExpansionEnd::Failed;
        }
        g_.view.minX -= 5;
        g_.view.maxX += 5;
        g_.view.maxY += 5;
        g_.view.minY -= 5;
        return ExpansionEnd::Completed;
    }

private:
    struct Condition {
        int index;
        std::string letter;
        double value;
    };

    void mainLine(std::string_view line)
    {
        if ((!line.empty() && line[0] == '/' && g_.blockSkip) || (!line.empty() && line[0] == '('))
            return;
        matchCondition(line);
        const LineScan s(line);
        // A main-program line is interpreted only when it holds X or Y; the
        // condition was matched just above and would match the same again.
        if (s.x != npos || s.y != npos)
            interpret(line, s, false);
        try {
            if (s.m98p || s.g65p)
                call(callName('O', after(line, s.p)), 1);
            else if (s.g22l)
                call(callName('L', after(line, s.l)), 1);
            else if (s.call)
                call(callName('O', after(line, s.o)), 1);
            else if (s.m != npos)
                mark(line, s.m);
        } catch (const Missing&) {
            // The calling line has no further effect.
        }
    }

    // The text after position p, or the whole line when the letter is absent.
    static std::string_view after(std::string_view line, std::size_t p) { return p == npos ? line : line.substr(p + 1); }

    const std::string* program(const std::string& name)
    {
        auto it = store_.find(name);
        if (it == store_.end()) {
            std::string bytes;
            if (Error e = readStored(fs_, progDir_, name, bytes)) {
                // Not stored, or a name no file can have (300 digits), or no
                // file at all in its place: a call to it is skipped.
                if (e.number == 53 || e.number == 52 || e.number == 75)
                    throw Missing{};
                throw Stop{ExpansionStop::File};
            }
            it = store_.emplace(name, codec_.decode(bytes)).first;
        }
        return &it->second;
    }

    void call(const std::string& name, int level)
    {
        const std::string* text = program(name);
        TextLines lines(*text);
        std::string_view line;
        while (lines.next(line)) {
            if (--g_.subprogramLineBudget < 0)
                throw Stop{ExpansionStop::Nesting};
            if (!line.empty() && line[0] == '/' && g_.blockSkip)
                continue;
            const LineScan s(line);
            if (level < maxNesting && (s.m98p || s.g65p))
                call(callName('O', after(line, s.p)), level + 1);
            else if (level < maxNesting && s.g22l)
                call(callName('L', after(line, s.l)), level + 1);
            else if (level < maxNesting && s.call && s.o != npos)
                call(callName('O', after(line, s.o)), level + 1);
            else
                interpret(line, s, true);
        }
    }

    // Marking place: "M" and the digits after the first M, at least two of them.
    void mark(std::string_view line, std::size_t m)
    {
        std::size_t k = m + 1;
        while (k < line.size() && line[k] == '0')
            ++k;
        std::size_t end = k;
        while (end < line.size() && line[end] >= '0' && line[end] <= '9')
            ++end;
        std::string digits(line.substr(k, end - k));
        while (digits.size() < 2)
            digits.insert(digits.begin(), '0');
        const std::string name = "M" + digits;
        if (!markingNames_.count(name))
            return;
        MarkingTable& mt = g_.markings;
        if (mt.markingCount + 1 >= MarkingTable::capacity)
            throw Stop{ExpansionStop::Markings}; // a 1001st place
        ++mt.markingCount;
        mt.markingTable[mt.markingCount] = {curX_, curY_, name};
    }

    void matchCondition(std::string_view line)
    {
        for (const Condition& c : conditions_) {
            std::size_t p = line.find(c.letter);
            if (p == npos)
                continue;
            bool overflow = false;
            double v = leadingValue(line.substr(p + c.letter.size()), &overflow);
            if (overflow)
                throw Stop{ExpansionStop::Overflow};
            if (v == c.value) {
                condition_ = static_cast<float>(c.index);
                return;
            }
        }
    }

    static float word(std::string_view line, std::size_t p)
    {
        bool overflow = false;
        float w = addressValue(line, p, overflow);
        if (overflow)
            throw Stop{ExpansionStop::Overflow};
        return w;
    }

    void interpret(std::string_view line, const LineScan& s, bool matchConditions)
    {
        if (s.percent || s.paren || s.g04 || (!line.empty() && line[0] == '/' && g_.blockSkip))
            return;
        float I = 0, J = 0;
        if (matchConditions)
            matchCondition(line);
        if (s.g92) {
            prevX_ = curX_;
            prevY_ = curY_;
            if (s.x != npos)
                offX_ = checked(word(line, s.x) - curX_);
            if (s.y != npos)
                offY_ = checked(word(line, s.y) - curY_);
            return;
        }
        // Each test overrides the earlier ones: G17 sets 1, G28 sets 2, G80-G89 set 8.
        if (s.g0)
            motion_ = 0;
        if (s.g100)
            curX_ = curY_ = 0;
        if (s.g90)
            g_.coordMode = 90;
        if (s.g91)
            g_.coordMode = 91;
        if (s.g8)
            motion_ = 8;
        if (s.g1)
            motion_ = 1;
        if (s.g2)
            motion_ = 2;
        if (s.g3)
            motion_ = 3;
        const bool incremental = g_.coordMode == 91;
        if (s.x != npos)
            curX_ = checked(incremental ? curX_ + word(line, s.x) : word(line, s.x) - offX_);
        if (s.y != npos)
            curY_ = checked(incremental ? curY_ + word(line, s.y) : word(line, s.y) - offY_);
        if (s.i != npos)
            I = word(line, s.i);
        if (s.j != npos)
            J = word(line, s.j);
        // R is the radius of an arc; in a canned cycle it is the R level
        // (the hole is drawn where the cycle positions it).
        if (s.r != npos && (motion_ == 2 || motion_ == 3))
            centreFromRadius(word(line, s.r), I, J);
        if (s.x == npos && s.y == npos)
            return;
        // An element whose length or radius is beyond single precision would
        // be drawn, exported and measured as infinite: the expansion ends here.
        const double dx = static_cast<double>(curX_) - prevX_, dy = static_cast<double>(curY_) - prevY_;
        const bool arc = motion_ == 2 || motion_ == 3;
        constexpr double most = std::numeric_limits<float>::max();
        if (!(std::hypot(dx, dy) <= most) || (arc && !(std::hypot(static_cast<double>(I), J) <= most)))
            throw Stop{ExpansionStop::Overflow};
        prevX_ = curX_;
        prevY_ = curY_;
        SegmentTable& t = g_.segments;
        if (t.segmentCount >= SegmentTable::maxCount)
            return; // the table is full: the move is dropped, the point has moved
        PathSegment& seg = t[++t.segmentCount];
        seg.x = curX_;
        seg.y = curY_;
        seg.i = I;
        seg.j = J;
        seg.motion = motion_;
        seg.condition = condition_;
        t.line[t.segmentCount] = static_cast<std::int32_t>(std::min<long>(line_, INT32_MAX));
        PlotView& v = g_.view;
        if (v.minX > curX_)
            v.minX = curX_;
        if (v.maxX < curX_)
            v.maxX = curX_;
        if (v.maxY < curY_)
            v.maxY = curY_;
        if (v.minY > curY_)
            v.minY = curY_;
    }

    void centreFromRadius(float R, float& I, float& J)
    {
        switch (radiusCentre(prevX_, prevY_, curX_, curY_, R, motion_, I, J)) {
        case RadiusCentre::Ok: return;
        case RadiusCentre::TooSmall: throw Stop{ExpansionStop::Radius};
        case RadiusCentre::Overflow: throw Stop{ExpansionStop::Overflow};
        }
    }

    Graphics& g_;
    FileSystem& fs_;
    const TextCodec& codec_;
    const std::string& progDir_;
    std::vector<Condition> conditions_;
    std::set<std::string> markingNames_;
    std::map<std::string, std::string> store_; // programs read during this expansion
    float curX_ = 0, curY_ = 0, prevX_ = 0, prevY_ = 0, offX_ = 0, offY_ = 0;
    float motion_ = 8, condition_ = 0;
    long line_ = 0; // the main program's line being read
};

const char* ExpansionStop::word() const
{
    switch (kind) {
    case Radius: return "radius";     // an R smaller than half the chord
    case Overflow: return "overflow"; // a number beyond single precision
    case Markings: return "markings"; // more than 1000 marking places
    case Nesting: return "nesting";   // calls that multiply beyond the line budget
    case File: return "file";         // a stored program that cannot be read
    case None: break;
    }
    return "ok";
}

std::string ExpansionStop::message() const
{
    const char* why = "";
    switch (kind) {
    case Radius: why = "円弧の半径が始点と終点の距離の半分より小さい"; break;
    case Overflow: why = "数値が大きすぎる"; break;
    case Markings: why = "マーキングが 1000 箇所を超えた"; break;
    case Nesting: why = "サブプログラムの呼び出しが多すぎる"; break;
    case File: why = "サブプログラムのファイルを読めない"; break;
    case None: return {};
    }
    return "展開は " + std::to_string(line) + " 行で中止しました（" + why + "ため）。";
}

ExpansionEnd Graphics::WirFmt(std::string_view programText)
{
    clearUpperVectorState();
    replay_.running = false; // its elements are about to change
    const long budget = subprogramLineBudget;
    ExpansionEnd end = Expansion(*this, fs_, codec_, progDir_).run(programText);
    subprogramLineBudget = budget;
    return end;
}

} // namespace tarvex
