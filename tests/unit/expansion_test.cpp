#include "tests/unit/toolpath_fixture.h"

using namespace tarvex;
using Expansion = tarvex::testing::ToolpathTest;
using Strings = std::vector<std::string>;

TEST_F(Expansion, EmptyProgramLeavesAnEmptyTableAndAMarginAroundTheOrigin)
{
    EXPECT_EQ(expand(""), ExpansionEnd::Completed);
    EXPECT_EQ(table().segmentCount, -1);
    EXPECT_EQ(extents(), (std::vector<float>{-5, 5, -5, 5}));
    EXPECT_TRUE(fs.files.empty()); // the text is read in memory: no work file to share
}

TEST_F(Expansion, AddressValuesAndExtents)
{
    struct Row {
        const char* program;
        Strings segments;
        std::vector<float> extents;
    };
    const Row rows[] = {
        {"G90 G01 X10. Y5.", {"10 5 0 0 1 0"}, {-5, 15, -5, 10}},
        {"G90 G01 X10 Y5", {"0.01 0.005 0 0 1 0"}, {-5, 5.01f, -5, 5.005f}},
        {"X1000Y500\r\nX1.Y0.5\r\n", {"1 0.5 0 0 8 0", "1 0.5 0 0 8 0"}, {-5, 6, -5, 5.5f}},
        {"G00X-20.Y-30.\nG01Y40.I3.\n", {"-20 -30 0 0 0 0", "-20 40 3 0 1 0"}, {-25, 5, -35, 45}},
        {"(X100.)\r\nG01X1.(X50.)\r\n", {}, {-5, 5, -5, 5}}, // comments are never interpreted
        {"%\r\nG01X1.\r\nG04X5.\r\n", {"1 0 0 0 1 0"}, {-5, 6, -5, 5}},
        {"G01X#1Y-------", {"0 0 0 0 1 0"}, {-5, 5, -5, 5}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.program);
        EXPECT_EQ(expand(r.program), ExpansionEnd::Completed);
        EXPECT_EQ(segments(), r.segments);
        EXPECT_EQ(extents(), r.extents);
    }
}

TEST_F(Expansion, MotionTestsMatchAnywhereAndTheLastWins)
{
    const std::pair<const char*, float> cases[] = {
        {"G0X1.", 0},  {"G00X1.", 0},  {"G01X1.", 1},  {"G1X1.", 1},   {"G17X1.", 1},  {"G02X1.I1.", 2},
        {"G28X1.", 2}, {"G03X1.I1.", 3}, {"G81X1.", 8}, {"G80X1.", 8},  {"G100X1.", 1}, {"G01G00X1.", 1},
        {"G00G03X1.I1.", 3}, {"N100X1.", 8}, {"G90G17G02X1.I1.", 2},
    };
    for (const auto& [line, motion] : cases) {
        expand(line);
        ASSERT_EQ(table().segmentCount, 0) << line;
        EXPECT_EQ(table()[0].motion, motion) << line;
    }
    // Motion is modal across lines, and starts at 8 in every expansion.
    expand("G01X1.\r\nX2.\r\n");
    EXPECT_EQ(segments(), (Strings{"1 0 0 0 1 0", "2 0 0 0 1 0"}));
    expand("X3.");
    EXPECT_EQ(segments(), (Strings{"3 0 0 0 8 0"}));
}

