#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

struct EstimateOptions {
    double rapid = 10000;     // mm/min
    double toolChange = 0;    // seconds per M06
    // A called program the file does not hold, by number, as text (from the
    // subprogram store); none when there is no such program.
    std::function<std::optional<std::string>(long number)> stored;
};

// How long a program runs, from its moves and their feeds: lines, arcs and
// helices in three dimensions at the feed in force (per minute, or per
// revolution with G95 and the S in force; inches with G20), rapids at the
// rapid rate, canned-cycle holes (down at the feed, up at rapid, or at the
// feed for the boring cycles that feed out), dwells and tool changes, into
// the file's own programs where M98 or G65 calls them (repeats counted).
// Acceleration and the feed override are left out.
struct Estimate {
    double cutting = 0, rapid = 0, dwell = 0; // seconds
    long toolChanges = 0;
    long noFeed = 0; // cutting moves with no feed in force: counted apart, not guessed
    // What it cannot know is said, never counted as no time: blocks whose
    // value comes from a variable or an expression (not timed), calls it
    // could not follow (with the first such call), codes it does not time
    // (G28, G30, G96), and a block it refuses (a negative dwell, a feed that
    // cannot be meant), with its line: no figure then.
    long unknown = 0, callsNotFollowed = 0;
    std::string firstCallNotFollowed;
    std::vector<std::string> notTimed;
    std::string refusal;
    double total(const EstimateOptions& o) const { return cutting + rapid + dwell + toolChanges * o.toolChange; }
};
Estimate estimate(std::string_view text, const EstimateOptions& options);

// The feed in force after each line (index: line - 1), for timing elements
// of the plot: millimetres per minute (0 when no feed is in force), and the
// millimetres of one program unit (25.4 with G20).
struct LineFeed {
    float mmPerMinute = 0, unit = 1;
};
// Skipped blocks ("/" first, with block skip on) set nothing.
std::vector<LineFeed> feedsByLine(std::string_view text, bool blockSkip);

// Seconds as H:MM:SS, rounded to the second.
std::string clockText(double seconds);

} // namespace tarvex
