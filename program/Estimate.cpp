#include "program/Estimate.h"
#include "platform/TextLines.h"
#include "program/ProgramMap.h"
#include "program/Words.h"

#include <algorithm>

#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <tuple>
#include <optional>

namespace tarvex {
namespace {

using nc::g;

constexpr double pi = 3.14159265358979323846;

// A word's value in program units: with a decimal point as written, without
// one in least increments (a thousandth of a millimetre, in G20 a
// ten-thousandth of an inch, as controls read them).
std::optional<double> axisValue(const nc::Word& w, bool inch = false)
{
    if (!w.number || w.text.empty())
        return std::nullopt;
    const double v = std::strtod(std::string(w.text).c_str(), nullptr);
    return nc::hasPoint(w.text) ? v : v / (inch ? 10000 : 1000);
}

std::optional<double> plain(const nc::Word& w)
{
    if (!w.number || w.text.empty())
        return std::nullopt;
    return std::strtod(std::string(w.text).c_str(), nullptr);
}

struct Machine {
    EstimateOptions o;
    Estimate e;
    std::array<double, 3> pos{}; // mm
    int motion = g(0), plane = g(17), cycle = -1;
    bool absolute = true, inch = false, perRev = false, returnInitial = true;
    std::optional<double> feed, speed; // F as written (program units), S
    // A canned cycle's R level and depth along its drilling axis, the level
    // it began at, and its dwell (P, modal like the rest).
    double cycleR = 0, cycleZ = 0, initialZ = 0, cycleP = 0;

    // The drilling axis of a cycle in the plane in force: Z in G17, Y in G18, X in G19.
    int drillAxis() const { return plane == g(18) ? 1 : plane == g(19) ? 0 : 2; }

    double unit() const { return inch ? 25.4 : 1; }
    double perMinute() const
    {
        if (!feed || *feed <= 0 || (perRev && (!speed || *speed <= 0)))
            return 0;
        return perRev ? *feed * unit() * *speed : *feed * unit();
    }

    // A move's time at the feed in force; none counted when there is no feed.
    void cut(double mm)
    {
        if (mm <= 0)
            return;
        const double f = perMinute();
        if (f <= 0) {
            ++e.noFeed;
            return;
        }
        e.cutting += mm / f * 60;
    }
    void rapidMove(double mm) { e.rapid += mm / o.rapid * 60; }

    // The call a block makes, if any: its program number and repeat count.
    struct Call {
        long number = -1, repeats = 1;
        std::string word;
    };
    std::optional<Call> call;
    std::size_t line = 0;
    std::string where; // "O100 " in a stored program: its lines are not the file's

    void refuse(const std::string& why)
    {
        if (e.refusal.empty())
            e.refusal = where + "行 " + std::to_string(line + 1) + ": " + why;
    }
    void notTimed(const std::string& code)
    {
        if (std::find(e.notTimed.begin(), e.notTimed.end(), code) == e.notTimed.end())
            e.notTimed.push_back(code);
    }

