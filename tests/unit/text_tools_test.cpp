#include "editor/TextCommands.h"
#include "platform/posix/Cp932Codec.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>

using namespace tarvex;

TEST(TextTools, ReplaceAllScansLeftToRightAndNeverOverlaps)
{
    struct Row {
        std::string text, find, with, result;
        long count;
    };
    const Row rows[] = {
        {"X1X2", "X", "X-", "X-1X-2", 2},                   // the output is never searched again
        {"aaab", "aab", "!", "aaab", 0},                     // a failed partial match consumes its characters
        {"aabaab", "aab", "!", "!!", 2},
        {"aab", "ab", "!", "aab", 0},
        // A stray lead byte (0x82, kept as U+F782) never takes the next character.
        {"G01\uF782 X1.", " ", "", "G01\uF782 X1.", 0},
        {"G01\uF782 X1.", " X", "Y", "G01\uF782 X1.", 0},
        {"G01\uF782 \r\n", " ", "", "G01\uF782\r\n", 1},
        {"G01g01Ｇ01", "G01", "G1", "G1g01Ｇ01", 1},        // case and width are exact
        {"G01X1.\r\nG01X2.\nG01", "G01", "", "X1.\r\nX2.\n", 3}, // empty replacement deletes; line ends untouched
        {"G01X1.", "", "Z", "G01X1.", 0},                    // empty find replaces nothing
        {"(加工)加工X", "加工", "ｶｺｳ", "(ｶｺｳ)ｶｺｳX", 2},
        {"加工加", "加工", "!", "!加", 1},                   // a partial match at the end stays
        {"G0", "G01", "!", "G0", 0},
    };
    for (const Row& r : rows) {
        long count = -1;
        EXPECT_EQ(replaceAll(r.text, r.find, r.with, count), r.result) << r.text << " " << r.find;
        EXPECT_EQ(count, r.count) << r.text << " " << r.find;
    }
}

TEST(TextTools, FindNextStartsOneCharacterAfterTheCaretAndNeverWraps)
{
    // Each search starts one character after the last hit: overlapping hits are found too.
    const std::string text = "aaaX加aa";
    std::vector<std::size_t> hits;
    for (auto at = findNext(text, "aa", 0); at; at = findNext(text, "aa", *at))
        hits.push_back(*at);
    EXPECT_EQ(hits, (std::vector<std::size_t>{1, 7})); // the one at the caret (0) is not found
    EXPECT_EQ(findNext(text, "X", 0), std::optional<std::size_t>(3));
    EXPECT_EQ(findNext(text, "a", 4), std::optional<std::size_t>(7)); // after the two-byte... three-byte 加
    EXPECT_FALSE(findNext(text, "aa", 7));
    EXPECT_FALSE(findNext(text, "", 0));
}

TEST(TextTools, LineReplaceNumbersTheLinesItReplaces)
{
    std::string tenThousand;
    for (int k = 0; k < 10000; ++k)
        tenThousand += "G00\r\n";
    struct Row {
        std::string text, match, block, result;
        long count;
    };
    const Row rows[] = {
        {"O1\r\nG00X1.\r\nG01X2.\r\nG00X3.\r\nM30\r\n", "G00", "N#G00\r\n", "O1\r\nN1G00\r\nG01X2.\r\nN2G00\r\nM30\r\n", 2},
        {"O1\r\nG00X1.\r\nG01X2.\r\n", "G00", "N#G00", "O1\r\nN1G00G01X2.\r\n", 1}, // no final line end: joined
        {"G00\r\nX1.\r\n", "G00", "N#\r\nG00 (#)\r\n", "N1\r\nG00 (1)\r\nX1.\r\n", 1},
        {"A\nB\rC", "Z", "!", "A\r\nB\r\nC\r\n", 0}, // no match: line ends made CR LF, the last one added
        {"G00\r\n", "", "!", "G00\r\n", 0},          // an empty match matches no line
        {"A\r\nX1.\r\n", "A", "N\uF782", "A\r\nX1.\r\n", 0}, // a stray lead byte would take the X
    };
    for (const Row& r : rows) {
        long count = -1;
        EXPECT_EQ(lineReplace(r.text, r.match, r.block, count), r.result) << r.text;
        EXPECT_EQ(count, r.count) << r.text;
    }
    long count = 0;
    const std::string numbered = lineReplace(tenThousand, "G00", "N#\r\n", count);
    EXPECT_EQ(count, 10000);
    EXPECT_EQ(numbered.substr(numbered.size() - 8), "N10000\r\n");
}

