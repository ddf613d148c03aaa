#include "serial/TapeCode.h"
#include "platform/Utf8.h"

#include <array>
#include <bit>

namespace tarvex {
namespace {

// A conversion table: for each of the 256 values, the result or a marker.
constexpr int illegal = -1;   // produces nothing, and is not a character of the code
constexpr int nothing = -2;   // produces nothing, but is legal (CR in EIA)
using Table = std::array<int, 256>;

// EIA RS-244: character and code, 46 characters; LF is the end of block.
constexpr std::pair<char, int> eiaCodes[] = {
    {'0', 0x20}, {'1', 0x01}, {'2', 0x02}, {'3', 0x13}, {'4', 0x04}, {'5', 0x15}, {'6', 0x16}, {'7', 0x07},
    {'8', 0x08}, {'9', 0x19}, {'A', 0x61}, {'B', 0x62}, {'C', 0x73}, {'D', 0x64}, {'E', 0x75}, {'F', 0x76},
    {'G', 0x67}, {'H', 0x68}, {'I', 0x79}, {'J', 0x51}, {'K', 0x52}, {'L', 0x43}, {'M', 0x54}, {'N', 0x45},
    {'O', 0x46}, {'P', 0x57}, {'Q', 0x58}, {'R', 0x49}, {'S', 0x32}, {'T', 0x23}, {'U', 0x34}, {'V', 0x25},
    {'W', 0x26}, {'X', 0x37}, {'Y', 0x38}, {'Z', 0x29}, {' ', 0x10}, {'\n', 0x80}, {'%', 0x0B}, {'(', 0x1A},
    {')', 0x4A}, {'+', 0x70}, {'-', 0x40}, {'/', 0x31}, {'.', 0x6B}, {'&', 0x0E}, {',', 0x3B},
};

// ISO: characters with an even number of one bits go out as they are; those
// with an odd number get the parity bit 0x80.
constexpr std::string_view isoEven = "03569ABDGHKMNPSUVYZ(+-:.$'<?";
constexpr std::string_view isoOdd = "12478CEFIJLOQRTWX %)/#&*,;=>@[]";

constexpr Table eiaOutTable()
{
    Table t{};
    for (int& v : t)
        v = illegal;
    for (auto [c, code] : eiaCodes)
        t[static_cast<unsigned char>(c)] = code;
    t['\r'] = nothing; // line ends go out as the single end-of-block code of the LF
    return t;
}

constexpr Table isoOutTable()
{
    Table t{};
    for (int& v : t)
        v = illegal;
    for (char c : isoEven)
        t[static_cast<unsigned char>(c)] = static_cast<unsigned char>(c);
    for (char c : isoOdd)
        t[static_cast<unsigned char>(c)] = static_cast<unsigned char>(c) + 0x80;
    t['\n'] = '\n';
    t['"'] = '"';
    t['\r'] = 0x8D;
    return t;
}

constexpr Table isoInTable()
{
    Table t{};
    for (int b = 0; b < 256; ++b)
        t[b] = b > 127 ? b - 128 : b; // bit 8 stripped, parity not checked
    for (int b : {0x00, 0x09, 0x88, 0x8D, 0xFF})
        t[b] = illegal; // dropped
    return t;
}

constexpr Table eiaInTable()
{
    Table t{};
    for (int b = 0; b < 256; ++b)
        t[b] = b; // not a code of the table: the byte itself
    for (auto [c, code] : eiaCodes)
        t[code] = static_cast<unsigned char>(c);
    return t;
}

constexpr Table eiaOut = eiaOutTable();
constexpr Table isoOut = isoOutTable();
constexpr Table isoIn = isoInTable();
constexpr Table eiaIn = eiaInTable();

std::optional<std::uint8_t> convertOut(const Table& table, char32_t c, bool& charValid)
{
    const int v = c < 128 ? table[c] : illegal;
    charValid = v != illegal;
    if (v < 0)
        return std::nullopt;
    return static_cast<std::uint8_t>(v);
}

} // namespace

std::optional<std::uint8_t> EiaOut(char32_t c, bool& charValid) { return convertOut(eiaOut, c, charValid); }
std::optional<std::uint8_t> IsoOut(char32_t c, bool& charValid) { return convertOut(isoOut, c, charValid); }

std::optional<char> IsoIn(std::uint8_t b)
{
    const int v = isoIn[b];
    return v == illegal ? std::nullopt : std::optional<char>(static_cast<char>(v));
}

char EiaIn(std::uint8_t b) { return static_cast<char>(eiaIn[b]); }

bool parityHolds(std::uint8_t b, TapeCode code)
{
    if (code == TapeCode::Ascii || b == 0x00 || b == 0x7F || b == 0xFF)
        return true;
    const bool odd = std::popcount(b) % 2 == 1;
    return code == TapeCode::Eia ? odd : !odd;
}

bool legalInEia(char32_t c) { return c < 128 && eiaOut[c] != illegal; }
bool legalInIso(char32_t c) { return c < 128 && isoOut[c] != illegal; }

std::string encodeForLine(std::string_view utf8, TapeCode code, std::string_view asciiBytes)
{
    if (code != TapeCode::Eia && code != TapeCode::Iso)
        return std::string(asciiBytes);
    std::string out;
    out.reserve(utf8.size());
    bool valid = true;
    for (std::size_t pos = 0; pos < utf8.size();) {
        const char32_t c = utf8::next(utf8, pos);
        if (auto b = code == TapeCode::Eia ? EiaOut(c, valid) : IsoOut(c, valid))
            out += static_cast<char>(*b);
    }
    return out;
}

std::string decodeFromLine(std::string_view bytes, TapeCode code)
{
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto b = static_cast<std::uint8_t>(ch);
        if (code == TapeCode::Iso) {
            if (auto c = IsoIn(b))
                out += *c;
        } else if (code == TapeCode::Eia) {
            out += EiaIn(b);
        } else {
            out += ch;
        }
    }
    return out;
}

} // namespace tarvex
