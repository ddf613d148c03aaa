#include "serial/TapeCode.h"

#include <gtest/gtest.h>
#include <map>

using namespace tarvex;

namespace {

// The EIA table as the code's definition gives it: character and code.
const std::map<char, int> eiaTable = {
    {'0', 0x20}, {'1', 0x01}, {'2', 0x02}, {'3', 0x13}, {'4', 0x04}, {'5', 0x15}, {'6', 0x16}, {'7', 0x07},
    {'8', 0x08}, {'9', 0x19}, {'A', 0x61}, {'B', 0x62}, {'C', 0x73}, {'D', 0x64}, {'E', 0x75}, {'F', 0x76},
    {'G', 0x67}, {'H', 0x68}, {'I', 0x79}, {'J', 0x51}, {'K', 0x52}, {'L', 0x43}, {'M', 0x54}, {'N', 0x45},
    {'O', 0x46}, {'P', 0x57}, {'Q', 0x58}, {'R', 0x49}, {'S', 0x32}, {'T', 0x23}, {'U', 0x34}, {'V', 0x25},
    {'W', 0x26}, {'X', 0x37}, {'Y', 0x38}, {'Z', 0x29}, {' ', 0x10}, {'\n', 0x80}, {'%', 0x0B}, {'(', 0x1A},
    {')', 0x4A}, {'+', 0x70}, {'-', 0x40}, {'/', 0x31}, {'.', 0x6B}, {'&', 0x0E}, {',', 0x3B},
};
// ISO: characters that go out as they are, and those that get bit 8.
const std::string isoEven = "03569ABDGHKMNPSUVYZ(+-:.$'<?";
const std::string isoOdd = "12478CEFIJLOQRTWX %)/#&*,;=>@[]";

struct Out {
    std::optional<int> byte;
    bool valid;
    bool operator==(const Out&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Out& o)
{
    return os << (o.byte ? std::to_string(*o.byte) : "none") << (o.valid ? " valid" : " illegal");
}

Out expectedEia(char32_t c)
{
    if (c == '\r')
        return {std::nullopt, true}; // line ends go out as the LF's end-of-block code
    if (c < 128 && eiaTable.count(static_cast<char>(c)))
        return {eiaTable.at(static_cast<char>(c)), true};
    return {std::nullopt, false};
}

Out expectedIso(char32_t c)
{
    if (c < 128 && isoEven.find(static_cast<char>(c)) != std::string::npos)
        return {static_cast<int>(c), true};
    if (c < 128 && isoOdd.find(static_cast<char>(c)) != std::string::npos)
        return {static_cast<int>(c) + 0x80, true};
    if (c == '\n' || c == '"')
        return {static_cast<int>(c), true};
    if (c == '\r')
        return {0x8D, true};
    return {std::nullopt, false};
}

} // namespace

TEST(TapeCode, EveryCharacterGoesOutAsTheTablesSay)
{
    // All of ASCII, and characters beyond it that a document holds.
    std::vector<char32_t> characters;
    for (char32_t c = 0; c < 256; ++c)
        characters.push_back(c);
    for (char32_t c : {U'加', U'ｱ', U'\U0001F600'})
        characters.push_back(c);
    for (char32_t c : characters) {
        bool valid = false;
        auto eia = EiaOut(c, valid);
        EXPECT_EQ((Out{eia ? std::optional<int>(*eia) : std::nullopt, valid}), expectedEia(c)) << "EIA " << int(c);
        EXPECT_EQ(legalInEia(c), expectedEia(c).valid) << int(c);
        auto iso = IsoOut(c, valid);
        EXPECT_EQ((Out{iso ? std::optional<int>(*iso) : std::nullopt, valid}), expectedIso(c)) << "ISO " << int(c);
        EXPECT_EQ(legalInIso(c), expectedIso(c).valid) << int(c);
    }
}

TEST(TapeCode, EveryByteComesInAsTheTablesSay)
{
    std::map<int, char> eiaBack;
    for (auto [c, code] : eiaTable)
        eiaBack[code] = c;
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<std::uint8_t>(b);
        // ISO: 0x00, 0x09, 0x88, 0x8D and 0xFF are dropped; bit 8 is stripped unchecked.
        const bool dropped = b == 0x00 || b == 0x09 || b == 0x88 || b == 0x8D || b == 0xFF;
        EXPECT_EQ(IsoIn(byte), dropped ? std::nullopt : std::optional<char>(static_cast<char>(b & 0x7F))) << b;
        // EIA: the table backwards; any other byte comes through as itself.
        EXPECT_EQ(EiaIn(byte), eiaBack.count(b) ? eiaBack[b] : static_cast<char>(b)) << b;
    }
}

TEST(TapeCode, WholeTextsOnTheLine)
{
    struct Row {
        const char* text;
        TapeCode code;
        std::string line;
    };
    const Row rows[] = {
        {"G01\r\n", TapeCode::Iso, "\x47\x30\xB1\x8D\x0A"},
        {"G01\r\n", TapeCode::Eia, "\x67\x20\x01\x80"},
        {"g(加工)", TapeCode::Iso, "\x28\xA9"}, // illegal characters produce nothing
    };
    for (const Row& r : rows)
        EXPECT_EQ(encodeForLine(r.text, r.code, r.text), r.line) << r.text;
    EXPECT_EQ(encodeForLine("any", TapeCode::Ascii, "bytes"), "bytes"); // ASCII carries the file's own bytes
    EXPECT_EQ(decodeFromLine("\xA5\x25\x8D\x47", TapeCode::Iso), "%%G");
    EXPECT_EQ(decodeFromLine(std::string("\x67\x20\x01\x80\x3E", 5), TapeCode::Eia), "G01\n>");
}