TEST_F(Expansion, IncrementalModeAndOffsets)
{
    // A main-program line without X or Y is never interpreted.
    expand("G91\r\nG01X1.\r\nX1.\r\n");
    EXPECT_EQ(segments(), (Strings{"1 0 0 0 1 0", "1 0 0 0 1 0"}));
    expand("G91G01X1.\r\nX1.\r\n");
    EXPECT_EQ(segments(), (Strings{"1 0 0 0 1 0", "2 0 0 0 1 0"}));
    EXPECT_EQ(g.coordMode, 91);
    // The mode carries into the next expansion.
    expand("G01X1.\r\nX1.\r\n");
    EXPECT_EQ(segments(), (Strings{"1 0 0 0 1 0", "2 0 0 0 1 0"}));
    expand("G90X5.");
    EXPECT_EQ(g.coordMode, 90);
    // G92 offsets the absolute coordinates and stores no segment.
    expand("G01X10.Y4.\r\nG92X0Y0\r\nG90X5.Y1.\r\n");
    EXPECT_EQ(segments(), (Strings{"10 4 0 0 1 0", "15 5 0 0 1 0"}));
    expand("G01X10.Y10.\r\nG92X20.\r\nX25.Y3.\r\n");
    EXPECT_EQ(segments(), (Strings{"10 10 0 0 1 0", "15 3 0 0 1 0"}));
    // G100 returns to the origin.
    expand("G01X10.Y10.\r\nG100X1.\r\n");
    EXPECT_EQ(segments(), (Strings{"10 10 0 0 1 0", "1 0 0 0 1 0"}));
    // Inside a subprogram a line of modal words alone counts.
    store("O1", "G91\r\nG01X1.\r\nG90\r\n");
    expand("G01X5.\r\nM98P1\r\n");
    EXPECT_EQ(segments(), (Strings{"5 0 0 0 1 0", "6 0 0 0 1 0"}));
}

