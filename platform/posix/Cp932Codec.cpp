#include "platform/posix/Cp932Codec.h"
#include "platform/Utf8.h"

#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace tarvex {
namespace {

struct Iconv {
    iconv_t cd;
    Iconv(const char* to, const char* from) : cd(iconv_open(to, from))
    {
        if (cd == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    }
    ~Iconv() { iconv_close(cd); }
    // Converts in whole; returns the errno of a failure, 0 on success.
    int run(const char* in, std::size_t inLen, char* out, std::size_t& outLen)
    {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char* ip = const_cast<char*>(in);
        char* op = out;
        std::size_t left = outLen;
        std::size_t r = iconv(cd, &ip, &inLen, &op, &left);
        outLen -= left;
        if (r == static_cast<std::size_t>(-1))
            return errno;
        return inLen == 0 ? 0 : EILSEQ;
    }
};

// Decodes bytes to exactly one code point, or 0 / an errno.
int decodeOne(Iconv& dec, const char* in, std::size_t len, char32_t& cp)
{
    char out[16];
    std::size_t outLen = sizeof out;
    int e = dec.run(in, len, out, outLen);
    if (e)
        return e;
    if (outLen != 4)
        return EILSEQ;
    cp = static_cast<unsigned char>(out[0]) | static_cast<unsigned char>(out[1]) << 8
         | static_cast<unsigned char>(out[2]) << 16 | static_cast<char32_t>(static_cast<unsigned char>(out[3])) << 24;
    return 0;
}

bool roundTrips(Iconv& enc, char32_t cp, const char* bytes, std::size_t len)
{
    char in[4] = {static_cast<char>(cp & 0xFF), static_cast<char>((cp >> 8) & 0xFF),
                  static_cast<char>((cp >> 16) & 0xFF), static_cast<char>(cp >> 24)};
    char out[8];
    std::size_t outLen = sizeof out;
    return enc.run(in, 4, out, outLen) == 0 && outLen == len && std::equal(bytes, bytes + len, out);
}

bool isPlaceholder(char32_t cp)
{
    return cp >= TextCodec::placeholderBase && cp < TextCodec::placeholderBase + 0x100;
}

} // namespace

Cp932Codec::Cp932Codec() : pair_(0x8000, 0), code_(0x10000, 0)
{
    Iconv dec("UTF-32LE", "CP932");
    Iconv enc("CP932", "UTF-32LE");
    for (int b = 0; b < 256; ++b) {
        char byte = static_cast<char>(b);
        char32_t cp = 0;
        int e = decodeOne(dec, &byte, 1, cp);
        if (e == EINVAL) {
            kind_[b] = Lead;
        } else if (e == 0 && cp < 0x10000 && !isPlaceholder(cp) && roundTrips(enc, cp, &byte, 1)) {
            kind_[b] = Single;
            single_[b] = cp;
            if (cp != 0)
                code_[cp] = static_cast<std::uint16_t>(b);
        }
    }
    for (int lead = 0x80; lead < 256; ++lead) {
        if (kind_[lead] != Lead)
            continue;
        for (int trail = 0; trail < 256; ++trail) {
            char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            char32_t cp = 0;
            if (decodeOne(dec, bytes, 2, cp) != 0 || cp == 0)
                continue;
            if (cp >= 0x10000 || isPlaceholder(cp) || !roundTrips(enc, cp, bytes, 2)) {
                pair_[(lead - 0x80) * 256 + trail] = notRoundTrip;
                continue;
            }
            pair_[(lead - 0x80) * 256 + trail] = static_cast<char16_t>(cp);
            code_[cp] = static_cast<std::uint16_t>(lead * 256 + trail);
        }
    }
    for (int b = 0; b < 0x80; ++b) {
        plainIn_[b] = kind_[b] == Single && single_[b] == static_cast<char32_t>(b);
        plainOut_[b] = code_[b] == b;
    }
}

namespace {

// The end of the run of plain bytes from i.
std::size_t plainRun(std::string_view s, std::size_t i, const std::array<bool, 256>& plain)
{
    while (i < s.size() && plain[static_cast<unsigned char>(s[i])])
        ++i;
    return i;
}

} // namespace

std::string Cp932Codec::decode(std::string_view bytes) const
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n;) {
        auto b = static_cast<unsigned char>(bytes[i]);
        if (plainIn_[b]) {
            // Runs of ASCII are the bulk of any program.
            const std::size_t end = plainRun(bytes, i, plainIn_);
            out.append(bytes.data() + i, end - i);
            i = end;
            continue;
        }
        if (kind_[b] == Single) {
            utf8::append(out, single_[b]);
            ++i;
            continue;
        }
        if (kind_[b] == Lead && i + 1 < n) {
            char16_t cp = pair_[(b - 0x80) * 256 + static_cast<unsigned char>(bytes[i + 1])];
            if (cp == notRoundTrip) {
                // A character that would not come back as these bytes: keep both bytes as they are.
                utf8::append(out, placeholderBase + b);
                utf8::append(out, placeholderBase + static_cast<unsigned char>(bytes[i + 1]));
                i += 2;
                continue;
            }
            if (cp != 0) {
                utf8::append(out, cp);
                i += 2;
                continue;
            }
        }
        utf8::append(out, placeholderBase + b);
        ++i;
    }
    return out;
}

