// The DXF writer: the segment table as LINE, POINT, ARC and CIRCLE entities
// on the layer "NC", after a fixed header and table section.
#include "platform/Cpu.h"
#include "platform/FileSystem.h"
#include "platform/UiServices.h"
#include "toolpath/Graphics.h"
#include "platform/Numbers.h"

#include <cmath>
#include <functional>

namespace tarvex {

extern const char* const dxfHeaderTemplate; // the 139 lines after "$CLAYER", from the resources

namespace {

constexpr std::string_view lineHead = "  0\r\nLINE\r\n  8\r\nNC\r\n 62\r\n     5\r\n  6\r\nCONTINUOUS\r\n";
constexpr std::string_view pointHead = "  0\r\nPOINT\r\n  8\r\nNC\r\n 62\r\n     5\r\n";
constexpr std::string_view arcHead = "  0\r\nARC\r\n  8\r\nNC\r\n 62\r\n     5\r\n  6\r\nCONTINUOUS\r\n";
constexpr std::string_view circleHead = "  0\r\nCIRCLE\r\n  8\r\nNC\r\n 62\r\n     5\r\n  6\r\nCONTINUOUS\r\n";

const NumberPattern coordinate("####0.0#######");
const NumberPattern arcRadius("####0.0##############");
const NumberPattern angle("#####0.0############");
constexpr double degreesPerRadian = 57.2957795130823;

class DxfText {
public:
    explicit DxfText(std::string& out) : out_(out) {}
    DxfText& operator()(const char* line)
    {
        out_.append(line).append("\r\n");
        return *this;
    }
    // The group lines that open an entity, as one block.
    DxfText& entityHead(std::string_view head)
    {
        out_.append(head);
        return *this;
    }
    template <class Number> DxfText& number(Number value, const NumberPattern& pattern)
    {
        appendPattern(out_, value, pattern);
        out_.append("\r\n");
        return *this;
    }
    DxfText& point(const char* xCode, const char* yCode, const char* zCode, float x, float y)
    {
        (*this)(xCode).number(x, coordinate)(yCode).number(y, coordinate);
        return (*this)(zCode)("0.0");
    }
    // A line from the end of the line before it: that point's text is kept and reused.
    DxfText& lineFrom(float x, float y)
    {
        if (!(lastSet_ && x == lastX_ && y == lastY_)) {
            lastText_[0].clear();
            lastText_[1].clear();
            appendPattern(lastText_[0], x, coordinate);
            appendPattern(lastText_[1], y, coordinate);
        }
        out_.append(" 10\r\n").append(lastText_[0]).append("\r\n 20\r\n").append(lastText_[1]).append("\r\n 30\r\n0.0\r\n");
        return *this;
    }
    DxfText& lineTo(float x, float y)
    {
        lastText_[0].clear();
        lastText_[1].clear();
        appendPattern(lastText_[0], x, coordinate);
        appendPattern(lastText_[1], y, coordinate);
        lastX_ = x;
        lastY_ = y;
        lastSet_ = true;
        out_.append(" 11\r\n").append(lastText_[0]).append("\r\n 21\r\n").append(lastText_[1]).append("\r\n 31\r\n0.0\r\n");
        return *this;
    }

private:
    std::string& out_;
    std::string lastText_[2];
    float lastX_ = 0, lastY_ = 0;
    bool lastSet_ = false;
};

} // namespace

// The drawing of the segment table, handed to sink piece by piece.
Error dxfDrawing(const SegmentTable& segments, const std::function<Error(std::string_view)>& sink)
{
    std::string out;
    out.reserve(1 << 20);
    DxfText dxf(out);
    auto drain = [&](std::size_t atLeast) -> Error {
        if (out.size() < atLeast)
            return {};
        Error e = sink(out);
        out.clear();
        return e;
    };
    dxf("  0")("SECTION")("  2")("HEADER")("999")("TARVEX")("  9")("$CLAYER")("  8")("NC")("  9");
    for (const char* p = dxfHeaderTemplate; *p;) {
        const char* nl = p;
        while (*nl && *nl != '\n')
            ++nl;
        out.append(p, nl).append("\r\n");
        p = *nl ? nl + 1 : nl;
    }
    dxf("  0")("TABLE")("  2")("LAYER")(" 70")("     1")("  0")("LAYER")("  2")("NC")(" 70")("     0")(" 62")("     5")
        ("  6")("CONTINUOUS")("  0")("ENDTAB")("  0")("ENDSEC")("  0")("SECTION")("  2")("BLOCKS")("  0")("ENDSEC")
        ("  0")("SECTION")("  2")("ENTITIES");
    float px = 0, py = 0;
    for (int n = 0; n <= segments.segmentCount; ++n) {
        const PathSegment& s = segments[n];
        const int motion = static_cast<int>(s.motion);
        if (motion == 1) {
            if (s.x != px || s.y != py)
                dxf.entityHead(lineHead).lineFrom(px, py).lineTo(s.x, s.y);
            else
                dxf.entityHead(pointHead).point(" 10", " 20", " 30", s.x, s.y);
        } else if (motion == 2 || motion == 3) {
            const float r = std::sqrt(s.j * s.j + s.i * s.i);
            const float cx = px + s.i, cy = py + s.j;
            float aS, aE;
            arcAngles(px, py, s.x, s.y, s.i, s.j, aS, aE, true);
            // DXF arcs run counter-clockwise: a clockwise move goes from its end angle to its start.
            const float first = motion == 2 ? aE : aS, second = motion == 2 ? aS : aE;
            if (first != second) {
                dxf.entityHead(arcHead).point(" 10", " 20", " 30", cx, cy);
                dxf(" 40").number(r, arcRadius);
                dxf(" 50").number(static_cast<double>(first) * degreesPerRadian, angle);
                dxf(" 51").number(static_cast<double>(second) * degreesPerRadian, angle);
            } else {
                dxf.entityHead(circleHead).point(" 10", " 20", " 30", cx, cy);
                dxf(" 40").number(r, coordinate);
            }
        }
        px = s.x;
        py = s.y;
        if (Error e = drain(1 << 20))
            return e;
    }
    dxf("  0")("ENDSEC")("  0")("EOF");
    return drain(0);
}

void Graphics::DxfSave(std::string_view programText, EventLoop& events)
{
    clearUpperVectorState();
    WirFmt(programText);
    events.yield();
}

// Written from the segments in memory, to a temporary file beside the target
// renamed over it: another expansion cannot change what is written, and a
// failed write leaves no drawing and the old file intact.
Error Graphics::writeDxf(const std::string& path)
{
    Error e;
    auto writer = fs_.createFile(path, true, e);
    if (!writer)
        return e;
    if ((e = dxfDrawing(segments, [&](std::string_view piece) { return writer->write(piece); })))
        return e;
    return writer->commit();
}

} // namespace tarvex
