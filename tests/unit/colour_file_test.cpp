#include "platform/posix/Cp932Codec.h"
#include "tests/fakes/Fakes.h"
#include "toolpath/ConditionTable.h"

#include <gtest/gtest.h>

using namespace tarvex;

TEST(ColourFile, ReadsRecordsUntilTheTextEndsOrStopsParsing)
{
    struct Row {
        const char* text;
        int named;         // entries 1..named read
        const char* name1;
        std::uint32_t colour1;
    };
    const Row rows[] = {
        {"\"T1\",255\r\n\"T2\",65280\r\n", 2, "T1", 255},
        {"\"T1\",255\r\n\"T2\",abc\r\n\"T3\",1\r\n", 1, "T1", 255}, // stops at the bad colour
        {"\"T1\",255", 1, "T1", 255},                                // no final line end
        {"\"T1\"\r\n", 0, "", ConditionTable::white},                // short record
        {"\"T1,255\r\n", 0, "", ConditionTable::white},              // unclosed quote
        {"T1,255\r\n", 1, "T1", 255},                                // unquoted name
        {"", 0, "", ConditionTable::white},
        {" \"D12\" , 16711680 \r\n", 1, "D12", 16711680},
    };
    for (const Row& r : rows) {
        ConditionTable t;
        parseColourFile(t, r.text);
        EXPECT_EQ(t.conditionName[1], r.name1) << r.text;
        EXPECT_EQ(t.conditionColour[1], r.colour1) << r.text;
        for (int k = r.named + 1; k < ConditionTable::count; ++k) {
            EXPECT_EQ(t.conditionColour[k], ConditionTable::white) << r.text << " entry " << k;
            EXPECT_TRUE(t.conditionName[k].empty());
        }
    }
}

TEST(ColourFile, WritesTwentyRecordsThatReadBack)
{
    ConditionTable t;
    t.conditionName[1] = "T1";
    t.conditionColour[1] = 255;
    t.conditionName[20] = "H20";
    t.conditionColour[20] = 0;
    const std::string text = formatColourFile(t);
    EXPECT_EQ(text.substr(0, 10), "\"T1\",255\r\n");
    EXPECT_EQ(text.substr(10, 13), "\"\",16777215\r\n");
    ConditionTable back;
    parseColourFile(back, text);
    EXPECT_EQ(back.conditionName, t.conditionName);
    EXPECT_EQ(back.conditionColour, t.conditionColour);
    int lines = 0;
    for (char c : text)
        lines += c == '\n';
    EXPECT_EQ(lines, 20);
}

TEST(ColourFile, MissingFileLeavesDefaults)
{
    fakes::MemoryFileSystem fs;
    Cp932Codec codec;
    ConditionTable t;
    t.conditionName[3] = "old";
    t.conditionVisible[3] = false;
    EXPECT_FALSE(loadColourFile(t, fs, codec, "/home/"));
    EXPECT_EQ(t.conditionName[3], "");
    EXPECT_TRUE(t.conditionVisible[3]);
    // A file too large to be ours reads as absent, and says so.
    fs.files["/home/TARVEX.RGB"] = "\"T1\",255\r\n" + std::string(smallFileLimit, ' ');
    EXPECT_EQ(loadColourFile(t, fs, codec, "/home/").number, 7);
    EXPECT_EQ(t.conditionName[1], "");
}
