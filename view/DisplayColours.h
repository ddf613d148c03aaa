#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace tarvex {

class ColourChooser;
class InputBox;
struct ConditionTable;

// The grid of the display settings window: row k shows condition k (1 to
// 20); a row without a name stays blank.
struct ColourRow {
    std::string name;
    bool swatch = false;       // the colour cell is filled with colour
    std::uint32_t colour = 0;
    std::string show;          // "ON" (black), "OFF" (red) or empty
};

class DisplayColours {
public:
    DisplayColours(ConditionTable& table, ColourChooser& colours, InputBox& input, std::function<void()> replot);

    static constexpr int rowCount = 21; // 0 is the header
    std::array<ColourRow, rowCount> rows;

    enum Column { Name = 0, Colour = 1, Show = 2 };
    // A mouse release on a cell. belowHeader: the pointer was below the
    // header row. Every act ends with the plot drawn again, but a cancelled
    // colour choice, which changes nothing.
    void mouseUp(int row, int column, bool belowHeader);

private:
    void fillRow(int k);

    ConditionTable& t_;
    ColourChooser& colours_;
    InputBox& input_;
    std::function<void()> replot_;
    std::uint32_t lastChosen_ = 0; // the chooser starts from the colour last chosen here
};

} // namespace tarvex
