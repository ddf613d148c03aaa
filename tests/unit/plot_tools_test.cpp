#include "tests/unit/toolpath_fixture.h"
#include "view/PlotTools.h"

#include <cmath>

using namespace tarvex;

namespace {

struct PlotToolsTest : tarvex::testing::ToolpathTest {
    fakes::RecordingSurface surface;
    PlotTools tools{g, conditions.conditionVisible.data()};
    long pickIn(const std::string& program, float x, float y)
    {
        expand(program);
        return tools.pick(x, y);
    }
};

} // namespace

TEST_F(PlotToolsTest, PickFindsTheNearestElementWithinTheTolerance)
{
    conditions.conditionName[1] = "T2";
    struct Row {
        const char* what;
        std::string program;
        float x, y;
        long picked;
    };
    const Row rows[] = {
        {"1.9 beside a horizontal line", "G01X10.", 5, 1.9f, 0},
        {"2.0 beside it", "G01X10.", 5, 2.0f, -1},
        {"on its end point", "G01X10.", 10, 0.5f, -1},
        {"beyond its end", "G01X10.", 11, 0, -1},
        {"beside a vertical line", "G01Y10.", -1.5f, 5, 0},
        {"oblique, inside the box", "G01X10.Y10.", 5, 5.5f, 0},
        {"oblique, outside the box", "G01X10.Y10.", 10.5f, 10.5f, -1},
        {"oblique falling", "G01X10.Y-10.", 5, -4.5f, 0},
        {"arc through angle 0, at 0", "G00X3.5355339Y-3.5355339\r\nG03X3.5355339Y3.5355339I-3.5355339J3.5355339", 5.5f,
         0, 1},
        {"the same arc, across the centre", "G00X3.5355339Y-3.5355339\r\nG03X3.5355339Y3.5355339I-3.5355339J3.5355339",
         -5, 0, -1},
        {"full circle, top", "G00X10.\r\nG02X10.I-5.", 5, 5.5f, 1},
        {"full circle, at its start", "G00X10.\r\nG02X10.I-5.", 10.3f, 0, 1},
        {"full circle from a rounding point, far side",
         "G00X-129.108Y-31.624998\r\nG03X-129.108Y-31.624998I-5.J-4.", -140.5f, -35.6f, 1},
        {"a rapid is never picked", "G00X10.", 5, 0.5f, -1},
        {"a positioning is never picked", "G81X10.", 5, 0.5f, -1},
        {"a hidden condition is never picked", "T2\r\nG01X10.", 5, 0.5f, -1},
        {"equal scores: the lowest index", "G01X10.\r\nG01X0\r\nG01X10.", 5, 1, 0},
        {"the nearer of two", "G01X10.\r\nG00Y1.\r\nG01X0", 5, 0.8f, 2},
    };
    conditions.conditionVisible[1] = false;
    for (const Row& r : rows)
        EXPECT_EQ(pickIn(r.program, r.x, r.y), r.picked) << r.what;
    // An index beyond 16 bits.
    std::string many;
    for (int k = 0; k < 40000; ++k)
        many += "G00X" + std::to_string(k % 7) + ".\r\n";
    EXPECT_EQ(pickIn(many + "G00X100.\r\nG01Y10.", 100.5f, 5), 40001);
    EXPECT_EQ(tools.pickedSegment, 40001);
    // Nothing expanded: nothing to pick.
    EXPECT_EQ(pickIn("", 0, 0), -1);
}

