#pragma once
// A data folder in memory with a subprogram store, a marking folder and the
// toolpath state, for the expansion, plotting and DXF tests.
#include "platform/posix/Cp932Codec.h"
#include "tests/fakes/Fakes.h"
#include "toolpath/Graphics.h"
#include "toolpath/ConditionTable.h"

#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>

namespace tarvex::testing {

struct ToolpathTest : ::testing::Test {
    fakes::MemoryFileSystem fs;
    Cp932Codec codec;
    ConditionTable conditions;
    static SegmentTable& table()
    {
        static SegmentTable t; // a million records: made once for all tests
        return t;
    }
    Graphics g{fs, codec, "/home/", table(), conditions};

    ToolpathTest()
    {
        for (const char* f : {"/home", "/home/SUBPRO", "/home/Mcode"})
            fs.folders.insert(f);
        for (int n = 0; n < 16; ++n)
            table()[n].selected = 0;
    }
    void store(const std::string& name, const std::string& text) { fs.files["/home/SUBPRO/" + name] = text; }
    void marking(const std::string& name, const std::string& text = " 1 \r\n 255 \r\nG01X1.\r\n")
    {
        fs.files["/home/Mcode/" + name] = text;
    }
    ExpansionEnd expand(const std::string& text) { return g.WirFmt(text); }

    // The segments as "x y i j motion condition", numbers as %g.
    std::vector<std::string> segments() const
    {
        std::vector<std::string> out;
        char buf[160];
        for (int n = 0; n <= table().segmentCount; ++n) {
            const PathSegment& s = table()[n];
            std::snprintf(buf, sizeof buf, "%g %g %g %g %g %g", s.x, s.y, s.i, s.j, s.motion, s.condition);
            out.push_back(buf);
        }
        return out;
    }
    std::vector<float> extents() const { return {g.view.minX, g.view.maxX, g.view.minY, g.view.maxY}; }

    // Full circles (back at the start, I and J given) from points with three
    // decimals, where the centre rounds in single precision: a bolt-hole
    // pattern, and the point of a real program.
    static std::string fullCircles(int& count)
    {
        std::string program = "G00X-129.108Y-31.624998\r\nG03X-129.108Y-31.624998I-5.J-4.\r\n";
        count = 1;
        char line[160];
        for (int k = 0; k < 60; ++k, ++count) {
            const double a = k * 0.10471975511965977, x = 73.217 + 41.5 * std::cos(a), y = -12.683 + 41.5 * std::sin(a);
            std::snprintf(line, sizeof line, "G00X%.3fY%.3f\r\nG02X%.3fY%.3fI2.5J-1.25\r\n", x, y, x, y);
            program += line;
        }
        return program;
    }
};

} // namespace tarvex::testing
