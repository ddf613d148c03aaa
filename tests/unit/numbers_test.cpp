#include "platform/Numbers.h"

#include <gtest/gtest.h>

using namespace tarvex;

TEST(LeadingValue, ReadsTheLongestNumberAfterRemovingBlanks)
{
    const std::pair<const char*, double> cases[] = {
        {"01", 1},        {"1", 1},          {" 1", 1},          {"1 2", 12},     {"\t-1 . 5", -1.5},
        {"12.5X", 12.5},  {".5", 0.5},       {"-.5", -0.5},      {"5.", 5},        {"1.2.3", 1.2},
        {"1.5E2", 150},   {"1D3", 1000},     {"1e", 1},          {"2E+1", 20},     {"3e-1", 0.3},
        {"&H93", 147},    {"&H11", 17},      {"&HFFFF", -1},     {"&H10000", 65536}, {"&O17", 15},
        {"", 0},          {"abc", 0},        {"-", 0},           {"--5", 0},       {"+7", 7},
        {"1e-999", 0},    {"000000000000000000000000000000000000000000000000000000000042", 42},
    };
    for (const auto& [text, value] : cases) {
        bool overflow = false;
        EXPECT_DOUBLE_EQ(leadingValue(text, &overflow), value) << text;
        EXPECT_FALSE(overflow) << text;
    }
}

TEST(LeadingValue, NumbersBeyondADoubleOverflow)
{
    for (std::string text : {std::string("1e999"), std::string("1E400"), std::string(400, '9'), std::string("&H1FFFFFFFF")}) {
        bool overflow = false;
        leadingValue(text, &overflow);
        EXPECT_TRUE(overflow) << text;
    }
}

TEST(AddressValue, RunWithoutPointIsInThousandths)
{
    const std::pair<const char*, float> cases[] = {
        {"X1000", 1.0f},   {"X1.", 1.0f},     {"X-500", -0.5f},  {"X1.5Y2", 1.5f}, {"X#1", 0.0f},
        {"X-------", 0.0f}, {"X", 0.0f},      {"X10", 0.01f},    {"X1.2.3", 1.2f}, {"X1e39", 0.001f},
        {"X5-3", 0.005f},  {"X.5", 0.5f},
    };
    for (const auto& [line, value] : cases) {
        bool overflow = false;
        EXPECT_FLOAT_EQ(addressValue(line, 0, overflow), value) << line;
        EXPECT_FALSE(overflow);
    }
    bool overflow = false;
    addressValue("X" + std::string(50, '9') + ".", 0, overflow);
    EXPECT_TRUE(overflow);
}

TEST(NumberPattern, OptionalAndRequiredDigitsRoundedNeverGrouped)
{
    struct Row {
        double value;
        const char* pattern;
        const char* text;
    };
    const Row rows[] = {
        {12.5, "####0.0##", "12.5"},      {-3.25, "####0.0##", "-3.25"},   {10, "####0.0#######", "10.0"},
        {-0.5, "####0.0#######", "-0.5"}, {12, "##0.0", "12.0"},           {0, "##0.0", "0.0"},
        {1500, "###0", "1500"},           {99.96, "##0.0", "100.0"},       {-0.00001, "##0.0", "0.0"},
        {5, "##00", "05"},                {2.5, "#", "3"},                 {-2.5, "0", "-3"},
        {1234567.891, "0.0", "1234567.9"}, {0.125, "0.00", "0.13"},        {1e-6, "0.0#####", "0.000001"}, {4e-7, "0.0#####", "0.0"},
        {1.5707963705062866 * 57.2957795130823, "#####0.0############", "90.0000025044781"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(formatPattern(r.value, r.pattern), r.text) << r.value << " " << r.pattern;
    // A single-precision value goes by the digits that read back as itself.
    EXPECT_EQ(formatPattern(0.1f, "####0.0#######"), "0.1");
    EXPECT_EQ(formatPattern(123.456f, "####0.0#######"), "123.456");
    EXPECT_EQ(formatPattern(-1e-9f, "####0.0#######"), "0.0");
}

TEST(CallName, WholeNumberAfterTheLetter)
{
    const std::pair<const char*, const char*> cases[] = {
        {"0100", "O100"}, {"1234L2", "O1234"}, {"12.5", "O13"}, {"12.4", "O12"}, {"0", "O0"},
        {"", "O"},        {"(X)", "O"},        {" 7", "O7"},    {"99999999999999999999", "O99999999999999999999"},
    };
    for (const auto& [rest, name] : cases)
        EXPECT_EQ(callName('O', rest), name) << rest;
}
