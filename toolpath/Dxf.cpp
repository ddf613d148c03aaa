// The DXF writer: the segment table as LINE, POINT, ARC and CIRCLE entities
// on the layer "NC", after a fixed header and table section.
#include "platform/FileSystem.h"
#include "platform/UiServices.h"
#include "toolpath/Graphics.h"
#include "toolpath/Numbers.h"

#include <cmath>

namespace tarvex {

extern const char* const dxfHeaderTemplate; // the 139 lines after "$CLAYER", from the resources

namespace {

constexpr const char* coordinate = "####0.0#######";
constexpr const char* arcRadius = "####0.0##############";
constexpr const char* angle = "#####0.0############";
constexpr double degreesPerRadian = 57.2957795130823;

class DxfText {
public:
    explicit DxfText(std::string& out) : out_(out) {}
    DxfText& operator()(const char* line)
    {
        out_.append(line).append("\r\n");
        return *this;
    }
    DxfText& operator()(const std::string& line) { return (*this)(line.c_str()); }
    DxfText& entityHead(const char* type, bool lineType)
    {
        (*this)("  0")(type)("  8")("NC")(" 62")("     5");
        if (lineType)
            (*this)("  6")("CONTINUOUS");
        return *this;
    }
    DxfText& point(const char* xCode, const char* yCode, const char* zCode, float x, float y)
    {
        return (*this)(xCode)(formatPattern(x, coordinate))(yCode)(formatPattern(y, coordinate))(zCode)("0.0");
    }

private:
    std::string& out_;
};

} // namespace

// The whole drawing of the current segment table.
std::string dxfDrawing(const SegmentTable& segments)
{
    std::string out;
    out.reserve(4096 + static_cast<std::size_t>(segments.segmentCount + 1) * 140);
    DxfText dxf(out);
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
                dxf.entityHead("LINE", true).point(" 10", " 20", " 30", px, py).point(" 11", " 21", " 31", s.x, s.y);
            else
                dxf.entityHead("POINT", false).point(" 10", " 20", " 30", s.x, s.y);
        } else if (motion == 2 || motion == 3) {
            const float r = std::sqrt(s.j * s.j + s.i * s.i);
            const float cx = px + s.i, cy = py + s.j;
            float aS, aE;
            arcAngles(px, py, s.x, s.y, s.i, s.j, aS, aE, true);
            // DXF arcs run counter-clockwise: a clockwise move goes from its end angle to its start.
            const float first = motion == 2 ? aE : aS, second = motion == 2 ? aS : aE;
            if (first != second) {
                dxf.entityHead("ARC", true).point(" 10", " 20", " 30", cx, cy);
                dxf(" 40")(formatPattern(r, arcRadius));
                dxf(" 50")(formatPattern(static_cast<double>(first) * degreesPerRadian, angle));
                dxf(" 51")(formatPattern(static_cast<double>(second) * degreesPerRadian, angle));
            } else {
                dxf.entityHead("CIRCLE", true).point(" 10", " 20", " 30", cx, cy);
                dxf(" 40")(formatPattern(r, coordinate));
            }
        }
        px = s.x;
        py = s.y;
    }
    dxf("  0")("ENDSEC")("  0")("EOF");
    return out;
}

Error Graphics::DxfSave(std::string_view programText, EventLoop& events)
{
    WirFmt(programText);
    std::string templateText;
    for (const char* p = dxfHeaderTemplate; *p; ++p) {
        if (*p == '\n')
            templateText += '\r';
        templateText += *p;
    }
    if (Error e = fs_.writeFile(workFile("BAK1.DAT"), templateText, false))
        return e;
    events.yield();
    if (Error e = fs_.writeFile(workFile("BAK.DAT"), dxfDrawing(segments), false))
        return e;
    events.yield();
    return {};
}

} // namespace tarvex
