#include "program/Compare.h"

#include <gtest/gtest.h>

using namespace tarvex;

TEST(Compare, WhatAControlIgnoresAndWhatItDoesNot)
{
    const std::pair<const char*, const char*> same[] = {
        {"N10 G1 X10.0 Y+.5", "g01x10.y0.500"}, {"O12(Part A)", "O0012 (PART A)"}, {"M3 S1200", "M03S1200"},
        {"X-0.0", "X0."},                        {"G01X1.", "N5G01X1."},         {"#1=[#2+1]", "#1 = [#2+1]"},
    };
    for (auto [a, b] : same)
        EXPECT_EQ(normalBlock(a), normalBlock(b)) << a << " / " << b;
    const std::pair<const char*, const char*> unlike[] = {
        {"X10", "X10."}, {"X010", "X10"}, {"G1X1.(A)", "G1X1.(B)"}, {"G01X1.\xEF\x9E\x82", "G01X1."}, {"T01", "T1"},
    };
    for (auto [a, b] : unlike)
        EXPECT_NE(normalBlock(a), normalBlock(b)) << a << " / " << b;
    // Blank lines and the framing "%" lines take no part; the rest is aligned.
    const auto d = compareBlocks("%\r\nO1\r\nG00X0\r\nG01X1.\r\nM30\r\n%\r\n", "O0001\n\nG00X0\nG01X2.\nG01X3.\nM30\n");
    ASSERT_EQ(d.size(), 3u);
    EXPECT_TRUE(d[0].inFirst && d[0].line == 4 && d[0].text == "G01X1.");
    EXPECT_TRUE(!d[1].inFirst && d[1].line == 4 && !d[2].inFirst && d[2].line == 5);
}
