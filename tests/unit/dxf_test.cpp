#include "tests/unit/toolpath_fixture.h"

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace tarvex;

namespace {

std::string slurp(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Dxf : tarvex::testing::ToolpathTest {
    fakes::FakeEvents events;
    std::string drawing(const std::string& program)
    {
        g.DxfSave(program, events);
        EXPECT_FALSE(g.writeDxf("/home/drawing.dxf"));
        return fs.files["/home/drawing.dxf"];
    }
};

} // namespace

// Each tests/data/dxf/NAME.nc against the drawing expected in NAME.dxf.
TEST_F(Dxf, DrawingsMatchTheExpectedFiles)
{
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TARVEX_TEST_DATA "/dxf")) {
        if (entry.path().extension() != ".nc")
            continue;
        auto expected = entry.path();
        expected.replace_extension(".dxf");
        EXPECT_EQ(drawing(slurp(entry.path())), slurp(expected)) << entry.path().filename();
        ++compared;
    }
    EXPECT_GE(compared, 6);
}

TEST_F(Dxf, DrawingReflectsTheEditorTextWithoutWorkFiles)
{
    conditions.conditionName[1] = "T1";
    conditions.conditionVisible[1] = false; // hidden moves are exported like all others
    const std::string dxf = drawing("T1\r\nG01X1.Y2.\r\n");
    EXPECT_NE(dxf.find(" 11\r\n1.0\r\n 21\r\n2.0\r\n"), std::string::npos);
    // What is written is what this expansion holds: no work file another
    // process could rewrite in between.
    EXPECT_FALSE(fs.files.count("/home/BAK.DAT") || fs.files.count("/home/BAK1.DAT"));
    // The number patterns at their limits.
    EXPECT_NE(drawing("G01X0.123456789Y-1234567.").find("0.12345679\r\n 21\r\n-1234567.0\r\n"), std::string::npos);
}

TEST_F(Dxf, ArcsBackAtTheirStartAreCircles)
{
    int circles = 0;
    const std::string dxf = drawing(fullCircles(circles));
    std::size_t found = 0;
    for (std::size_t at = dxf.find("\r\nCIRCLE\r\n"); at != std::string::npos; at = dxf.find("\r\nCIRCLE\r\n", at + 1))
        ++found;
    EXPECT_EQ(found, static_cast<std::size_t>(circles));
    EXPECT_EQ(dxf.find("\r\nARC\r\n"), std::string::npos);
    // A circle's radius is written with a coordinate's digits, an arc's with more.
    EXPECT_NE(drawing("G02X0Y0I1.J1.").find(" 10\r\n1.0\r\n 20\r\n1.0\r\n 30\r\n0.0\r\n 40\r\n1.4142135\r\n  0\r\n"),
              std::string::npos);
}

TEST_F(Dxf, WriteFailureIsReported)
{
    fs.failWrite.insert("/home/drawing.dxf");
    g.DxfSave("G01X1.", events);
    EXPECT_EQ(g.writeDxf("/home/drawing.dxf").number, 61);
}
