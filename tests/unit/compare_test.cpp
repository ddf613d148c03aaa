#include "program/Colouring.h"
#include "program/Compare.h"
#include "program/Estimate.h"

#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

using namespace tarvex;

TEST(Compare, WhatAControlIgnoresAndWhatItDoesNot)
{
    const std::pair<const char*, const char*> same[] = {
        {"N10 G1 X10.0 Y+.5", "g01x10.y0.500"}, {"O12(Part A)", "O0012 (PART A)"}, {"M3 S1200", "M03S1200"},
        {"X-0.0", "X0."},                        {"G01X1.", "N5G01X1."},         {"#1=[#2+1]", "#1 = [#2+1]"},
        {"T01H02", "T1H2"},                      {"\x7FG01X1.", "G01X1."},
    };
    for (auto [a, b] : same)
        EXPECT_EQ(normalBlock(a), normalBlock(b)) << a << " / " << b;
    const std::pair<const char*, const char*> unlike[] = {
        {"X10", "X10."}, {"X010", "X10"}, {"G1X1.(A)", "G1X1.(B)"}, {"G01X1.\xEF\x9E\x82", "G01X1."}, {"X-1.", "X1."},
        {"DPRNT[N10]", "DPRNT[N20]"}, {"DPRNT[a]", "DPRNT[A]"},
    };
    for (auto [a, b] : unlike)
        EXPECT_NE(normalBlock(a), normalBlock(b)) << a << " / " << b;
    // Blank lines and the framing "%" lines take no part; the rest is aligned.
    const Comparison c("%\r\nO1\r\nG00X0\r\nG01X1.\r\nM30\r\n%\r\n", "O0001\n\nG00X0\nG01X2.\nG01X3.\nM30\n");
    const auto& d = c.differences;
    // Level at the start, after the blank line only one side has, and at the
    // first block after the difference.
    EXPECT_EQ(c.level, (std::vector<std::pair<std::size_t, std::size_t>>{{3, 0}, {7, 7}, {22, 27}}));
    ASSERT_EQ(d.size(), 3u);
    EXPECT_TRUE(d[0].inFirst && d[0].line == 4 && d[0].text == "G01X1.");
    EXPECT_TRUE(!d[1].inFirst && d[1].line == 4 && !d[2].inFirst && d[2].line == 5);
    // Sequence numbers count where a jump, M99 P, M97 P or G70–G73 names them.
    EXPECT_TRUE(compareBlocks("N10X1.\nN20X2.", "N20X1.\nN10X2.").empty());
    for (const char* refers : {"IF[#1LT5]GOTO20", "GOTO20", "M99P20", "M97P20", "G70P10Q20"})
        EXPECT_EQ(compareBlocks(std::string(refers) + "\nN10X1.\nN20X2.", std::string(refers) + "\nN20X1.\nN10X2.").size(),
                  4u) << refers;
    // The words a changed block changed, as the control reads them.
    EXPECT_EQ(changedWords("G01 X10.0 Y5. F100", "G1X10.Y6.F100"), (std::vector<std::pair<std::size_t, std::size_t>>{{10, 13}}));
    // Every hundredth block of 60,000 (each block 60 times over) changed:
    // those 600 and nothing else.
    std::string a, b;
    for (int k = 0; k < 60000; ++k) {
        a += "G01X" + std::to_string(k % 1000) + ".\n";
        b += "G01X" + std::to_string(k % 100 == 7 ? -(k % 1000) : k % 1000) + ".\n";
    }
    const auto many = compareBlocks(a, b);
    ASSERT_EQ(many.size(), 1200u);
    EXPECT_TRUE(many[0].inFirst && many[0].line == 8 && !many[1].inFirst && many[1].line == 8);
}

TEST(Colouring, EachByteOfALineByKind)
{
    // One letter per byte: plain ' ', G, M, a(xis), F, N, O, C(omment), %, /, # macro.
    const std::pair<const char*, const char*> lines[] = {
        {"/N10 G01X-1.5F100(CUT)", "/NNN GGGaaaaaFFFFCCCCC"},
        {"O0012 ;NOTE", "OOOOO CCCCC"},
        {"% ", "% "},
        {"Z#1 M98P[#2+1]", "a## MMMa######"},
        {"IF[#1GT2]GOTO10\xEF", "############### "},
        {"T0101:12", "FFFFFOOO"},
        {"#1=5.+2", "#######"},
        {"/2N10", "//NNN"},
    };
    const char letters[] = " GMaFNOC%/#";
    for (auto [line, expected] : lines) {
        std::vector<nc::WordKind> kinds(std::strlen(line));
        nc::colourLine(line, kinds.data());
        std::string got;
        for (nc::WordKind k : kinds)
            got += letters[static_cast<int>(k)];
        EXPECT_EQ(got, expected) << line;
    }
}

