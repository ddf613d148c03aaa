#include "view/DisplayColours.h"
#include "platform/UiServices.h"
#include "toolpath/ConditionTable.h"

#include <string>

namespace tarvex {

DisplayColours::DisplayColours(ConditionTable& table, ColourChooser& colours, InputBox& input,
                               std::function<void()> replot)
    : t_(table), colours_(colours), input_(input), replot_(std::move(replot))
{
    for (int k = 1; k < rowCount; ++k)
        if (!t_.conditionName[k].empty())
            fillRow(k);
}

void DisplayColours::fillRow(int k)
{
    ColourRow& r = rows[k];
    r.name = t_.conditionName[k];
    r.swatch = true;
    r.colour = t_.conditionColour[k];
    // The cell tells the truth about the condition, also after a rename.
    r.show = t_.conditionVisible[k] ? "ON" : "OFF";
}

void DisplayColours::mouseUp(int row, int column, bool belowHeader)
{
    if (row <= 0 || row >= rowCount || !belowHeader)
        return;
    ColourRow& r = rows[row];
    switch (column) {
    case Colour: {
        const auto chosen = colours_.choose(lastChosen_);
        if (!chosen)
            return;
        lastChosen_ = *chosen;
        t_.conditionColour[row] = *chosen;
        r.colour = *chosen;
        r.swatch = true;
        break;
    }
    case Name:
        // The colour file keeps a name between double quotes: one inside it
        // would lose this record and every one after it.
        r.name = input_.ask(r.name);
        std::erase(r.name, '"');
        t_.conditionName[row] = r.name;
        if (!r.name.empty())
            fillRow(row);
        break;
    case Show:
        if (r.show == "ON") {
            t_.conditionVisible[row] = false;
            r.show = "OFF";
        } else if (r.show == "OFF") {
            t_.conditionVisible[row] = true;
            r.show = "ON";
        }
        break;
    default:
        return;
    }
    replot_();
}

} // namespace tarvex
