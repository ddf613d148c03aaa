#pragma once
#include "serial/TapeCode.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarvex {

// The rewrites of the edit menu on a program text (UTF-8, as the editor holds
// it). Positions are byte offsets into that text; comparisons are exact.

// The first occurrence of needle that starts after the character at from
// (one character after the caret), without wrapping to the beginning.
std::optional<std::size_t> findNext(std::string_view text, std::string_view needle, std::size_t from);

// Every occurrence of find written as with, left to right and never
// overlapping; a partial match that fails consumes the characters it read up
// to and including the one that failed ("aab" is not found in "aaab"). An
// empty find changes nothing.
std::string replaceAll(std::string_view text, std::string_view find, std::string_view with, long& count);

// Every line (ended by CR LF, CR or LF, as the editor shows lines) that holds
// match is replaced as a whole by block, each "#" in it written as the
// running number of the replaced line; block brings its own line ends (a
// block without a final one joins the next line onto its last). Every other
// line is written with CR LF. An empty match matches no line.
std::string lineReplace(std::string_view text, std::string_view match, std::string_view block, long& count);

// Every half-width space removed.
std::string stripSpaces(std::string_view text, long& count);

// The first character that the tape code cannot carry. progress is told the
// number of characters read, every 100 characters.
struct CheckResult {
    bool clean = true;
    std::size_t offset = 0;    // byte offset of the offending character
    std::size_t length = 0;    // its length in bytes
    std::size_t read = 0;      // characters read, the offending one included
    std::size_t line = 1, column = 1; // where it stands (1 the first)
};
CheckResult checkCharacters(std::string_view text, TapeCode code, const std::function<void(std::size_t)>& progress);

// A line-replace registration as its file holds it: the search string, CR LF,
// then the block exactly as entered.
struct Registration {
    std::string match;
    std::string block;
};
Registration parseRegistration(std::string_view text);
std::string formatRegistration(const Registration& r);

// Line ends typed into the block (LF, CR or CR LF) made CR LF, as program
// files have them.
std::string withCrLf(std::string_view text);

} // namespace tarvex