    void block(const nc::Block& b)
    {
        call.reset();
        // A value from a variable or an expression: the block is not timed.
        for (const nc::Word& w : b.words)
            if (!w.number && std::string_view("XYZIJKRFSPQGL").find(w.letter) != std::string_view::npos) {
                ++e.unknown;
                return;
            }
        for (const nc::Word& w : b.words)
            if (w.letter == 'G' && nc::code(w.text) == g(65))
                return macroCall(b);
        std::array<std::optional<double>, 3> axis{};
        std::optional<double> i, j, k, r, p, dwellX, q, repeats;
        bool dwell = false, move = false, shift = false;
        for (const nc::Word& w : b.words) {
            const int c = w.number ? nc::code(w.text) : -1;
            switch (w.letter) {
            case 'G':
                if (c == g(0) || c == g(1) || c == g(2) || c == g(3))
                    motion = c, cycle = -1;
                else if (c == g(4))
                    dwell = true;
                else if (c == g(28) || c == g(30) || c == g(96) || c == g(66))
                    notTimed("G" + std::to_string(c / 10)); // G66: a call after every move
                else if (c == g(92))
                    shift = true;
                else if (c == g(17) || c == g(18) || c == g(19))
                    plane = c;
                else if (c == g(20) || c == g(21))
                    inch = c == g(20);
                else if (c == g(90) || c == g(91))
                    absolute = c == g(90);
                else if (c == g(94) || c == g(95))
                    perRev = c == g(95);
                else if (c == g(98) || c == g(99))
                    returnInitial = c == g(98);
                else if (c == g(80))
                    cycle = -1;
                else if (nc::isCannedCycle(c)) {
                    if (cycle < 0)
                        initialZ = pos[drillAxis()];
                    cycle = c;
                }
                break;
            case 'M':
                if (c == g(6))
                    ++e.toolChanges;
                if (c == g(98))
                    call = Call{-1, 1, "M" + std::string(w.text)};
                break;
            case 'X': case 'Y': case 'Z':
                if (dwell && w.letter == 'X') {
                    dwellX = axisValue(w); // seconds with a point, thousandths without
                } else {
                    axis[static_cast<std::size_t>(w.letter - 'X')] = axisValue(w, inch);
                    move = true;
                }
                break;
            case 'I': i = axisValue(w, inch); break;
            case 'J': j = axisValue(w, inch); break;
            case 'K': k = axisValue(w, inch), repeats = plain(w); break;
            case 'L': repeats = plain(w); break;
            case 'R': r = axisValue(w, inch); break;
            case 'Q': q = axisValue(w, inch); break;
            case 'P': p = plain(w); break;
            case 'F': feed = plain(w); break;
            case 'S': speed = plain(w); break;
            default: break;
            }
        }
        if (feed && (*feed < 0 || *feed * unit() > 1e6))
            return refuse("送り速度 F が正しくありません");
        if (call) {
            // Followed after the block's own move; "P30012" is three times
            // O0012 where no program has that number.
            const long number = p ? std::lround(*p) : -1;
            call->word += p ? "P" + std::to_string(number) : "";
            call->number = number;
            call->repeats = repeats ? std::lround(*repeats) : 1;
        }
        if (dwell) {
            const double seconds = p ? *p / 1000 : dwellX.value_or(0);
            if (seconds < 0)
                return refuse("ドウェルの時間が負です");
            e.dwell += seconds;
            return;
        }
        if (shift) {
            // The tool stays; its coordinates become the ones given.
            for (int a = 0; a < 3; ++a)
                if (axis[static_cast<std::size_t>(a)])
                    pos[a] = *axis[static_cast<std::size_t>(a)] * unit();
            return;
        }
        if (cycle >= 0) {
            // The cycle's words are kept; a hole only where an axis word
            // is (a block without one, M30 included, drills none). K or L
            // repeats it, in G91 one step further each time.
            const int d = drillAxis();
            const std::size_t ds = static_cast<std::size_t>(d);
            if (p && !call) // a call's P and L are the call's
                cycleP = *p;
            if (r)
                cycleR = (absolute ? 0 : initialZ) + *r * unit();
            if (axis[ds])
                cycleZ = (absolute ? 0 : cycleR) + *axis[ds] * unit();
            if (!move)
                return;
            const long count = repeats && !call ? std::lround(*repeats) : 1;
            for (long n = 0; n < count; ++n) {
                std::array<double, 3> at = pos;
                for (std::size_t a = 0; a < 3; ++a)
                    if (a != ds && axis[a])
                        at[a] = (absolute ? 0 : pos[a]) + *axis[a] * unit();
                hole(at, d);
            }
            return;
        }
        if (!move)
            return;
        std::array<double, 3> to = pos;
        for (int a = 0; a < 3; ++a)
            if (axis[static_cast<std::size_t>(a)])
                to[a] = (absolute ? 0 : pos[a]) + *axis[static_cast<std::size_t>(a)] * unit();
        const double dx = to[0] - pos[0], dy = to[1] - pos[1], dz = to[2] - pos[2];
        if (motion == g(0)) {
            rapidMove(std::sqrt(dx * dx + dy * dy + dz * dz));
        } else if (motion == g(1)) {
            cut(std::sqrt(dx * dx + dy * dy + dz * dz));
        } else {
            // The arc in its plane (u, v) and the helix's rise along the third axis.
            // G18's plane is Z then X: its arcs turn the other way seen as X then Z.
            const int u = plane == g(18) ? 2 : plane == g(19) ? 1 : 0, v = plane == g(18) ? 0 : u + 1, h = 3 - u - v;
            const std::optional<double> cu = plane == g(18) ? k : plane == g(19) ? j : i;
            const std::optional<double> cv = plane == g(18) ? i : plane == g(19) ? k : j;
            double ou = cu.value_or(0) * unit(), ov = cv.value_or(0) * unit();
            const double su = pos[u], sv = pos[v], eu = to[u], ev = to[v];
            double sweep;
            double radius;
            if (r && !cu && !cv) {
                radius = std::fabs(*r * unit());
                const double chord = std::hypot(eu - su, ev - sv);
                const double half = std::min(1.0, chord / (2 * radius));
                sweep = 2 * std::asin(half);
                if (*r < 0)
                    sweep = 2 * pi - sweep;
            } else {
                radius = std::hypot(ou, ov);
                const double a0 = std::atan2(-ov, -ou), a1 = std::atan2(ev - (sv + ov), eu - (su + ou));
                sweep = motion == g(3) ? a1 - a0 : a0 - a1;
                while (sweep <= 1e-12)
                    sweep += 2 * pi;
            }
            const double rise = to[h] - pos[h];
            cut(std::hypot(radius * sweep, rise));
        }
        pos = to;
    }

