#include "tests/unit/toolpath_fixture.h"

using namespace tarvex;
using Strings = std::vector<std::string>;

namespace {
struct Plotting : tarvex::testing::ToolpathTest {
    fakes::RecordingSurface surface;
    Strings plot(const std::string& program)
    {
        expand(program);
        surface.calls.clear();
        g.GrSub(surface);
        return surface.drawn();
    }
};
constexpr const char* white = " c=16777215";
} // namespace

TEST_F(Plotting, EmptyTableClearsAndDrawsNothing)
{
    plot("");
    EXPECT_EQ(surface.calls, (Strings{"coords -10 5 10 -5", "clear", "present"}));
}

TEST_F(Plotting, ViewFitKeepsTheScaleEqualAndCentresTheWindow)
{
    struct Row {
        int w, h;
        float minX, maxX, minY, maxY;
        const char* coords;
    };
    const Row rows[] = {
        {200, 100, -5, 5, -5, 5, "coords -10 5 10 -5"},  // wide surface: the height decides
        {100, 200, -5, 5, -5, 5, "coords -5 10 5 -10"},  // tall surface: the width decides
        {300, 100, 0, 30, 0, 10, "coords 0 10 30 0"},    // exact fit
        {100, 100, 0, 40, 0, 10, "coords 0 25 40 -15"},
    };
    for (const Row& r : rows) {
        surface.w = r.w;
        surface.h = r.h;
        g.view = {};
        g.view.minX = r.minX, g.view.maxX = r.maxX, g.view.minY = r.minY, g.view.maxY = r.maxY;
        table().segmentCount = -1;
        surface.calls.clear();
        g.GrSub(surface);
        EXPECT_EQ(surface.calls.front(), r.coords);
    }
    // A surface without size, or a window without extent, draws nothing at all.
    surface.w = 0;
    surface.calls.clear();
    g.GrSub(surface);
    EXPECT_TRUE(surface.calls.empty());
}

TEST_F(Plotting, EachMotionHasItsMark)
{
    EXPECT_EQ(plot("G00X10."), (Strings{std::string("dot 10 0") + white + " w=1"}));
    g.showRapids = true;
    EXPECT_EQ(plot("G00X10."), (Strings{std::string("line 0 0 10 0") + white + " w=1 dotted"}));
    EXPECT_EQ(plot("G81X5.Y5."), (Strings{std::string("dot 5 5") + white + " w=2"}));
    EXPECT_EQ(plot("G01X3.\r\nY4."), (Strings{std::string("line 0 0 3 0") + white + " w=1",
                                              std::string("line 3 0 3 4") + white + " w=1"}));
    table()[1].selected = 1;
    surface.calls.clear();
    g.GrSub(surface);
    EXPECT_EQ(surface.drawn()[1], std::string("line 3 0 3 4") + white + " w=3");
}

TEST_F(Plotting, ArcsFollowTheAngleRule)
{
    // From (10, 0) to (0, 10) about the origin: aS = 2π, aE = π/2.
    EXPECT_EQ(plot("G01X10.\r\nG02X0Y10.I-10.J0"), (Strings{std::string("line 0 0 10 0") + white + " w=1",
                                                           std::string("arc 0 0 10 1.570796 6.283185") + white + " w=1"}));
    EXPECT_EQ(plot("G01X10.\r\nG03X0Y10.I-10.J0").back(), std::string("arc 0 0 10 6.283185 1.570796") + white + " w=1");
    // Back at the start point: equal angles, the full circle.
    EXPECT_EQ(plot("G01X10.\r\nG02X10.Y0I-5.J0").back(), std::string("arc 5 0 5 6.283185 6.283185") + white + " w=1");
    // Also where the centre rounds in single precision.
    int circles = 0;
    int full = 0;
    for (const std::string& call : plot(fullCircles(circles))) {
        float cx, cy, r, a1, a2;
        if (std::sscanf(call.c_str(), "arc %f %f %f %f %f", &cx, &cy, &r, &a1, &a2) == 5)
            full += a1 == a2;
    }
    EXPECT_EQ(full, circles);
}

