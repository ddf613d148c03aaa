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
// without a decimal point stays unlike one with it.
std::string normalBlock(std::string_view line);

// The blocks that differ between two programs, aligned as a shortest list
// of removals and additions of normal blocks. Blank lines and the leading
// and trailing "%" lines take no part.
struct BlockDifference {
    bool inFirst;     // a block of the first program that the second lacks, or the reverse
    std::size_t line; // from 1, as the line splitter counts
    std::string_view text;
};
std::vector<BlockDifference> compareBlocks(std::string_view first, std::string_view second);

// Two programs side by side: what differs, and the lines that stand level
// (byte offsets of their starts: the first block after each difference, and
// the first of all).
struct Comparison {
    Comparison(std::string first, std::string second);
    Comparison(const Comparison&) = delete; // the differences view the texts
    Comparison& operator=(const Comparison&) = delete;
    const std::string first, second;
    std::vector<BlockDifference> differences;
    std::vector<std::pair<std::size_t, std::size_t>> level;
};

} // namespace tarvex
