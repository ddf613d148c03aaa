#include "platform/posix/Cp932Codec.h"
#include "tests/fakes/Fakes.h"
#include "toolpath/ConditionTable.h"
#include "view/DisplayColours.h"
#include "view/MarkingEditor.h"

#include <gtest/gtest.h>

using namespace tarvex;
using Strings = std::vector<std::string>;

namespace {

struct MarkingEditorTest : ::testing::Test {
    fakes::MemoryFileSystem fs;
    Cp932Codec codec;
    fakes::FakeMessageBox box;
    MarkingEditor editor{fs, codec, "/home/", box};
    MarkingEditorTest()
    {
        fs.folders.insert("/home");
        fs.folders.insert("/home/Mcode");
    }
};

} // namespace

TEST_F(MarkingEditorTest, FilesGoRoundByteForByte)
{
    const char* files[] = {
        " 2 \r\n 255 \r\nG01X1.\r\nG02X-2.I-1.J0\r\n",
        " 1 \r\n 16777215 \r\nG00X1.\r\n\r\n",       // an empty last line of the drawing
        " 9 \r\n 0 \r\n\r\n",                         // an empty drawing as the editor writes it
        " 3 \r\n 65280 \r\n(\x83\x7d\x81\x5b\x83\x4e)\r\nG01\x81Y1.\r\n", // cp932, and a lone lead byte
    };
    for (const char* bytes : files) {
        fs.files["/home/Mcode/M08"] = bytes;
        const auto m = editor.load("M08");
        ASSERT_TRUE(m) << bytes;
        ASSERT_TRUE(editor.save("M08", *m));
        EXPECT_EQ(fs.files["/home/Mcode/M08"], bytes);
    }
    EXPECT_EQ(box.shown.back().text, "M08を保存しました");
    EXPECT_EQ(editor.names(), Strings{"M08"});
}

TEST_F(MarkingEditorTest, HeaderLinesAreClampedOrKeepTheirDefaults)
{
    struct Row {
        const char* text;
        int width;
        std::uint32_t colour;
        const char* drawing;
    };
    const Row rows[] = {
        {"12\r\n-5\r\nX1.", 9, 0, "X1."},
        {"0\r\n99999999\r\n", 1, 16777215, ""},
        {"abc\r\n\r\nG01X1.\r\nY1.\r\n", 1, 16777215, "G01X1.\r\nY1."},
        {" 4", 4, 16777215, ""},
        {"", 1, 16777215, ""},
        {"&H3\r\n&HFF\r\nX1.\nY1.", 3, 255, "X1.\nY1."},
    };
    for (const Row& r : rows) {
        const MarkingFile m = parseMarkingFile(r.text);
        EXPECT_EQ(m.penWidth, r.width) << r.text;
        EXPECT_EQ(m.colour, r.colour) << r.text;
        EXPECT_EQ(m.drawing, r.drawing) << r.text;
    }
}

TEST_F(MarkingEditorTest, ANameThatIsNoPlainFileNameIsRefused)
{
    for (const char* name : {"", "../M08", "a/b", "..", "M\x01", "M08\\x"}) {
        box.shown.clear();
        EXPECT_FALSE(editor.save(name, {})) << name;
        ASSERT_EQ(box.shown.size(), 1u) << name;
        EXPECT_EQ(box.shown[0].text, "コードにはファイル名に使える名前を入力して下さい。");
        EXPECT_EQ(box.shown[0].title, "TARVEX");
    }
    EXPECT_TRUE(fs.files.empty());
    // A failed write shows its description, under the same title.
    fs.folders.erase("/home/Mcode");
    box.shown.clear();
    EXPECT_FALSE(editor.save("M08", {}));
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].title, "TARVEX");
    EXPECT_NE(box.shown[0].text.find_first_not_of(' '), std::string::npos);
}