TEST(ArcAngles, QuadrantsOfTheStartAndEndPoints)
{
    struct Row {
        float px, py, ex, ey, i, j;
        float start, end;         // (0, 2π]
        float dxfStart, dxfEnd;   // [0, 2π)
    };
    const float pi = 3.14159265358979f, twoPi = 6.28318530717959f;
    const Row rows[] = {
        {10, 0, 0, 10, -10, 0, twoPi, 1.5707964f, -0.0f, 1.5707964f},
        {0, 10, -10, 0, 0, -10, 1.5707964f, pi, 1.5707964f, pi},
        {-10, 0, 0, -10, 10, 0, pi, 4.712389f, pi, 4.712389f},
        {0, -10, 10, 0, 0, 10, 4.712389f, twoPi, 4.712389f, 0.0f},
        {7.0710678f, 7.0710678f, -7.0710678f, -7.0710678f, -7.0710678f, -7.0710678f, pi / 4, pi + pi / 4, pi / 4,
         pi + pi / 4},
    };
    for (const Row& r : rows) {
        float s, e;
        arcAngles(r.px, r.py, r.ex, r.ey, r.i, r.j, s, e);
        EXPECT_FLOAT_EQ(s, r.start) << r.px << "," << r.py;
        EXPECT_FLOAT_EQ(e, r.end) << r.px << "," << r.py;
        arcAngles(r.px, r.py, r.ex, r.ey, r.i, r.j, s, e, true);
        EXPECT_FLOAT_EQ(s, r.dxfStart) << r.px << "," << r.py;
        EXPECT_FLOAT_EQ(e, r.dxfEnd) << r.px << "," << r.py;
    }
}

TEST_F(Plotting, HiddenConditionsKeepThePathConnectedAndConditionZeroIsWhite)
{
    conditions.conditionName[1] = "T1";
    conditions.conditionName[2] = "T2";
    conditions.conditionColour[1] = 255;
    conditions.conditionColour[2] = 65280;
    conditions.conditionColour[0] = 123; // whatever is stored, condition 0 draws white
    conditions.conditionVisible[1] = false;
    const Strings drawn = plot("G01X1.\r\nT1\r\nX2.\r\nT2\r\nX3.\r\n");
    EXPECT_EQ(drawn, (Strings{std::string("line 0 0 1 0") + white + " w=1", "line 2 0 3 0 c=65280 w=1"}));
}

TEST_F(Plotting, MarkingsAreDrawnFromTheirFilesWhenShown)
{
    marking("M08", " 2 \r\n 255 \r\nG01X1500\r\nG00Y1.\r\nG02X1.Y-1.I0J-1.\r\nX1.\r\n");
    marking("M10", " 1 \r\n 255 \r\nX1.\r\n");
    const std::string program = "G01X10.Y10.\r\nM08\r\nM10\r\n";
    EXPECT_EQ(plot(program).size(), 1u);
    g.showMarkings = true;
    const Strings drawn = plot(program);
    ASSERT_EQ(drawn.size(), 6u);
    // The motion and the centre run on into the next marking: M10's line is the same arc move.
    EXPECT_EQ(drawn[5], "arc 10 9 1 0.7853982 1.570796 c=255 w=1");
    EXPECT_EQ(drawn[1], "line 10 10 11.5 10 c=255 w=2");
    EXPECT_EQ(drawn[2], "dot 11.5 11 c=255 w=2");
    // Clockwise from (11.5, 11) to (12.5, 10) about (11.5, 10): drawn from the end angle 2π to π/2.
    EXPECT_EQ(drawn[3], "arc 11.5 10 1 6.283185 1.570796 c=255 w=2");
    // G02, I and J run on to the next line: from (12.5, 10) to (13.5, 10) about (12.5, 9).
    EXPECT_EQ(drawn[4], "arc 12.5 9 1 0.7853982 1.570796 c=255 w=2");

    // A marking removed since the expansion is left out; the next still draws.
    // A G that is no motion of a marking (G91) draws nothing while the point
    // moves on; a number beyond single precision ends that marking there; a
    // width and a colour out of range are clamped.
    marking("M09", " 0 \r\n 99999999 \r\nG91G01X1.\r\nG01Y1.\r\nX" + std::string(40, '9') + ".\r\nX1.\r\n");
    const std::string two = "G01X10.Y10.\r\nM08\r\nM09\r\n";
    expand(two);
    fs.files.erase("/home/Mcode/M08");
    surface.calls.clear();
    g.GrSub(surface);
    EXPECT_EQ(surface.drawn(), (Strings{"line 0 0 10 10 c=16777215 w=1", "line 11 10 11 11 c=16777215 w=1"}));
}