TEST(TextTools, SpacesAndChecks)
{
    long count = -1;
    EXPECT_EQ(stripSpaces("G00 X10. Y20.\r\n", count), "G00X10.Y20.\r\n");
    EXPECT_EQ(count, 2);
    EXPECT_EQ(stripSpaces("G00　X1.\t\r\n", count), "G00　X1.\t\r\n"); // full-width space and tab stay
    EXPECT_EQ(count, 0);
    EXPECT_EQ(stripSpaces("G01\uF782 X1. Y2.", count), "G01\uF782 X1.Y2.");
    EXPECT_EQ(count, 1);

    struct Row {
        std::string text;
        TapeCode code;
        bool clean;
        std::size_t offset, line, column, read;
    };
    const Row rows[] = {
        {"O1\r\nG00X1.\r\nG01X2.\r\n", TapeCode::Iso, true, 0, 1, 1, 20},
        {"O1\r\nG00X1.\r\ng01X2.\r\n", TapeCode::Iso, false, 12, 3, 1, 13}, // the lower-case g in line 3
        {"O1\nG0X1.g", TapeCode::Eia, false, 8, 2, 6, 9},                    // the very last character
        {"O1(加工)\r\nG0", TapeCode::Iso, false, 3, 1, 4, 4},
        {"N1 X\"1\"\r\n", TapeCode::Eia, false, 4, 1, 5, 5},                 // a double quote is no EIA character
    };
    for (const Row& r : rows) {
        std::vector<std::size_t> told;
        const CheckResult c = checkCharacters(r.text, r.code, [&](std::size_t n) { told.push_back(n); });
        EXPECT_EQ(c.clean, r.clean) << r.text;
        EXPECT_EQ(c.read, r.read) << r.text;
        if (!r.clean) {
            EXPECT_EQ(c.offset, r.offset) << r.text;
            EXPECT_EQ(c.line, r.line) << r.text;
            EXPECT_EQ(c.column, r.column) << r.text;
        }
    }
    std::vector<std::size_t> told;
    checkCharacters(std::string(250, 'G'), TapeCode::Iso, [&](std::size_t n) { told.push_back(n); });
    EXPECT_EQ(told, (std::vector<std::size_t>{100, 200}));
}

namespace {

struct TextCommandsTest : ::testing::Test, fakes::FakeUi {
    fakes::MemorySettings settings;
    fakes::MemoryFileSystem fs;
    Cp932Codec codec;
    fakes::FakeEditor editor;
    bool CharValid = true;
    std::vector<std::string> status;
    TextCommands t{{editor, fs, codec, ui, settings, "/home/", CharValid,
                    [this](const std::string& s) { status.push_back(s); }}};
    TextCommandsTest() { fs.folders.insert("/home"); }
    std::string lastBox() const { return box.shown.empty() ? "" : box.shown.back().text; }
};

} // namespace

TEST_F(TextCommandsTest, RewritesGoThroughTheirWorkFilesAndCanBeUndone)
{
    editor.content = "G00 X1.\r\nG00 X2.\r\n";
    EXPECT_EQ(t.replaceAll("X", "X-"), 2);
    EXPECT_EQ(lastBox(), "[ 2 ]個を変換しました。");
    EXPECT_EQ(t.lineReplace("X-2", "N#G01\r\n"), 1);
    EXPECT_EQ(lastBox(), "1行を変換しました。");
    t.MnuSpDel_Click();
    EXPECT_EQ(lastBox(), "1 個のスペースを削除しました");
    EXPECT_EQ(editor.content, "G00X-1.\r\nN1G01\r\n");
    // Each rewrite is one undo step; the work files are gone.
    EXPECT_EQ(editor.undo, (std::vector<std::string>{"G00 X1.\r\nG00 X2.\r\n", "G00 X-1.\r\nG00 X-2.\r\n",
                                                     "G00 X-1.\r\nN1G01\r\n"}));
    EXPECT_EQ(fs.files.size(), 0u);
    // No line matched: no message.
    box.shown.clear();
    EXPECT_EQ(t.lineReplace("Z", "!"), 0);
    EXPECT_TRUE(box.shown.empty());
    EXPECT_EQ(t.replaceAll("", "!"), 0);
    EXPECT_EQ(lastBox(), "[ 0 ]個を変換しました。");
}

