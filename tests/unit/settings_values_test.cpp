#include "platform/SettingsStore.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>

using namespace tarvex;

TEST(SettingsValues, NumbersAreWrittenAsTheShortestSinglePrecisionText)
{
    const std::pair<float, const char*> cases[] = {
        {1234.0f, "1234"}, {10.5f, "10.5"}, {0.0f, "0"}, {-60.0f, "-60"}, {0.1f, "0.1"}, {16777215.0f, "16777215"},
    };
    for (auto [value, text] : cases) {
        EXPECT_EQ(formatNumber(value), text);
        EXPECT_EQ(parseNumber(text), value) << text;
    }
}

TEST(SettingsValues, StoredTextThatDoesNotParseReadsAsTheDefault)
{
    fakes::MemorySettings s;
    struct Row {
        const char* stored;
        bool asBool;     // with default false
        int asInt16;     // with default 50
        float asNumber;  // with default 12
    };
    const Row rows[] = {
        {"True", true, 50, 12},    {"False", false, 50, 12}, {"true", true, 50, 12}, {"abc", false, 50, 12},
        {"", false, 50, 12},       {"1", true, 1, 1},        {"0", false, 0, 0},     {" 42 ", true, 42, 42},
        {"40000", true, 50, 40000}, {"2.5", true, 2, 2.5f},  {"3.5", true, 4, 3.5f}, {"1e39", false, 50, 12},
        {"nan", false, 50, 12},
    };
    for (const Row& r : rows) {
        s.write("Tarvex", "K", r.stored);
        EXPECT_EQ(readBool(s, "Tarvex", "K", false), r.asBool) << r.stored;
        EXPECT_EQ(readInt16(s, "Tarvex", "K", 50), r.asInt16) << r.stored;
        EXPECT_EQ(readNumber(s, "Tarvex", "K", 12), r.asNumber) << r.stored;
    }
}

TEST(SettingsValues, AbsentKeysReadAsTheirDefaults)
{
    fakes::MemorySettings s;
    EXPECT_TRUE(readBool(s, "Tarvex", "GrCheck", true));
    EXPECT_EQ(readInt16(s, "Tarvex", "Cmd", 1), 1);
    EXPECT_EQ(readNumber(s, "Tarvex", "FontSize", 12), 12);
    writeBool(s, "Tarvex", "DelSub", true);
    EXPECT_EQ(s.get("DelSub"), "True");
    writeNumber(s, "Tarvex", "FontSize", 10.5f);
    EXPECT_EQ(s.get("FontSize"), "10.5");
}