TEST(Colouring, DefaultsReadableOnWhite)
{
    for (std::uint32_t c : nc::defaultWordColours().rgb)
        EXPECT_GE(nc::contrastOnWhite(c), 4.5) << std::hex << c;
    EXPECT_NEAR(nc::contrastOnWhite(0x000000), 21, 1e-9);
    EXPECT_NEAR(nc::contrastOnWhite(0xFFFF00), 1.07, 0.01); // yellow: the dialog warns
}

TEST(Estimate, CannedCyclesTimedByHand)
{
    // Rapid 1,000 mm/min (1 s for 16.667 mm); each case's cutting, rapid and dwell seconds.
    struct Case {
        const char* what;
        const char* program;
        double cutting, rapid, dwell;
    } cases[] = {
        {"one hole, G99 back to R; a block without axis words (M30) drills none",
         "G90G00X0Y0Z10.\nG99G81X10.Y0Z-5.R2.F100.\nM30\n", 4.2, 35 * 0.06, 0},
        {"K3 in G91: three holes a step apart", "G90G00X0Y0Z10.\nG91G99G81X10.Z-5.R-8.K3F100.\nG80\n", 9, 63 * 0.06, 0},
        {"G82's P dwells at every hole", "G90G00X0Y0Z10.\nG98G82X10.Z-5.R2.P500F100.\nX20.\nG80\n", 8.4,
         (10 + 10 + 8 + 15 + 10 + 8 + 15) * 0.06, 1},
        {"G18: drilled along Y", "G90G00X0Y10.Z0\nG18G99G81X10.Y-5.R2.F100.\nG80\n", 4.2, (10 + 10 + 8 + 7) * 0.06, 0},
    };
    for (const Case& c : cases) {
        const Estimate e = estimate(c.program, {1000, 0, {}});
        EXPECT_NEAR(e.cutting, c.cutting, 1e-9) << c.what;
        EXPECT_NEAR(e.rapid, c.rapid, 1e-9) << c.what;
        EXPECT_NEAR(e.dwell, c.dwell, 1e-9) << c.what;
    }
}

TEST(Estimate, CallsAndWhatItCannotKnow)
{
    // O100 runs three times by L3 and three by the count before its number
    // (10 mm at F600 each: 1 s); O9010 is stored (10 s, and O100 of the
    // file once more); O9020 is nowhere; what it cannot time is said.
    EstimateOptions o{1000, 0, [](long n) -> std::optional<std::string> {
                          if (n == 9010)
                              return "%\nO9010\nM98P100\nG91G01X10.F60.\nM99\n";
                          return std::nullopt;
                      }};
    const Estimate e = estimate("G21G90G94\nM98P100L3\nG65P9010A1.\nM98P30100\nG65P9020\nG01X#1F100.\nG91G28Z0\n"
                                "G96S200\nM30\nO100\nG91G01X10.F600.\nG90\nM99\n",
                                o);
    EXPECT_NEAR(e.cutting, 6 + 10 + 1, 1e-9);
    EXPECT_EQ(e.unknown, 1);
    EXPECT_EQ(e.callsNotFollowed, 1);
    EXPECT_EQ(e.firstCallNotFollowed, "G65P9020");
    o.stored = [](long) { return std::string("O7\nG04P-1\nM99\n"); };
    EXPECT_EQ(estimate("M98P7\n", o).refusal, "O7 行 2: ドウェルの時間が負です");
    EXPECT_EQ(e.notTimed, (std::vector<std::string>{"G28", "G96"}));
    // A point-less axis word in G20 is a ten-thousandth of an inch: X10000 is 1 in at 10 in/min.
    EXPECT_NEAR(estimate("G20G90G01X10000F10.\n", {1000, 0, {}}).cutting, 6, 1e-9);
    EXPECT_EQ(estimate("G00X1.\nG04P-5\n", {1000, 0, {}}).refusal, "行 2: ドウェルの時間が負です");
    EXPECT_EQ(estimate("G01X1.F-5.\n", {1000, 0, {}}).refusal, "行 1: 送り速度 F が正しくありません");
}