TEST_F(TextCommandsTest, RewritesNeedNoWorkFile)
{
    // A data folder that takes no file stops no rewrite: the text is changed in memory.
    fs.readOnly.insert("/home");
    editor.content = "G00 X1.";
    EXPECT_EQ(t.replaceAll("X", "Y"), 1);
    EXPECT_EQ(editor.content, "G00 Y1.");
    EXPECT_TRUE(fs.files.empty());
}

TEST_F(TextCommandsTest, FindNextSelectsTheHitOrSaysThereIsNone)
{
    editor.content = "G01X1.G01";
    EXPECT_TRUE(t.findNext("G01"));
    EXPECT_EQ(editor.byteStart, 6u); // not the one at the caret
    EXPECT_EQ(editor.byteLength, 3u);
    EXPECT_FALSE(t.findNext("G01"));
    EXPECT_EQ(lastBox(), "検索文字[ G01 ]が見つかりませんでした。");
    // Shift+F3: back to the one before, then none before the first.
    EXPECT_TRUE(t.findAgain(true) && editor.byteStart == 0u);
    EXPECT_FALSE(t.findAgain(true));
    box.shown.clear();
    EXPECT_FALSE(t.findNext(""));
    EXPECT_TRUE(box.shown.empty());
}

TEST_F(TextCommandsTest, ChecksSelectTheOffenderAndTellTheProgressInBytes)
{
    editor.content = "O1(加工)\r\n" + std::string(200, 'X') + "g";
    t.MnuISOCheck_Click();
    EXPECT_FALSE(CharValid);
    EXPECT_EQ(editor.byteStart, 3u); // the first character of the comment
    EXPECT_EQ(editor.byteLength, 3u);
    EXPECT_EQ(lastBox(), "ISOコードにない文字を検出しました。");
    EXPECT_EQ(status.back(), "");
    EXPECT_EQ(status[status.size() - 2], "4/211"); // cp932 bytes: more than the characters read

    // The offender as the very last character: both messages, one after the other.
    editor.content = "G01X1.\r\ng";
    box.shown.clear();
    t.MnuEIACheck_Click();
    ASSERT_EQ(box.shown.size(), 2u);
    EXPECT_EQ(box.shown[0].text, "EIAコードにない文字を検出しました。");
    EXPECT_EQ(box.shown[1].text, "EIAコードチェックを完了しました。");
    editor.content = "G01X1.\r\n";
    box.shown.clear();
    t.MnuISOCheck_Click();
    EXPECT_TRUE(CharValid);
    EXPECT_EQ(lastBox(), "ISOコードチェックを完了しました。");
    EXPECT_TRUE(fs.files.empty()); // no work file
}

TEST_F(TextCommandsTest, RegistrationsAreFilesOfTheirOwnFolderOnly)
{
    EXPECT_TRUE(t.registrations().empty());
    EXPECT_TRUE(fs.isFolder("/home/morlex"));
    ASSERT_TRUE(t.registerAs("SEQ", {"G00", "N#G00\r\n"}));
    EXPECT_EQ(lastBox(), "SEQ を登録しました。");
    EXPECT_EQ(fs.files["/home/morlex/SEQ"], "G00\r\nN#G00\r\n");
    auto back = t.loadRegistration("SEQ");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->match, "G00");
    EXPECT_EQ(back->block, "N#G00\r\n");
    for (const char* name : {"", "../x", "a/b", "..", "a\tb"}) {
        box.shown.clear();
        EXPECT_FALSE(t.registerAs(name, {"G00", "!"})) << name;
        EXPECT_EQ(lastBox(), "登録名にはファイル名に使えない文字を含めないで下さい。");
    }
    EXPECT_EQ(t.registrations(), std::vector<std::string>{"SEQ"});
    EXPECT_EQ(fs.files.size(), 1u);
    EXPECT_FALSE(t.loadRegistration("NONE"));
    EXPECT_EQ(box.shown.back().title, "シリアル通信SYSTEM");
    EXPECT_EQ(lastBox(), "プロパティ読み込みエラー");
    box.answer = MsgAnswer::No;
    EXPECT_FALSE(t.deleteRegistration("SEQ"));
    EXPECT_EQ(lastBox(), "SEQ を削除してよいですか。");
    box.answer = MsgAnswer::Yes;
    EXPECT_TRUE(t.deleteRegistration("SEQ"));
    EXPECT_TRUE(t.registrations().empty());
    t.rememberRegistration("SEQ");
    EXPECT_EQ(settings.values["Vospergan/ConvName"], "SEQ");
}
