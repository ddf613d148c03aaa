#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace tarvex::utf8 {

// Reads one code point at pos and advances pos; a malformed sequence reads
// as U+FFFD and advances by one byte.
char32_t next(std::string_view s, std::size_t& pos);
void append(std::string& out, char32_t cp);
// Whether the bytes are well-formed UTF-8 (a real U+FFFD included).
bool valid(std::string_view s);
// Number of code points: what the editor counts as characters.
std::size_t length(std::string_view s);
// Byte offset of the character with index chars (clamped to the end).
std::size_t offsetOf(std::string_view s, std::size_t chars);

} // namespace tarvex::utf8
