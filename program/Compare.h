#pragma once
#include <cstddef>
#include <string>
#include <string_view>
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

} // namespace tarvex
