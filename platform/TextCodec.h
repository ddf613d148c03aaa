#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace tarvex {

// The Japanese code page of program files (cp932) and UTF-8 text.
// decode is lossless: bytes that are not valid cp932, or that would not come
// back as the same bytes, become placeholder code points (U+F700 + byte)
// that encode back to exactly those bytes. So encode(decode(b)) == b for any b.
class TextCodec {
public:
    virtual ~TextCodec() = default;
    virtual std::string decode(std::string_view bytes) const = 0;
    virtual std::string encode(std::string_view utf8) const = 0;
    // The number of bytes encode() would produce.
    virtual std::size_t byteLength(std::string_view utf8) const = 0;
    // How much of bytes decodes as it would with more bytes after it: all but
    // a lead byte at the very end, which waits for its partner.
    virtual std::size_t wholeCharacters(std::string_view bytes) const = 0;

    static constexpr char32_t placeholderBase = 0xF700;
};

} // namespace tarvex
