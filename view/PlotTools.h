#pragma once
#include <functional>
#include <memory>
#include <optional>
#include "toolpath/Segments.h"

#include <string>

namespace tarvex {

class DrawingSurface;
class Graphics;

// The mouse tools of the plot: toolMode values.
namespace tool {
inline constexpr int none = 0, move = 701, zoom = 708;
inline constexpr int singleSelect = 8000, singleRelease = 8001, chainSelect = 8100, chainRelease = 8101;
} // namespace tool

// The keys of the graphics toolbar Toolbar1, in its order.
enum class ToolKey { ref, zoom, moov, mcode, skip, g0, vw, lng, play };
inline constexpr const char* toolKeyName[] = {"ref", "zoom", "moov", "mcode", "skip", "g0", "vw", "lng", "play"};

// The tool of the path length window: its pressed button and option.
int lengthToolMode(bool tansen, bool lenzoku, bool select);

// Where a tool window opens, in twips, from its four settings: a size larger
// than the screen becomes the screen's, and the window lies on the screen.
struct ToolWindowPlace {
    int left = 0, top = 0, width = 0, height = 0;
};
class SettingsStore;
ToolWindowPlace toolWindowPlace(const SettingsStore& s, const char* const keys[4], const int defaults[4], int screenWidth,
                                int screenHeight);
void saveToolWindowPlace(SettingsStore& s, const char* const keys[4], const ToolWindowPlace& place);

// An arc seen from its centre: the angles it covers counter-clockwise from lo
// to hi (radians, in (0, 2π]); lo == hi is a full circle.
struct ArcGeometry {
    float cx = 0, cy = 0, r = 0, lo = 0, hi = 0;
    float length() const; // r × sweep, 2πr for a full circle
};
ArcGeometry arcGeometry(float px, float py, const PathSegment& s);

// The status-bar text of the pointer: "X12.5 Y-3.25".
std::string positionText(float x, float y);
// The path length window's text: "選択周長 : 152.36㎜".
std::string lengthReport(double total);
// Beside it, the selection's time: "加工時間 : 0:01:23", with the elements
// that have no feed in force ("（送りなし 2 要素）").
std::string timeReport(double seconds, long noFeed);

// The lengths a shop asks of a program: cutting moves (lines and arcs) and rapids.
struct PathTotals {
    double cutting = 0, rapid = 0;
};
PathTotals pathTotals(const SegmentTable& t);

// Pick, measure, move and zoom on the plot: the presses of the mouse tools,
// over the segment table and the view of the main window's graphics.
class PlotTools {
public:
    PlotTools(Graphics& graphics, const bool* conditionVisible);

    enum class Outcome {
        Nothing,  // no tool: the press does nothing
        ViewMoved, // the view moved or zoomed and was redrawn
        Measured, // a measuring press: the report is to be rewritten (and the plot was redrawn when picked)
    };
    // A press at a point of the plot in the current tool.
    Outcome press(float x, float y, DrawingSurface& surface);

    // A measuring tool's pick and measure at a point, without the redraw:
    // false when nothing was picked.
    bool measureAt(float x, float y);
    // The element nearest the point within the pick tolerance, -1 for none.
    long pick(float x, float y);
    // Clears every selection and the total (the path length window closes).
    void clearSelection();

    int toolMode = tool::none;
    // The index of the last pick: any index of the table, not only 16 bits.
    long pickedSegment = -1;
    // What the last measuring press picked, -1 when it missed.
    long lastPress = -1;
    // Added up in double: selecting and releasing many elements leaves no residue.
    double selectedLength = 0;
    // The time of an element of the selection, none when no feed is in
    // force for it; without it no time is kept.
    std::function<std::optional<double>(int element, double length)> timeOf;
    double selectedSeconds = 0;
    long selectedNoFeed = 0; // elements of the selection with no feed in force
    static constexpr float pickTolerance = 2.0f;

private:
    void measureSingle();
    void measureChain();
    void select(int n, float length);
    void release(int n, float length);

    Graphics& g_;
    const bool* visible_;
    float pickedLo_ = 0, pickedHi_ = 0; // the picked arc's range
    long selectedCount_ = 0;
    int changedFirst_ = 0, changedLast_ = -1; // the records the last press went over
    std::unique_ptr<float[]> timed_;          // the time each selected element added, -1 none
};

} // namespace tarvex
