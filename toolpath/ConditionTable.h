#pragma once
#include "platform/Error.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvex {

class FileSystem;
class TextCodec;

// Display conditions: index 0 is the condition before any named one has
// matched; 1 to 20 are the user's, stored in the colour file.
struct ConditionTable {
    static constexpr int count = 21;
    static constexpr std::uint32_t white = 16777215; // 0x00BBGGRR

    std::array<std::string, count> conditionName;
    std::array<std::uint32_t, count> conditionColour;
    std::array<bool, count> conditionVisible;

    ConditionTable() { reset(); }
    // Every entry unnamed, white and visible.
    void reset();
};

inline constexpr const char* colourFileName = "TARVEX.RGB";

// Reads entries 1 to 20 from the colour file's text, one record each:
// "name",colour. Reading stops silently at the end of the text or at the
// first record that does not parse; the entries not read keep their values.
void parseColourFile(ConditionTable& table, std::string_view text);
std::string formatColourFile(const ConditionTable& table);

// Resets the table, then reads the colour file in the data folder if there is one.
// An error only for a file too large to be ours (read as absent).
Error loadColourFile(ConditionTable& table, const FileSystem& fs, const TextCodec& codec,
                    const std::string& progDir);
Error saveColourFile(const ConditionTable& table, FileSystem& fs, const TextCodec& codec,
                     const std::string& progDir);

} // namespace tarvex
