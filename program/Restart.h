#pragma once
// Restarting a program in the middle: the opening lines, a preamble that
// brings the controller into the state in force before the chosen block,
// and the program from that block on. Where the scan cannot be sure of a
// state that the restart needs, it refuses and says why.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

class ProgramMap;

struct RestartPlan {
    std::size_t line = 0;       // the chosen block, 0-based
    std::size_t blockStart = 0; // its byte offset in the text
    std::size_t blockEnd = 0;   // where its text ends (before its line end)
    std::string opening;        // the leading "%" and program-number lines, as written
    std::string preamble;       // proposed, lines ended by CR LF; empty at the first block
    // The chosen block as it is sent: as written, or with the words of the
    // canned cycle in force added.
    std::string firstBlock;
    // What the scan skipped or could not be sure of, one line each.
    std::vector<std::string> notes;
    // The program moves Z before the block: the approach needs a clearance height.
    bool movesZ = false;
    // ... and none was given (or it is no number).
    bool clearanceMissing = false;
    // Why there can be no restart at that block; empty when there can.
    std::string refusal;
    bool sendable() const { return refusal.empty() && !clearanceMissing; }
};

// The 0-based line of the first block numbered N (given as "N1234" or
// "1234"), read as a whole number; none when no block has it.
std::optional<std::size_t> findBlockNumber(std::string_view text, std::string_view number);

// The scan of the program up to a block, done once; the plan for any
// clearance comes from it without reading the text again.
class RestartScan {
public:
    RestartScan(std::string_view text, std::size_t line);
    // With the program's structure read once for many blocks.
    RestartScan(const ProgramMap& map, std::size_t line);
    RestartPlan plan(std::string_view clearance) const;

    struct State;

private:
    std::shared_ptr<const State> state_;
};

// One pass over the text up to the line. The clearance is the height for the
// retract as the user typed it (a number); without it a program that moves Z
// gets no retract line and the plan is not sendable.
RestartPlan planRestart(std::string_view text, std::size_t line, std::string_view clearance);

// The clearance written as a Z value with a decimal point ("50" is 50 mm or
// inches, never thousandths); none when it is no number.
std::optional<std::string> clearanceWord(std::string_view clearance);

// What is sent: the opening lines, the preamble (CR LF added when its last
// line has no line end), the first block and the text after it to its end.
std::string restartText(std::string_view text, const RestartPlan& plan, std::string_view preamble);

// The same with where its parts stand in characters, so that the editor can
// follow the transfer: the opening lines at their own place, the preamble at
// the chosen block, the rest from there on.
struct RestartSend {
    std::string text;
    std::size_t openingChars = 0, preambleChars = 0, blockChar = 0;
    std::size_t firstChars = 0, firstShownChars = 0; // the first block as sent and as written
    std::size_t editorOffset(std::size_t sent) const;
};
RestartSend restartSend(std::string_view text, const RestartPlan& plan, std::string_view preamble);

} // namespace tarvex
