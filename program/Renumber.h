#pragma once
#include <string>
#include <string_view>

namespace tarvex {

struct RenumberOptions {
    long start = 10, step = 10;
    bool remove = false;   // take the leading N words away instead
    int width = 0;         // digits at least, with leading zeros (4: N0010)
    bool existing = false; // only blocks that have an N already
    long every = 1;        // only every n-th block (the others lose theirs)
};

// The program with its blocks numbered anew: each block's leading N word
// replaced (or one written before its first word, after a "/"), from start
// by step, again from start after each program-number line; "%" lines,
// program numbers, blank and comment-only lines and macro statements get
// none. Nothing else of the text changes. refusal says why (naming the line)
// when it cannot be done: a program that refers to its sequence numbers
// (also by a computed GOTO), a step or an interval below 1, or more blocks
// than fit below N99999 (naming the largest step that would fit).
struct Renumbered {
    std::string text;
    long blocks = 0; // numbered (or stripped)
    std::string refusal;
};
Renumbered renumber(std::string_view text, const RenumberOptions& options);

} // namespace tarvex
