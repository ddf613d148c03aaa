#include "editor/LineEnds.h"

#include <gtest/gtest.h>

using namespace tarvex;

TEST(SaveLineEnds, EveryLineEndIsWrittenAsCrLf)
{
    const std::pair<std::string, std::string> cases[] = {
        {"G00X0\nG01Y1\n", "G00X0\r\nG01Y1\r\n"},      // LF only
        {"G00X0\rG01Y1\r", "G00X0\r\nG01Y1\r\n"},      // CR only
        {"G00X0\r\nG01Y1\r\n", "G00X0\r\nG01Y1\r\n"},  // CR LF kept byte for byte
        {"A\r\nB\nC\r\n", "A\r\nBC\r\n"},              // a lone companion LF is dropped
        {"A\nB\rC\n", "A\r\nBC\r\n"},                  // LF first: a lone CR is the companion
        {"A\n\rB", "A\r\nB"},                          // LF CR: the CR is dropped
        {"A\r\n\r\nB", "A\r\n\r\nB"},                  // empty lines stay
        {"M30", "M30"},                                // no final line end is added
        {"", ""},
        {"\xFF\x81\n", "\xFF\x81\r\n"},                // other bytes pass unchanged
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(normaliseLineEnds(in), out) << in;
}
