#include "serial/TapeCode.h"

#include <bitset>
#include <gtest/gtest.h>

using namespace tarvex;

namespace {
int ones(unsigned v) { return static_cast<int>(std::bitset<8>(v).count()); }
} // namespace

TEST(TapeCode, IsoOutputHasEvenParityAndComesBackThroughIsoIn)
{
    int legal = 0;
    for (char32_t c = 0; c < 256; ++c) {
        bool valid = false;
        auto b = IsoOut(c, valid);
        EXPECT_EQ(valid, legalInIso(c));
        EXPECT_EQ(valid, b.has_value()) << int(c);
        if (!b)
            continue;
        ++legal;
        EXPECT_EQ(ones(*b) % 2, 0) << "character " << int(c);
        if (c != '\r') // CR goes out as 0x8D, which ISO input drops: LF alone ends lines
            EXPECT_EQ(IsoIn(*b), std::optional<char>(static_cast<char>(c))) << int(c);
    }
    EXPECT_EQ(legal, 62); // 28 even, 31 odd, LF, CR and the double quote
    for (char c : std::string("abz!\\^_`{|}~\t"))
        EXPECT_FALSE(legalInIso(static_cast<unsigned char>(c))) << c;
}

TEST(TapeCode, EiaCodesHaveOddParityAndComeBackThroughEiaIn)
{
    int legal = 0;
    for (char32_t c = 0; c < 256; ++c) {
        bool valid = false;
        auto b = EiaOut(c, valid);
        EXPECT_EQ(valid, legalInEia(c));
        if (!b)
            continue;
        ++legal;
        EXPECT_EQ(ones(*b) % 2, 1) << "character " << int(c);
        EXPECT_EQ(EiaIn(*b), static_cast<char>(c));
    }
    EXPECT_EQ(legal, 47); // the table's characters; CR is legal but produces nothing
    bool valid = false;
    EXPECT_FALSE(EiaOut('\r', valid));
    EXPECT_TRUE(valid);
    EXPECT_FALSE(EiaOut('a', valid));
    EXPECT_FALSE(valid);
    EXPECT_FALSE(EiaOut(U'加', valid));
    EXPECT_FALSE(valid);
}

TEST(TapeCode, InputOfEveryByte)
{
    int dropped = 0;
    for (int b = 0; b < 256; ++b) {
        auto c = IsoIn(static_cast<std::uint8_t>(b));
        if (!c) {
            ++dropped;
            continue;
        }
        EXPECT_EQ(static_cast<unsigned char>(*c), b & 0x7F) << b; // bit 8 stripped, parity unchecked
    }
    EXPECT_EQ(dropped, 5); // 0x00, 0x09, 0x88, 0x8D, 0xFF
    // EIA bytes outside the table come through as themselves.
    EXPECT_EQ(EiaIn(0x3E), '>');
    EXPECT_EQ(EiaIn(0x80), '\n');
    EXPECT_EQ(static_cast<unsigned char>(EiaIn(0xFE)), 0xFE);
}

TEST(TapeCode, ExamplesOfTheCodes)
{
    struct Row {
        const char* text;
        TapeCode code;
        std::string line;
    };
    const Row rows[] = {
        {"G01\r\n", TapeCode::Iso, "\x47\x30\xB1\x8D\x0A"},
        {"G01\r\n", TapeCode::Eia, "\x67\x20\x01\x80"},
        {"C %,", TapeCode::Iso, "\xC3\xA0\xA5\xAC"},
        {"N10 X-1.5;\r\n", TapeCode::Eia, std::string("\x45\x01\x20\x10\x37\x40\x01\x6B\x15\x80", 10)},
        {"g(加工)", TapeCode::Iso, "\x28\xA9"}, // illegal characters produce nothing
    };
    for (const Row& r : rows)
        EXPECT_EQ(encodeForLine(r.text, r.code, r.text), r.line) << r.text;
    EXPECT_EQ(encodeForLine("any", TapeCode::Ascii, "bytes"), "bytes");
    EXPECT_EQ(decodeFromLine("\xA5\x25\x8D\x47", TapeCode::Iso), "%%G");
    EXPECT_EQ(decodeFromLine(std::string("\x67\x20\x01\x80\x3E", 5), TapeCode::Eia), "G01\n>");
}