TEST_F(PlotToolsTest, SingleAndContinuousMeasure)
{
    // A square of 10 (40), a rapid, a half circle of radius 5 (15.708) and a line of 3.
    expand("G01X10.\r\nY10.\r\nX0\r\nY0\r\nG00X20.\r\nG02X30.I5.\r\nG01X33.\r\n");
    struct Press {
        int mode;
        float x, y;
        float total;
    };
    const Press presses[] = {
        {tool::singleSelect, 5, 0.5f, 10},       // the first side
        {tool::singleSelect, 5, 0.5f, 10},       // again: no change
        {tool::singleRelease, 9.5f, 5, 10},      // releasing what is not selected: no change
        {tool::chainSelect, 9.5f, 5, 40},        // the square: from the origin up to the rapid
        {tool::chainSelect, 25, 5.2f, 58.70796f}, // the half circle and the line after it
        {tool::singleRelease, 31.5f, 0.2f, 55.70796f},
        {tool::chainRelease, 5, 9.5f, 15.70796f},
        {tool::singleSelect, 50, 50, 15.70796f}, // a miss changes nothing
        {tool::singleSelect, 9.5f, 5, 25.70796f},
        {tool::singleSelect, 32, 0.2f, 28.70796f},
        {tool::singleRelease, 9.5f, 5, 18.70796f},
        {tool::singleRelease, 32, 0.2f, 15.70796f},
    };
    for (const Press& p : presses) {
        tools.toolMode = p.mode;
        EXPECT_EQ(tools.press(p.x, p.y, surface), PlotTools::Outcome::Measured);
        EXPECT_NEAR(tools.selectedLength, p.total, 1e-4) << p.mode << " at " << p.x << "," << p.y;
    }
    EXPECT_EQ(table()[5].selected, 1);
    EXPECT_EQ(table()[6].selected, 0);
    // Nothing left selected: exactly nothing, with no rounding left over.
    tools.toolMode = tool::singleRelease;
    tools.press(25, 5.2f, surface);
    EXPECT_EQ(tools.selectedLength, 0);
    tools.toolMode = tool::singleSelect;
    tools.press(25, 5.2f, surface);
    // The selection is drawn thick; closing the window clears it.
    EXPECT_NE(std::find_if(surface.calls.begin(), surface.calls.end(),
                           [](const std::string& c) { return c.rfind("arc", 0) == 0 && c.find("w=3") != std::string::npos; }),
              surface.calls.end());
    tools.clearSelection();
    EXPECT_EQ(tools.selectedLength, 0);
    EXPECT_EQ(table()[5].selected, 0);
    // Lengths whose sum is not exact: released in another order they still
    // leave exactly nothing.
    expand("G01X.1\r\nG00Y50.\r\nG01X100000000.\r\n");
    for (auto [mode, x, y] : {std::tuple{tool::singleSelect, 0.05f, 0.5f}, {tool::singleSelect, 5e7f, 50.5f},
                              {tool::singleRelease, 5e7f, 50.5f}, {tool::singleRelease, 0.05f, 0.5f}}) {
        tools.toolMode = mode;
        tools.press(x, y, surface);
    }
    EXPECT_EQ(tools.selectedLength, 0);

    // A chain goes on from the end of a positioning move it passes over.
    expand("G01X10.\r\nG81X20.\r\nG01X30.\r\n");
    tools.toolMode = tool::chainSelect;
    tools.press(5, 0.5f, surface);
    EXPECT_NEAR(tools.selectedLength, 20, 1e-4);
    // A selection on a path that a block skip has since shortened is cleared too.
    expand("G01X10.\r\nG01X20.\r\n");
    tools.press(15, 0.5f, surface);
    expand("G01X10.\r\n");
    tools.clearSelection();
    expand("G01X10.\r\nG01X20.\r\n");
    EXPECT_EQ(table()[1].selected, 0);
    tools.clearSelection();
    // A full circle measures 2πr.
    expand("G00X10.\r\nG02X10.I-5.");
    tools.toolMode = tool::singleSelect;
    tools.press(5, 5.3f, surface);
    EXPECT_NEAR(tools.selectedLength, 2 * M_PI * 5, 1e-4);
}

TEST_F(PlotToolsTest, MoveAndZoomAboutTheClickedPoint)
{
    expand("G01X100.Y60.");
    g.GrSub(surface);
    const PlotView before = g.view;
    tools.toolMode = tool::none;
    EXPECT_EQ(tools.press(30, 20, surface), PlotTools::Outcome::Nothing);
    tools.toolMode = tool::move;
    EXPECT_EQ(tools.press(before.centreX, before.centreY, surface), PlotTools::Outcome::ViewMoved);
    EXPECT_EQ(g.view.minX, before.minX);
    tools.press(30, 20, surface);
    EXPECT_FLOAT_EQ(g.view.maxX - g.view.minX, before.viewWidth);
    EXPECT_FLOAT_EQ(g.view.centreX, 30);
    tools.toolMode = tool::zoom;
    tools.press(40, 10, surface);
    tools.press(40, 10, surface);
    EXPECT_FLOAT_EQ(g.view.maxX - g.view.minX, before.viewWidth / 4);
    EXPECT_FLOAT_EQ((g.view.maxX + g.view.minX) / 2, 40);
    EXPECT_FLOAT_EQ((g.view.maxY + g.view.minY) / 2, 10);
}

TEST(PlotTexts, ReportAndPosition)
{
    EXPECT_EQ(lengthReport(152.36f), "選択周長 : 152.36㎜");
    EXPECT_EQ(lengthReport(25), "選択周長 : 25.0㎜");
    EXPECT_EQ(lengthReport(0.0004f), "選択周長 : 0.0㎜");
    EXPECT_EQ(timeReport(83.4, 2), "加工時間 : 0:01:23（送りなし 2 要素）");
    EXPECT_EQ(positionText(12.5f, -3.25f), "X12.5 Y-3.25");
    EXPECT_EQ(positionText(-0.0005f, 1234567.1234f), "X-0.001 Y1234567.1"); // a float's own digits
    struct Mode {
        bool tansen, lenzoku, select;
        int mode;
    };
    for (const Mode& m : {Mode{true, false, true, 8000}, {true, false, false, 8001}, {false, true, true, 8100},
                          {false, true, false, 8101}, {false, false, true, 0}, {false, false, false, 0}})
        EXPECT_EQ(lengthToolMode(m.tansen, m.lenzoku, m.select), m.mode);
}

TEST_F(PlotToolsTest, TotalsOfCuttingAndRapidMoves)
{
    expand("G00X10.\r\nG01Y10.\r\nG03X0Y0R10.\r\nG81X5.\r\nG00X0Y5.");
    const PathTotals t = pathTotals(table());
    EXPECT_NEAR(t.rapid, 10 + std::sqrt(50.0), 1e-5); // the positioning moves, uncounted
    EXPECT_NEAR(t.cutting, 10 + M_PI * 10 / 2, 1e-4); // a line of 10 and a quarter circle of radius 10
}
