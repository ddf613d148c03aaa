#include "platform/Utf8.h"
#include "platform/posix/Cp932Codec.h"

#include <gtest/gtest.h>
#include <random>

using namespace tarvex;

namespace {
const Cp932Codec& codec()
{
    static const Cp932Codec c;
    return c;
}
} // namespace

TEST(Codec, JapaneseTextConvertsBothWays)
{
    // "O1000(ﾃｽﾄ 加工)" + full-width space + CR LF, as cp932 bytes.
    const std::string bytes = "O1000(\xC3\xBD\xC4 \x89\xC1\x8D\x48)\x81\x40\r\n";
    const std::string text = "O1000(ﾃｽﾄ 加工)　\r\n";
    EXPECT_EQ(codec().decode(bytes), text);
    EXPECT_EQ(codec().encode(text), bytes);
    EXPECT_EQ(codec().byteLength(text), bytes.size());
    EXPECT_EQ(utf8::length(text), 16u); // a double-byte character counts as one
}

TEST(Codec, AnyBytesSurviveDecodeThenEncode)
{
    std::mt19937 rng(20261207);
    for (int round = 0; round < 200; ++round) {
        std::string bytes(rng() % 300, '\0');
        for (char& b : bytes) // mostly high bytes: lead bytes, katakana, invalid ones
            b = static_cast<char>(rng() % 4 == 0 ? rng() % 0x80 : 0x80 + rng() % 0x80);
        const std::string text = codec().decode(bytes);
        ASSERT_EQ(codec().encode(text), bytes) << "round " << round;
        ASSERT_EQ(codec().byteLength(text), bytes.size());
    }
}

TEST(Codec, EveryByteAndPairSurvives)
{
    for (int a = 0; a < 256; ++a) {
        std::string one(1, static_cast<char>(a));
        ASSERT_EQ(codec().encode(codec().decode(one)), one) << a;
        for (int b = 0; b < 256; ++b) {
            std::string two = {static_cast<char>(a), static_cast<char>(b)};
            ASSERT_EQ(codec().encode(codec().decode(two)), two) << a << " " << b;
        }
    }
}

TEST(Codec, BytesThatAreNoCharactersBecomePlaceholders)
{
    struct Row {
        std::string bytes;
        std::u32string expected;
    };
    const char32_t P = TextCodec::placeholderBase;
    const Row rows[] = {
        {"\xFF", {P + 0xFF}},
        {"\x80", {P + 0x80}},
        {"\x81\x20", {P + 0x81, U' '}},   // lead byte without a valid trail
        {"G\x81", {U'G', P + 0x81}},      // lead byte at the end
        {"\x85\x40", {P + 0x85, U'@'}},   // unassigned pair
        {"\xFA\x54", {P + 0xFA, P + 0x54}}, // a duplicate that would come back as 0x81 0xCA
    };
    for (const Row& r : rows) {
        std::string expected;
        for (char32_t c : r.expected)
            utf8::append(expected, c);
        EXPECT_EQ(codec().decode(r.bytes), expected);
    }
}

TEST(Codec, TypedCharactersWithoutTheirOwnCodeStillEncode)
{
    EXPECT_EQ(codec().encode("\xC2\xA5"), "\x5C");   // YEN SIGN typed by the user
    EXPECT_EQ(codec().encode("\xF0\x9F\x98\x80"), "?"); // no cp932 character
}