// The steps of decode: a lead byte takes its partner only when the two are a character.
std::size_t Cp932Codec::wholeCharacters(std::string_view bytes) const
{
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (kind_[b] != Lead) {
            ++i;
        } else if (i + 1 == n) {
            break;
        } else {
            i += pair_[(b - 0x80) * 256 + static_cast<unsigned char>(bytes[i + 1])] != 0 ? 2 : 1;
        }
    }
    return i;
}

std::uint16_t Cp932Codec::codeOf(char32_t cp) const
{
    return cp < 0x10000 ? code_[cp] : 0;
}

void Cp932Codec::encodeOne(char32_t cp, std::string& out) const
{
    if (cp == 0) {
        out += '\0';
        return;
    }
    if (isPlaceholder(cp)) {
        out += static_cast<char>(cp - placeholderBase);
        return;
    }
    if (std::uint16_t code = codeOf(cp)) {
        if (code > 0xFF)
            out += static_cast<char>(code >> 8);
        out += static_cast<char>(code & 0xFF);
        return;
    }
    char in[4] = {static_cast<char>(cp & 0xFF), static_cast<char>((cp >> 8) & 0xFF),
                  static_cast<char>((cp >> 16) & 0xFF), static_cast<char>(cp >> 24)};
    // Text typed by the user may hold characters that iconv maps one way only
    // (U+00A5 to 0x5C); they are rare, so iconv is asked each time.
    char buf[8];
    std::size_t len = sizeof buf;
    Iconv enc("CP932", "UTF-32LE");
    if (enc.run(in, 4, buf, len) == 0)
        out.append(buf, len);
    else
        out += '?'; // no cp932 character for it
}

std::string Cp932Codec::encode(std::string_view utf8) const
{
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        if (plainOut_[static_cast<unsigned char>(utf8[pos])]) {
            const std::size_t end = plainRun(utf8, pos, plainOut_);
            out.append(utf8.data() + pos, end - pos);
            pos = end;
            continue;
        }
        encodeOne(utf8::next(utf8, pos), out);
    }
    return out;
}

std::size_t Cp932Codec::byteLength(std::string_view utf8) const
{
    std::size_t n = 0;
    std::string scratch;
    for (std::size_t pos = 0; pos < utf8.size();) {
        auto c = static_cast<unsigned char>(utf8[pos]);
        if (c < 0x80 && code_[c] == c) {
            ++n;
            ++pos;
            continue;
        }
        scratch.clear();
        encodeOne(utf8::next(utf8, pos), scratch);
        n += scratch.size();
    }
    return n;
}

} // namespace tarvex
