#include "app/Layout.h"

#include <gtest/gtest.h>

using namespace tarvex;

namespace {
// A window of 10120 x 8900 twips outer, 10000 x 8000 inner, status bar 300.
LayoutInput input(bool comm, bool graphics, int frameLeft)
{
    LayoutInput in;
    in.window = {0, 0, 10120, 8900};
    in.innerWidth = 10000;
    in.innerHeight = 8000;
    in.statusHeight = 300;
    in.commBox = comm;
    in.graphics = graphics;
    in.frameLeft = frameLeft;
    return in;
}
} // namespace

TEST(Layout, SixRowsPlaceTheAreas)
{
    struct Row {
        bool comm, graphics;
        int frameLeft;
        Rect editor, frame, plot, strip;
        int windowWidth;
    };
    const Row rows[] = {
        // neither: the editor fills the window above the status bar
        {false, false, 4585, {0, 0, 10000, 7700}, {4585, -60, 5415, 1935}, {}, {}, 10120},
        // panel alone: the window narrows to 5540 and the editor goes below the panel
        {true, false, 4585, {0, 1935, 5415, 5765}, {0, -60, 5415, 1935}, {}, {}, 5540},
        // both, panel right
        {true, true, 4585, {0, 0, 4585, 7700}, {4585, -60, 5415, 1935}, {4585, 1935, 5415, 5330},
         {4585, 7265, 5415, 435}, 10120},
        // both, panel left
        {true, true, 0, {0, 1935, 5415, 5765}, {0, -60, 5415, 1935}, {5415, 0, 4585, 7265},
         {5415, 7265, 4585, 435}, 10120},
        // graphics alone, panel side left
        {false, true, 0, {0, 0, 5415, 7700}, {0, -60, 5415, 1935}, {5415, 0, 4585, 7265},
         {5415, 7265, 4585, 435}, 10120},
        // graphics alone, panel side right: the hidden panel follows the editor
        {false, true, 4585, {0, 0, 4585, 7700}, {4585, -60, 5415, 1935}, {4585, 0, 5415, 7265},
         {4585, 7265, 5415, 435}, 10120},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "comm " << r.comm << " graphics " << r.graphics << " left " << r.frameLeft);
        LayoutResult out = layoutMainWindow(input(r.comm, r.graphics, r.frameLeft));
        EXPECT_EQ(out.editor, r.editor);
        EXPECT_EQ(out.frame, r.frame);
        EXPECT_EQ(out.frameVisible, r.comm);
        EXPECT_EQ(out.plotVisible, r.graphics);
        if (r.graphics) {
            EXPECT_EQ(out.plot, r.plot);
            EXPECT_EQ(out.strip, r.strip);
        }
        EXPECT_EQ(out.window.width, r.windowWidth);
    }
}

TEST(Layout, WindowNeverSmallerThanItsMinimumAndSizesNeverNegative)
{
    LayoutInput in = input(true, true, 100);
    in.window = {0, 0, 3000, 2000};
    in.innerWidth = 2880;
    in.innerHeight = 1100;
    LayoutResult out = layoutMainWindow(in);
    EXPECT_EQ(out.window.width, 5540 + 2400); // the panel's column and one the editor can use
    EXPECT_EQ(out.window.height, 5000);
    // The inner area grew with the window: 7820 x 4100.
    EXPECT_EQ(out.editor, (Rect{0, 0, 2405, 3800}));
    EXPECT_EQ(out.plot.height, 4100 - 1935 - 300 - 435);

    in.window = {0, 0, 5540, 5000};
    in.innerWidth = 5420;
    in.innerHeight = 100; // a client area smaller than the panels
    out = layoutMainWindow(in);
    EXPECT_EQ(out.plot.height, 0);
    EXPECT_EQ(out.editor.height, 0);
}

TEST(Layout, PanelAloneUndoesWidening)
{
    LayoutInput in = input(true, false, 0);
    in.window = {300, 200, 12000, 9000};
    LayoutResult out = layoutMainWindow(in);
    EXPECT_EQ(out.window, (Rect{300, 200, 5540, 9000}));
}
