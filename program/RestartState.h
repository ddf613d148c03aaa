#pragma once
// The state the restart scan follows, item by item, and the scanner that
// applies blocks to it by modal group.
#include "program/ProgramMap.h"
#include "program/Restart.h"
#include "program/Words.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarvex {
namespace restart {

// The items of the machine state a preamble restores or must be sure of.
enum Slot : std::uint8_t {
    Motion, Plane, Units, WorkOffset, FeedMode, Distance, ReturnLevel,
    Cycle, CycleDepth, CycleR, CycleQ, CycleP, InitialLevel,
    LengthOffset, H, Selected, Loaded, Speed, Spindle, Mist, Flood, Feed,
    X, Y, Z, ShiftX, ShiftY, ShiftZ, LocalX, LocalY, LocalZ,
    Rotation, Polar, Scaling, Compensation, PathMode,
    SlotCount
};

struct Item {
    std::string word;          // as written ("G43", "H2", "10."); empty when none is in force
    bool known = true;
    std::uint32_t changed = 0; // when it last changed, for loops and branches
    std::size_t line = 0;      // where it became unknown, and why
    std::string why;
    bool refuses = false; // unknown in a way no preamble goes around, until set again
};

// The number of a G or M word held by an item ("G43" 430); -1 for none.
inline int codeOf(const Item& it) { return it.word.size() > 1 ? nc::code(std::string_view(it.word).substr(1)) : -1; }

// A variable's name as written at the start of a text: "#1", "#<depth>", "#[…]".
std::string variableName(std::string_view text);

// The notes, each said once with the line where it first applied.
class Notes {
public:
    void add(std::size_t line, const std::string& what);
    std::vector<std::string> lines() const;

private:
    struct Note {
        std::string what;
        std::size_t line, count, last;
    };
    std::map<std::string, std::size_t> index_;
    std::vector<Note> order_;
};

} // namespace restart

struct RestartScan::State {
    RestartPlan plan;
    std::array<restart::Item, restart::SlotCount> items;
    std::uint32_t clock = 0;
    restart::Notes notes;

    // Heights, in the frame without G92/G52 shifts: an upper bound of the
    // tool's Z now, and the highest Z it reached.
    std::optional<nc::Decimal> zHigh, highest;
    std::optional<std::size_t> highestUnknown; // where the highest Z was lost, and why
    // Where a reference return (G28 with Z) took the tool to the machine's
    // top, the highest height there is: the preamble goes there too.
    std::optional<std::size_t> top;
    bool atTop = false;     // and Z has not moved since
    std::string topOffset; // the length offset the preamble leaves at the top
    std::size_t acrossEnd = 0; // the preamble's lines after the retract up to the move across
    std::string highestWhy;
    std::uint32_t incrementalZ = 0; // when Z last moved by an increment
    bool movesZ = false;
    bool zByRapid = false;      // the tool reached its height at rapid and has not cut since
    std::array<bool, 3> used{}; // X, Y, Z commanded
    bool cycleUsed = false;
    std::size_t cycleLine = 0, compensationLine = 0;
    bool compensationEnding = false; // G40 given, its move still to come
    bool toolChanged = false, offsetPending = false;
    std::size_t toolChangeLine = 0;
    std::string toolChangeWord;
    std::optional<std::size_t> unitsSwitch, unknownM, rotary, shiftLine;
    std::string unknownMWord, rotaryWord;
    std::optional<std::size_t> noPointZ; // a Z without a decimal point, read both ways
    bool skipOn = false;                  // blocks with "/" are skipped
    std::optional<std::size_t> skipped;   // the first "/" block met
    // The main program's end (M02/M30/M99) met before the block, and one
    // with "/" that block skip passes over.
    std::optional<std::size_t> ended, skippedEnd;
    // A block the control stops at with an alarm (an axis given twice).
    std::optional<std::size_t> alarm;
    char alarmLetter = 0;
    // The variables assigned before the block ("#1", "#<name>"), with their line.
    std::map<std::string, std::size_t> assigned;

    // Filled once the scan has reached the block: the preamble's lines
    // before and after the retract, and the retract without its height.
    bool final = true; // the plan needs no clearance: refused, or from the first block
    std::vector<std::string> before, after;
    std::string retract;
};

namespace restart {

// Applies the program's lines to the state, following calls into the file's
// subprograms and treating what loops, branches and jumps can change as
// unknown once they are behind.
class Scanner {
public:
    Scanner(const ProgramMap& map, RestartScan::State& s) : map_(map), s_(s) {}
    // Lines [from, to); a subprogram's lines end at its M99.
    void run(std::size_t from, std::size_t to, int depth);
    // What the block itself does to the motion state, for the plan.
    void block(const nc::Block& b, std::size_t line, int depth);

    void set(Slot slot, std::string_view word);
    void set(Slot slot, char letter, std::string_view text);
    void forget(Slot slot, std::size_t line, const std::string& why);
    void forgetAll(std::size_t line, const std::string& why);
    // Whatever changed since the stamp is unknown after a loop or branch.
    void merge(std::uint32_t stamp, std::size_t line, const std::string& why);

private:
    struct Flags;
    void gCode(int c, const nc::Word& w, const nc::Block& b, std::size_t line, Flags& f);
    void mCodes(const std::vector<const nc::Word*>& ms, const nc::Block& b, std::size_t line, int depth, Flags& f);
    void positions(const nc::Block& b, std::size_t line, const Flags& f);
    void shift(const nc::Block& b, std::size_t line, bool local);
    void endMode(Slot mode, int axes, std::size_t line, const std::string& why);
    void call(long number, long repeats, std::size_t line, int depth, const std::string& what);
    void callLocal(long number, long repeats, std::size_t line, int depth, const std::string& what);
    void reached(std::optional<nc::Decimal> high, std::size_t line, const std::string& why);
    void arcTop(const nc::Block& b, std::size_t line, const std::array<std::optional<std::string>, 3>& from);
    std::optional<nc::Decimal> value(Slot axis) const;
    std::optional<nc::Decimal> shiftOf(int axis) const;

    const ProgramMap& map_;
    RestartScan::State& s_;
    // Lines run, calls included: calls that call each other several times
    // multiply (to the eighth power at the nesting limit). Beyond the budget
    // the state is unknown, as it would be after a loop.
    std::size_t steps_ = 0;
    bool exhausted_ = false;
    static constexpr std::size_t extraSteps = 200'000;
};

} // namespace restart
} // namespace tarvex