    void macroCall(const nc::Block& b)
    {
        Call c{-1, 1, "G65"};
        for (const nc::Word& w : b.words)
            if (w.letter == 'P')
                c.number = std::lround(*plain(w)), c.word += "P" + std::string(w.text);
            else if (w.letter == 'L')
                c.repeats = std::lround(*plain(w));
        call = c;
    }

    // One hole of the cycle in force, drilled along axis d: to the hole at
    // rapid, to R at rapid, to the depth at the feed (dwelling with G82 and
    // G89), back at feed (G85, G89) or at rapid.
    void hole(std::array<double, 3> at, int d)
    {
        const std::size_t ds = static_cast<std::size_t>(d);
        double across = 0;
        for (std::size_t a = 0; a < 3; ++a)
            if (a != ds)
                across += (at[a] - pos[a]) * (at[a] - pos[a]);
        rapidMove(std::sqrt(across));
        rapidMove(std::fabs(pos[ds] - cycleR));
        cut(std::fabs(cycleR - cycleZ));
        if (cycle == g(82) || cycle == g(89))
            e.dwell += cycleP / 1000;
        const double back = returnInitial ? std::max(initialZ, cycleR) : cycleR;
        if (cycle == g(85) || cycle == g(89))
            cut(std::fabs(cycleR - cycleZ)), rapidMove(std::fabs(back - cycleR));
        else
            rapidMove(std::fabs(back - cycleZ));
        at[ds] = back;
        pos = at;
    }
};

} // namespace

namespace {

// Runs the lines of the main program to M02/M30, or those of a called
// program to its M99; calls go into the file's own programs, else the stored
// ones, as many times as they say. The map of the programs is made at the
// first call: a program without calls is read once. False once the estimate
// refused.
struct Runner {
    Runner(Machine& machine, std::string_view program) : m(machine), text(program) {}
    Machine& m;
    std::string_view text;
    std::optional<ProgramMap> map;
    // Stored programs read so far, each with its own map (which views its text).
    struct Stored {
        std::string text;
        std::optional<ProgramMap> map;
    };
    std::map<long, std::unique_ptr<Stored>> stored;
    std::size_t budget = 20'000'000;

