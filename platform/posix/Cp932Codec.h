#pragma once
#include "platform/TextCodec.h"

#include <array>
#include <cstdint>
#include <vector>

namespace tarvex {

// cp932 through glibc's iconv. The tables are read off iconv once, when the
// codec is made: every byte and byte pair is converted both ways, and only
// those that come back unchanged are taken as characters.
class Cp932Codec final : public TextCodec {
public:
    Cp932Codec();
    std::string decode(std::string_view bytes) const override;
    std::string encode(std::string_view utf8) const override;
    std::size_t byteLength(std::string_view utf8) const override;
    std::size_t wholeCharacters(std::string_view bytes) const override;

private:
    enum : std::uint8_t { Invalid, Single, Lead };
    // Appends the bytes of one code point.
    void encodeOne(char32_t cp, std::string& out) const;
    std::uint16_t codeOf(char32_t cp) const;

    std::array<std::uint8_t, 256> kind_{};
    std::array<char32_t, 256> single_{};
    // Code point of (lead - 0x80) * 256 + trail; 0 where the pair is not a
    // character, notRoundTrip where it is one that encodes to other bytes.
    std::vector<char16_t> pair_;
    // cp932 code of a BMP code point: a byte value, or lead * 256 + trail;
    // 0 where iconv has to be asked (U+0000 is handled apart).
    std::vector<std::uint16_t> code_;
    // Bytes that are the same ASCII character in both: copied in runs.
    std::array<bool, 256> plainIn_{}, plainOut_{};
    static constexpr char16_t notRoundTrip = 0xFFFF;
};

} // namespace tarvex
