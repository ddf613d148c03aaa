#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvex {

// The tape code of a device profile, in the order of the profile dialog.
enum class TapeCode { Ascii = 0, Eia = 1, Iso = 2 };

// One character of the document to one byte on the line. nullopt when the
// character produces nothing; charValid is set to true, then to false when the
// character is illegal in the code (CR produces nothing in EIA but is legal).
std::optional<std::uint8_t> EiaOut(char32_t c, bool& charValid);
std::optional<std::uint8_t> IsoOut(char32_t c, bool& charValid);

// One received byte to one character of the document; nullopt when dropped.
std::optional<char> IsoIn(std::uint8_t b);
char EiaIn(std::uint8_t b);

// Whether a received byte has its code's parity: an even number of one bits
// in ISO, an odd number in EIA. Leader and feed bytes (NUL, the EIA blank;
// DEL with or without its parity bit) are never checked, nor is ASCII.
bool parityHolds(std::uint8_t b, TapeCode code);

// Whether a character is legal in the code (what the character checks report).
bool legalInEia(char32_t c);
bool legalInIso(char32_t c);

// The line bytes of a whole text (UTF-8) in a code, control codes aside:
// characters that produce nothing are left out. ASCII carries the text's own
// cp932 bytes, which the caller supplies as asciiBytes.
std::string encodeForLine(std::string_view utf8, TapeCode code, std::string_view asciiBytes);
// The characters of received line bytes, before any line-end handling.
std::string decodeFromLine(std::string_view bytes, TapeCode code);

} // namespace tarvex