    // The program of a number: the file's own, else the stored one.
    std::pair<const ProgramMap*, const ProgramMap::Program*> program(long number)
    {
        if (number < 0)
            return {};
        if (!map)
            map.emplace(text);
        if (const ProgramMap::Program* p = map->program(number))
            return {&*map, p};
        if (!m.o.stored)
            return {};
        auto it = stored.find(number);
        if (it == stored.end()) {
            auto s = std::make_unique<Stored>();
            if (auto t = m.o.stored(number)) {
                s->text = std::move(*t);
                s->map.emplace(s->text);
            }
            it = stored.emplace(number, std::move(s)).first;
        }
        const std::optional<ProgramMap>& pm = it->second->map;
        const ProgramMap::Program* p = pm ? pm->program(number) : nullptr;
        return {p ? &*pm : nullptr, p};
    }

    bool block(const nc::Block& b, std::size_t n, int depth)
    {
        m.line = n;
        m.block(b);
        if (!m.e.refusal.empty())
            return false;
        if (auto c = m.call) {
            auto [pm, p] = program(c->number);
            if (!p && c->number > 9999 && c->repeats == 1 && (std::tie(pm, p) = program(c->number % 10000), p))
                c->repeats = c->number / 10000;
            if (!p || depth >= 8 || c->repeats < 0) {
                if (m.e.callsNotFollowed++ == 0)
                    m.e.firstCallNotFollowed = c->word;
            } else {
                for (long k = 0; k < c->repeats; ++k)
                    if (!called(*pm, p->first + 1, p->last + 1, depth + 1,
                                pm == &*map ? std::string() : "O" + std::to_string(p->number) + " "))
                        return false;
            }
        }
        return true;
    }

    // Whether the block ends what runs: M02/M30, a called program's M99.
    static bool ends(const nc::Block& b, int depth)
    {
        for (const nc::Word& w : b.words)
            if (w.letter == 'M' && w.number) {
                const int c = nc::code(w.text);
                if (c == g(2) || c == g(30) || (c == g(99) && depth > 0))
                    return true;
            }
        return false;
    }

    bool called(const ProgramMap& pm, std::size_t from, std::size_t to, int depth, const std::string& where)
    {
        nc::Block b;
        for (std::size_t n = from; n < to; ++n) {
            m.where = where; // again after each call returns
            if (budget-- == 0) {
                m.line = n;
                m.refuse("呼び出しの繰り返しが多すぎます");
                return false;
            }
            nc::readBlock(pm.line(n), b);
            if (b.kind != nc::Statement::Block)
                continue;
            if (!block(b, n, depth))
                return false;
            if (ends(b, depth))
                return true;
        }
        return true;
    }

    void main()
    {
        TextLines lines(text);
        std::string_view line;
        nc::Block b;
        for (std::size_t n = 0; lines.next(line); ++n) {
            nc::readBlock(line, b);
            if (b.kind != nc::Statement::Block)
                continue;
            m.where.clear();
            if (!block(b, n, 0) || ends(b, 0))
                return;
        }
    }
};

} // namespace

Estimate estimate(std::string_view text, const EstimateOptions& options)
{
    Machine m;
    m.o = options;
    Runner(m, text).main();
    return m.e;
}

std::vector<LineFeed> feedsByLine(std::string_view text, bool blockSkip)
{
    Machine m;
    std::vector<LineFeed> out;
    TextLines lines(text);
    std::string_view line;
    nc::Block b;
    while (lines.next(line)) {
        nc::readBlock(line, b);
        if (b.kind == nc::Statement::Block && !(blockSkip && b.skip))
            m.block(b);
        out.push_back({static_cast<float>(m.perMinute()), static_cast<float>(m.unit())});
    }
    return out;
}

std::string clockText(double seconds)
{
    const long s = std::lround(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

} // namespace tarvex
