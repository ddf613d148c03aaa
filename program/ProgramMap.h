#pragma once
// The structure of a program text, read once: its lines, the programs in it
// (split at program-number lines) and which of them are called, subroutine
// bodies, loops, branches and jumps. The restart scan asks it where a block
// stands and what can run around it.
#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

class ProgramMap {
public:
    explicit ProgramMap(std::string_view text);

    std::string_view text() const { return text_; }
    std::size_t lineCount() const { return starts_.size(); }
    std::size_t lineStart(std::size_t n) const { return starts_[n]; }
    // The line's text without its line end, and where the next line begins.
    std::string_view line(std::size_t n) const;
    std::size_t nextLine(std::size_t n) const { return n + 1 < starts_.size() ? starts_[n + 1] : text_.size(); }

    // A program of the file: from its number line (or the start of the
    // file, with the lines before the first number line) to the line before
    // the next program's number line.
    struct Program {
        std::size_t first, last;
        std::optional<std::size_t> header; // its program-number line
        long number = -1;
        bool called = false;               // something calls it: it is a subprogram
    };
    const std::vector<Program>& programs() const { return programs_; }
    const Program& programOf(std::size_t line) const;

    // A range of lines [first, last] with what it is.
    enum class Kind { Subroutine, Loop, Branch, LocalSubprogram };
    struct Range {
        Kind kind;
        std::size_t first, last;
        std::string name; // "o100", "WHILE DO1", "N1000"
    };
    const std::vector<Range>& ranges() const { return ranges_; }
    // The o-word subroutine of a name, where it is defined.
    const Range* subroutine(const std::string& name) const;
    // The program of a number, where the file holds it.
    const Program* program(long number) const;
    // The local subprogram starting at sequence number n (M97 Pn).
    const Range* localSubprogram(long n) const;

    // A jump: GOTOn or IF[…]GOTOn; to is none when the target is not a
    // sequence number of the same program, or is computed.
    struct Jump {
        std::size_t from;
        std::optional<std::size_t> to;
        bool conditional;
    };
    const std::vector<Jump>& jumps() const { return jumps_; }

    // Whether the program commands a tool length offset (G43/G44) anywhere.
    bool usesLengthOffset() const { return usesLengthOffset_; }
    // A call whose program number is computed: any program may be called.
    bool computedCall() const { return computedCall_; }

private:
    std::string_view text_;
    std::vector<std::size_t> starts_;
    std::vector<Program> programs_;
    std::vector<Range> ranges_;
    std::vector<Jump> jumps_;
    bool usesLengthOffset_ = false, computedCall_ = false;
};

} // namespace tarvex
