#include "program/Restart.h"

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

// Restart at the line holding "<<": the preamble's lines and the first block
// joined by "|", or the refusal; every note follows after "#".
std::string restartAt(const std::string& program, const char* clearance = "50")
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
    std::string out = plan.preamble + "> " + plan.firstBlock;
    for (std::size_t p; (p = out.find("\r\n")) != std::string::npos;)
        out.replace(p, 2, "|");
    for (const std::string& n : plan.notes)
        out += " # " + n;
    return out;
}

// The rules of the scan, one program each: the expected text is the start of
// what restartAt gives (so a row may leave the notes out), or a part of the
// refusal after "refused: ".
TEST(Restart, Rules)
{
    struct Case {
        const char* what;
        std::string program;
        std::string expected;
    } cases[] = {
        {"milling in absolute: each modal group, the approach up, across and down",
         lines({"%", "O1000", "G17G21G90G54G94", "T5M06", "S1200M03", "G00G43H5Z50.", "G00X10.Y20.", "M08", "G01Z-2.F300.",
                "X30.", "<<Y40.", "M30", "%"}),
         "G40|G17G21G54G94|T5M06|G00G90G43H5Z50.|S1200M03|X30.Y20.|M08|G01Z-2.F300.|G01F300.|> Y40."},
        {"incremental moves summed exactly, G91 restored after the approach",
         lines({"%", "O1", "G90G00X1.Y1.Z5.", "G91G01X.1F100.", "X.2Y-.25", "Z-1.5", "<<X1."}),
         "G40|G00G90Z50.|X1.3Y0.75|G01Z3.5F100.|G91G01F100.|> X1."},
        {"a G43 line after the tool change gives the new tool's offset (never Z under G49)",
         lines({"%", "O12", "T1M6", "G00G43H1Z50.", "G00X0Y0", "T2M6", "G00X30.Y0.", "<<G43H2Z50.", "G01Z-1.F100."}),
         "G40|T2M6|G00G90G43H2Z50.|M05|X30.Y0.|G00|> G43H2Z50."},
        {"between a tool change and its offset: the first G43 after the block",
         lines({"%", "O12", "T1M6", "G00G43H1Z50.", "T2M6", "<<G00X30.Y0.", "G43H2Z50.", "G01Z-1.F100."}),
         "G40|T2M6|G00G90G43H2Z50.|"},
        {"after a tool change Z moves before any offset: refused",
         lines({"%", "O12", "T1M6", "G00G43H1Z50.", "T2M6", "<<G00X30.Y0.", "Z50.", "G43H2"}),
         "refused: 工具交換（行 5）の後、工具長補正（G43/G44）の前に Z が動くか"},
        {"a length offset in the tool change's own block is the new tool's; the spindle stops at the change",
         lines({"%", "O20", "S900M3", "T1M6", "G00G43H1Z50.", "T3M6G43H3", "G00X0Y0", "<<Z5."}),
         "G40|T3M6|G00G90G43H3Z50.|S900M05|X0Y0|G00|> Z5."},
        {"the tool in the spindle, then the one selected next",
         lines({"%", "O11", "T1M6", "G00G43H1Z50.", "T2", "G00X0Y0", "G01Z-1.F100.", "<<X5."}),
         "G40|T1M6|T2|G00G90G43H1Z50.|M05|X0Y0|G01Z-1.F100.|G01F100.|"},
        {"a negated variable leaves its axis unknown: no descent",
         lines({"%", "O2", "G00X0Y0Z5.", "G01X-#1F100.", "<<Y10."}), "G40|G00G90Z50.|Y0|G01F100.|> Y10. # "},
        {"a height from a variable cannot be checked against the clearance",
         lines({"%", "O2", "G00X0Y0Z5.", "G01Z-[#1+2]F100.", "<<X10."}), "refused: Z が変数で指令されています"},
        {"a tool number from a variable is needed for the tool change",
         lines({"%", "O2", "T#5M6", "G00G43H1Z50.", "<<X1."}), "refused: 主軸の工具（T）がわかりません（行 3: 変数で指令された値（T））"},
        {"a length offset number from a variable",
         lines({"%", "O2", "G00G43H#2Z50.", "<<X1."}), "refused: 工具長補正の番号（H）がわかりません（行 3"},
        {"a speed from a variable with the spindle on",
         lines({"%", "O2", "S#1M3", "G00X1.", "<<X2."}), "refused: 主軸の回転数（S）がわかりません"},
        {"an unknown feed when the block feeds", lines({"%", "O14", "G00X0Y0Z5.", "G01Z-1.F#1", "<<X200."}),
         "refused: 送り速度（F）がわかりません（行 4"},
        {"what a while loop changes is unknown after it",
         lines({"%", "O3", "G00X0Y0Z5.", "#1=0", "WHILE[#1LT3]DO1", "G01X[#1*10]F100.", "#1=#1+1", "END1", "<<G01Y5.F9."}),
         "G40|G00G90Z50.|Y0|> G01Y5.F9. # "},
        {"a block inside a WHILE loop", lines({"%", "O3", "WHILE[#1LT3]DO1", "<<G01X1.F1.", "END1"}),
         "refused: 繰り返し（DO1）の中からは再開できません"},
        {"an o-word loop", lines({"%", "O3", "o100 repeat [2]", "<<G01X1.F1.", "o100 endrepeat"}),
         "refused: 繰り返し（o100）の中から"},
        {"both branches of an if change the feed: unknown",
         lines({"%", "O3", "G00X0Y0Z5.", "o1 if [#1 GT 0]", "G01Z-1.F100.", "o1 else", "G01Z-1.F200.", "o1 endif", "<<X5."}),
         "refused: 行 4: 条件分岐（o1）の後"},
        {"a backward jump that spans the block",
         lines({"%", "O3", "N10G00X1.", "<<G01X2.F1.", "IF[#1LT3]GOTO10"}), "refused: 行 5 の GOTO で繰り返される範囲"},
        {"a block that an unconditional jump passes over", lines({"%", "O3", "GOTO20", "<<G01X2.F1.", "N20G00X1."}),
         "refused: 行 3 の GOTO で飛ばされるブロックです"},
        {"a G40 lead-out is still inside compensation",
         lines({"%", "O15", "G00X0Y0Z5.", "G41D1G01X10.F100.", "Y10.", "<<G40G01X20.Y20."}),
         "refused: 工具径補正 G41 の途中のブロックです。補正を指令した行 4 から"},
        {"after the lead-out move", lines({"%", "O15", "G00X0Y0Z5.", "G41D1G01X10.F100.", "G40G01X20.Y20.", "<<G00Z9."}),
         "G40|G00G90Z50.|X20.Y20.|G01Z5.F100.|F100.|> G00Z9."},
        {"the return level is restored whenever set; a cycle closed before",
         lines({"%", "O3", "G00X0Y0Z10.", "G99G81X10.Y10.Z-5.R2.F80.", "X20.", "G80", "G00Z10.", "<<X30."}),
         "G80G40|G00G90Z50.|X20.Y10.|G00Z10.|G99G00F80.|"},
        {"a hole of the cycle in force gets the cycle's code and words",
         lines({"%", "O7", "G00X0Y0Z10.", "G98G83X1.Y1.Z-3.R1.Q1.F50.", "<<N20X2.", "G80"}),
         "G80G40|G00G90Z50.|X1.Y1.|G00Z10.|G98G00F50.|> N20G83X2.Z-3.R1.Q1. # "},
        {"a cycle restated without Z and R", lines({"%", "O7", "G00X0Y0Z10.", "G99G81X1.Y1.Z-3.R1.F50.", "<<G81X2.", "G80"}),
         "G80G40|G00G90Z50.|X1.Y1.|G00Z1.|G99G00F50.|> G81X2.Z-3.R1."},
        {"the height of a drilling cycle's R level counts for the clearance",
         lines({"%", "O7", "G00X0Y0Z10.", "G99G81X1.Y1.Z-3.R60.F50.", "G80", "<<G00X5."}),
         "refused: 退避高さ Z50. は、それまでの最も高い Z60. 以上"},
        {"calls that multiply past the budget leave the state unknown, quickly",
         lines({"%", "O1", "G00X0Y0Z10.", "M98P2", "<<G00X1.", "M30", "O2", "M98P2", "M98P2", "M98P2", "M98P2",
                "M98P2", "M99"}),
         "refused: 座標回転がわかりません（行 10: サブプログラムの呼び出しで実行される行が多すぎて"},
        {"a hole of a cycle in G19: the approach along Z would miss it",
         lines({"%", "O7", "G00X0Y0Z10.", "G19G99G81Y1.Z1.X-3.R1.F50.", "<<Y2.", "G80"}),
         "refused: G18/G19 平面の固定サイクル"},
        {"an arc top in G18 counts for the clearance",
         lines({"%", "O7", "G00X0Y0Z0.", "G18G03X120.Z0.I60.K0.", "G17", "<<G00X5."}), "refused: それまでの最も高い Z60. 以上"},
        {"a Z without a decimal point is taken at its higher reading",
         lines({"%", "O7", "G00X0Y0Z100", "<<G00X5."}), "refused: 退避高さ Z50. は、それまでの最も高い Z100. 以上"},
        {"each coolant on its own line", lines({"%", "O7", "G00X0Y0Z5.", "M07", "M08", "<<X1."}),
         "G40|G00G90Z50.|X0Y0|M07|M08|G00Z5.|G00|"},
        {"rotation in force", lines({"%", "O7", "G68X0Y0R30.", "G00X1.", "<<X2."}), "refused: 行 3 の G68（座標回転）"},
        {"an unknown M code after the spindle started",
         lines({"%", "O7", "S100M03", "M13", "<<G00X2."}), "refused: 行 4 の M13 は解釈できない M コード"},
        {"a known G92 shift is set again as G52",
         lines({"%", "O7", "G00X10.Y20.", "G92X0Y0", "G00X1.Y1.", "<<X2."}), "G40|G52X10.Y20.|G90|G00X1.Y1.|G00|"},
        {"a G92 shift made where the tool stood unknown",
         lines({"%", "O7", "G92X0Y0Z0", "G00X1.", "<<X2."}), "refused: 座標系のずれ（G92/G52）がわかりません（行 3"},
        {"units switched", lines({"%", "O7", "G21", "G00X1.", "G20", "<<X2."}), "refused: 行 5 でインチ/ミリ"},
        {"a lathe program", lines({"%", "O7", "G18", "G00X20.Z5.", "<<G01Z-10.F.1"}), "refused: 旋盤のプログラム"},
        {"a subprogram of the file is followed where it is called",
         lines({"%", "O1", "G00X0Y0Z5.", "M98P100", "<<X5.", "M30", "O100", "G01Z-1.F77.", "M99", "%"}),
         "G40|G00G90Z50.|X0Y0|G01Z-1.F77.|G01F77.|"},
        {"a call to a program the file does not hold", lines({"%", "O1", "G00X0Y0Z5.", "M98P200", "<<X5."}),
         "refused: 座標回転がわかりません（行 4: M98P200 で呼び出したプログラムがこのファイルにありません）"},
        {"inside a called subprogram",
         lines({"%", "O8", "M98P9", "M30", "O9", "G01X1.", "<<X2.", "M99", "%"}), "refused: サブプログラムの中から"},
        {"the O line of a called program", lines({"%", "O8", "M98P9", "M30", "<<O9", "G01X1.", "M99"}),
         "refused: サブプログラムの中から"},
        {"its first block", lines({"%", "O8", "M98P9", "M30", "O9", "<<G01X1.", "M99"}), "refused: サブプログラムの中から"},
        {"a call with leading zeros", lines({"%", "O1", "M098P100", "M30", "O100", "<<G01X1.", "M99"}),
         "refused: サブプログラムの中から"},
        {"a repeat count before the number", lines({"%", "O1", "M98P30012", "M30", "O0012", "<<G01X1.", "M99"}),
         "refused: サブプログラムの中から"},
        {"a call with a tab is followed", lines({"%", "O1", "G00X0Y0Z5.", "M\t98P100", "<<X5.", "M30", "O100", "G01Z-1.F77.", "M99"}),
         "G40|G00G90Z50.|X0Y0|G01Z-1.F77.|"},
        {"three calls: their increments add up, the mode after is the last one's",
         lines({"%", "O1", "G00X0Y0Z5.", "M98P100L3", "<<G01X9.F50.", "M30", "O100", "G91G01X1.F60.", "G90", "M99"}),
         "G40|G00G90Z50.|X3.Y0|G01Z5.F60.|"},
        {"a repeat count before the number runs it that many times",
         lines({"%", "O1", "G00X0Y0Z5.", "M98P30100", "<<G01X9.F50.", "M30", "O100", "G91G01X1.F60.", "G90", "M99"}),
         "G40|G00G90Z50.|X3.Y0|G01Z5.F60.|"},
        {"an axis given twice", lines({"%", "O1", "G00X0Y0Z5.", "X1.Y2.Y3.", "<<X5."}), "refused: 行 4 は軸のアドレス Y を2回"},
        {"the first block after G69", lines({"%", "O7", "G00X0Y0Z5.", "G68X0Y0R30.", "G01X10.F100.", "G69", "<<Y5."}),
         "refused: 開始点の X がわかりません（行 6: G69 の前の座標回転中の位置）"},
        {"numbers without a point go out as written; an increment without one is no sum",
         lines({"%", "O1", "G00X10Y5Z5.", "G91G01X10F100.", "<<Y1."}), "G40|G00G90Z50.|Y5|"},
        {"an extra work offset keeps its P", lines({"%", "O1", "G54.1P2", "G00X0Y0Z5.", "<<X1."}), "G40|G54.1P2|"},
        {"the speed set while the spindle was off", lines({"%", "O1", "S1000F300.", "G00X0Y0Z5.", "<<M03"}),
         "G40|G00G90Z50.|S1000|"},
        {"after M19 the spindle is off", lines({"%", "O1", "G00X0Y0Z5.", "M19", "<<S800M03"}), "G40|G00G90Z50.|M05|"},
        {"G40 given, its move still to come", lines({"%", "O15", "G00X0Y0Z5.", "G41D1G01X10.F100.", "G40", "<<G01X20.Y20."}),
         "refused: 工具径補正を G40 で取り消す移動がまだ"},
        {"the intermediate point of G30 is a height reached", lines({"%", "O1", "G00X0Y0Z5.", "G90G30Z80.", "G00Z5.", "<<X1."}),
         "refused: それまでの最も高い Z80. 以上"},
        {"after G91 G28 Z0: up to the top, across, down with the offset",
         lines({"%", "O1", "G91G28Z0", "G90G54G61", "T1M06", "G00X0Y0", "G43H1Z50.", "S1000M03", "G01Z-1.F100.", "<<X5."}),
         "G40|G54G61|T1M06|G91G28Z0|G90|S1000M03|G00X0Y0|G00G90G43H1Z50.|G01Z-1.F100.|"},
        {"at the top the block starts there, the old offset cancelled before the new one",
         lines({"%", "O1", "T1M06", "G43H1Z50.", "X5.", "G91G28Z0", "G90", "T2M06", "<<G00X5.Y5.", "G43H2Z50."}),
         "G40|T2M06|G91G28Z0|G90G49|M05|G00X5.|"},
        {"a data setting's Z between the tool change and its offset",
         lines({"%", "O12", "T1M6", "G00G43H1Z50.", "T2M6", "<<G00X30.Y0.", "G10L2P1Z-5.", "G43H2Z50."}),
         "G40|T2M6|G00G90G43H2Z50.|"},
        {"a main program ending in M99 is no subprogram",
         lines({"%", "O8", "G00X1.", "<<X2.", "M99", "%"}), "G40|G90|G00X1.|G00|> X2."},
        {"after /M30 with block skip on, earlier / blocks skipped",
         lines({"%", "O8", "G00X1.", "/G00X9.", "/M30", "<<X2."}),
         "G40|G90|G00X1.|G00|> X2. # 行 5: / の付いた終了の後のブロックです"},
        {"after the end of the main program", lines({"%", "O10", "G00X1.", "M30", "<<G00X2."}),
         "refused: 行 4 でプログラムが終わっています"},
        {"a variable assigned before the block and used after",
         lines({"%", "O10", "#1=5.", "G00X1.", "<<G00X#1"}), "refused: 行 5 で使う変数 #1 は"},
        {"the first block after the opening lines: no preamble", lines({"%", "O6", "<<G00X1.", "M30"}), "> G00X1."},
        {"a clearance below the highest Z so far", lines({"%", "O17", "G00Z80.", "<<X1."}),
         "refused: 退避高さ Z50. は、それまでの最も高い Z80. 以上にしてください。"},
        {"an o-word subroutine body", lines({"%", "O18", "o100 sub", "G01X1.", "<<X2.", "o100 endsub", "M30"}),
         "refused: サブルーチン（o100）の中から"},
    };
    for (const Case& c : cases) {
        const std::string got = restartAt(c.program);
        const bool refusal = c.expected.rfind("refused: ", 0) == 0;
        if (refusal)
            EXPECT_NE(got.find(c.expected.substr(9)), std::string::npos) << c.what << "\n" << got;
        else
            EXPECT_EQ(got.substr(0, c.expected.size()), c.expected) << c.what << "\n" << got;
    }
}

