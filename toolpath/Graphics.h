#pragma once
#include "platform/DrawingSurface.h"
#include "platform/Error.h"
#include "toolpath/Segments.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace tarvex {

class EventLoop;
class FileSystem;
class TextCodec;
struct ConditionTable;

// How an expansion ended.
enum class ExpansionEnd {
    Completed, // the extents got their margin
    Failed,    // stopped by an error: the segments so far stay, no margin
};

// What ended an expansion early, and on which line of the program (1 the
// first; a stop inside a subprogram is told at its calling line).
struct ExpansionStop {
    enum Kind { None, Radius, Overflow, Markings, Nesting, File } kind = None;
    long line = 0;
    // A short word for the kind, as the command line prints it.
    const char* word() const;
    // The window's words for it: empty when the expansion went to the end.
    std::string message() const;
};

// The toolpath side of the main window: the expansion of the program into the
// segment table (WirFmt), the plotting pass (GrSub), the replay (GrSub1), the
// zoom about the centre (GrphCmd) and the DXF writer (DxfSave), with the state
// they share: the view, the marking places, the coordinate mode and the
// drawing flags.
class Graphics {
public:
    Graphics(FileSystem& fs, const TextCodec& codec, std::string progDir, SegmentTable& segments,
             ConditionTable& conditions);

    // Expands the program text into the segment table, the extents and the
    // marking table. No message: failures end the expansion quietly.
    ExpansionEnd WirFmt(std::string_view programText);
    // Draws the table on the surface, fitted to it.
    void GrSub(DrawingSurface& surface);
    // Draws the selected elements among first to last thick over the last pass.
    void drawSelected(DrawingSurface& surface, int first, int last);
    // The replay draws the table again element by element over the last
    // pass, waiting before each visible element. It runs in steps that the
    // window's timer drives, so that nothing waits inside it: the window, a
    // running transfer and the speed slider go on meanwhile.
    // GrSub1 begins it; false when there is nothing to draw.
    bool GrSub1(DrawingSurface& surface, int penWidth);
    // Draws what is due at now, waiting the slider's time as it is now
    // before each element; the time until the next element, none once the
    // replay is over (or stopped, or a new expansion began).
    std::optional<std::chrono::microseconds> replayStep(DrawingSurface& surface, int sliderValue,
                                                        std::chrono::steady_clock::time_point now);
    void replayStop() { replay_.running = false; }
    bool replaying() const { return replay_.running; }
    // Zooms in by 2 about the view centre (command 2) and plots.
    void GrphCmd(int command, DrawingSurface& surface);
    // Expands the program for its DXF drawing; writeDxf then writes the
    // drawing of what this expansion holds to a file, atomically.
    void DxfSave(std::string_view programText, EventLoop& events);
    Error writeDxf(const std::string& path);

    // The wait before each replayed element: one yield of the replay's count
    // ((slider × 1000) + 1 yields) lasts this long, on every machine.
    static constexpr long replayMicrosecondsPerYield = 1;


    SegmentTable& segments;
    ConditionTable& conditions;
    PlotView view;
    MarkingTable markings;
    short coordMode = 0; // 90 absolute, 91 incremental; 0 before any choice reads as absolute
    bool blockSkip = false;
    bool showRapids = false;
    bool showMarkings = false;
    // What ended the last expansion early (kind None when it ran to its end).
    ExpansionStop lastStop;
    // A restart preview: the segments before this one are drawn dimmed and
    // the point where it starts is marked; -1 for none.
    int dimBefore = -1;
    // User coordinates of the surface from the last view fit.
    float plotLeft = 0, plotRight = 0, plotTop = 0, plotBottom = 0;
    // A pixel of a surface of the given size (0.5 its centre) in user
    // coordinates; false before any view fit.
    bool userPoint(double px, double py, int width, int height, float& x, float& y) const;

    // Subprogram lines one expansion may interpret before it is ended: calls
    // that multiply each other eight levels deep must not hang the window.
    long subprogramLineBudget = 20'000'000;

private:
    struct Replay {
        bool running = false;
        int next = 0, penWidth = 1;
        float px = 0, py = 0;
        std::optional<std::chrono::steady_clock::time_point> last; // when the last element was due
    } replay_;
    friend class Expansion;
    bool viewFit(DrawingSurface& surface);
    void drawMarkings(DrawingSurface& surface);

    FileSystem& fs_;
    const TextCodec& codec_;
    std::string progDir_;
};

// Start and end angle of an arc from P to E with centre offsets (i, j), in
// (0, 2π]; when forDxf, a result is raised by 2π only when negative, so both
// lie in [0, 2π).
void arcAngles(float px, float py, float ex, float ey, float i, float j, float& start, float& end,
               bool forDxf = false);

// The centre offsets (I, J) from the start S of an arc to E given by its
// radius R, in motion 2 (clockwise) or 3: at most 180 degrees for a positive
// R, at least 180 for a negative one.
enum class RadiusCentre { Ok, TooSmall, Overflow };
RadiusCentre radiusCentre(float sx, float sy, float ex, float ey, float R, int motion, float& I, float& J);

// Draws an arc move (motion 2 or 3) from P: clockwise arcs counter-clockwise
// from the end angle to the start angle.
void drawArcMove(DrawingSurface& surface, float px, float py, const PathSegment& s, std::uint32_t colour);

} // namespace tarvex
