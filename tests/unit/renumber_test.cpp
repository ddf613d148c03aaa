#include "program/Renumber.h"

#include <gtest/gtest.h>

using namespace tarvex;

TEST(Renumber, EveryBlockAndNothingElse)
{
    struct Row {
        std::string in;
        RenumberOptions o;
        std::string out; // or the refusal's beginning
    };
    const Row rows[] = {
        // Existing N words replaced, a "/" kept before the N, blanks, comments and line ends as they were.
        {"%\r\nO0001(A)\r\nN5 G01X1.\r\n/G00X2.(B)\r\n  X3.\n(C)\r\n\r\nG01", {}, 
         "%\r\nO0001(A)\r\nN10 G01X1.\r\n/N20G00X2.(B)\r\n  N30X3.\n(C)\r\n\r\nN40G01"},
        // Bytes that are no character stay; numbering starts again at each program number.
        {"O1\r\nG01\xEF\x9E\x82 X4.\r\n:2\r\nn7G00\r", {100, 5, false}, "O1\r\nN100G01\xEF\x9E\x82 X4.\r\n:2\r\nN100G00\r"},
        {"O1\r\nN10G01\r\n/N20 X1.\r\nG00\r\n", {10, 10, true}, "O1\r\nG01\r\n/ X1.\r\nG00\r\n"},
        {"#1=5\r\nWHILE[#1GT0]DO1\r\nG00X#1\r\nEND1\r\nM98P1234\r\nG73Z-5.Q1.R1.\r\n", {},
         "#1=5\r\nWHILE[#1GT0]DO1\r\nN10G00X#1\r\nEND1\r\nN20M98P1234\r\nN30G73Z-5.Q1.R1.\r\n"},
        // What refers to sequence numbers, and numbers beyond five digits, are refused.
        {"G01\r\nGOTO10\r\n", {}, "行 2 の GOTO"},
        {"G01\r\nIF[#1EQ0]GOTO5\r\n", {}, "行 2 の GOTO"},
        {"M99P20\r\n", {}, "行 1 の M99 P"},
        {"G71P10Q20U.5\r\n", {}, "行 1 の G71 P/Q"},
        {"G01\r\nG01\r\n", {99990, 10, false}, "番号を付けるブロックが 2 あり、N99990 から 10 ずつでは N99999 を超えます。増分を 9 以下"},
        {"G01\r\nIF[#1EQ0]GOTO#2\r\n", {}, "行 2 の GOTO"},
        {"G01\r\n", {10, 0}, "増分と間隔は 1 以上"},
        // A block without an address word gets its N at its start; a program line with words is left alone.
        {"POPEN\r\n/DPRNT[X#1]\r\nO1000 G90\r\nG01\r\n", {}, "N10POPEN\r\n/N20DPRNT[X#1]\r\nO1000 G90\r\nN10G01\r\n"},
        // Four digits, only blocks with an N; every second block.
        {"N5X1.\r\nX2.\r\nN7X3.\r\n", {100, 5, false, 4, true}, "N0100X1.\r\nX2.\r\nN0105X3.\r\n"},
        {"X1.\r\nN3X2.\r\nX3.\r\n", {10, 10, false, 0, false, 2}, "N10X1.\r\nX2.\r\nN20X3.\r\n"},
    };
    for (const Row& r : rows) {
        const Renumbered got = renumber(r.in, r.o);
        if (got.refusal.empty())
            EXPECT_EQ(got.text, r.out) << r.in;
        else
            EXPECT_EQ(got.refusal.rfind(r.out, 0), 0u) << got.refusal;
    }
}
