#include "editor/LineEnds.h"

#include <gtest/gtest.h>

using namespace tarvex;

TEST(SaveLineEnds, EveryLineEndTheEditorShowsIsWrittenAsCrLf)
{
    const std::pair<std::string, std::string> cases[] = {
        {"G00X0\nG01Y1\n", "G00X0\r\nG01Y1\r\n"},      // LF only
        {"G00X0\rG01Y1\r", "G00X0\r\nG01Y1\r\n"},      // CR only
        {"G00X0\r\nG01Y1\r\n", "G00X0\r\nG01Y1\r\n"},  // CR LF kept byte for byte
        {"G01X10.\nG01Y5.\r\n", "G01X10.\r\nG01Y5.\r\n"}, // mixed: two blocks stay two
        {"A\r\nB\nC\r\n", "A\r\nB\r\nC\r\n"},
        {"A\nB\rC\n", "A\r\nB\r\nC\r\n"},
        {"A\n\rB", "A\r\nB"},                          // LF CR is one line end
        {"A\r\n\rB", "A\r\n\r\nB"},                    // CR LF, then a lone CR
        {"A\r\rB", "A\r\n\r\nB"},
        {"A\n\nB", "A\r\n\r\nB"},
        {"A\r\n\r\nB", "A\r\n\r\nB"},                  // empty lines stay
        {"M30", "M30"},                                // no final line end is added
        {"", ""},
        {"\r", "\r\n"},
        {"\xFF\x81\n", "\xFF\x81\r\n"},                // other bytes pass unchanged
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(normaliseLineEnds(in), out) << in;
        // Fed in two pieces cut anywhere, also inside a CR LF, and with an empty piece.
        for (std::size_t cut = 0; cut <= in.size(); ++cut) {
            LineEndNormaliser n;
            std::string got;
            n.feed(std::string_view(in).substr(0, cut), got);
            n.feed({}, got);
            n.feed(std::string_view(in).substr(cut), got);
            EXPECT_EQ(got, out) << "cut at " << cut << " of " << in;
        }
    }
}