TEST(MarkingPreview, SegmentsAndTheirDrawing)
{
    // Lines without X or Y are left out, with their G; I and J do not run on;
    // an R gives the centre; X1500 and X1.5 move alike.
    const auto s = markingPreview("G01\r\nX1500\r\nG02X-1.5R.75\r\nG03X1.5I.75\r\nG91G01Y1.\r\nG00X1.5Y-1.\r\nX1\r\n");
    ASSERT_EQ(s.size(), 6u);
    EXPECT_FLOAT_EQ(s[0].x, 1.5f);
    EXPECT_EQ(s[0].motion, 0); // the G01 line was left out
    EXPECT_EQ(s[1].motion, 2);
    EXPECT_NEAR(s[1].i, -0.75f, 1e-6);
    EXPECT_NEAR(s[1].j, 0, 1e-6);
    EXPECT_EQ(s[2].i, 0.75f);
    EXPECT_EQ(s[3].motion, 91);
    EXPECT_FLOAT_EQ(s[5].x, 3.001f);
    // An R too small for its chord ends the preview there.
    EXPECT_EQ(markingPreview("G01X1.\r\nG02X10.R1.\r\nX1.\r\n").size(), 1u);

    fakes::RecordingSurface surface; // 200 × 100
    drawMarkingPreview(surface, s, 2, 255);
    EXPECT_EQ(surface.calls[0], "coords -10 5 10 -5");
    // Both half circles below the axis: clockwise from (1.5, 0) back to the
    // origin, then counter-clockwise out again. G91 draws nothing.
    EXPECT_EQ(surface.drawn(), (Strings{"dot 1.5 0 c=255 w=2", "arc 0.7500001 0 0.75 3.141593 6.283185 c=255 w=2",
                                        "arc 0.7500001 0 0.75 3.141593 6.283185 c=255 w=2", "dot 3 0 c=255 w=2",
                                        "dot 3.001 0 c=255 w=2"}));
}

TEST(DisplayColoursGrid, ClicksOnTheCells)
{
    ConditionTable t;
    t.conditionName[1] = "T1";
    t.conditionColour[1] = 255;
    t.conditionName[3] = "D12";
    fakes::FakeColourChooser colours;
    fakes::FakeInputBox input;
    int replots = 0;
    DisplayColours grid(t, colours, input, [&] { ++replots; });
    EXPECT_EQ(grid.rows[1].show, "ON");
    EXPECT_TRUE(grid.rows[1].swatch);
    EXPECT_EQ(grid.rows[1].colour, 255u);
    EXPECT_EQ(grid.rows[2].show, "");
    EXPECT_FALSE(grid.rows[2].swatch);

    struct Click {
        const char* what;
        int row, column;
        bool below;
        int replots;
    };
    const Click clicks[] = {
        {"header row", 0, 2, true, 0},
        {"above the header's edge", 1, 2, false, 0},
        {"show cell of T1: OFF", 1, 2, true, 1},
        {"show cell of an unnamed row: no change, but drawn again", 2, 2, true, 2},
        {"show cell of T1 again: ON", 1, 2, true, 3},
        {"show cell of D12: OFF", 3, 2, true, 4},
    };
    bool expectVisible1[] = {true, true, false, false, true, true};
    for (std::size_t k = 0; k < std::size(clicks); ++k) {
        const Click& c = clicks[k];
        grid.mouseUp(c.row, c.column, c.below);
        EXPECT_EQ(replots, c.replots) << c.what;
        EXPECT_EQ(t.conditionVisible[1], expectVisible1[k]) << c.what;
        EXPECT_EQ(grid.rows[1].show, expectVisible1[k] ? "ON" : "OFF") << c.what;
    }
    EXPECT_TRUE(t.conditionVisible[2]);
    EXPECT_EQ(grid.rows[2].show, "");

    // The colour: a cancel changes nothing and draws nothing; the chooser
    // starts from the colour last chosen here, black at first.
    grid.mouseUp(1, 1, true);
    EXPECT_EQ(replots, 4);
    colours.answer = 65280;
    grid.mouseUp(1, 1, true);
    colours.answer = 16711680;
    grid.mouseUp(2, 1, true);
    EXPECT_EQ(colours.initials, (std::vector<std::uint32_t>{0, 0, 65280}));
    EXPECT_EQ(t.conditionColour[1], 65280u);
    EXPECT_EQ(grid.rows[2].colour, 16711680u);
    EXPECT_TRUE(grid.rows[2].swatch);
    EXPECT_EQ(replots, 6);

    // The name: preset with the cell, the answer stored; a hidden condition
    // renamed still reads OFF.
    input.answer = "T5";
    grid.mouseUp(3, 0, true);
    EXPECT_EQ(input.presets.back(), "D12");
    EXPECT_EQ(t.conditionName[3], "T5");
    EXPECT_EQ(grid.rows[3].show, "OFF");
    input.answer = "T\"2";
    grid.mouseUp(2, 0, true);
    EXPECT_EQ(t.conditionName[2], "T2");
    EXPECT_EQ(grid.rows[2].show, "ON");
    EXPECT_EQ(replots, 8);
}
