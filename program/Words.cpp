#include "program/Words.h"

namespace tarvex::nc {
namespace {

constexpr std::size_t npos = std::string_view::npos;

bool blank(char c) { return c == ' ' || c == '\t'; }

// The end of a bracketed expression starting at "[" (the end of the line
// when it is never closed).
std::size_t closing(std::string_view s, std::size_t at)
{
    int depth = 0;
    for (; at < s.size(); ++at) {
        if (s[at] == '[')
            ++depth;
        else if (s[at] == ']' && --depth == 0)
            return at + 1;
    }
    return s.size();
}

// The end of a variable starting at "#": "#12", "#<name>", "#[…]", "##1".
std::size_t variableEnd(std::string_view s, std::size_t at)
{
    ++at;
    if (at < s.size() && s[at] == '#')
        return variableEnd(s, at);
    if (at < s.size() && s[at] == '<') {
        const auto close = s.find('>', at);
        return close == npos ? s.size() : close + 1;
    }
    if (at < s.size() && s[at] == '[')
        return closing(s, at);
    while (at < s.size() && isDigit(s[at]))
        ++at;
    return at;
}

std::string lowered(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

} // namespace

// A word's value after its letter: a number, or a variable, a bracketed
// expression or a function ("SQRT[…]"), each perhaps signed.
std::size_t Lexer::expression(std::size_t at, bool& number) const
{
    number = false;
    while (at < s_.size() && blank(s_[at]))
        ++at;
    if (at < s_.size() && (s_[at] == '+' || s_[at] == '-'))
        ++at;
    if (at >= s_.size())
        return at;
    if (s_[at] == '#')
        return variableEnd(s_, at);
    if (s_[at] == '[')
        return closing(s_, at);
    if (isLetter(s_[at])) {
        std::size_t e = at;
        while (e < s_.size() && isLetter(s_[e]))
            ++e;
        if (e - at >= 2 && e < s_.size() && s_[e] == '[')
            return closing(s_, e);
        return at;
    }
    bool digits = false;
    int points = 0;
    for (; at < s_.size() && (isDigit(s_[at]) || s_[at] == '.'); ++at) {
        digits = digits || s_[at] != '.';
        points += s_[at] == '.';
    }
    number = digits && points <= 1;
    return at;
}

bool Lexer::next(Token& t)
{
    const std::size_t n = s_.size();
    while (at_ < n) {
        const char c = s_[at_];
        const std::size_t b = at_;
        if (blank(c)) {
            ++at_;
            continue;
        }
        const bool first = !started_;
        started_ = true;
        switch (c) {
        case '(': {
            const auto close = s_.find(')', at_);
            at_ = close == npos ? n : close + 1;
            t = {Piece::Comment, b, at_, at_};
            return true;
        }
        case ';':
            at_ = n;
            t = {Piece::Comment, b, at_, at_};
            return true;
        case '%': t = {Piece::Percent, b, ++at_, at_}; return true;
        case '/': t = {first ? Piece::Skip : Piece::Operator, b, ++at_, at_}; return true;
        case '#':
            at_ = variableEnd(s_, at_);
            t = {Piece::Variable, b, at_, at_};
            return true;
        case '[':
        case ']': t = {Piece::Bracket, b, ++at_, at_}; return true;
        case '=':
        case '+':
        case '-':
        case '*':
        case ',': t = {Piece::Operator, b, ++at_, at_}; return true;
        case ':':
            if (at_ + 1 < n && isDigit(s_[at_ + 1])) {
                bool number;
                at_ = expression(at_ + 1, number);
                t = {Piece::Word, b, at_, b + 1, number};
                return true;
            }
            ++at_;
            continue;
        default: break;
        }
        if (!isLetter(c)) {
            ++at_; // a byte that belongs to nothing
            continue;
        }
        std::size_t e = at_ + 1;
        while (e < n && isLetter(s_[e]))
            ++e;
        if (e - at_ >= 2) {
            // A keyword, and the number a jump or loop names after it.
            std::size_t v = e;
            while (v < n && blank(s_[v]))
                ++v;
            std::size_t end = v;
            while (end < n && isDigit(s_[end]))
                ++end;
            if (end == v)
                v = end = e;
            at_ = end;
            t = {Piece::Keyword, b, end, v};
            return true;
        }
        std::size_t v = at_ + 1;
        while (v < n && blank(s_[v]))
            ++v;
        bool number = false;
        if ((c == 'O' || c == 'o') && v < n && s_[v] == '<') {
            const auto close = s_.find('>', v);
            at_ = close == npos ? n : close + 1;
        } else {
            at_ = expression(v, number);
            if (at_ == v)
                v = at_ = b + 1; // a letter without a value
        }
        t = {Piece::Word, b, at_, v, number};
        return true;
    }
    return false;
}

void readBlock(std::string_view line, Block& out)
{
    out.kind = Statement::Empty;
    out.skip = false;
    out.words.clear();
    out.sequence = {};
    out.keyword.clear();
    out.target = -1;
    out.conditional = false;
    out.oName.clear();

    Lexer lexer(line);
    Token t;
    bool percent = false, macro = false, assignment = false, sawVariableFirst = false;
    std::size_t pieces = 0; // pieces other than comments and the skip slash
    while (lexer.next(t)) {
        switch (t.kind) {
        case Piece::Skip: out.skip = true; continue;
        case Piece::Comment: continue;
        case Piece::Percent: percent = percent || pieces == 0; break;
        case Piece::Word: {
            const char letter = line[t.begin] == ':' ? ':' : upper(line[t.begin]);
            const std::string_view text = line.substr(t.value, t.end - t.value);
            if (pieces == 0 && letter == 'N' && t.number) {
                out.sequence = text;
                out.words.push_back({letter, text, true});
                continue; // a sequence number does not make a statement
            }
            out.words.push_back({letter, text, t.number});
            break;
        }
        case Piece::Keyword: {
            std::string word;
            for (std::size_t i = t.begin; i < t.end && isLetter(line[i]); ++i)
                word += upper(line[i]);
            if (out.keyword.empty()) {
                out.keyword = word;
                if (t.value < t.end)
                    out.target = std::stol(std::string(line.substr(t.value, std::min<std::size_t>(t.end - t.value, 9))));
            } else if ((word == "GOTO" && out.keyword == "IF") || (word == "DO" && out.keyword == "WHILE")) {
                out.target = t.value < t.end
                                 ? std::stol(std::string(line.substr(t.value, std::min<std::size_t>(t.end - t.value, 9))))
                                 : -1;
                out.conditional = out.keyword == "IF";
            }
            macro = true;
            break;
        }
        case Piece::Variable:
            sawVariableFirst = sawVariableFirst || pieces == 0;
            macro = true;
            break;
        case Piece::Operator:
            assignment = assignment || (sawVariableFirst && line[t.begin] == '=');
            macro = true;
            break;
        case Piece::Bracket: macro = true; break;
        }
        ++pieces;
    }

    if (percent) {
        out.kind = Statement::Percent;
        return;
    }
    const std::size_t first = out.sequence.empty() ? 0 : 1;
    if (sawVariableFirst && assignment) {
        out.kind = Statement::Assignment;
        return;
    }
    if (out.words.size() > first && (out.words[first].letter == 'O') && !out.keyword.empty()
        && out.words.size() == first + 1) {
        out.kind = Statement::OWord;
        out.oName = std::string(out.words[first].text);
        out.keyword = lowered(out.keyword);
        return;
    }
    if (out.keyword == "IF") {
        out.kind = Statement::If;
        if (!out.conditional)
            out.target = -1; // IF[…]THEN
        return;
    }
    if (out.keyword == "WHILE") {
        out.kind = Statement::While;
        return;
    }
    if (out.keyword == "DO" && out.words.size() == first) {
        out.kind = Statement::Do;
        return;
    }
    if (out.keyword == "END" && out.words.size() == first) {
        out.kind = Statement::End;
        return;
    }
    if (out.keyword == "GOTO" && out.words.size() == first) {
        out.kind = Statement::Goto;
        return;
    }
    if (out.words.size() == first + 1 && !macro && (out.words[first].letter == 'O' || out.words[first].letter == ':')
        && out.words[first].number && out.sequence.empty()) {
        out.kind = Statement::Header;
        return;
    }
    if (out.words.empty() && !macro)
        return; // blank, or a comment alone
    out.kind = Statement::Block;
}

Block readBlock(std::string_view line)
{
    Block b;
    readBlock(line, b);
    return b;
}

std::optional<long> whole(std::string_view number)
{
    if (number.empty() || number.size() > 9)
        return std::nullopt;
    long v = 0;
    for (char c : number) {
        if (!isDigit(c))
            return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

// What in a block refers to a sequence number: a jump, a return or a local
// call to a block, a lathe cycle's first and last blocks.
std::string sequenceReference(const Block& b)
{
    // Computed targets too ("GOTO#2", "IF[…]GOTO[#1+10]"): any number may be meant.
    if (b.keyword == "GOTO" || b.conditional || b.kind == Statement::Goto)
        return "GOTO";
    bool p = false;
    int refers = 0; // the M code (positive) or the G code (negative) that refers, in tenths
    for (const Word& w : b.words) {
        p = p || w.letter == 'P';
        const int c = w.number ? code(w.text) : -1;
        if ((w.letter == 'M' && (c == g(97) || c == g(99)))
            || (w.letter == 'G' && c >= g(70) && c <= g(73)))
            refers = w.letter == 'M' ? c : -c;
    }
    if (refers > 0 && p)
        return "M" + std::to_string(refers / 10) + " P";
    // A lathe cycle names its blocks with P (and Q); a mill's G73 peck cycle has Q alone.
    if (refers < 0 && p)
        return "G" + std::to_string(-refers / 10) + " P/Q";
    return {};
}

char repeatedAxis(const Block& b)
{
    unsigned seen = 0;
    for (const Word& w : b.words) {
        const auto at = std::string_view("XYZABCUVW").find(w.letter);
        if (at == std::string_view::npos)
            continue;
        if (seen & (1u << at))
            return w.letter;
        seen |= 1u << at;
    }
    return 0;
}

int code(std::string_view number)
{
    int value = 0, tenths = 0;
    bool point = false, any = false;
    for (char c : number) {
        if (c == '.') {
            if (point)
                return -1;
            point = true;
        } else if (isDigit(c)) {
            any = true;
            if (point) {
                if (tenths)
                    return -1;
                tenths = c - '0' + 1;
            } else if ((value = value * 10 + (c - '0')) > 9999) {
                return -1;
            }
        } else {
            return -1;
        }
    }
    if (!any)
        return -1;
    return tenths ? value * 10 + (tenths - 1) : value * 10;
}

namespace {

// A plain number in millionths, read as written (with a point) or, without
// one, as whole units and as thousandths; none when it has more than six
// decimals, is too large or is no number.
struct Micros {
    std::int64_t whole, thousandths;
    bool point;
};

std::optional<Micros> micros(std::string_view number)
{
    bool negative = false;
    std::size_t i = 0;
    if (i < number.size() && (number[i] == '+' || number[i] == '-'))
        negative = number[i++] == '-';
    std::int64_t whole = 0, fraction = 0;
    int places = 0;
    bool point = false, any = false;
    for (; i < number.size(); ++i) {
        const char c = number[i];
        if (c == '.') {
            if (point)
                return std::nullopt;
            point = true;
        } else if (!isDigit(c)) {
            return std::nullopt;
        } else if (point) {
            any = true;
            if (++places > 6)
                return std::nullopt;
            fraction = fraction * 10 + (c - '0');
        } else {
            any = true;
            if ((whole = whole * 10 + (c - '0')) > 1'000'000'000)
                return std::nullopt;
        }
    }
    if (!any)
        return std::nullopt;
    for (; places < 6; ++places)
        fraction *= 10;
    const std::int64_t sign = negative ? -1 : 1;
    const std::int64_t exact = sign * (whole * 1'000'000 + fraction);
    return Micros{exact, point ? exact : sign * whole * 1'000, point};
}

} // namespace

std::optional<Decimal> decimal(std::string_view number)
{
    const auto v = micros(number);
    if (!v || (!v->point && v->whole != 0))
        return std::nullopt;
    return Decimal{v->whole};
}

std::optional<std::pair<Decimal, Decimal>> readings(std::string_view number)
{
    const auto v = micros(number);
    if (!v)
        return std::nullopt;
    return std::pair{Decimal{v->thousandths}, Decimal{v->whole}};
}

std::string format(Decimal d)
{
    std::int64_t v = d.micro;
    std::string out = v < 0 ? "-" : "";
    if (v < 0)
        v = -v;
    out += std::to_string(v / 1'000'000) + ".";
    std::string fraction = std::to_string(v % 1'000'000);
    fraction.insert(0, 6 - fraction.size(), '0');
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    return out + fraction;
}

} // namespace tarvex::nc