TEST(Restart, BlockNumbersLinesAndTheTextSent)
{
    // LF CR line ends: one line end each, as Save writes them.
    const std::string text = "%\n\rO1\n\rN10G00X1.Z5.\n\rN100G01X2.F10.\n\r/N1000X3.\n\rN10000M30\n\r%\n\r";
    EXPECT_EQ(findBlockNumber(text, "N100"), 3u);
    EXPECT_EQ(findBlockNumber(text, "1000"), 4u); // after the block-skip slash
    EXPECT_EQ(findBlockNumber(text, "N1"), std::nullopt);
    EXPECT_EQ(findBlockNumber(text, "N10x"), std::nullopt);

    const RestartPlan plan = planRestart(text, 4, "10.");
    ASSERT_TRUE(plan.sendable()) << plan.refusal;
    EXPECT_EQ(restartText(text, plan, "G00Z10."), "%\n\rO1\n\rG00Z10.\r\n/N1000X3.\n\rN10000M30\n\r%\n\r");
    EXPECT_EQ(planRestart(text, 7, "10.").refusal, "行 8 はありません。");
    // The editor follows: the opening at its place, the preamble at the block, the rest from there.
    const RestartSend send = restartSend(text, plan, "G00Z10.");
    const std::size_t block = text.find("/N1000"), preambleAt = 7, restAt = 7 + 9;
    EXPECT_EQ(send.text.substr(restAt, 3), "/N1");
    for (auto [sent, shown] : {std::pair{std::size_t(3), std::size_t(3)}, {preambleAt, block}, {restAt - 1, block},
                               {restAt, block}, {restAt + 2, block + 2}})
        EXPECT_EQ(send.editorOffset(sent), shown) << sent;
    // From the first block the text goes out unchanged.
    EXPECT_EQ(restartText(text, planRestart(text, 2, ""), ""), text);
    EXPECT_EQ(restartText(text, planRestart(text, 0, ""), ""), text);
    // No clearance for a program that moves Z: nothing can be sent yet.
    EXPECT_TRUE(planRestart(text, 3, "").clearanceMissing);
    EXPECT_EQ(clearanceWord("50"), "Z50."); // never read as thousandths
    EXPECT_EQ(clearanceWord("-2.50"), "Z-2.5");
}

} // namespace
