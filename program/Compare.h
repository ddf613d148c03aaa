#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvex {

// A block as a control sees it: sequence numbers, blanks and letter case
// gone, "+" signs dropped, G, M and program numbers without leading zeros,
// numbers with a decimal point in one form ("X10.0" and "X10." alike, "X.5"
// as "X0.5"). Empty for a line that holds nothing (a blank line). A number
// without a decimal point stays unlike one with it. H, T, S and D words lose
// their leading zeros too; DPRNT/BPRNT text is kept as written; NUL and DEL
// (tape leader) do not count. keepSequence: the N word stays (the program
// refers to sequence numbers: GOTO, M99 P, M97 P, G70–G73 P/Q).
std::string normalBlock(std::string_view line, bool keepSequence = false);

// The words of a changed block that its counterpart does not have, as byte
// ranges [begin, end) of the line: words read as the control reads them,
// matched in their longest common order.
std::vector<std::pair<std::size_t, std::size_t>> changedWords(std::string_view line, std::string_view other);

// Whether a program refers to its sequence numbers, so that they are part
// of what it does.
bool refersToSequenceNumbers(std::string_view text);

// The blocks that differ between two programs, aligned on the blocks each
// holds once (the rest by a shortest list of removals and additions):
// only blocks that changed are listed, also in programs of a million lines. Blank lines and the leading
// and trailing "%" lines take no part.
struct BlockDifference {
    bool inFirst;     // a block of the first program that the second lacks, or the reverse
    std::size_t line; // from 1, as the line splitter counts
    std::string_view text;
    std::size_t place = 0; // differences between the same two level blocks share it
};
std::vector<BlockDifference> compareBlocks(std::string_view first, std::string_view second);

// Two programs side by side: what differs, and the lines that stand level
// (byte offsets of their starts: the first block after each difference or
// after lines only one side has, and the first of all).
struct Comparison {
    Comparison(std::string first, std::string second);
    Comparison(const Comparison&) = delete; // the differences view the texts
    Comparison& operator=(const Comparison&) = delete;
    const std::string first, second;
    std::vector<BlockDifference> differences;
    std::vector<std::pair<std::size_t, std::size_t>> level;
};

} // namespace tarvex