TEST_F(Plotting, AMarkingIsReadOncePerPassWhereverItIsPlaced)
{
    // A large marking at many places: read and parsed once, and cut at its line limit.
    std::string big = " 1 \r\n 255 \r\n";
    for (int k = 0; k < 20000; ++k)
        big += "G01X1.\r\n";
    marking("M08", big);
    std::string program;
    for (int k = 0; k < 20; ++k)
        program += "M08\r\n";
    g.showMarkings = true;
    expand(program);
    fs.reads = 0;
    surface.calls.clear();
    g.GrSub(surface);
    EXPECT_EQ(fs.reads, 1);
    EXPECT_EQ(surface.drawn().size(), 20u * 10000u);
}

TEST_F(Plotting, ReplayWaitsBeforeEachVisibleElementAtTheSliderAsItIsNow)
{
    using namespace std::chrono;
    conditions.conditionName[1] = "T1";
    conditions.conditionVisible[1] = false;
    expand("G00X1.\r\nG01X2.\r\nT1\r\nX3.\r\nG01X4.\r\n");
    surface.calls.clear();
    ASSERT_TRUE(g.GrSub1(surface, 3));
    const auto t0 = steady_clock::now();
    // Each step draws what is due and says how long until the next element.
    EXPECT_EQ(g.replayStep(surface, 50, t0), microseconds(50001));
    EXPECT_TRUE(surface.drawn().empty());
    EXPECT_EQ(g.replayStep(surface, 50, t0 + microseconds(50001)), microseconds(50001));
    EXPECT_EQ(surface.drawn(), (Strings{std::string("dot 1 0") + white + " w=3"}));
    // The slider moved to 0: the next element waits 1 µs, not the old 50 ms;
    // the moves under the hidden condition T1 are passed over.
    EXPECT_EQ(g.replayStep(surface, 0, t0 + microseconds(50002)), std::nullopt);
    EXPECT_EQ(surface.drawn().back(), std::string("line 1 0 2 0") + white + " w=3");
    EXPECT_EQ(std::count(surface.calls.begin(), surface.calls.end(), "clear"), 0); // over the last picture
    EXPECT_FALSE(g.replaying());

    // Stopped (Esc, the window closing) or a new expansion: it draws no more.
    for (bool expandAgain : {false, true}) {
        ASSERT_TRUE(g.GrSub1(surface, 3));
        expandAgain ? void(expand("G01X9.\r\n")) : g.replayStop();
        surface.calls.clear();
        EXPECT_EQ(g.replayStep(surface, 0, steady_clock::now() + seconds(1)), std::nullopt);
        EXPECT_TRUE(surface.drawn().empty());
    }
}

TEST_F(Plotting, ZoomHalvesTheWindowAboutItsCentre)
{
    plot("G01X10.Y10.");
    const float centreX = g.view.centreX, centreY = g.view.centreY, width = g.view.viewWidth;
    g.GrphCmd(2, surface);
    g.GrphCmd(2, surface);
    EXPECT_FLOAT_EQ(g.view.maxX - g.view.minX, width / 4);
    EXPECT_FLOAT_EQ(g.view.centreX, centreX);
    EXPECT_FLOAT_EQ(g.view.centreY, centreY);
    const PlotView before = g.view;
    g.GrphCmd(3, surface); // other commands do nothing
    EXPECT_EQ(g.view.minX, before.minX);
}
