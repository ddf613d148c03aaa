#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace tarvex {

// One move of the expanded toolpath, seven single-precision values.
struct PathSegment {
    float x, y;      // absolute end point
    float i, j;      // arc centre offset from the start point
    float motion;    // 0 rapid, 1 line, 2 clockwise arc, 3 counter-clockwise arc, 8 positioning
    float condition; // display condition 0 to 20
    float selected;  // 1 when part of the measured selection
};

// The expanded toolpath: a table of 1,000,000 records allocated once and
// reused; segmentCount is the index of the last filled record (-1 empty).
// The start of segment n is the end of segment n - 1; segment 0 starts at (0, 0).
struct SegmentTable {
    static constexpr int capacity = 1000000;
    static constexpr int maxCount = 999998; // segmentCount never exceeds it

    SegmentTable() : segmentTable(new PathSegment[capacity]()), line(new std::int32_t[capacity]()) {}
    PathSegment& operator[](int n) { return segmentTable[n]; }
    const PathSegment& operator[](int n) const { return segmentTable[n]; }

    std::unique_ptr<PathSegment[]> segmentTable;
    // The main program's line (from 1) each element comes from: a call's
    // line for the elements of its subprogram.
    std::unique_ptr<std::int32_t[]> line;
    int segmentCount = -1;
};

// The window of the toolpath shown in the plot, in program units.
struct PlotView {
    float minX = 0, maxX = 0, minY = 0, maxY = 0;
    float viewWidth = 0, viewHeight = 0, centreX = 0, centreY = 0;
};

// Places where an M code with a marking drawing occurs.
struct MarkingPlace {
    float x = 0, y = 0;
    std::string name; // e.g. "M08"
};

struct MarkingTable {
    static constexpr int capacity = 1000;
    std::array<MarkingPlace, capacity> markingTable;
    int markingCount = -1;
};

} // namespace tarvex
