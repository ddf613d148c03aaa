#pragma once
// The one reader of NC words. A line of program text is read into its pieces
// (words, comments, macro text) and a block into its words; everything that
// interprets blocks (the restart scan, renumbering, compare, colouring) reads
// them here. Lines themselves come from the line splitter (TextLines).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::nc {

enum class Piece : std::uint8_t {
    Word,     // an address letter and its value: "G01", "X-10.5", "Z#1", "O0012", ":12"
    Comment,  // "( … )" or ";" to the end of the line
    Percent,  // "%"
    Skip,     // a block-skip "/" at the start of the block
    Keyword,  // macro words of two letters or more: IF, GOTO, WHILE, DO, END, SQRT, sub, call…
    Variable, // "#1", "#<name>"
    Bracket,  // "[" or "]"
    Operator, // "=", "+", "-", "*", "/", ","
};

struct Token {
    Piece kind;
    std::size_t begin, end; // bytes of the line
    // A word: where its value begins (after the letter and any blanks); a
    // keyword: where a number written after it begins ("GOTO10", "END1").
    std::size_t value;
    bool number = false; // a word whose value is a plain number
};

// Reads a line left to right; blanks and bytes that belong to nothing
// (stray or non-ASCII bytes) are passed over.
class Lexer {
public:
    explicit Lexer(std::string_view line) : s_(line) {}
    bool next(Token& t);

private:
    std::size_t expression(std::size_t at, bool& number) const;
    std::string_view s_;
    std::size_t at_ = 0;
    bool started_ = false;
};

inline char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
inline bool isDigit(char c) { return c >= '0' && c <= '9'; }
inline bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A word of a block: its letter (upper case) and its value as written.
struct Word {
    char letter;
    std::string_view text; // "01", "-2.5", "#1", "-[#1+2]"; empty when none is written
    // The value is a plain number (sign, digits, a point); otherwise a
    // variable or an expression gives it, or none is written.
    bool number;
};

// What kind of statement a line is.
enum class Statement : std::uint8_t {
    Empty,      // blank or a comment only
    Percent,    // a "%" line
    Header,     // a program number: "O0012", ":12", perhaps with a comment
    Block,      // words to execute (perhaps with values from variables)
    Assignment, // "#1=…"
    If,         // "IF[…]GOTOn" or "IF[…]THEN…"
    While,      // "WHILE[…]DOn"
    Do,         // "DOn" alone
    End,        // "ENDn"
    Goto,       // "GOTOn"
    OWord,      // "o100 sub", "o<name> while […]"…
};

struct Block {
    Statement kind = Statement::Empty;
    bool skip = false;             // begins with "/"
    std::vector<Word> words;       // the words in order, the N word included
    std::string_view sequence;     // the leading N word's number, when there is one
    // Macro statements: the keyword (upper case) and the number after the
    // jump or loop keyword ("GOTO10" 10, "DO1" 1, "END1" 1; -1 when it is
    // not a plain number); an o-word's name and keyword (lower case).
    std::string keyword;
    long target = -1;
    bool conditional = false;      // IF[…]GOTO
    std::string oName;             // "100", "<name>"
};

// Reads a line into out (reusing its storage). The views point into line.
void readBlock(std::string_view line, Block& out);
Block readBlock(std::string_view line);

// A G or M code as a whole number in tenths: "01" and "1" are 10, "54.1" is
// 541; -1 for anything else.
int code(std::string_view number);
constexpr int g(int n) { return n * 10; }

// What a code does, one definition for every reader of a block (c from
// code()). A canned cycle: G73, G74, G76, G81–G89 (G81.1 is none). A tool
// length offset: G43, G44. A call of a program by its number (the P word):
// M98, M198, G65, G66, G66.1; M97 calls a sequence number of the program.
constexpr bool isCannedCycle(int c)
{
    return c == g(73) || c == g(74) || c == g(76) || (c >= g(81) && c <= g(89) && c % 10 == 0);
}
constexpr bool isLengthOffset(int c) { return c == g(43) || c == g(44); }
constexpr bool callsProgram(char letter, int c)
{
    return (letter == 'M' && (c == g(98) || c == g(198))) || (letter == 'G' && (c == g(65) || c == g(66) || c == 661));
}
constexpr bool callsLocal(char letter, int c) { return letter == 'M' && c == g(97); }

struct Block;
// What in a block refers to a sequence number ("GOTO", "M99 P", "G71 P/Q"),
// empty for nothing: a jump, a return or a local call to a block, a lathe
// cycle's first and last blocks.
std::string sequenceReference(const Block& b);
// An axis address (X Y Z A B C U V W) the block gives twice ("X10.Y5.Y7.",
// an alarm on most controls): its letter, else 0.
char repeatedAxis(const Block& b);

// A whole number of up to nine digits; none for anything else.
std::optional<long> whole(std::string_view number);

// An exact decimal in millionths.
struct Decimal {
    std::int64_t micro = 0;
    friend bool operator==(Decimal, Decimal) = default;
    friend auto operator<=>(Decimal, Decimal) = default;
};
// A number with a decimal point, or zero written without one; none for a
// number without a point (the control's input unit decides it), more than
// six decimals or anything else.
std::optional<Decimal> decimal(std::string_view number);
// The two readings of a number without a decimal point: as the expansion
// reads it (thousandths) and as whole units; one reading for a number with
// a point. None when it is no number.
std::optional<std::pair<Decimal, Decimal>> readings(std::string_view number);
std::string format(Decimal d); // "10.", "-2.5"

// Whether a word's text holds a decimal point.
inline bool hasPoint(std::string_view number) { return number.find('.') != std::string_view::npos; }

} // namespace tarvex::nc