TEST_F(Expansion, CentreFromRadius)
{
    struct Row {
        const char* program;
        const char* last; // the last segment
    };
    const Row rows[] = {
        {"G02X10.Y0R5.", "10 0 5 0 2 0"},                      // exact half circle
        {"G02X10.Y0R-5.", "10 0 5 0 2 0"},                     // 180 degrees keeps the first centre
        {"G01X10.\r\nG03X0Y10.R10.", "0 10 -10 0 3 0"},        // quarter about the origin
        {"G01X10.\r\nG03X0Y10.R-10.", "0 10 0 10 3 0"},        // three quarters about (10, 10)
        {"G01X10.\r\nG02X0Y10.R10.", "0 10 0 10 2 0"},         // clockwise quarter about (10, 10)
        {"G01X10.\r\nG02X0Y10.R-10.", "0 10 -10 0 2 0"},
        {"G01X0Y10.\r\nG02X10.Y0R10.", "10 0 0 -10 2 0"},      // vertical chords too
        {"G01X5.\r\nG03X5.Y10.R5.", "5 10 0 5 3 0"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(expand(r.program), ExpansionEnd::Completed) << r.program;
        EXPECT_EQ(segments().back(), r.last) << r.program;
    }
}

TEST_F(Expansion, HalfCirclesOnChordsNotExactInBinary)
{
    // The half chord can come out a unit in the last place above R: still a
    // half circle about the chord's middle, and the expansion goes on.
    struct Row {
        const char* program;
        float sx, sy; // start of the arc
        float ex, ey; // its end
    };
    const Row rows[] = {
        {"G01X-.15\r\nG02X.3R.225", -0.15f, 0, 0.3f, 0},
        {"G01X-.15\r\nG03X.3R-.225", -0.15f, 0, 0.3f, 0},
        {"G01X1.1Y2.3\r\nG02X1.1Y-4.1R3.2", 1.1f, 2.3f, 1.1f, -4.1f},
        {"G01X-129.108Y-31.624998\r\nG03X-119.108Y-31.624998R5.", -129.108f, -31.624998f, -119.108f, -31.624998f},
        {"G01X.7Y.1\r\nG02X.1Y.7R.4242641", 0.7f, 0.1f, 0.1f, 0.7f},
        {"G01X49.015\r\nG02X49.715R.35", 49.015f, 0, 49.715f, 0}, // the rounding of 49 is far above R's
    };
    for (const Row& r : rows) {
        ASSERT_EQ(expand(std::string(r.program) + "\r\nG01X0Y0"), ExpansionEnd::Completed) << r.program;
        EXPECT_EQ(g.lastStop.kind, ExpansionStop::None) << r.program;
        ASSERT_EQ(table().segmentCount, 2) << r.program;
        const PathSegment& arc = table()[1];
        EXPECT_NEAR(arc.i, (r.ex - r.sx) / 2, 1e-5) << r.program;
        EXPECT_NEAR(arc.j, (r.ey - r.sy) / 2, 1e-5) << r.program;
    }
}

TEST_F(Expansion, ImpossibleRadiusEndsTheExpansionKeepingWhatWasStored)
{
    EXPECT_EQ(expand("G01X1.\r\nG02X10.Y0R2.\r\nG01X20.\r\n"), ExpansionEnd::Failed);
    EXPECT_EQ(g.lastStop.kind, ExpansionStop::Radius);
    EXPECT_EQ(g.lastStop.line, 2);
    EXPECT_EQ(segments(), (Strings{"1 0 0 0 1 0"}));
    EXPECT_EQ(extents(), (std::vector<float>{0, 1, 0, 0})); // no margin
}

TEST_F(Expansion, OverflowingNumbersEndTheExpansion)
{
    for (std::string program : {"G01X" + std::string(45, '9') + ".", std::string("G01X3e38.\r\nG91X3e38.\r\nX1e38.\r\n"),
                                "G01X1.\r\nG02X2.R" + std::string(39, '9') + "."}) {
        // 3e38 reads as 3 thousandths: the X word stops at the e.
        ExpansionEnd end = expand(program);
        if (program.find('e') != std::string::npos)
            EXPECT_EQ(end, ExpansionEnd::Completed);
        else
            EXPECT_EQ(end, ExpansionEnd::Failed) << program;
    }
    // Two moves that each fit, the point after them not.
    EXPECT_EQ(expand("G91G01X300000000000000000000000000000000000000.\r\nX300000000000000000000000000000000000000.\r\n"),
              ExpansionEnd::Failed);
    EXPECT_EQ(table().segmentCount, 0);
}

TEST_F(Expansion, HowAnExpansionEndsAndWhere)
{
    // A call name that no file can have is a program that is not stored: skipped.
    struct Row {
        std::string program;
        ExpansionStop::Kind kind;
        long line;
    };
    marking("M08");
    std::string places;
    for (int k = 0; k < 1001; ++k)
        places += "M08\r\n";
    store("O1", "M98P1\r\n"); // calls itself for ever
    const Row rows[] = {
        {"G01X1.\r\nM98P" + std::string(300, '7') + "\r\nG01X2.", ExpansionStop::None, 0},
        {"G01X1.\r\n(x)\r\nG01X" + std::string(45, '9') + ".", ExpansionStop::Overflow, 3},
        {"G01X1.\r\n" + places, ExpansionStop::Markings, 1002},
        {"G01X1.\r\nG02X10.R1.", ExpansionStop::Radius, 2},
        // A length whose square is beyond a float is none; one that is
        // itself beyond it is (each number fits).
        {"G01X1" + std::string(19, '0') + ".\r\nX-1" + std::string(19, '0') + ".", ExpansionStop::None, 0},
        {"G01X3" + std::string(38, '0') + ".\r\nX-3" + std::string(38, '0') + ".", ExpansionStop::Overflow, 2},
        {"G01X1.\r\nG02X2.I3" + std::string(38, '0') + ".J3" + std::string(38, '0') + ".", ExpansionStop::Overflow, 2},
        // R in a canned cycle is its R level, no radius.
        {"G01X1.\r\nG99G81X20.Y10.Z-5.R2.F120\r\nX30.", ExpansionStop::None, 0},
    };
    for (const Row& r : rows) {
        expand(r.program);
        EXPECT_EQ(g.lastStop.kind, r.kind) << r.program.substr(0, 40);
        EXPECT_EQ(g.lastStop.line, r.line) << r.program.substr(0, 40);
    }
    EXPECT_EQ(segments().front(), "1 0 0 0 1 0");
    expand("G01X1.\r\nM98P" + std::string(300, '7') + "\r\nG01X2.");
    EXPECT_EQ(segments(), (Strings{"1 0 0 0 1 0", "2 0 0 0 1 0"}));
}

TEST_F(Expansion, SubprogramCallsInTheirThreeForms)
{
    store("O100", "O0100\r\nG91G01X1.\r\nG90\r\nM99\r\n");
    store("L25", "L25\r\nG91G01Y1.\r\nG90\r\nRTS\r\n");
    const std::pair<const char*, Strings> cases[] = {
        {"M98P0100", {"1 0 0 0 1 0"}},
        {"G65P100", {"1 0 0 0 1 0"}},
        {"G22L25", {"0 1 0 0 1 0"}},
        {"CALL O100", {"1 0 0 0 1 0"}},
        {"M98P1234", {}}, // no such program: skipped without a message
        {"M98P100\r\nM98P100\r\n", {"1 0 0 0 1 0", "2 0 0 0 1 0"}},
        {"G01X5.M98P100", {"5 0 0 0 1 0", "6 0 0 0 1 0"}}, // the line moves first, then calls
    };
    for (const auto& [program, expected] : cases) {
        EXPECT_EQ(expand(program), ExpansionEnd::Completed) << program;
        EXPECT_EQ(segments(), expected) << program;
    }
}

TEST_F(Expansion, NestingStopsAtTheEighthLevel)
{
    // Each level moves one step and calls itself: eight levels are entered;
    // at the eighth the call line is interpreted as a plain line.
    store("O1", "G91G01X1.\r\nM98P1\r\nG90\r\n");
    expand("M98P1");
    EXPECT_EQ(table().segmentCount, 7);
    EXPECT_EQ(segments().back(), "8 0 0 0 1 0");

    // A missing program deep down abandons every level that is open.
    store("O2", "G91G01X1.\r\nM98P3\r\nG01X1.\r\n");
    store("O3", "M98P9999\r\nG01Y1.\r\n");
    expand("M98P2\r\nG90G01X20.\r\n");
    EXPECT_EQ(segments(), (Strings{"1 0 0 0 1 0", "20 0 0 0 1 0"}));
}

TEST_F(Expansion, CallsThatMultiplyEachOtherCannotHang)
{
    // Ten calls at each of eight levels would be 10^8 lines: the budget ends it.
    std::string body;
    for (int k = 0; k < 10; ++k)
        body += "M98P5\r\n";
    store("O5", body + "G91G01X1.\r\n");
    g.subprogramLineBudget = 100000;
    EXPECT_EQ(expand("M98P5\r\nG90G01X1.\r\n"), ExpansionEnd::Failed);
    EXPECT_EQ(g.subprogramLineBudget, 100000); // the budget is per expansion
    EXPECT_EQ(expand("G90G01X1.\r\n"), ExpansionEnd::Completed);
}

TEST_F(Expansion, BlockSkip)
{
    const char* program = "/G01X5.\r\nG01X1.\r\n";
    g.blockSkip = false;
    expand(program);
    EXPECT_EQ(table().segmentCount, 1);
    g.blockSkip = true;
    expand(program);
    EXPECT_EQ(segments(), (Strings{"1 0 0 0 1 0"}));
    store("O7", "/G01Y5.\r\nG01Y1.\r\n");
    expand("M98P7");
    EXPECT_EQ(segments(), (Strings{"0 1 0 0 1 0"}));
}

TEST_F(Expansion, ConditionsAreModalAndTheFirstNameWins)
{
    conditions.conditionName[1] = "T1";
    conditions.conditionName[2] = "T2";
    conditions.conditionName[3] = "D12";
    conditions.conditionName[4] = "T2"; // never reached: T2 matches first at 2
    expand("G01X1.\r\nT02M06\r\nX2.\r\nX3.D12\r\nT 1\r\nX4.\r\nT3\r\nX5.\r\n");
    EXPECT_EQ(segments(), (Strings{"1 0 0 0 1 0", "2 0 0 0 1 2", "3 0 0 0 1 3", "4 0 0 0 1 1", "5 0 0 0 1 1"}));
    // Only the first occurrence of the letter counts.
    expand("G01X1.T2T1\r\n");
    EXPECT_EQ(table()[0].condition, 2);
    // A line beginning with "(" is passed over; one with a comment further on
    // sets the condition but is not interpreted (so G01 has no effect).
    expand("(T2)\r\nG01X1.(T1)\r\nX2.\r\n");
    EXPECT_EQ(segments(), (Strings{"2 0 0 0 8 1"}));
    // Inside subprograms the interpreter matches too; the condition starts at 0 each time.
    store("O8", "T1\r\nG01X1.\r\n");
    expand("M98P8\r\nX2.\r\n");
    EXPECT_EQ(segments(), (Strings{"1 0 0 0 1 1", "2 0 0 0 1 1"}));
    expand("X2.");
    EXPECT_EQ(table()[0].condition, 0);
}

TEST_F(Expansion, MarkingPlacesForMCodesWithADrawing)
{
    marking("M08");
    marking("M8");
    marking("M100");
    expand("G01X1.Y2.\r\nN10 M08\r\nX3.\r\nM8\r\nM100\r\nM09\r\n");
    ASSERT_EQ(g.markings.markingCount, 2);
    EXPECT_EQ(g.markings.markingTable[0].name, "M08");
    EXPECT_EQ(g.markings.markingTable[0].x, 1);
    EXPECT_EQ(g.markings.markingTable[0].y, 2);
    EXPECT_EQ(g.markings.markingTable[1].name, "M08"); // M8 reads as M08
    EXPECT_EQ(g.markings.markingTable[1].x, 3);
    EXPECT_EQ(g.markings.markingTable[2].name, "M100");

    // Only the main program records places.
    store("O9", "M08\r\n");
    expand("M98P9");
    EXPECT_EQ(g.markings.markingCount, -1);
}

TEST_F(Expansion, AMissingMarkingFolderCountsAsEmptyByChoice)
{
    // A deliberate choice: a data folder without "Mcode" expands like one
    // with no drawings, instead of expanding nothing.
    marking("M08");
    fs.folders.erase("/home/Mcode");
    EXPECT_EQ(expand("M08\r\nG01X1.\r\n"), ExpansionEnd::Completed);
    EXPECT_EQ(g.markings.markingCount, -1);
    EXPECT_EQ(table().segmentCount, 0);
}

TEST_F(Expansion, AThousandPlacesAtMost)
{
    marking("M08");
    std::string program;
    for (int k = 0; k < 1000; ++k)
        program += "M08\r\n";
    EXPECT_EQ(expand(program), ExpansionEnd::Completed);
    EXPECT_EQ(g.markings.markingCount, 999);
    EXPECT_EQ(expand(program + "M08\r\nG01X1.\r\n"), ExpansionEnd::Failed);
    EXPECT_EQ(g.markings.markingCount, 999);
}

TEST_F(Expansion, TheTableHoldsNineHundredNinetyNineThousandNineHundredNinetyNineMoves)
{
    std::string program = "G91G01X1.\r\n";
    for (int k = 1; k < 1000005; ++k)
        program += "X1.\n";
    program += "G90X-7.Y-9.\n";
    EXPECT_EQ(expand(program), ExpansionEnd::Completed);
    EXPECT_EQ(table().segmentCount, 999998);
    EXPECT_EQ(table()[999998].x, 999999);
    // Dropped moves leave the extents as they were.
    EXPECT_EQ(extents(), (std::vector<float>{-5, 1000004, -5, 5}));
}

TEST_F(Expansion, SelectedFlagsStayOnTheirIndices)
{
    table()[0].selected = 1;
    expand("G01X1.\r\n");
    EXPECT_EQ(table()[0].selected, 1);
}
