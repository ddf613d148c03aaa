#include "serial/Restart.h"

#include <gtest/gtest.h>

using namespace tarvex;

namespace {

std::string lines(std::initializer_list<const char*> ls)
{
    std::string out;
    for (const char* l : ls)
        out += std::string(l) + "\r\n";
    return out;
}

// Restart at the line holding "<<": the preamble's lines joined by "|".
std::string preambleAt(const std::string& program, const char* clearance = "50")
{
    const auto at = program.find("<<");
    std::string text = program;
    text.erase(at, 2);
    std::size_t line = 0;
    for (std::size_t i = 0; i < at; ++i)
        line += text[i] == '\n';
    const RestartPlan plan = planRestart(text, line, clearance);
    if (!plan.refusal.empty())
        return "refused: " + plan.refusal;
    std::string out = plan.preamble;
    for (std::size_t p; (p = out.find("\r\n")) != std::string::npos;)
        out.replace(p, 2, "|");
    return out;
}

TEST(Restart, PreambleRestoresEachModalGroup)
{
    struct Case {
        const char* what;
        std::string program;
        const char* preamble;
    } cases[] = {
        {"milling in absolute",
         lines({"%", "O1000", "G17G21G90G54G94", "T5M06", "S1200M03", "G43H5Z50.", "G00X10.Y20.", "M08", "G01Z-2.F300.",
                "X30.", "<<Y40.", "M30", "%"}),
         "G40|G17G21G54G94|T5M06|G00G90G43H5Z50.|S1200M03|X30.Y20.|M08|G01Z-2.F300.|G01F300.|"},
        {"incremental moves summed exactly, G91 restored after the approach",
         lines({"%", "O1", "G90G00X1.Y1.Z5.", "G91G01X.1F100.", "X.2Y-.25", "Z-1.5", "<<X1."}),
         "G40|G00G90Z50.|X1.3Y0.75|G01Z3.5F100.|G91G01F100.|"},
        {"G18 plane and G55, spindle stopped, coolant off, a second tool",
         lines({"O2", "G18G55", "T1M6", "S500M03", "M08", "G00X5.Z1.", "T2M6", "S800M04", "M05", "M09", "<<G01X6.F.1"}),
         "G40|G18G55|T2M6|G00G90Z50.|S800M05|X5.|M09|G00|"},
        {"a canned cycle closed before the block",
         lines({"%", "O3", "G00X0Y0Z10.", "G99G81X10.Y10.Z-5.R2.F80.", "X20.", "G80", "G00Z10.", "<<X30."}),
         "G80G40|G00G90Z50.|X20.Y10.|G01Z10.F80.|G00F80.|"},
        {"a program that never moves Z needs no clearance",
         lines({"%", "O4", "G92X0Y0", "G01X10.Y5.F500", "<<X0"}), "G40|G00G90|X10.Y5.|G01F500|"},
        {"comments and G words are read as whole words",
         lines({"%", "O5", "G0 X1. Y2. (G01 X99.)", "G17", "Z3.", "<<G1X5."}), "G40|G17|G00G90Z50.|X1.Y2.|G0|"},
        {"the tool in the spindle, then the one selected next",
         lines({"%", "O11", "T1M6", "G43H1Z50.", "T2", "G00X0Y0", "G01Z-1.F100.", "<<X5."}),
         "G40|T1M6|T2|G00G90G43H1Z50.|X0Y0|G01Z-1.F100.|G01F100.|"},
        {"after a tool change the previous tool's length offset is cancelled",
         lines({"%", "O12", "T1M6", "G43H1Z50.", "G00X0Y0", "T2M6", "<<G43H2Z50."}), "G40|T2M6|G00G90G49Z50.|X0Y0|G00|"},
        {"a length offset in the tool change's own block is the new tool's",
         lines({"%", "O20", "T1M6", "G43H1Z50.", "T3M6G43H3", "G00X0Y0", "<<Z5."}), "G40|T3M6|G00G90G43H3Z50.|X0Y0|G00|"},
        {"a comment with # is no macro; a macro line leaves no feed to plunge with",
         lines({"%", "O13", "G00X0Y0Z5.", "G01Z-1.F100.", "G00Z5. (CLAMP #2)", "<<X200."}),
         "G40|G00G90Z50.|X0Y0|G01Z5.F100.|G00F100.|"},
        {"no plunge after a macro statement",
         lines({"%", "O14", "G00X0Y0Z5.", "G01Z-1.F#1", "<<X200."}), "G40|G00G90Z50.|X0Y0|G01|"},
        {"cutter compensation in force", lines({"%", "O15", "G00X0Y0Z5.", "G41D1G01X10.F100.", "<<Y10."}),
         "refused: 工具径補正 G41 の途中のブロックです。補正を指令した行 4 から再開してください。"},
        {"a block that ends the canned cycle", lines({"%", "O16", "G00Z10.", "G81X1.Y1.Z-3.R1.F50.", "<<G80G00Z10."}),
         "G80G40|G00G90Z50.|X1.Y1.|G00F50.|"},
        {"a clearance below the highest Z so far", lines({"%", "O17", "G00Z80.", "<<X1."}),
         "refused: 退避高さ Z50. は、それまでの最も高い Z80. 以上にしてください。"},
        {"an o-word subroutine body", lines({"%", "O18", "o100 sub", "G01X1.", "<<X2.", "o100 endsub", "M30"}),
         "refused: サブルーチン（o100）の中からは再開できません。メインプログラムの行を選んでください。"},
        {"a subprogram call leaves the position unknown",
         lines({"%", "O19", "G00X0Y0Z5.", "G01Z-1.F100.", "M98P200", "<<X5."}), "G40|G00G90Z50.|G01F100.|"},
        {"the first block after the opening lines: no preamble", lines({"%", "O6", "<<G00X1.", "M30"}), ""},
        {"a canned cycle open at the block", lines({"%", "O7", "G81X1.Y1.Z-3.R1.F50.", "<<X2."}),
         "refused: 固定サイクル G81 の途中のブロックです。サイクルを指令した行 3 から再開してください。"},
        {"inside a subprogram", lines({"%", "O8", "M98P9", "M30", "O9", "G01X1.", "<<X2.", "M99", "%"}),
         "refused: サブプログラムの中からは再開できません。メインプログラムの行を選んでください。"},
        {"after the end of the main program", lines({"%", "O10", "G00X1.", "M30", "<<G00X2."}),
         "refused: プログラムの終了（M02/M30）の後の行です。"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(preambleAt(c.program), c.preamble) << c.what;
}

TEST(Restart, WhatTheScanCannotBeSureOfIsSaid)
{
    const std::string program = lines({"%", "O1", "#1=10.", "G00X#1Y0Z5.", "M98P100", "G91X10", "G61", "G61", "G01Y1."});
    const RestartPlan plan = planRestart(program, 8, "20");
    ASSERT_TRUE(plan.sendable());
    const std::string notes = [&] {
        std::string all;
        for (const auto& n : plan.notes)
            all += n + "\n";
        return all;
    }();
    EXPECT_NE(notes.find("行 3: マクロ文は解釈していません\n"), std::string::npos) << notes;
    EXPECT_NE(notes.find("行 4: 変数で指令された値（X）は使っていません\n"), std::string::npos) << notes;
    EXPECT_NE(notes.find("行 5: サブプログラムの呼び出し（M98）"), std::string::npos) << notes;
    EXPECT_NE(notes.find("行 6: G91 の増分指令から位置を求められません"), std::string::npos) << notes;
    EXPECT_NE(notes.find("行 7: G61 は解釈していません（ほか 1 行）"), std::string::npos) << notes;

    // No clearance for a program that moves Z: nothing can be sent yet.
    const std::string movesZ = lines({"%", "O1", "G00Z5.", "G01X1."});
    EXPECT_FALSE(planRestart(movesZ, 3, "").sendable());
    EXPECT_TRUE(planRestart(movesZ, 3, "abc").clearanceMissing);
    EXPECT_TRUE(planRestart(movesZ, 3, "5").sendable());
    EXPECT_EQ(clearanceWord("50"), "Z50."); // never read as thousandths
    EXPECT_EQ(clearanceWord("-2.50"), "Z-2.5");
    EXPECT_EQ(planRestart(program, 99, "20").refusal, "行 100 はありません。");
}

TEST(Restart, BlockNumbersAndTheTextSent)
{
    const std::string text = lines({"%", "O1", "N10G00X1.Z5.", "N100G01X2.F10.", "/N1000X3.", "N10000M30", "%"});
    EXPECT_EQ(findBlockNumber(text, "N100"), 3u);
    EXPECT_EQ(findBlockNumber(text, "1000"), 4u); // after the block-skip slash
    EXPECT_EQ(findBlockNumber(text, "N1"), std::nullopt);
    EXPECT_EQ(findBlockNumber(text, "N10x"), std::nullopt);

    const RestartPlan plan = planRestart(text, 4, "10.");
    ASSERT_TRUE(plan.sendable());
    EXPECT_EQ(restartText(text, plan, "G00Z10."),
              "%\r\nO1\r\nG00Z10.\r\n/N1000X3.\r\nN10000M30\r\n%\r\n");
    // The editor follows: the opening at its place, the preamble at the block, the rest from there.
    const RestartSend send = restartSend(text, plan, "G00Z10.");
    const std::size_t block = text.find("/N1000"), preambleAt = 7, restAt = 7 + 9;
    EXPECT_EQ(send.text.substr(restAt, 3), "/N1");
    for (auto [sent, shown] : {std::pair{std::size_t(3), std::size_t(3)}, {preambleAt, block}, {restAt - 1, block},
                               {restAt, block}, {restAt + 2, block + 2}})
        EXPECT_EQ(send.editorOffset(sent), shown) << sent;
    // From the first block the text goes out unchanged.
    const RestartPlan first = planRestart(text, 2, "");
    EXPECT_TRUE(first.sendable());
    EXPECT_EQ(restartText(text, first, first.preamble), text);
    EXPECT_EQ(restartText(text, planRestart(text, 0, ""), ""), text);
}

} // namespace
